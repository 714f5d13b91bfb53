#include <cctype>
#include <cmath>
#include <cstdlib>
#include <string>

#include "memory.h"

bool nearlyEqual(double a, double b) { return std::fabs(a - b) < 1e-6; }

double decimalNumber(const char *text, const char **end) {
  const char *p = text;
  while (isspace(static_cast<unsigned char>(*p))) ++p;
  const char *start = p;
  if (*p == '+' || *p == '-') ++p;
  const char *digits = p;
  while (isdigit(static_cast<unsigned char>(*p))) ++p;
  size_t count = p - digits;
  if (*p == '.') {
    const char *fraction = ++p;
    while (isdigit(static_cast<unsigned char>(*p))) ++p;
    count += p - fraction;
  }
  if (count == 0) {
    if (end) *end = text;
    return 0;
  }
  if (*p == 'e' || *p == 'E') {
    const char *q = p + 1;
    if (*q == '+' || *q == '-') ++q;
    if (isdigit(static_cast<unsigned char>(*q))) {
      while (isdigit(static_cast<unsigned char>(*q))) ++q;
      p = q;
    }
  }
  if (end) *end = p;
  // The text is a decimal literal now, which strtod reads the same way.
  return strtod(std::string(start, p).c_str(), nullptr);
}
