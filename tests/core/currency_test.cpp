#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <sstream>
#include <string>

#include "config.h"
#include "currency.h"
#include "memory.h"
#include "symbols.h"

namespace {

// Sets currency-thousands (null: unset) and the VAT rate for one test.
class Money : public ::testing::Test {
 protected:
  void SetUp() override { savedTaxes = *taxesValue; }
  void TearDown() override {
    *taxesValue = savedTaxes;
    thousands(nullptr);
  }
  static void thousands(const char *sep) {
    if (sep)
      storeConfigString(&currencyThousands, sep, nullptr);
    else
      currencyThousands = static_cast<char *>(memRealloc(currencyThousands, 0));
  }
  double savedTaxes = 0;
};

std::string fmt(double x, double unit) { return formatMoney(x, unit); }

}  // namespace

TEST_F(Money, RoundsHalvesAwayFromZero) {
  EXPECT_EQ(roundTo(10.5, 1), 11);
  EXPECT_EQ(roundTo(-10.5, 1), -11);
  EXPECT_EQ(roundTo(10.49, 1), 10);
  EXPECT_EQ(roundTo(0.125, 0.01), 0.13);
  EXPECT_EQ(roundTo(-0.125, 0.01), -0.13);
  EXPECT_EQ(roundTo(0.124, 0.01), 0.12);
  EXPECT_EQ(roundTo(1.25, 0.5), 1.5);
  EXPECT_EQ(roundTo(1.24, 0.5), 1.0);
  EXPECT_EQ(roundTo(-1.25, 0.5), -1.5);
  EXPECT_DOUBLE_EQ(roundTo(1.12, 0.05), 1.10);
  EXPECT_DOUBLE_EQ(roundTo(1.125, 0.05), 1.15);
  EXPECT_DOUBLE_EQ(roundTo(-1.125, 0.05), -1.15);
  EXPECT_EQ(roundTo(1234, 10), 1230);
  EXPECT_EQ(roundTo(1235, 10), 1240);
  EXPECT_EQ(roundTo(0, 1), 0);
  // Zero is never negative, however it was reached.
  EXPECT_FALSE(std::signbit(roundTo(-0.4, 1)));
  EXPECT_FALSE(std::signbit(roundTo(-0.004, 0.01)));
  EXPECT_FALSE(std::signbit(roundTo(-0.0, 1)));
}

TEST_F(Money, BadUnitGivesAmountBackAndNeverHangs) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(roundTo(12.345, 0), 12.345);
  EXPECT_EQ(roundTo(12.345, -1), 12.345);
  EXPECT_EQ(roundTo(12.345, inf), 12.345);
  EXPECT_EQ(roundTo(12.345, nan), 12.345);
  // More than nine decimals: the scaling stops at 10^9 and the result is finite.
  EXPECT_TRUE(std::isfinite(roundTo(12.345, 1e-12)));
  EXPECT_TRUE(std::isfinite(roundTo(12.345, M_PI)));
  EXPECT_NEAR(roundTo(12.3456789, 1e-9), 12.3456789, 1e-9);
}

TEST_F(Money, FormatsGroupsAndDecimals) {
  thousands(" ");
  EXPECT_EQ(fmt(1234567.891, 0.01), "1 234 567.89");
  EXPECT_EQ(fmt(-1234.5, 1), "-1 235");
  EXPECT_EQ(fmt(0.004, 0.01), "0.00");
  EXPECT_EQ(fmt(999.5, 1), "1 000");
  EXPECT_EQ(fmt(0.4, 1), "0");
  EXPECT_EQ(fmt(-0.4, 1), "0");
  EXPECT_EQ(fmt(-0.004, 0.01), "0.00");
  EXPECT_EQ(fmt(123, 1), "123");
  EXPECT_EQ(fmt(1234, 1), "1 234");
  EXPECT_EQ(fmt(123456, 1), "123 456");
  EXPECT_EQ(fmt(-123456.7, 0.5), "-123 456.5");
  EXPECT_EQ(fmt(1.12, 0.05), "1.10");
  EXPECT_EQ(fmt(1.125, 0.05), "1.15");
  EXPECT_EQ(fmt(-5.005, 0.01), "-5.01");
  EXPECT_EQ(fmt(7, 0.001), "7.000");
  EXPECT_EQ(fmt(1e15, 1), "1 000 000 000 000 000");

  thousands("&nbsp;");
  EXPECT_EQ(fmt(1234567.891, 0.01), "1&nbsp;234&nbsp;567.89");
  EXPECT_EQ(fmt(-1234, 1), "-1&nbsp;234");

  thousands("");
  EXPECT_EQ(fmt(1234567.891, 0.01), "1234567.89");
  EXPECT_EQ(fmt(-1234.5, 1), "-1235");
  thousands(nullptr);
  EXPECT_EQ(fmt(-1234.5, 1), "-1235");
}

TEST_F(Money, FractionCloseToOneCarriesIntoTheInteger) {
  // 0.011 never scales to a whole number from above, so it is scaled nine
  // times; 11 then rounds to 10.999999999999998, whose fraction prints as 1.
  EXPECT_EQ(fmt(11, 0.011), "11.000000000");
  EXPECT_EQ(fmt(22, 0.022), "22.000000000");
}

TEST_F(Money, FormatNeverWritesPastItsBuffer) {
  thousands("&nbsp;");
  std::string big = fmt(1e18, 1);
  EXPECT_EQ(big.size(), 39u);
  EXPECT_EQ(big.substr(0, 14), "1&nbsp;000&nbs");
  EXPECT_LE(strlen(formatMoney(-1e300, 0.01)), 39u);
  std::string longSep(500, ',');
  thousands(longSep.c_str());
  EXPECT_EQ(fmt(1234567, 1), "1" + std::string(38, ','));
  thousands(" ");
  EXPECT_EQ(fmt(std::numeric_limits<double>::infinity(), 0.01), "inf");
  EXPECT_EQ(fmt(-std::numeric_limits<double>::infinity(), 1), "-inf");
  EXPECT_EQ(fmt(std::numeric_limits<double>::quiet_NaN(), 1), "nan");
}

TEST_F(Money, NextCallOverwritesTheText) {
  char *first = formatMoney(1, 1);
  char *second = formatMoney(2, 1);
  EXPECT_EQ(first, second);
  EXPECT_STREQ(first, "2");
}

TEST_F(Money, TaxIsOnTheRoundedAmountAndRoundedAgain) {
  *taxesValue = 0.2;
  EXPECT_EQ(withVat(10.4, 1), 12);
  EXPECT_EQ(vatOnly(10.4, 1), 2);
  EXPECT_DOUBLE_EQ(withVat(10.004, 0.01), 12.0);
  EXPECT_DOUBLE_EQ(withVat(0.125, 0.01), 0.16);  // 0.13 + 0.026 = 0.156
  EXPECT_DOUBLE_EQ(vatOnly(0.125, 0.01), 0.03);
  EXPECT_EQ(withVat(-10.5, 1), -13);  // -11 - 2.2 = -13.2
  *taxesValue = 0;
  EXPECT_EQ(withVat(10.4, 1), 10);
  EXPECT_EQ(vatOnly(10.4, 1), 0);
}

TEST_F(Money, HalvesAsWrittenRoundAwayFromZeroAtEveryUnit) {
  // Per unit, amounts as written and what they round to: half-way ones and
  // their negatives, then ones that are not half-way.
  const std::pair<double, std::string> rows[] = {
      {0.01, "1.005 1.01 0.285 0.29 1.015 1.02 1.035 1.04 9.405 9.41 2.675 2.68 0.145 0.15 -1.005 -1.01 -0.285 -0.29 "
             "-1.015 -1.02 -1.035 -1.04 -9.405 -9.41 -2.675 -2.68 -0.145 -0.15 8.505 8.51 1234567.005 1234567.01 "
             "1.0049999 1.00 -0.2849 -0.28 1234567.004999 1234567.00"},
      {0.001, "1.0005 1.001 -0.2855 -0.286 9.4005 9.401 1.0004 1.000"},
      {0.05, "1.025 1.05 -0.275 -0.30 9.425 9.45 1.0749 1.05"},
      {1, "0.5 1 -2.5 -3 1004.5 1005 2.4999 2"},
  };
  for (const auto &[unit, amounts] : rows) {
    std::istringstream in(amounts);
    std::string amount, rounded;
    while (in >> amount >> rounded) EXPECT_EQ(fmt(strtod(amount.c_str(), nullptr), unit), rounded) << amount;
  }
  // Products as formulas compute them.
  EXPECT_EQ(fmt(2.3 * 0.45, 0.01), "1.04");
  EXPECT_EQ(fmt(-20.9 * 0.45, 0.01), "-9.41");
}
