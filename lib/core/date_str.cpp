#include <cstdint>

#include "date.h"

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isSeparator(char c) { return c == '.' || c == '/'; }

// Reads a run of decimal digits at *cursor; a value beyond the 32-bit range
// reads as its largest value, as strtol does with a 32-bit long.
int32_t readNumber(const char **cursor) {
  int64_t value = 0;
  const char *p = *cursor;
  for (; isDigit(*p); ++p) {
    if (value <= INT32_MAX) value = value * 10 + (*p - '0');
  }
  *cursor = p;
  return value > INT32_MAX ? INT32_MAX : static_cast<int32_t>(value);
}

}  // namespace

void parseDatePart(Date *d, const char **cursor) {
  const char *p = *cursor;
  if (isDigit(*p)) d->year = readNumber(&p);
  if (isSeparator(*p)) {
    ++p;
    if (isDigit(*p)) d->month = readNumber(&p);
    if (isSeparator(*p)) {
      ++p;
      if (isDigit(*p)) d->day = readNumber(&p);
    }
  }
  *cursor = p;
}

void parseDate(Date *d, const char *text) {
  if (!text) return;
  const char *p = text;
  if (*p != '+' && *p != '-') parseDatePart(d, &p);
  while (*p == '+' || *p == '-') {
    char sign = *p++;
    Date amount = {0, 0, 0};
    parseDatePart(&amount, &p);
    if (sign == '+')
      addDate(d, &amount);
    else
      subDate(d, &amount);
  }
}
