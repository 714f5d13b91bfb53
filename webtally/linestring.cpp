#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "layout.h"

char *lineBuild(char *buf, char fill, unsigned width, const char *format, ...) {
  memset(buf, fill, width);
  buf[width] = '\0';
  if (!format || !*format) return buf;

  char align = '=';
  if (*format == '<' || *format == '>' || *format == '=') align = *format++;

  std::string text(width + 1, '\0');
  va_list args;
  va_start(args, format);
  int length = vsnprintf(text.data(), text.size(), format, args);
  va_end(args);
  unsigned n = length < 0 ? 0 : static_cast<unsigned>(length);
  if (n > width) n = width;

  if (align == '<') {
    memcpy(buf, text.data(), n);
    if (n < width) buf[n] = ' ';
  } else if (align == '>') {
    memcpy(buf + width - n, text.data(), n);
    if (n < width) buf[width - n - 1] = ' ';
  } else {
    unsigned h = (width - n) / 2;
    memcpy(buf + h, text.data(), n);
    if (h >= 1) {
      buf[h - 1] = ' ';
      buf[h + n] = ' ';
    } else {
      buf[n] = '\0';
    }
  }
  return buf;
}

char *lineText(char *buf, char fill, unsigned width, const char *text) {
  if (!text || !*text) return lineBuild(buf, fill, width, nullptr);
  switch (*text) {
    case '<': return lineBuild(buf, fill, width, "<%s", text + 1);
    case '>': return lineBuild(buf, fill, width, ">%s", text + 1);
    case '=': return lineBuild(buf, fill, width, "=%s", text + 1);
    default: return lineBuild(buf, fill, width, "%s", text);
  }
}
