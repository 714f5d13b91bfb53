// Fuzz entry point: date expressions and money. The input is a date
// expression, then (after a line "%%") an amount's text; its last nine bytes
// also give an amount's bits and the choice of unit and thousands separator.
#include <cstdint>
#include <cstring>
#include <string>

#include "core.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string expression, amount;
  fuzzsupport::split(data, size, &expression, &amount);
  Date d = {15, 3, 1998};
  parseDate(&d, expression.c_str());
  Date delta = {d.day, d.month, 0};
  addDate(&d, &delta);
  subDate(&d, &delta);
  if (d.month >= 1 && d.month <= 12) daysInMonth(d.year, d.month);

  static const double units[] = {1, 0.5, 0.05, 0.01, 0.001, 10, 1e-9, 0.25};
  static const char *const separators[] = {"", " ", "'", "\xa0\xa0"};
  double x = decimalNumber(amount.c_str(), nullptr);
  uint8_t choice = 0;
  if (size >= 9) {
    double bits;
    memcpy(&bits, data + size - 9, sizeof bits);
    choice = data[size - 1];
    if (bits == bits && bits > -1e15 && bits < 1e15) x += bits;
  }
  double unit = units[choice % 8];
  storeConfigString(&currencyThousands, separators[(choice / 8) % 4], nullptr);
  roundTo(x, unit);
  formatMoney(x, unit);
  withVat(x, unit);
  vatOnly(x, unit);
  return 0;
}
