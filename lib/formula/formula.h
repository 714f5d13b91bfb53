// The formula evaluator.
//
// A formula is a short arithmetic text: numbers, identifiers, function calls
// and the operators below, evaluated to a double in one left-to-right pass
// with two fixed-capacity stacks (pending operands and pending operators, 100
// each) and operator priorities; no syntax tree is built.
//
// Operators, from loosest to tightest binding (equal priorities group left to
// right):
//   ( )        groups
//   ?          condition (with :); a ? b : c ? d : e is (a ? b : c) ? d : e
//   :          alternative of a condition
//   && ||      logical and, or (one priority, no short-circuit)
//   < > <= >= == !=   comparisons; <=, >=, ==, != allow a difference < 1e-6
//   + -        sum, difference
//   %          integer remainder of the rounded operands, sign of the left
//   * /        product, quotient
// Truth values are 1 and 0; a value counts as false when |value| < 1e-6.
//
// Numbers are decimal literals with optional fraction and exponent (12, 0.5,
// .5, 1., 2e3). A "+" or "-" directly before a number or identifier (no blank
// between) is its sign. Identifiers (a letter or "_", then letters, digits and
// "_") are looked up at evaluation time: first in the tables registered with
// setExprTables(), in order, then in builtinSymbols. A value symbol yields its
// current value; a function symbol must be followed by its argument list in
// parentheses, arguments separated by commas: "R" arguments are formulas, "D"
// arguments date expressions applied to today's date.
#pragma once

#include "symbols.h"

// Result codes of evaluate(): 0 is success. Every failure has been reported
// once through error() before evaluate() returns.
enum ExprError {
  EXPR_OK = 0,
  EXPR_GROUPS_FULL = 1,      // "(" finds the operator stack full, or function
                             // calls nest more than 100 deep
  EXPR_NO_MEMORY = 3,        // never returned: the allocator does not fail
  EXPR_OPERANDS_FULL = 5,    // an operand finds the operand stack full
  EXPR_NO_OPERATOR = 6,      // no operator where one is expected
  EXPR_OPERATORS_FULL = 7,   // an operator finds the operator stack full
  EXPR_NO_RIGHT = 8,         // an operator applied without operands
  EXPR_NO_LEFT = 9,          // an operator applied with one operand
  EXPR_NO_OPERAND = 11,      // no operand where one is expected; empty group
  EXPR_UNSUPPORTED = 12,     // a stray ")"
  EXPR_NO_ALTERNATIVE = 13,  // "?" without ":"
  EXPR_NO_CONDITION = 14,    // ":" without "?"
  EXPR_NO_SELECTOR = 15,     // ":" without a condition operand
  EXPR_NO_SYMBOL = 16,       // an identifier that no table defines
  EXPR_BAD_CALL = 18,        // a function call failed
  EXPR_DIVISION = 20,        // division or remainder by zero
};

// Evaluates the whole text into *result and returns 0; otherwise returns an
// ExprError code and leaves *result alone. An empty or blank text gives 0
// (after the message "Empty expression"). The text is not modified. Safe to
// call from inside a SymbolFunc.
int evaluate(double *result, const char *text);

// Registers the program's symbol tables, searched in the order given before
// the built-in table: a list ended by a null pointer, at most 10 tables (the
// rest are ignored). Replaces the previous registration; setExprTables(nullptr)
// leaves only the built-in table. The tables stay the caller's and must live
// while registered; their values are read at evaluation time.
void setExprTables(const Symbol *table, ...);

// Looks up the identifier at *cursor (blanks before it are skipped) in one
// table: the first entry named like it, or named "*", is returned. For a value
// entry *cursor moves past the identifier; for a function entry it moves to the
// "(" after it. A function name not followed by "(" is reported ("No argument
// for function - ...") and gives null, as does a name the table lacks; *cursor
// then stays on the identifier.
const Symbol *findSymbol(const char **cursor, const Symbol *table);

// Parses the argument list at *cursor (on or before the "("), evaluates the
// arguments, calls the symbol's function into *out and moves *cursor past the
// ")" and the blanks after it. On failure (already reported) returns false and
// leaves *cursor alone.
bool callFunction(const Symbol *symbol, double *out, const char **cursor);

// One row of an operator table: a larger priority binds more tightly; code
// selects the operation.
struct Operator {
  const char *name;
  unsigned int priority;
  int code;
};

// Skips blanks at *cursor and returns the row of table (ended by a null name)
// whose name is the longest prefix of the text there, the earlier row winning
// a tie; *cursor moves past it. Null when no row matches (*cursor stays after
// the blanks).
const Operator *scanOperator(const char **cursor, const Operator *table);

// x rounded to the nearest integer (halves to even), as an int; values beyond
// the range of int give INT_MIN or INT_MAX, NaN gives 0.
int toInt(double x);
