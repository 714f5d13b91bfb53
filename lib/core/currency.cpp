#include "currency.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "config.h"
#include "memory.h"
#include "misc.h"
#include "symbols.h"

namespace {

// A unit has at most 9 decimal places: the scale factor stops at 10^9.
constexpr int kMaxScaleSteps = 9;

// How near to a half, relative to the amount counted in units, a fraction
// must be to count as the half: about 450 rounding errors of a double, yet
// far below the sixth decimal at which amounts are stored. It never exceeds
// a thousandth of a unit, so huge amounts keep their binary rounding.
constexpr double kHalfTolerance = 1e-13;
constexpr double kHalfToleranceMax = 1e-3;

// Scales unit by powers of ten until it is integral (at most 9 steps); returns
// the number of steps and leaves the scaled unit and its factor.
int scaleUnit(double *unit, double *factor) {
  int steps = 0;
  *factor = 1;
  while (steps < kMaxScaleSteps && !nearlyEqual(*unit, std::floor(*unit))) {
    *unit *= 10;
    *factor *= 10;
    ++steps;
  }
  return steps;
}

// Appends text to buf (of size bytes, len used), cutting it where buf ends.
void append(char *buf, size_t size, size_t *len, const char *text, size_t n) {
  if (*len + 1 >= size) return;
  size_t room = size - 1 - *len;
  if (n > room) n = room;
  memcpy(buf + *len, text, n);
  *len += n;
  buf[*len] = '\0';
}

}  // namespace

double roundTo(double x, double unit) {
  if (!std::isfinite(unit) || unit <= 0) {
    error("Bad rounding unit %g, amount %g left unrounded", unit, x);
    return x;
  }
  double sign = 1;
  if (x < 0) {
    sign = -1;
    x = -x;
  }
  double factor;
  scaleUnit(&unit, &factor);
  // A unit that became integral is taken as that integer: 0.05 scales to
  // 5.000000000000001, which would leak into every result.
  if (unit >= 1 && nearlyEqual(unit, std::round(unit))) unit = std::round(unit);
  // The amount counted in units. Half-way is decided on the decimal amount:
  // 1.005 is 100.49999999999999 hundredths in binary but half-way as written,
  // and the products and sums of such amounts carry a few more such errors.
  // A fraction less than kHalfTolerance of the whole count away from a half
  // is taken as the half; a real difference in a money amount is far greater.
  const double units = x * factor / unit;
  double whole = std::floor(units);
  const double tolerance = std::min(kHalfTolerance * std::max(units, 1.0), kHalfToleranceMax);
  if (units - whole >= 0.5 - tolerance) whole += 1;
  double r = sign * (whole * unit / factor);
  // A negative amount that rounds to zero gives zero, not minus zero.
  return r == 0 ? 0.0 : r;
}

char *formatMoney(double x, double unit) {
  static char text[40];
  // The integer digits of any finite double fit here (at most 309).
  char digits[320];
  size_t len = 0;
  text[0] = '\0';

  double r = roundTo(x, unit);
  if (r < 0) {
    append(text, sizeof text, &len, "-", 1);
    r = -r;
  }
  double whole = std::floor(r);

  int decimals = unitDecimals(unit);
  char fraction[40] = "";
  if (decimals > 0 && std::isfinite(r)) {
    snprintf(fraction, sizeof fraction, "%.*f", decimals, r - whole);
    // A fraction a hair below 1 prints as "1.00": it belongs to the integer.
    if (fraction[0] == '1') {
      whole += 1;
      fraction[0] = '0';
    }
  }

  snprintf(digits, sizeof digits, "%.0f", whole);
  size_t count = strlen(digits);
  const char *sep = currencyThousands ? currencyThousands : "";
  size_t sepLen = strlen(sep);
  if (sepLen == 0 || !std::isfinite(whole)) {
    append(text, sizeof text, &len, digits, count);
  } else {
    size_t group = count % 3 == 0 ? 3 : count % 3;
    for (size_t i = 0; i < count; i += group, group = 3) {
      if (i > 0) append(text, sizeof text, &len, sep, sepLen);
      append(text, sizeof text, &len, digits + i, group);
    }
  }
  if (fraction[0]) append(text, sizeof text, &len, fraction + 1, strlen(fraction + 1));
  return text;
}

int unitDecimals(double unit) {
  double factor;
  return scaleUnit(&unit, &factor);
}

double withVat(double x, double unit) {
  double r = roundTo(x, unit);
  return roundTo(r + r * *taxesValue, unit);
}

double vatOnly(double x, double unit) { return withVat(x, unit) - roundTo(x, unit); }
