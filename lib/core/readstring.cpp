#include <cstring>

#include "memory.h"
#include "misc.h"

namespace {

// The library-owned line buffer, shared by every call without a buffer.
char *ownBuffer = nullptr;
size_t ownSize = 0;

// Reads what is left of the current physical line, up to and including its
// newline or end of file.
void skipRestOfLine(FILE *stream) {
  int c;
  while ((c = getc(stream)) != EOF && c != '\n') {
  }
}

}  // namespace

char *readstring(char *buffer, size_t size, FILE *stream) {
  const bool own = buffer == nullptr;
  if (own) {
    if (!ownBuffer) {
      ownSize = size ? size : 1000;
      ownBuffer = static_cast<char *>(memRealloc(nullptr, ownSize));
    }
    buffer = ownBuffer;
    size = ownSize;
  }
  if (size < 2) {
    // No room for a character and the zero byte; nothing can be read.
    if (size) buffer[0] = '\0';
    return nullptr;
  }
  size_t pos = 0;         // write position
  bool readingOn = false;  // the physical line at pos continues a piece
  for (;;) {
    if (size - pos < 2) {
      if (!own) {
        // No room left after a continuation: the line ends here.
        skipRestOfLine(stream);
        break;
      }
      size += pos;
      ownBuffer = buffer = static_cast<char *>(memRealloc(buffer, size));
      ownSize = size;
    }
    if (!fgets(buffer + pos, static_cast<int>(size - pos), stream)) {
      buffer[pos] = '\0';
      // A line that filled the buffer exactly at the end of the file is
      // complete, not lost.
      if (readingOn) break;
      return nullptr;
    }
    readingOn = false;
    size_t len = pos + strlen(buffer + pos);
    bool complete = len > pos && buffer[len - 1] == '\n';
    if (!complete && !feof(stream)) {
      // The physical line did not fit.
      if (!own) {
        skipRestOfLine(stream);
        pos = len;
        break;
      }
      pos = len;
      readingOn = true;
      size += size;  // grow geometrically and read on
      ownBuffer = buffer = static_cast<char *>(memRealloc(buffer, size));
      ownSize = size;
      continue;
    }
    size_t end = complete ? len - 1 : len;
    if (end > 0 && buffer[end - 1] == '\\') {
      // Continuation: drop the backslash and the newline, read on here.
      pos = end - 1;
      buffer[pos] = '\0';
      if (own) {
        size += pos;
        ownBuffer = buffer = static_cast<char *>(memRealloc(buffer, size));
        ownSize = size;
      }
      if (!complete) {
        // A backslash at end of file: the logical line is lost.
        buffer[pos] = '\0';
        return nullptr;
      }
      continue;
    }
    pos = end;
    break;
  }
  // Finish: the text, one newline and a zero byte.
  if (pos + 2 > size) {
    if (own) {
      size = pos + 2;
      ownBuffer = buffer = static_cast<char *>(memRealloc(buffer, size));
      ownSize = size;
    } else {
      pos = size - 2;
    }
  }
  buffer[pos] = '\n';
  buffer[pos + 1] = '\0';
  debug(10, "readstring: buf=%p, sz=%lu, str=`%s'", static_cast<void *>(buffer),
        static_cast<unsigned long>(size), buffer);
  return buffer;
}
