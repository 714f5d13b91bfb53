// fxpost: stores the rate of a foreign currency for a day.
//
//   fxpost [-q] currency rate [day [month [year]]]
//
// One unit of the currency costs rate units of the base currency from that
// day on (today, or today with the day, month and year given). The rate is a
// formula over the built-in symbols. Every operand is checked before the
// configuration is read, so those messages reach standard error only and
// `taxes` in the formula is still 0. The row goes into table `rates` with the
// rate as given (15 significant digits), where tallymill's pricing finds it,
// and the confirmation shows the rate as stored.
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core.h"
#include "formula.h"
#include "sqldata.h"

namespace {

// A currency name fills at most the 16 characters of the rates' name column
// (and of the rate cache and the price lists' currency field).
constexpr size_t kCurrencyMax = 16;
// The smallest rate taken: anything below is a mistake of the operand more
// likely than a currency's worth.
constexpr double kRateMin = 0.0005;

[[noreturn]] void fxpostUsage() {
  initConfig();
  fputs("Usage: fxpost [-q] currency rate [day [month [year]]]\n\t-q\tBe quiet\n", stderr);
  exit(1);
}

// A currency name as rate rows and price lists write it: 1 to 16 characters,
// none of them a blank or a control character.
bool isCurrencyName(const char *name) {
  size_t length = 0;
  for (const char *p = name; *p; ++p, ++length) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (c <= ' ' || c == 0x7f) return false;
  }
  return length >= 1 && length <= kCurrencyMax;
}

// A day, month or year operand into *field: decimal digits only, of a value
// that an int holds; the range of the field is checked with the whole date.
bool dateField(const char *text, int32_t *field) {
  if (!*text) return false;
  for (const char *p = text; *p; ++p)
    if (*p < '0' || *p > '9') return false;
  errno = 0;
  unsigned long value = strtoul(text, nullptr, 10);
  if (errno != 0 || value > INT32_MAX) return false;
  *field = static_cast<int32_t>(value);
  return true;
}

int fxpostMain(int argc, char **argv) {
  bool quiet = false;
  int option;
  while ((option = getopt(argc, argv, "Hq")) != -1) {
    if (option == 'q')
      quiet = true;
    else
      fxpostUsage();
  }
  const int operands = argc - optind;
  if (operands < 2) fxpostUsage();
  char **operand = argv + optind;
  const char *currency = operand[0];

  if (!isCurrencyName(currency)) fatal(1, "Bad currency name `%s'", currency);

  double rate;
  setExprTables(nullptr);
  if (evaluate(&rate, operand[1]) != 0) fatal(1, "bad expression for rate of %s", currency);
  if (!std::isfinite(rate) || rate < kRateMin) fatal(1, "Bad %s rate given (%f)", currency, rate);

  Date date;
  setDate(&date, 0);
  int32_t *fields[] = {&date.day, &date.month, &date.year};
  for (int i = 0; i < 3 && 2 + i < operands; ++i)
    if (!dateField(operand[2 + i], fields[i])) fatal(1, "Bad date given - %s", operand[2 + i]);
  if (date.year < 1970 || date.year > 9999 || date.month < 1 || date.month > 12 || date.day < 1 ||
      date.day > daysInMonth(date.year, date.month))
    fatal(1, "Bad date given - %u/%02u/%u", static_cast<unsigned>(date.day),
          static_cast<unsigned>(date.month), static_cast<unsigned>(date.year));

  if (const char *fault = initMoneyConfig()) fatal(1, "%s", fault);
  // storeRate takes the id lock of `rates', which would wait for ever.
  if (int problem = checkLockDir()) fatal(1, "Can't use lock directory `%s' (%s)\n", lockDir, strerror(problem));
  if (!storeRate(currency, rate, date)) fatal(1, "The rate of %s was not stored (see Logfile)", currency);
  // Said once the rate is stored: a run that ends while it waits for the
  // database must not look done.
  if (!quiet)
    fprintf(stderr, "%02u/%02u/%u: 1 %s == %s %s\n", static_cast<unsigned>(date.day),
            static_cast<unsigned>(date.month), static_cast<unsigned>(date.year), currency, rateText(rate).c_str(),
            getMessage(currencyName));
  return 0;
}

}  // namespace

int main(int argc, char **argv) { return fxpostMain(argc, argv); }
