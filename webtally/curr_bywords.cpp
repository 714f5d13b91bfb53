#include <cmath>
#include <cstdint>
#include <cstdio>

#include "config.h"
#include "currency.h"
#include "language.h"
#include "memory.h"
#include "words.h"

char *amountWords(char *buffer, size_t size, double amount, double precision) {
  double r = roundTo(amount, precision);
  bool negative = r < 0;  // roundTo never gives minus zero: -0.004 reads as 0
  double magnitude = std::floor(std::fabs(r));
  bool hundredths = !nearlyEqual(precision, std::floor(precision));
  int h = 0;
  if (hundredths && std::isfinite(r)) {
    h = static_cast<int>(roundTo(100 * (std::fabs(r) - magnitude), 1));
    // With a unit finer than 0.01, 0.996 rounds to 100 hundredths: a whole unit.
    if (h >= 100) {
      magnitude += 1;
      h -= 100;
    }
  }
  // Any finite double's integer digits fit here (at most 309).
  char figures[330];
  const char *words = figures;
  if (magnitude < static_cast<double>(kWordsLimit)) {
    words = signedWords(negative, static_cast<uint64_t>(magnitude));
  } else {
    snprintf(figures, sizeof figures, "%s%.0f", negative ? "-" : "", magnitude);
  }
  const char *name = getMessage(currencyName);
  if (hundredths) {
    snprintf(buffer, size, "%s %s %02d %s", words, name, h, getMessage(currencyHundredth));
  } else {
    snprintf(buffer, size, "%s %s", words, name);
  }
  return buffer;
}
