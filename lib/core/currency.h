// Money rounding and formatting. Amounts are doubles rounded to a multiple of
// a unit (normally currency-precision), halves away from zero; VAT is the
// built-in formula symbol `taxes`, read at each call.
#pragma once

// x rounded to a multiple of unit, halves away from zero; a zero result is
// never negative. unit is a decimal step of at most 9 places; one that is
// not finite and above 0 gives an error line and x back unrounded.
double roundTo(double x, double unit);
// The text of roundTo(x, unit) with currency-thousands between groups of
// three digits and as many decimals as unit has; static buffer of 40 bytes,
// overwritten by the next call. A longer text is cut at 39 characters.
char *formatMoney(double x, double unit);
// The decimals of unit: how many times it is multiplied by 10 to become
// integral (0.01 has 2, 0.5 has 1, 1 has none); at most 9.
int unitDecimals(double unit);
// roundTo(r + r * taxes, unit) with r = roundTo(x, unit).
double withVat(double x, double unit);
// withVat(x, unit) - roundTo(x, unit).
double vatOnly(double x, double unit);
