#include <cstring>

#include "memory.h"
#include "misc.h"

namespace {

// The library-owned line buffer, shared by every call without a buffer.
char *ownBuffer = nullptr;
size_t ownSize = 0;

// Where one logical line is being built: the caller's buffer (never grown)
// or the library-owned one.
struct LineBuffer {
  char *text;
  size_t size;
  bool own;
  size_t pos = 0;        // write position
  bool cut = false;      // the caller's buffer is full; the rest is skipped
  bool overlong = false;  // the library-owned line passed kLogicalLineMax

  // Keeps one byte of the line. A caller's buffer keeps at most size - 1
  // bytes of text and newline together; the library-owned one grows to twice
  // its size (so reading a line costs few allocations and linear time) and
  // never beyond the bound.
  void put(char c) {
    if (own) {
      if (pos >= kLogicalLineMax) {
        overlong = true;
        return;
      }
      if (pos + 2 > size) grow(size * 2 < kLogicalLineMax + 2 ? size * 2 : kLogicalLineMax + 2);
    } else if (pos + 1 >= size) {
      cut = true;
      return;
    }
    text[pos++] = c;
  }
  void grow(size_t newSize) {
    ownBuffer = text = static_cast<char *>(memRealloc(text, newSize));
    ownSize = size = newSize;
  }
};

// Reads one physical line, through its newline or to the end of the file,
// into line. Bytes after a NUL byte are not kept: the C string would end
// there anyway, and taking the NUL for the end of the text must not make the
// reader lose track of where the line ends. Returns false when nothing at all
// could be read. *lastKept is the last byte kept (0 when none), *newline
// whether the line ended in a newline.
bool readPhysical(FILE *stream, LineBuffer *line, int *lastKept, bool *newline) {
  bool any = false, afterNul = false;
  *lastKept = 0;
  *newline = false;
  for (;;) {
    int c = getc_unlocked(stream);
    if (c == EOF) return any;
    any = true;
    if (c == '\n') {
      // A caller's buffer that is full already has no room for the newline:
      // the physical line did not fit.
      if (!line->own && line->pos + 1 >= line->size) line->cut = true;
      *newline = true;
      return true;
    }
    if (afterNul || line->cut) continue;
    if (c == '\0') {
      afterNul = true;
      continue;
    }
    line->put(static_cast<char>(c));
    *lastKept = c;
  }
}

// Reads one logical line into line; false at end of file before any byte.
bool readLogical(FILE *stream, LineBuffer *line) {
  bool first = true;
  for (;;) {
    int last;
    bool newline;
    if (!readPhysical(stream, line, &last, &newline)) {
      // A continuation at the end of the file ends the line it continued.
      return !first;
    }
    first = false;
    if (line->cut) {
      // A cut line ends here, whatever the cut text ends with; the rest of
      // its physical line was read and dropped.
      return true;
    }
    if (last != '\\') return true;
    // Continuation: drop the backslash (nothing goes in place of it and the
    // newline) and read on here; at the end of the file the line ends.
    if (!line->overlong) --line->pos;
    if (!newline) return true;
  }
}

}  // namespace

char *readstring(char *buffer, size_t size, FILE *stream, const char *name) {
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
  LineBuffer line{buffer, size, own};
  for (;;) {
    line.pos = 0;
    line.cut = line.overlong = false;
    if (!readLogical(stream, &line)) {
      line.text[0] = '\0';
      return nullptr;
    }
    if (!line.overlong) break;
    // Such a line is no line of any file of the system; its text is dropped
    // and the next line read.
    error("Line longer than %lu bytes skipped in %s", static_cast<unsigned long>(kLogicalLineMax),
          name ? name : "a file");
  }
  // Finish: the text, one newline and a zero byte. A caller's buffer loses
  // its last character to the newline when it is full.
  if (line.pos + 2 > line.size) {
    if (own)
      line.grow(line.pos + 2);
    else
      line.pos = line.size - 2;
  }
  line.text[line.pos] = '\n';
  line.text[line.pos + 1] = '\0';
  debug(10, "readstring: buf=%p, sz=%lu, str=`%s'", static_cast<void *>(line.text),
        static_cast<unsigned long>(line.size), line.text);
  return line.text;
}
