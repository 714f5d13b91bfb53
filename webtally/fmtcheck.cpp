#include <cctype>
#include <cstring>

#include "config.h"
#include "language.h"
#include "layout.h"

namespace {

// Room of the expanded format, without its zero byte.
constexpr size_t kFormatMax = 200;
// Longest width or precision a form may give: enough for any page field,
// while a huge one would make a single directive write megabytes.
constexpr int kFormatDigitsMax = 3;

// Skips a run of at most kFormatDigitsMax digits; false when it is longer.
bool skipDigits(const char **p) {
  int n = 0;
  while (isdigit(static_cast<unsigned char>(**p))) {
    ++*p;
    if (++n > kFormatDigitsMax) return false;
  }
  return true;
}

// Reads one conversion after its "%" (at *p) and leaves *p on its last
// character; false when it does not fit the argument.
bool readConversion(const char **p, FormatArg arg) {
  const char *flags = arg == kFormatText ? "-" : "-+ #0";
  while (**p && strchr(flags, **p)) ++*p;
  // A width begins with 1 to 9: a "0" there is the flag, allowed for numbers
  // only, and read above.
  if (**p == '0') return false;
  if (!skipDigits(p)) return false;
  if (**p == '.') {
    ++*p;
    if (!skipDigits(p)) return false;
  }
  if (arg == kFormatText) return **p == 's';
  if (arg == kFormatMonthYear) return **p && strchr("diouxX", **p);
  if (**p == 'l') ++*p;  // no effect on a floating conversion
  return **p && strchr("fFeEgGaA", **p);
}

// Appends n characters to the expanded format when all of them fit.
bool put(char *buf, size_t *len, const char *chars, size_t n) {
  if (*len + n > kFormatMax) return false;
  memcpy(buf + *len, chars, n);
  *len += n;
  return true;
}

// Appends the currency name, its "%" doubled; false when it did not all fit.
bool putCurrencyName(char *buf, size_t *len) {
  for (const char *c = getMessage(currencyName); *c; ++c) {
    if (!put(buf, len, *c == '%' ? "%%" : c, *c == '%' ? 2 : 1)) return false;
  }
  return true;
}

}  // namespace

bool checkFormat(const char *format, FormatArg arg) {
  if (!format) return true;
  int conversions = 0;
  const int allowed = arg == kFormatMonthYear ? 2 : 1;
  bool ok = true;
  for (const char *p = format; ok && *p; ++p) {
    if (*p != '%') continue;
    ++p;
    // A heading goes to printf as it stands: no currency marker there.
    if (*p == '%' || (*p == '@' && arg != kFormatMonthYear)) continue;
    ++conversions;
    if (*p == '$') {
      ok = arg == kFormatNumber;
    } else {
      ok = readConversion(&p, arg);
    }
  }
  if (ok && conversions <= allowed) return true;
  error("Bad format - %s", format);
  return false;
}

bool currencyMarker(char *format) {
  bool found = false;
  for (char *p = format; *p; ++p) {
    if (*p != '%') continue;
    if (p[1] == '%') {
      ++p;
    } else if (p[1] == '$') {
      *++p = 's';
      found = true;
    }
  }
  return found;
}

const char *expandFormat(const char *format, const char *defaultConversion) {
  static char buf[kFormatMax + 1];
  if (!format) format = "";
  size_t len = 0;
  bool room = true;
  for (const char *p = format; room && *p; ++p) {
    if (*p != '%') {
      room = put(buf, &len, p, 1);
    } else if (p[1] == '@') {
      room = putCurrencyName(buf, &len);
      ++p;
    } else if (p[1] != '\0') {
      room = put(buf, &len, p, 2);
      ++p;
    }
  }
  if (defaultConversion && !strchr(format, '%')) {
    put(buf, &len, defaultConversion, strlen(defaultConversion));
  }
  buf[len] = '\0';
  return buf;
}
