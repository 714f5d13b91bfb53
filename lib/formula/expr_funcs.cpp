// The built-in formula symbols. This file must not use the evaluator: programs
// that evaluate no formulas link it alone for the configured VAT rate.

#include <cmath>
#include <cstdint>

#include "config.h"
#include "currency.h"
#include "date.h"
#include "symbols.h"

namespace {

// A unit of exactly 0 (the default) means currency-precision as it is set at
// the time of the call.
double unitOrPrecision(double unit) { return unit == 0 ? currencyPrecision : unit; }

bool e_round(double *out, ArgSlot *args) {
  *out = roundTo(args[0].real, unitOrPrecision(args[1].real));
  return true;
}

bool e_vatonly(double *out, ArgSlot *args) {
  *out = vatOnly(args[0].real, unitOrPrecision(args[1].real));
  return true;
}

bool e_withvat(double *out, ArgSlot *args) {
  *out = withVat(args[0].real, unitOrPrecision(args[1].real));
  return true;
}

bool e_sign(double *out, ArgSlot *args) {
  double x = args[0].real;
  *out = std::fabs(x) < 1e-6 ? 0 : (x < 0 ? -1 : 1);
  return true;
}

bool e_abs(double *out, ArgSlot *args) {
  *out = std::fabs(args[0].real);
  return true;
}

bool e_min(double *out, ArgSlot *args) {
  *out = args[0].real < args[1].real ? args[0].real : args[1].real;
  return true;
}

bool e_max(double *out, ArgSlot *args) {
  *out = args[0].real > args[1].real ? args[0].real : args[1].real;
  return true;
}

// Date parts are read as unsigned numbers.
bool e_day(double *out, ArgSlot *args) {
  *out = static_cast<uint32_t>(args[0].date->day);
  return true;
}

bool e_month(double *out, ArgSlot *args) {
  *out = static_cast<uint32_t>(args[0].date->month);
  return true;
}

bool e_year(double *out, ArgSlot *args) {
  *out = static_cast<uint32_t>(args[0].date->year);
  return true;
}

// The yyyymmdd number that the database tables use for dates, in unsigned
// 32-bit arithmetic.
bool e_ldate(double *out, ArgSlot *args) {
  const Date *d = args[0].date;
  *out = static_cast<uint32_t>(d->year) * 10000u + static_cast<uint32_t>(d->month) * 100u +
         static_cast<uint32_t>(d->day);
  return true;
}

// No default for the amount; a unit of "0" stands for currency-precision.
const char *const amountDefaults[] = {nullptr, "0"};
// The empty date expression: today's date.
const char *const dateDefaults[] = {""};

}  // namespace

Symbol builtinSymbols[] = {
    {"taxes", SYM_VALUE, 0.0, nullptr, nullptr, nullptr},
    {"one", SYM_VALUE, 1.0, nullptr, nullptr, nullptr},
    {"zero", SYM_VALUE, 0.0, nullptr, nullptr, nullptr},
    {"round", SYM_FUNCTION, 0.0, e_round, "RR", amountDefaults},
    {"vatonly", SYM_FUNCTION, 0.0, e_vatonly, "RR", amountDefaults},
    {"withvat", SYM_FUNCTION, 0.0, e_withvat, "RR", amountDefaults},
    {"sign", SYM_FUNCTION, 0.0, e_sign, "R", nullptr},
    {"abs", SYM_FUNCTION, 0.0, e_abs, "R", nullptr},
    {"min", SYM_FUNCTION, 0.0, e_min, "RR", nullptr},
    {"max", SYM_FUNCTION, 0.0, e_max, "RR", nullptr},
    {"day", SYM_FUNCTION, 0.0, e_day, "D", dateDefaults},
    {"month", SYM_FUNCTION, 0.0, e_month, "D", dateDefaults},
    {"year", SYM_FUNCTION, 0.0, e_year, "D", dateDefaults},
    {"ldate", SYM_FUNCTION, 0.0, e_ldate, "D", dateDefaults},
    {nullptr, SYM_VALUE, 0.0, nullptr, nullptr, nullptr},
};

double *const taxesValue = &builtinSymbols[0].value;
