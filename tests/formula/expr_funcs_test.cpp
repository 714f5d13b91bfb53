#include <gtest/gtest.h>

#include <string>

#include "config.h"
#include "date.h"
#include "formula.h"

namespace {

// Saves and restores the settings and the date that the built-ins read.
class Builtins : public testing::Test {
 protected:
  void SetUp() override {
    savedTaxes_ = *taxesValue;
    savedPrecision_ = currencyPrecision;
    savedToday_ = today;
    *taxesValue = 0;
    currencyPrecision = 1;
    setExprTables(nullptr);
  }
  void TearDown() override {
    *taxesValue = savedTaxes_;
    currencyPrecision = savedPrecision_;
    today = savedToday_;
  }

  static double value(const std::string &text) {
    testing::internal::CaptureStderr();
    double v = -1;
    int code = evaluate(&v, text.c_str());
    std::string messages = testing::internal::GetCapturedStderr();
    EXPECT_EQ(code, 0) << text << ": " << messages;
    return v;
  }
  static int code(const std::string &text) {
    testing::internal::CaptureStderr();
    double v;
    int rc = evaluate(&v, text.c_str());
    testing::internal::GetCapturedStderr();
    return rc;
  }

 private:
  double savedTaxes_ = 0;
  double savedPrecision_ = 0;
  Date savedToday_{};
};

TEST_F(Builtins, ConstantsAndTheConfiguredVatRate) {
  EXPECT_EQ(value("taxes"), 0);
  EXPECT_EQ(value("one + zero"), 1);
  *taxesValue = 0.2;
  EXPECT_DOUBLE_EQ(value("taxes"), 0.2);
  EXPECT_DOUBLE_EQ(value("100 * (1 + taxes)"), 120);
}

TEST_F(Builtins, RoundUsesCurrencyPrecisionForAUnitOfZero) {
  EXPECT_EQ(value("round(2.5)"), 3);
  EXPECT_EQ(value("round(-2.5)"), -3);
  EXPECT_EQ(value("round(2.4,)"), 2);
  EXPECT_DOUBLE_EQ(value("round(2.346, 0.01)"), 2.35);
  EXPECT_EQ(value("round(2.346, 0)"), 2);
  EXPECT_DOUBLE_EQ(value("round(7, 5)"), 5);

  // Read at the moment of the call.
  currencyPrecision = 0.1;
  EXPECT_DOUBLE_EQ(value("round(2.346)"), 2.3);
  EXPECT_DOUBLE_EQ(value("round(2.346, 0)"), 2.3);
  EXPECT_DOUBLE_EQ(value("round(2.346, 0.01)"), 2.35);
}

TEST_F(Builtins, VatFunctionsRoundBeforeAndAfterTheTax) {
  *taxesValue = 0.2;
  EXPECT_EQ(value("withvat(100)"), 120);
  EXPECT_EQ(value("vatonly(100)"), 20);
  EXPECT_EQ(value("withvat(10.4)"), 12);  // 10 + 2
  EXPECT_EQ(value("vatonly(10.4, 0)"), 2);
  EXPECT_DOUBLE_EQ(value("withvat(10.4, 0.01)"), 12.48);
  EXPECT_DOUBLE_EQ(value("vatonly(10.4, 0.01)"), 2.08);

  *taxesValue = 0;
  EXPECT_EQ(value("withvat(100)"), 100);
  EXPECT_EQ(value("vatonly(100)"), 0);
}

TEST_F(Builtins, SignAbsMinMax) {
  EXPECT_EQ(value("sign(0.0000005)"), 0);
  EXPECT_EQ(value("sign(-0.0000005)"), 0);
  EXPECT_EQ(value("sign(0)"), 0);
  EXPECT_EQ(value("sign(-3)"), -1);
  EXPECT_EQ(value("sign(7)"), 1);
  EXPECT_EQ(value("abs(-2.5)"), 2.5);
  EXPECT_EQ(value("abs(4)"), 4);
  EXPECT_EQ(value("min(2, 2)"), 2);
  EXPECT_EQ(value("max(2, 2)"), 2);
  EXPECT_EQ(value("min(-1, -2)"), -2);
  EXPECT_EQ(value("max(-1, -2)"), -1);
  EXPECT_EQ(value("min(3, 1+1)"), 2);

  // No defaults: a missing argument fails in the evaluator.
  EXPECT_EQ(code("abs()"), 18);
  EXPECT_EQ(code("sign()"), 18);
  EXPECT_EQ(code("min(1)"), 18);
  EXPECT_EQ(code("max(,1)"), 18);
}

TEST_F(Builtins, DatePartsDefaultToToday) {
  today = {15, 12, 2023};
  EXPECT_EQ(value("day()"), 15);
  EXPECT_EQ(value("month()"), 12);
  EXPECT_EQ(value("year()"), 2023);
  EXPECT_EQ(value("ldate()"), 20231215);
  EXPECT_EQ(value("ldate(1998.5.3)"), 19980503);
  EXPECT_EQ(value("ldate(.3)"), 20230315);
  EXPECT_EQ(value("month(+0.1)"), 1);  // one month after today
  EXPECT_EQ(value("year(+0.1)"), 2024);
  EXPECT_EQ(value("year(-1)"), 2022);
  EXPECT_EQ(value("day( 1998.5.3)"), 3);  // blanks after "(" are skipped
  EXPECT_EQ(value("ldate() - ldate(-1)"), 10000);
}

}  // namespace
