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

void growOwn(char **buffer, size_t *size, size_t newSize) {
  ownBuffer = *buffer = static_cast<char *>(memRealloc(*buffer, newSize));
  ownSize = *size = newSize;
}

}  // namespace

char *readstring(char *buffer, size_t size, FILE *stream) {
  const bool own = buffer == nullptr;
  if (own) {
    if (!ownBuffer) {
      // At least room for one character and the zero byte, so it can grow.
      ownSize = size ? (size < 2 ? 2 : size) : 1000;
      ownBuffer = static_cast<char *>(memRealloc(nullptr, ownSize));
    }
    buffer = ownBuffer;
    size = ownSize;
  } else if (size < 2) {
    // No room for a character and the zero byte; nothing can be read.
    if (size) buffer[0] = '\0';
    return nullptr;
  }
  size_t pos = 0;        // write position
  size_t lineStart = 0;  // where the physical line being read begins
  for (;;) {
    if (size - pos < 2) {
      if (!own) {
        // No room left after a continuation: the line ends here.
        skipRestOfLine(stream);
        break;
      }
      growOwn(&buffer, &size, size + pos + 2);
    }
    if (!fgets(buffer + pos, static_cast<int>(size - pos), stream)) {
      buffer[pos] = '\0';
      // A line that filled the buffer exactly at the end of the file is
      // complete, not lost; after a continuation the text is lost.
      if (pos > lineStart) break;
      return nullptr;
    }
    size_t len = pos + strlen(buffer + pos);
    bool complete = len > pos && buffer[len - 1] == '\n';
    if (!complete && !feof(stream)) {
      // The physical line did not fit.
      pos = len;
      if (!own) {
        skipRestOfLine(stream);
        break;
      }
      growOwn(&buffer, &size, size + size);
      continue;
    }
    size_t end = complete ? len - 1 : len;
    if (end > lineStart && buffer[end - 1] == '\\') {
      if (!complete) {
        // A backslash at end of file: the logical line is lost.
        buffer[end - 1] = '\0';
        return nullptr;
      }
      // Continuation: drop the backslash and the newline, read on here.
      pos = lineStart = end - 1;
      buffer[pos] = '\0';
      if (own) growOwn(&buffer, &size, size + pos);
      continue;
    }
    pos = end;
    break;
  }
  // Finish: the text, one newline and a zero byte.
  if (pos + 2 > size) {
    if (own) {
      growOwn(&buffer, &size, pos + 2);
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
