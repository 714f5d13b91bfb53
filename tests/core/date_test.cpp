#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "date.h"
#include "process.h"

namespace {

Date dmy(int day, int month, int year) { return Date{day, month, year}; }

std::string show(const Date &d) {
  char buf[64];
  snprintf(buf, sizeof buf, "%d.%d.%d", d.day, d.month, d.year);
  return buf;
}

// The date after applying the expression to start.
std::string apply(Date start, const char *expr) {
  parseDate(&start, expr);
  return show(start);
}

std::string plus(Date d, int days, int months, int years) {
  Date delta = dmy(days, months, years);
  return show(*addDate(&d, &delta));
}

std::string minus(Date d, int days, int months, int years) {
  Date delta = dmy(days, months, years);
  return show(*subDate(&d, &delta));
}

// The month-by-month walk, step for step, for amounts small enough to walk.
Date walk(Date d, const Date &delta) {
  d.year += delta.year;
  int m = d.month + delta.month;
  int day = d.day + delta.day;
  while (m <= 0) m += 12, d.year -= 1;
  while (m > 12) m -= 12, d.year += 1;
  while (day <= 0) {
    if (--m == 0) m = 12, d.year -= 1;
    day += daysInMonth(d.year, m);
  }
  while (day > daysInMonth(d.year, m)) {
    day -= daysInMonth(d.year, m);
    if (++m == 13) m = 1, d.year += 1;
  }
  d.month = m;
  d.day = day;
  return d;
}

}  // namespace

TEST(Date, MonthLengthsHaveLeapFebruaryEveryFourthYear) {
  const int common[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  for (int m = 1; m <= 12; ++m) EXPECT_EQ(daysInMonth(2023, m), common[m - 1]) << m;
  EXPECT_EQ(daysInMonth(2024, 2), 29);
  EXPECT_EQ(daysInMonth(1900, 2), 29);
  EXPECT_EQ(daysInMonth(2100, 2), 29);
  EXPECT_EQ(daysInMonth(2000, 2), 29);
  EXPECT_EQ(daysInMonth(-4, 2), 29);
  EXPECT_EQ(daysInMonth(-3, 2), 28);
  // No such month: no length, and no read outside the table.
  EXPECT_EQ(daysInMonth(2024, 0), 0);
  EXPECT_EQ(daysInMonth(2024, 13), 0);
}

TEST(Date, AddsYearsThenMonthsThenDaysWithCarry) {
  EXPECT_EQ(plus(dmy(31, 1, 2023), 0, 1, 0), "3.3.2023");
  EXPECT_EQ(plus(dmy(31, 1, 2024), 0, 1, 0), "2.3.2024");
  EXPECT_EQ(minus(dmy(1, 3, 2024), 1, 0, 0), "29.2.2024");
  EXPECT_EQ(minus(dmy(1, 3, 2100), 1, 0, 0), "29.2.2100");
  EXPECT_EQ(minus(dmy(1, 3, 2023), 1, 0, 0), "28.2.2023");
  EXPECT_EQ(minus(dmy(15, 1, 2024), 0, 1, 0), "15.12.2023");
  EXPECT_EQ(plus(dmy(15, 1, 2024), 0, 13, 0), "15.2.2025");
  EXPECT_EQ(plus(dmy(29, 2, 2024), 0, 0, 1), "1.3.2025");
  EXPECT_EQ(plus(dmy(31, 12, 2023), 1, 0, 0), "1.1.2024");
  EXPECT_EQ(minus(dmy(1, 1, 2024), 1, 0, 0), "31.12.2023");
  EXPECT_EQ(plus(dmy(10, 3, 2023), -40, 0, 0), "29.1.2023");
  EXPECT_EQ(minus(dmy(15, 5, 2023), 0, 25, 0), "15.4.2021");
  EXPECT_EQ(plus(dmy(15, 5, 2023), 0, -12, 0), "15.5.2022");
  // Day 0 is the last day of the month before.
  EXPECT_EQ(plus(dmy(0, 3, 2024), 0, 0, 0), "29.2.2024");
  EXPECT_EQ(plus(dmy(0, 1, 2024), 0, 0, 0), "31.12.2023");
  // The leap test uses the year as it stands while days are moved.
  EXPECT_EQ(plus(dmy(1, 1, 2023), 365 + 31 + 28, 0, 0), "29.2.2024");
  // Thousands of days, both ways, by whole cycles and month by month alike.
  EXPECT_EQ(plus(dmy(1, 1, 2000), 10000, 0, 0), "19.5.2027");
  EXPECT_EQ(minus(dmy(19, 5, 2027), 10000, 0, 0), "1.1.2000");
  EXPECT_EQ(plus(dmy(1, 1, 2000), 1461, 0, 0), "1.1.2004");
  EXPECT_EQ(plus(dmy(1, 1, 2000), -1461, 0, 0), "1.1.1996");
  EXPECT_EQ(plus(dmy(1, 3, 2001), 1492, 0, 0), "1.4.2005");
}

TEST(Date, ShortcutsGiveTheSameDateAsTheWalk) {
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> day(-40, 70), month(-30, 40), year(-3000, 3000),
      dayOff(-20000, 20000), monthOff(-100, 100), yearOff(-50, 50);
  for (int i = 0; i < 20000; ++i) {
    Date d = dmy(day(rng), month(rng), year(rng));
    Date delta = dmy(dayOff(rng), monthOff(rng), yearOff(rng));
    Date r = d;
    addDate(&r, &delta);
    ASSERT_EQ(show(r), show(walk(d, delta))) << show(d) << " + " << show(delta);
  }
}

TEST(Date, HugeAmountsAreClampedAndFinishAtOnce) {
  Date d = dmy(15, 6, 2024);
  Date delta = dmy(INT_MAX, INT_MAX, INT_MAX);
  addDate(&d, &delta);
  EXPECT_EQ(d.year, INT_MAX);
  EXPECT_GE(d.month, 1);
  EXPECT_LE(d.month, 12);
  EXPECT_GE(d.day, 1);
  EXPECT_LE(d.day, daysInMonth(d.year, d.month));

  d = dmy(15, 6, 2024);
  delta = dmy(INT_MIN, INT_MIN, INT_MIN);
  addDate(&d, &delta);
  EXPECT_EQ(d.year, INT_MIN);
  EXPECT_GE(d.month, 1);
  EXPECT_GE(d.day, 1);

  d = dmy(15, 6, 2024);
  subDate(&d, &delta);  // negating the smallest value must not overflow
  EXPECT_EQ(d.year, INT_MAX);

  // Day amounts alone: about 5.9 million years either way.
  d = dmy(1, 1, 2000);
  delta = dmy(INT_MAX, 0, 0);
  addDate(&d, &delta);
  EXPECT_EQ(show(d), plus(dmy(1, 1, 2000 + 4 * (INT_MAX / 1461)), INT_MAX % 1461, 0, 0));
  d = dmy(1, 1, 2000);
  subDate(&d, &delta);
  EXPECT_EQ(show(d), minus(dmy(1, 1, 2000 - 4 * (INT_MAX / 1461)), INT_MAX % 1461, 0, 0));

  // An expression from the web with absurd numbers.
  Date w = dmy(1, 1, 2024);
  parseDate(&w, "+99999999999999999999.99999999999999.9999999999999");
  EXPECT_EQ(w.year, INT_MAX);
  EXPECT_GE(w.day, 1);
  EXPECT_LE(w.day, daysInMonth(w.year, w.month));
  Date before = w;
  parseDate(&w, "-..99999999999");  // the day count reads as the largest value
  EXPECT_EQ(show(w), minus(before, INT_MAX, 0, 0));
  EXPECT_LT(w.year, INT_MAX - 5000000);
}

TEST(DateExpression, ReadsAbsolutePartAsWritten) {
  Date d = dmy(10, 3, 2023);
  EXPECT_EQ(apply(d, "2024.13.40"), "40.13.2024");
  EXPECT_EQ(apply(d, "2024.13.40+0"), "9.2.2025");
  EXPECT_EQ(apply(d, "2024"), "10.3.2024");
  EXPECT_EQ(apply(d, "2024.3"), "10.3.2024");
  EXPECT_EQ(apply(d, "2024/6/15"), "15.6.2024");
  EXPECT_EQ(apply(d, ".6"), "10.6.2023");
  EXPECT_EQ(apply(d, "..15"), "15.3.2023");
  EXPECT_EQ(apply(d, "2024..15"), "15.3.2024");
  EXPECT_EQ(apply(d, "98.1.2"), "2.1.98");
  EXPECT_EQ(apply(d, "2024."), "10.3.2024");
  EXPECT_EQ(apply(d, "2024.6."), "10.6.2024");
  EXPECT_EQ(apply(d, "2024.6.7.8"), "7.6.2024");
  EXPECT_EQ(apply(d, ""), "10.3.2023");
  EXPECT_EQ(apply(d, " 2024"), "10.3.2023");
  EXPECT_EQ(apply(d, "x2024"), "10.3.2023");
  EXPECT_EQ(apply(d, "2024x+1"), "10.3.2024");
  Date n = d;
  parseDate(&n, nullptr);
  EXPECT_EQ(show(n), "10.3.2023");
}

TEST(DateExpression, MovesByRelativeParts) {
  Date d = dmy(10, 3, 2023);
  EXPECT_EQ(apply(d, "-0.0.40"), "29.1.2023");
  EXPECT_EQ(apply(d, "+1"), "10.3.2024");
  EXPECT_EQ(apply(d, "+0.1"), "10.4.2023");
  EXPECT_EQ(apply(d, "+.1"), "10.4.2023");
  EXPECT_EQ(apply(d, "+0.0.1"), "11.3.2023");
  EXPECT_EQ(apply(d, "+..1"), "11.3.2023");
  EXPECT_EQ(apply(d, "-0.1"), "10.2.2023");
  EXPECT_EQ(apply(d, "2024-0.1"), "10.2.2024");
  EXPECT_EQ(apply(d, ".3-0.0.1"), "9.3.2023");
  EXPECT_EQ(apply(d, "2024.3.-1"), "10.3.2023");
  EXPECT_EQ(apply(dmy(31, 1, 2023), "+0.1-0.0.1"), "2.3.2023");
  // One day on, then a month: a different road than a month, then a day.
  EXPECT_EQ(apply(dmy(31, 1, 2023), "+..1+.1"), "1.3.2023");
  EXPECT_EQ(apply(d, "+0.1 +1"), "10.4.2023");
  EXPECT_EQ(apply(d, "+"), "10.3.2023");
  EXPECT_EQ(apply(d, "-1-1/1/1"), "9.2.2021");
  // The first day of the month and the last day of the month before.
  EXPECT_EQ(apply(dmy(17, 3, 2024), "..1-..1"), "29.2.2024");
}

TEST(DateExpression, ReadsOnePartAndLeavesTheCursorAfterIt) {
  Date d = dmy(1, 2, 3);
  const char *text = "2024/5.6+1";
  const char *cursor = text;
  parseDatePart(&d, &cursor);
  EXPECT_EQ(show(d), "6.5.2024");
  EXPECT_EQ(cursor, text + 8);
  text = "7..";
  cursor = text;
  parseDatePart(&d, &cursor);
  EXPECT_EQ(show(d), "6.5.7");
  EXPECT_EQ(cursor, text + 3);
  text = "+1";
  cursor = text;
  parseDatePart(&d, &cursor);
  EXPECT_EQ(cursor, text);
}

TEST(Date, SetDateReadsClockOnlyForToday) {
  EXPECT_GE(today.year, 2024);  // set before main
  EXPECT_GE(today.day, 1);
  setenv("TZ", "UTC", 1);
  tzset();
  Date d = dmy(0, 0, 0);
  setDate(&d, 1710504000);  // 2024-03-15 12:00 UTC
  EXPECT_EQ(show(d), "15.3.2024");

  Date saved = today;
  time_t now = time(nullptr);
  struct tm tm;
  localtime_r(&now, &tm);
  setDate(&today, 0);
  EXPECT_EQ(today.day, tm.tm_mday);
  EXPECT_EQ(today.month, tm.tm_mon + 1);
  EXPECT_EQ(today.year, tm.tm_year + 1900);

  today = dmy(5, 6, 1998);
  setDate(&d, 0);
  EXPECT_EQ(show(d), "5.6.1998");
  today = saved;
}

// For ordinary dates GNU date is an independent reference: its relative items
// move year, month and day together and normalise the same way. Both sides
// keep to 1901-2099, where the leap rules agree.
TEST(Date, AgreesWithGnuDateInOrdinaryYears) {
  std::mt19937 rng(20240315);
  std::uniform_int_distribution<int> year(1912, 2088), month(1, 12), dayOff(-800, 800),
      monthOff(-30, 30), yearOff(-3, 3);
  std::ostringstream input;
  std::vector<std::string> mine;
  for (int i = 0; i < 400; ++i) {
    Date d = dmy(1, month(rng), year(rng));
    d.day = 1 + static_cast<int>(rng() % daysInMonth(d.year, d.month));
    Date delta = dmy(dayOff(rng), monthOff(rng), yearOff(rng));
    char expr[100];
    Date r = d;
    if (i % 4 == 1) {
      // A date expression part moves all three fields in one step.
      delta = dmy(abs(delta.day), abs(delta.month), abs(delta.year));
      snprintf(expr, sizeof expr, "+%d.%d.%d", delta.year, delta.month, delta.day);
      parseDate(&r, expr);
    } else if (i % 4 == 3) {
      delta = dmy(-abs(delta.day), -abs(delta.month), -abs(delta.year));
      snprintf(expr, sizeof expr, "-%d/%d/%d", -delta.year, -delta.month, -delta.day);
      parseDate(&r, expr);
    } else {
      addDate(&r, &delta);
    }
    char line[200];
    snprintf(line, sizeof line, "%04d-%02d-%02d %+d years %+d months %+d days\n", d.year, d.month,
             d.day, delta.year, delta.month, delta.day);
    input << line;
    snprintf(line, sizeof line, "%04d-%02d-%02d", r.year, r.month, r.day);
    mine.push_back(line);
  }
  for (int y = 1901; y <= 2099; ++y) {
    for (int m = 1; m <= 12; ++m) {
      char line[100];
      snprintf(line, sizeof line, "%04d-%02d-01 +1 month -1 day\n", y, m);
      input << line;
      snprintf(line, sizeof line, "%04d-%02d-%02d", y, m, daysInMonth(y, m));
      mine.push_back(line);
    }
  }
  testsupport::RunSpec spec;
  spec.program = "/bin/date";
  spec.args = {"-u", "-f", "-", "+%Y-%m-%d"};
  spec.input = input.str();
  spec.overlay = false;
  testsupport::RunResult res = testsupport::run(spec);
  ASSERT_EQ(res.status, 0) << res.err;
  std::istringstream out(res.out);
  std::istringstream in(spec.input);
  std::string got, asked;
  for (const std::string &want : mine) {
    ASSERT_TRUE(std::getline(out, got));
    std::getline(in, asked);
    EXPECT_EQ(want, got) << asked;
  }
}
