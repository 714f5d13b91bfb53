#include "date.h"

#include <cstdint>
#include <ctime>

Date today;

namespace {

// Month lengths of a common year, months 1 to 12.
const int kMonthDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

// Any 48 consecutive months hold exactly four Februaries in four consecutive
// years, one of them divisible by 4, so they always have 4 * 365 + 1 days.
// Skipping whole such cycles gives the same result as walking month by month.
constexpr int64_t kCycleMonths = 48;
constexpr int64_t kCycleDays = 4 * 365 + 1;

int monthDays(int64_t year, int64_t month) {
  if (month == 2 && (year & 3) == 0) return 29;
  return kMonthDays[month - 1];
}

int32_t clampInt32(int64_t v) {
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(v);
}

// Floor division for a positive divisor.
int64_t floorDiv(int64_t a, int64_t b) {
  int64_t q = a / b;
  return (a % b != 0 && a < 0) ? q - 1 : q;
}

// Moves d by the amount in 64-bit arithmetic, so no sum can overflow, and
// normalises: years first, then months, then days. Months are normalised by
// division and whole four-year cycles of days are skipped, so the day loops
// run at most about 50 times whatever the amount. A year that leaves the
// 32-bit range is clamped to its end (the day kept within the month).
void moveDate(Date *d, int64_t days, int64_t months, int64_t years) {
  int64_t year = static_cast<int64_t>(d->year) + years;
  int64_t month = static_cast<int64_t>(d->month) + months;
  int64_t day = static_cast<int64_t>(d->day) + days;

  // Month into 1..12, carrying whole years.
  int64_t carry = floorDiv(month - 1, 12);
  year += carry;
  month -= carry * 12;

  // Borrow from earlier months while the day is 0 or below.
  if (day <= -kCycleDays) {
    int64_t cycles = -day / kCycleDays;
    day += cycles * kCycleDays;
    year -= cycles * (kCycleMonths / 12);
  }
  while (day <= 0) {
    if (--month == 0) {
      month = 12;
      --year;
    }
    day += monthDays(year, month);
  }

  // Carry into later months while the day is past the end of the month. The
  // skip keeps more than 31 days over, so every skipped month would have been
  // walked by the loop as well.
  if (day > kCycleDays + 31) {
    int64_t cycles = (day - 32) / kCycleDays;
    day -= cycles * kCycleDays;
    year += cycles * (kCycleMonths / 12);
  }
  while (day > monthDays(year, month)) {
    day -= monthDays(year, month);
    if (++month == 13) {
      month = 1;
      ++year;
    }
  }

  d->year = clampInt32(year);
  // A clamped year may lack the 29 February that the real one had.
  if (d->year != year && day > monthDays(d->year, month)) day = monthDays(d->year, month);
  d->month = static_cast<int32_t>(month);
  d->day = static_cast<int32_t>(day);
}

// Sets today from the clock before main, ahead of the other static
// constructors, which may copy it.
struct TodayInit {
  TodayInit() {
    today = Date{0, 0, 0};
    setDate(&today, 0);
  }
};
__attribute__((init_priority(110))) TodayInit initToday;

}  // namespace

void setDate(Date *d, time_t t) {
  if (t == 0) {
    if (d != &today) {
      *d = today;
      return;
    }
    t = time(nullptr);
  }
  struct tm tm;
  localtime_r(&t, &tm);
  d->day = tm.tm_mday;
  d->month = tm.tm_mon + 1;
  d->year = tm.tm_year + 1900;
}

int daysInMonth(int year, int month) {
  // Outside 1..12 there is no such month; 0 keeps every "day <= length" test
  // false instead of reading past the table.
  if (month < 1 || month > 12) return 0;
  return monthDays(year, month);
}

Date *addDate(Date *d, const Date *delta) {
  moveDate(d, delta->day, delta->month, delta->year);
  return d;
}

Date *subDate(Date *d, const Date *delta) {
  moveDate(d, -static_cast<int64_t>(delta->day), -static_cast<int64_t>(delta->month),
           -static_cast<int64_t>(delta->year));
  return d;
}
