#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "config.h"
#include "date.h"
#include "formula.h"

namespace {

// What one evaluation gave: the code, the result (kUntouched when evaluate
// did not write it) and everything reported on standard error.
struct Outcome {
  int code;
  double value;
  std::string messages;
};

constexpr double kUntouched = -123456.789;

Outcome eval(const std::string &text) {
  testing::internal::CaptureStderr();
  double value = kUntouched;
  int code = evaluate(&value, text.c_str());
  std::string messages = testing::internal::GetCapturedStderr();
  return {code, value, messages};
}

double value(const std::string &text) {
  Outcome o = eval(text);
  EXPECT_EQ(o.code, 0) << text << ": " << o.messages;
  return o.value;
}

// Every test starts and ends with no registered table.
class Formula : public testing::Test {
 protected:
  void SetUp() override { setExprTables(nullptr); }
  void TearDown() override { setExprTables(nullptr); }
};

// ---------------------------------------------------------------------------
// Differential test against a tiny recursive-descent reference evaluator.

// Deterministic on every platform (std::uniform_int_distribution is not).
class Random {
 public:
  explicit Random(uint32_t seed) : engine_(seed) {}
  int below(int n) { return static_cast<int>(engine_() % static_cast<uint32_t>(n)); }

 private:
  std::mt19937 engine_;
};

std::string blanks(Random &r) {
  static const char *const kinds[] = {"", "", "", " ", "  ", "\t"};
  return kinds[r.below(6)];
}

std::string randomNumber(Random &r) {
  std::string digits = std::to_string(r.below(1000));
  switch (r.below(7)) {
    case 0: return digits + "." + std::to_string(r.below(100));
    case 1: return "." + std::to_string(1 + r.below(99));
    case 2: return digits + ".";
    case 3: return std::to_string(1 + r.below(9)) + "e" + std::to_string(r.below(4));
    case 4: return std::to_string(1 + r.below(99)) + "." + std::to_string(r.below(10)) + "E-" +
                   std::to_string(r.below(3));
    default: return digits;
  }
}

std::string randomExpression(Random &r, int depth) {
  std::string text;
  int terms = 1 + r.below(4);
  for (int i = 0; i < terms; ++i) {
    if (i > 0) text += blanks(r) + "+-*/"[r.below(4)] + blanks(r);
    if (depth > 0 && r.below(4) == 0) {
      text += "(" + blanks(r) + randomExpression(r, depth - 1) + blanks(r) + ")";
    } else {
      int sign = r.below(5);
      if (sign == 0) text += "-";
      if (sign == 1) text += "+";
      text += randomNumber(r);
    }
  }
  return text;
}

// The reference: expr = term {(+|-) term}; term = factor {(*|/) factor};
// factor = "(" expr ")" | [sign] number. Sets divisionByZero instead of
// dividing by an exact 0.
class Reference {
 public:
  explicit Reference(const std::string &text) : p_(text.c_str()) {}
  double expression() {
    double v = term();
    for (;;) {
      char c = peek();
      if (c != '+' && c != '-') return v;
      ++p_;
      double right = term();
      v = c == '+' ? v + right : v - right;
    }
  }
  bool divisionByZero = false;
  bool atEnd() { return peek() == '\0'; }

 private:
  char peek() {
    while (*p_ == ' ' || *p_ == '\t') ++p_;
    return *p_;
  }
  double term() {
    double v = factor();
    for (;;) {
      char c = peek();
      if (c != '*' && c != '/') return v;
      ++p_;
      double right = factor();
      if (c == '*') {
        v *= right;
      } else if (right == 0) {
        divisionByZero = true;
      } else {
        v /= right;
      }
    }
  }
  double factor() {
    if (peek() == '(') {
      ++p_;
      double v = expression();
      peek();
      ++p_;  // ")"
      return v;
    }
    char *end;
    double v = strtod(p_, &end);
    p_ = end;
    return v;
  }
  const char *p_;
};

TEST_F(Formula, AgreesWithAReferenceEvaluatorOnRandomArithmetic) {
  Random r(20240615);
  int divisions = 0;
  for (int i = 0; i < 5000; ++i) {
    std::string text = blanks(r) + randomExpression(r, 3) + blanks(r);
    Reference ref(text);
    double expected = ref.expression();
    ASSERT_TRUE(ref.atEnd()) << text;
    Outcome o = eval(text);
    if (ref.divisionByZero) {
      ++divisions;
      EXPECT_EQ(o.code, 20) << text;
      continue;
    }
    ASSERT_EQ(o.code, 0) << text << ": " << o.messages;
    double scale = std::max(1.0, std::fabs(expected));
    EXPECT_LE(std::fabs(o.value - expected), 1e-9 * scale) << text;
  }
  EXPECT_GT(divisions, 0);  // the generator does reach a division by zero
}

// ---------------------------------------------------------------------------

TEST_F(Formula, AppliesPrioritiesAndGroupsLeftToRight) {
  EXPECT_EQ(value("2 + 3 * 4"), 14);
  EXPECT_EQ(value("(2 + 3) * 4"), 20);
  EXPECT_EQ(value("10 - 4 - 3"), 3);
  EXPECT_EQ(value("8 / 4 / 2"), 1);
  EXPECT_EQ(value("2 * 3 % 4"), 2);
  EXPECT_EQ(value("2 % 3 * 4"), 2);
  EXPECT_EQ(value("1 + 7 % 4"), 4);
  EXPECT_EQ(value("1 < 2 + 3"), 1);  // comparisons bind more loosely than +
  EXPECT_EQ(value("(1+2"), 3);        // the end closes an open group
  EXPECT_EQ(value("((1+2)*(3+4))"), 21);
  EXPECT_EQ(value("2(3"), 3);  // a "(" in operator position is dropped
  EXPECT_EQ(value(" \t12 "), 12);
}

TEST_F(Formula, ReadsDecimalNumbersOnly) {
  EXPECT_EQ(value(".5"), 0.5);
  EXPECT_EQ(value("1."), 1);
  EXPECT_EQ(value("2e3"), 2000);
  EXPECT_EQ(value("2E-1"), 0.2);
  EXPECT_EQ(value("007"), 7);

  Outcome hex = eval("0x10");
  EXPECT_EQ(hex.code, 6);
  EXPECT_EQ(hex.messages, "Should be an operator here - expression's tail=`x10'\n");
  Outcome exponent = eval("2e");
  EXPECT_EQ(exponent.code, 6);
  EXPECT_EQ(exponent.messages, "Should be an operator here - expression's tail=`e'\n");
  EXPECT_EQ(eval("1 + .").code, 6);
}

TEST_F(Formula, SignMustTouchItsOperand) {
  EXPECT_EQ(value("2*-3"), -6);
  EXPECT_EQ(value("2 - -3"), 5);
  EXPECT_EQ(value("-2 * +3"), -6);
  EXPECT_EQ(value("-one"), -1);

  Outcome blank = eval("2 * - 3");
  EXPECT_EQ(blank.code, 11);
  EXPECT_EQ(blank.messages, "Should be an operand here - ` 3'\n");
  Outcome group = eval("-(1+2)");
  EXPECT_EQ(group.code, 11);
  EXPECT_EQ(group.messages, "Should be an operand here - `(1+2)'\n");
}

TEST_F(Formula, RemainderRoundsOperandsToEvenAndKeepsLeftSign) {
  EXPECT_EQ(value("-7 % 3"), -1);
  EXPECT_EQ(value("7 % -3"), 1);
  EXPECT_EQ(value("7.6 % 3"), 2);
  EXPECT_EQ(value("2.5 % 2"), 0);  // 2.5 rounds to 2
  EXPECT_EQ(value("3.5 % 3"), 1);  // 3.5 rounds to 4
  EXPECT_EQ(value("7 % 2.6"), 1);  // 2.6 rounds to 3
  // Operands beyond int do not overflow.
  EXPECT_EQ(value("-3000000000 % -1"), 0);
  EXPECT_EQ(value("-3000000000 % 3000000000"), -1);  // INT_MIN % INT_MAX

  Outcome small = eval("7 % 0.4");
  EXPECT_EQ(small.code, 20);
  EXPECT_EQ(small.messages, "Division by zero (7/0.4)\n");
  EXPECT_EQ(small.value, kUntouched);
  Outcome zero = eval("7 % 0");
  EXPECT_EQ(zero.code, 20);
  EXPECT_EQ(zero.messages, "Division by zero (7/0)\n");
}

TEST_F(Formula, ComparisonsAllowToleranceOnlyWhenInclusive) {
  EXPECT_EQ(value("0.0000005 == 0"), 1);
  EXPECT_EQ(value("0.0000005 != 0"), 0);
  EXPECT_EQ(value("0.000002 == 0"), 0);
  EXPECT_EQ(value("0.000002 != 0"), 1);
  EXPECT_EQ(value("1.0000001 <= 1"), 1);
  EXPECT_EQ(value("1 >= 1.0000001"), 1);
  EXPECT_EQ(value("1.00001 <= 1"), 0);
  EXPECT_EQ(value("1 < 1.0000001"), 1);
  EXPECT_EQ(value("1.0000001 > 1"), 1);
  EXPECT_EQ(value("2 < 1"), 0);
  EXPECT_EQ(value("2 > 1"), 1);
  EXPECT_EQ(value("1 <= 2"), 1);
  EXPECT_EQ(value("1 >= 2"), 0);
  EXPECT_EQ(value("1<=1"), 1);  // one operator, not "<" then "="
}

TEST_F(Formula, LogicalOperatorsShareOnePriority) {
  EXPECT_EQ(value("1 || 0 && 0"), 0);  // (1 || 0) && 0
  EXPECT_EQ(value("0 && 0 || 1"), 1);
  EXPECT_EQ(value("0.0000001 && 1"), 0);
  EXPECT_EQ(value("0.0000001 || -2"), 1);
  EXPECT_EQ(value("3 && -2"), 1);
  EXPECT_EQ(value("1 < 2 && 3 > 2"), 1);
}

TEST_F(Formula, GroupsConditionalLeftToRight) {
  EXPECT_EQ(value("1 ? 2 : 3"), 2);
  EXPECT_EQ(value("0 ? 2 : 3"), 3);
  EXPECT_EQ(value("0.0000005 ? 2 : 3"), 3);
  EXPECT_EQ(value("1 ? 2 : 0 ? 4 : 5"), 4);  // (1 ? 2 : 0) ? 4 : 5
  EXPECT_EQ(value("0 ? 2 : 0 ? 4 : 5"), 5);
  EXPECT_EQ(value("1 ? (2 ? 3 : 4) : 5"), 3);
  EXPECT_EQ(value("2 > 1 ? 10 + 1 : 20"), 11);
  EXPECT_EQ(value("(1 ? 2 : 3) * 10"), 20);

  Outcome nested = eval("1 ? 2 ? 3 : 4 : 5");
  EXPECT_EQ(nested.code, 13);
  EXPECT_EQ(nested.messages, "? without :\n");
}

TEST_F(Formula, EmptyTextIsZero) {
  for (const char *text : {"", "   ", "\t\n"}) {
    Outcome o = eval(text);
    EXPECT_EQ(o.code, 0);
    EXPECT_EQ(o.value, 0);
    EXPECT_EQ(o.messages, "Empty expression\n");
  }
}

TEST_F(Formula, ReportsEveryErrorWithItsMessage) {
  struct Case {
    const char *text;
    int code;
    const char *messages;
  };
  const Case cases[] = {
      {"1 2", 6, "Should be an operator here - expression's tail=`2'\n"},
      {"(1+2) 3", 6, "Should be an operator here - expression's tail=`3'\n"},
      {"1 +", 9, "No left side operand in stack..\n"},
      {"1+*2", 11, "Should be an operand here - `*2'\n"},
      {"(", 11, "Empty expression\n"},
      {"((", 11, "Empty expression\n"},
      {"()", 11, "Should be an operand here - `)'\n"},
      {"1+2)", 12, "Unsupported operator - `)'\n"},
      {"1)", 12, "Unsupported operator - `)'\n"},
      {"(1))", 12, "Unsupported operator - `)'\n"},
      {"1 ? 2", 13, "? without :\n"},
      {"1 : 2", 14, ": without ?\n"},
      {"1 ? (2 : 3)", 14, ": without ?\n"},
      {"x", 16, "No such function or variable - x\n"},
      {"1 + nothing * 2", 16, "No such function or variable - nothing * 2\n"},
      {"abs", 16, "No argument for function - abs\nNo such function or variable - abs\n"},
      {"1 / 0", 20, "Division by zero (1/0)\n"},
      {"1 / (1 - 1)", 20, "Division by zero (1/0)\n"},
  };
  for (const Case &c : cases) {
    Outcome o = eval(c.text);
    EXPECT_EQ(o.code, c.code) << c.text;
    EXPECT_EQ(o.messages, c.messages) << c.text;
    EXPECT_EQ(o.value, kUntouched) << c.text;
  }
}

std::string repeat(const std::string &piece, int times) {
  std::string text;
  for (int i = 0; i < times; ++i) text += piece;
  return text;
}

TEST_F(Formula, HoldsAHundredGroupsAndFailsOnTheNext) {
  EXPECT_EQ(value(repeat("(", 100) + "7" + repeat(")", 100)), 7);
  EXPECT_EQ(value(repeat("(", 100) + "7"), 7);

  Outcome deep = eval(repeat("(", 101) + "7" + repeat(")", 101));
  EXPECT_EQ(deep.code, 1);
  EXPECT_EQ(deep.messages, "No space in operator's stack\n");
  EXPECT_EQ(eval(repeat("(", 101)).code, 1);
}

TEST_F(Formula, HoldsAHundredPendingOperandsAndOperators) {
  // "(" in operator position is dropped, so every "1(" leaves an operand.
  EXPECT_EQ(value(repeat("1(", 99) + "2"), 2);
  Outcome operands = eval(repeat("1(", 100) + "2");
  EXPECT_EQ(operands.code, 5);
  EXPECT_EQ(operands.messages, "No space in operand's stack\n");

  EXPECT_EQ(value(repeat("(", 99) + "1+2"), 3);
  Outcome operators = eval(repeat("(", 100) + "1+2");
  EXPECT_EQ(operators.code, 7);
  EXPECT_EQ(operators.messages, "No space in operator's stack\n");
}

TEST_F(Formula, ToIntRoundsHalvesToEven) {
  EXPECT_EQ(toInt(2.5), 2);
  EXPECT_EQ(toInt(3.5), 4);
  EXPECT_EQ(toInt(-2.5), -2);
  EXPECT_EQ(toInt(2.6), 3);
  EXPECT_EQ(toInt(-7.4), -7);
  EXPECT_EQ(toInt(1e12), INT_MAX);
  EXPECT_EQ(toInt(-1e12), INT_MIN);
  EXPECT_EQ(toInt(NAN), 0);
}

TEST_F(Formula, ScanOperatorTakesTheLongestName) {
  const Operator table[] = {{"<", 70, 6}, {"<=", 70, 8}, {"=", 1, 99}, {nullptr, 0, 0}};
  const char *text = "  <= 3";
  const char *cursor = text;
  const Operator *op = scanOperator(&cursor, table);
  ASSERT_NE(op, nullptr);
  EXPECT_STREQ(op->name, "<=");
  EXPECT_EQ(cursor, text + 4);

  cursor = text + 4;
  EXPECT_EQ(scanOperator(&cursor, table), nullptr);
  EXPECT_EQ(cursor, text + 5);  // after the blank
}

// ---------------------------------------------------------------------------
// Registered tables and function calls.

Symbol plainTable[] = {
    {"rate", SYM_VALUE, 2.5, nullptr, nullptr, nullptr},
    {"round", SYM_VALUE, 42, nullptr, nullptr, nullptr},
    {nullptr, SYM_VALUE, 0, nullptr, nullptr, nullptr},
};

Symbol wildcardTable[] = {
    {"traffic", SYM_VALUE, 7, nullptr, nullptr, nullptr},
    {"*", SYM_VALUE, 0, nullptr, nullptr, nullptr},
    {"hidden", SYM_VALUE, 99, nullptr, nullptr, nullptr},
    {nullptr, SYM_VALUE, 0, nullptr, nullptr, nullptr},
};

TEST_F(Formula, RegisteredTablesComeBeforeBuiltinsButWildcardsDoNot) {
  setExprTables(plainTable, wildcardTable, nullptr);
  EXPECT_EQ(value("rate * 2"), 5);
  EXPECT_EQ(value("round"), 42);  // hides the built-in function
  EXPECT_EQ(value("traffic"), 7);
  EXPECT_EQ(value("unknown + 1"), 1);  // the wildcard is 0
  EXPECT_EQ(value("hidden"), 0);       // behind the wildcard
  EXPECT_EQ(value("abs(-2)"), 2);      // built-ins beat the wildcard
  EXPECT_EQ(value("one"), 1);

  // Values are read at evaluation time.
  plainTable[0].value = 4;
  EXPECT_EQ(value("rate"), 4);
  plainTable[0].value = 2.5;

  // A built-in function written without "(" falls to the wildcard.
  Outcome bare = eval("abs + 1");
  EXPECT_EQ(bare.code, 0);
  EXPECT_EQ(bare.value, 1);
  EXPECT_EQ(bare.messages, "No argument for function - abs + 1\n");

  setExprTables(nullptr);
  EXPECT_EQ(eval("rate").code, 16);
  EXPECT_EQ(value("round(2.4, 1)"), 2);
}

TEST_F(Formula, SearchesTablesInTheOrderGivenUpToTen) {
  Symbol first[] = {{"v", SYM_VALUE, 1, nullptr, nullptr, nullptr},
                    {nullptr, SYM_VALUE, 0, nullptr, nullptr, nullptr}};
  Symbol second[] = {{"v", SYM_VALUE, 2, nullptr, nullptr, nullptr},
                     {"w", SYM_VALUE, 3, nullptr, nullptr, nullptr},
                     {nullptr, SYM_VALUE, 0, nullptr, nullptr, nullptr}};
  setExprTables(first, second, nullptr);
  EXPECT_EQ(value("v * 10 + w"), 13);
  setExprTables(second, first, nullptr);
  EXPECT_EQ(value("v"), 2);

  Symbol empty[] = {{nullptr, SYM_VALUE, 0, nullptr, nullptr, nullptr}};
  setExprTables(empty, empty, empty, empty, empty, empty, empty, empty, empty, second, nullptr);
  EXPECT_EQ(value("w"), 3);  // the tenth table is searched
  setExprTables(empty, empty, empty, empty, empty, empty, empty, empty, empty, empty, second,
                nullptr);
  EXPECT_EQ(eval("w").code, 16);  // an eleventh is ignored
}

// A test function that records its arguments.
ArgSlot seen[3];
Date seenDates[3];
double seenCalls;

bool recordArgs(double *out, ArgSlot *args) {
  for (int i = 0; i < 3; ++i) seen[i] = args[i];
  seenDates[1] = *args[1].date;
  *out = ++seenCalls;
  return true;
}

bool noArgs(double *out, ArgSlot *args) {
  *out = args == nullptr ? 77 : -1;
  return true;
}

bool failing(double *out, ArgSlot *) {
  *out = 1;
  return false;
}

const char *const recordDefaults[] = {nullptr, "", "5"};
Symbol functionTable[] = {
    {"rec", SYM_FUNCTION, 0, recordArgs, "RDR", recordDefaults},
    {"none", SYM_FUNCTION, 0, noArgs, nullptr, nullptr},
    {"empty", SYM_FUNCTION, 0, noArgs, "", nullptr},
    {"fail", SYM_FUNCTION, 0, failing, "R", nullptr},
    {"odd", SYM_FUNCTION, 0, noArgs, "X", nullptr},
    {nullptr, SYM_VALUE, 0, nullptr, nullptr, nullptr},
};

TEST_F(Formula, PassesArgumentsWithDefaultsAndDates) {
  Date saved = today;
  today = {15, 12, 2023};
  setExprTables(functionTable, nullptr);

  EXPECT_EQ(eval("rec(1+1,1998.5.3, 3*3)").code, 0);
  EXPECT_EQ(seen[0].real, 2);
  EXPECT_EQ(seen[2].real, 9);
  EXPECT_EQ(seenDates[1].day, 3);
  EXPECT_EQ(seenDates[1].month, 5);
  EXPECT_EQ(seenDates[1].year, 1998);

  // Missing and empty arguments take their defaults; the date default is
  // today, and so is a date argument that starts with a blank.
  EXPECT_EQ(eval("rec(4)").code, 0);
  EXPECT_EQ(seen[0].real, 4);
  EXPECT_EQ(seenDates[1].year, 2023);
  EXPECT_EQ(seen[2].real, 5);
  EXPECT_EQ(eval("rec(4,,)").code, 0);
  EXPECT_EQ(seen[2].real, 5);
  EXPECT_EQ(seenDates[1].month, 12);
  EXPECT_EQ(eval("rec(4, 1998.5.3)").code, 0);
  EXPECT_EQ(seenDates[1].year, 2023);
  EXPECT_EQ(eval("rec(4,-1)").code, 0);
  EXPECT_EQ(seenDates[1].year, 2022);

  // Commas inside nested parentheses stay in their argument, and the value
  // of the call is an operand like any other.
  double before = seenCalls;
  EXPECT_EQ(value("rec( (1+2) , , max(2, 8)) * 0 + 1"), 1);
  EXPECT_EQ(seenCalls, before + 1);
  EXPECT_EQ(seen[0].real, 3);
  EXPECT_EQ(seen[2].real, 8);
  EXPECT_EQ(value("2 * rec (1) - rec(1)"), 2 * (before + 2) - (before + 3));

  EXPECT_EQ(value("none()"), 77);
  EXPECT_EQ(value("none( ) + 1"), 78);
  EXPECT_EQ(value("empty()"), 77);
  today = saved;
}

TEST_F(Formula, ReportsFailedCallsAsCode18) {
  setExprTables(functionTable, nullptr);
  struct Case {
    const char *text;
    const char *messages;
  };
  const Case cases[] = {
      {"min()", "Function must be called with 2 arguments - min()\n"},
      {"min( ) + 1", "Function must be called with 2 arguments - min() + 1\n"},
      {"min(1)", "Not enough arguments for function min(1)\n"},
      {"min(1,2,3)", "Too many arguments for function min(1,2,3)\n"},
      {"min(1,2,)", "Too many arguments for function min(1,2,)\n"},
      {"min(1,)", "No default for argument #1 of function min(1,)\n"},
      {"round(,2)", "No default for argument #0 of function round(,2)\n"},
      {"rec()", "No default for argument #0 of function rec()\n"},
      {"min(1,2", "Unclosed argument list for function - min(1,2\n"},
      {"min (1,(2)", "Unclosed argument list for function - min(1,(2)\n"},
      {"none(1)", "Function none() must be called without arguments - none(1)\n"},
      {"empty( 2)", "Function empty() must be called without arguments - empty(2)\n"},
      {"odd(1)", "Unknown variable type - `X'\n"},
      {"fail(1)", ""},
      {"max(min(1,2),(3,4))", "Should be an operator here - expression's tail=`,4)'\n"},
      {"abs(1/0)", "Division by zero (1/0)\n"},
  };
  for (const Case &c : cases) {
    Outcome o = eval(c.text);
    EXPECT_EQ(o.code, 18) << c.text;
    EXPECT_EQ(o.messages, c.messages) << c.text;
    EXPECT_EQ(o.value, kUntouched) << c.text;
  }
  EXPECT_EQ(value("max(min(1,2),3)"), 3);
}

TEST_F(Formula, FindsSymbolsAndLeavesTheCursorBehindThem) {
  const char *text = "  rate+1";
  const char *cursor = text;
  const Symbol *s = findSymbol(&cursor, plainTable);
  ASSERT_NE(s, nullptr);
  EXPECT_STREQ(s->name, "rate");
  EXPECT_EQ(cursor, text + 6);

  text = "rates";  // whole identifiers only
  cursor = text;
  EXPECT_EQ(findSymbol(&cursor, plainTable), nullptr);
  EXPECT_EQ(cursor, text);

  text = "min  (1,2)";
  cursor = text;
  s = findSymbol(&cursor, builtinSymbols);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(cursor, text + 5);  // on the "("
  double out = 0;
  EXPECT_TRUE(callFunction(s, &out, &cursor));
  EXPECT_EQ(out, 1);
  EXPECT_EQ(*cursor, '\0');

  text = "min";
  cursor = text;
  testing::internal::CaptureStderr();
  EXPECT_EQ(findSymbol(&cursor, builtinSymbols), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "No argument for function - min\n");
  EXPECT_EQ(cursor, text);

  // callFunction needs the "(" and leaves the cursor alone on failure.
  const Symbol *abs = &builtinSymbols[7];
  ASSERT_STREQ(abs->name, "abs");
  text = " 5)";
  cursor = text;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(callFunction(abs, &out, &cursor));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Function arguments must start with `(' - 5)\n");
  EXPECT_EQ(cursor, text);
}

TEST_F(Formula, DeeplyNestedCallsFailInOrder) {
  EXPECT_EQ(value(repeat("abs(", 90) + "-3" + repeat(")", 90)), 3);
  testing::internal::CaptureStderr();
  double out = kUntouched;
  std::string text = repeat("abs(", 20000) + "1" + repeat(")", 20000);
  EXPECT_EQ(evaluate(&out, text.c_str()), 18);
  std::string messages = testing::internal::GetCapturedStderr();
  EXPECT_EQ(messages.rfind("Functions nested too deeply - abs(abs(", 0), 0u);
  EXPECT_EQ(out, kUntouched);
}

}  // namespace
