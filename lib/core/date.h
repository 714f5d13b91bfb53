// Dates and date expressions.
//
// A Date is day, month (1..12) and full year; the same record carries a
// relative amount {days, months, years} for addDate/subDate. February has 29
// days in every year divisible by 4.
//
// Date expressions: [absolute part] { ("+" | "-") part }, where a part is
// [year] [sep [month] [sep [day]]] and sep is "." or "/". The absolute part
// sets the fields it names as written; each relative part is added or
// subtracted with normalisation. Reading stops at the first character the
// grammar does not take. Examples: 2024.3.15, -0.1 (a month back), +..1 (a day
// on), .3-0.0.1.
#pragma once

#include <cstdint>
#include <ctime>

struct Date {
  int32_t day;
  int32_t month;
  int32_t year;
};

// The process-wide run date, set from the clock before main; programs may
// overwrite it and every default date is a copy of it.
extern Date today;

// t != 0: d becomes the local date of t. t == 0: d becomes a copy of today,
// except for today itself, which is read from the clock.
void setDate(Date *d, time_t t);
// Days of month (1..12) in year; 0 for a month outside 1..12.
int daysInMonth(int year, int month);
// Adds {days, months, years} and normalises months and days; returns d.
// Any amount is safe: sums are taken in 64 bits and the year is clamped to
// the 32-bit range.
Date *addDate(Date *d, const Date *delta);
// Subtracts {days, months, years}; returns d.
Date *subDate(Date *d, const Date *delta);
// Reads one part of a date expression at *cursor into d and moves *cursor
// past what it read.
void parseDatePart(Date *d, const char **cursor);
// Applies the whole date expression text to d.
void parseDate(Date *d, const char *text);
