// Formula symbols: the entries of a symbol table and the built-in table.
//
// A table is an array of Symbol ended by an entry whose name is null, or by an
// entry named "*", which matches every name and so ends every lookup in it.
// Kept apart from the evaluator so that programs that evaluate no formulas
// carry the built-in table (and with it the configured VAT rate) alone.
#pragma once

struct Date;

// One argument handed to a SymbolFunc: a number for the type letter "R", a
// date for "D" (created by the evaluator before the call, destroyed after it).
union ArgSlot {
  double real;
  Date *date;
};

// A function symbol's callback: writes *out and returns true; false means it
// failed and has already said why through error(). args is null for a
// function without arguments.
using SymbolFunc = bool (*)(double *out, ArgSlot *args);

enum SymbolKind { SYM_VALUE = 0, SYM_FUNCTION = 1 };

struct Symbol {
  const char *name;             // identifier; "*" matches every name
  int kind;                     // SymbolKind
  double value;                 // read at evaluation time
  SymbolFunc func;              // callback of a function symbol
  const char *argTypes;         // one letter per argument: 'R' or 'D'
  const char *const *defaults;  // default text per argument (null: none)
};

// The built-in table, searched after the program's registered tables.
extern Symbol builtinSymbols[];
// The value of the built-in `taxes` entry: the configured VAT fraction. The
// configuration key `taxes` writes it; the money functions read it.
extern double *const taxesValue;
