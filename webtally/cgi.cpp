#include <cctype>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "webtally.h"

namespace {

// The arrays of the query list grow by this many entries at a time.
constexpr unsigned kListStep = 20;

// Index of c in "0123456789ABCDEF" after conversion to upper case, or -1.
int hexDigit(char c) {
  static const char kDigits[] = "0123456789ABCDEF";
  if (c == '\0') return -1;
  const char *at = strchr(kDigits, toupper(static_cast<unsigned char>(c)));
  return at ? static_cast<int>(at - kDigits) : -1;
}

void appendItem(QueryList *list, char *item) {
  if (list->count % kListStep == 0)
    list->items = static_cast<char **>(memRealloc(list->items, (list->count + kListStep) * sizeof(char *)));
  list->items[list->count++] = item;
}

}  // namespace

int hexPair(const char *s) {
  int high = hexDigit(s[0]);
  // The second character is looked at only when the first is a digit, so a
  // "%" or "%4" at the end of a text never reads past its zero byte.
  int low = high < 0 ? -1 : hexDigit(s[1]);
  if (low < 0) return 0;
  return high * 16 + low;
}

char *urlDecode(const char *text) {
  if (!text) return nullptr;
  char *result = static_cast<char *>(memRealloc(nullptr, strlen(text) + 1));
  char *out = result;
  for (const char *p = text; *p; ++p) {
    if (*p != '%') {
      *out++ = *p;
      continue;
    }
    // A bad pair gives the byte 0, which ends the decoded text.
    int byte = hexPair(p + 1);
    if (byte == 0) break;
    *out++ = static_cast<char>(byte);
    p += 2;
  }
  *out = '\0';
  return result;
}

char *plusToSpace(char *text) {
  for (char *p = text; *p; ++p)
    if (*p == '+') *p = ' ';
  return text;
}

QueryList *parseQuery(QueryList *list, const char *text) {
  freeQuery(list);
  if (!text) text = getenv("QUERY_STRING");
  if (!text) return list;
  while (*text) {
    size_t length = strcspn(text, "&");
    if (length > 0) {
      // "+" is a blank before decoding, so that %2B still gives a "+".
      char *raw = static_cast<char *>(memRealloc(nullptr, length + 1));
      memcpy(raw, text, length);
      raw[length] = '\0';
      appendItem(list, urlDecode(plusToSpace(raw)));
      memRealloc(raw, 0);
    }
    text += length;
    if (*text == '&') ++text;
  }
  return list;
}

void freeQuery(QueryList *list) {
  for (unsigned i = 0; i < list->count; ++i) memRealloc(list->items[i], 0);
  list->items = static_cast<char **>(memRealloc(list->items, 0));
  list->count = 0;
}

const char *queryParam(const QueryList *list, const char *name) {
  size_t length = strlen(name);
  for (unsigned i = 0; i < list->count; ++i) {
    const char *item = list->items[i];
    if (strncmp(item, name, length) != 0) continue;
    if (item[length] == '=') return item + length + 1;
    if (item[length] == '\0') return "On";
  }
  return nullptr;
}

void htmlBox(const char *fmt, ...) {
  fputs("<center><table border=3><tr><th>\n", stdout);
  va_list args;
  va_start(args, fmt);
  vprintf(fmt, args);
  va_end(args);
  fputs("</tr></table></center><p>\n", stdout);
}

std::string htmlEscape(const char *text) {
  std::string out;
  for (const char *p = text ? text : ""; *p; ++p) {
    switch (*p) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += *p;
    }
  }
  return out;
}

std::string htmlField(const char *text, int width) {
  size_t shown = text ? strlen(text) : 0;
  size_t room = static_cast<size_t>(width < 0 ? -static_cast<int64_t>(width) : width);
  std::string blanks(room > shown ? room - shown : 0, ' ');
  return width < 0 ? htmlEscape(text) + blanks : blanks + htmlEscape(text);
}

std::string printable(const char *text) {
  std::string out;
  for (const char *p = text ? text : ""; *p; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    out += c < 0x20 || c == 0x7f ? '?' : *p;
  }
  return out;
}
