// The server's SQL dialect, translated into SQLite statements.
//
// The dialect: string literals in single quotes, where a backslash takes the
// next byte as it is (\' and \\); 8-bit bytes are kept. Identifiers are used
// bare, also those that SQLite reserves (group, user, date, name, sum).
// Statements: SELECT, INSERT, UPDATE and DELETE on one table each, with the
// usual clauses (WHERE, ORDER BY, LIMIT) but no join, alias or nested
// SELECT, CREATE TABLE name (column type [not null]
// [primary key], ...) with the types char(N), int and real, CREATE INDEX
// name ON table (column, ...) (not unique), and DROP TABLE.
//
// A DELETE without WHERE removes its rows one by one, as any other DELETE,
// so the time bound of a statement holds for it too.
//
// Translation never pastes client text into SQL: every identifier is put in
// double quotes (identifiers hold only letters, digits and '_'), every
// string literal becomes a '?' parameter, numbers and operators come from a
// fixed set of token forms. Function calls are refused (the system sends
// none). Anything else is refused.
//
// A SELECT, INSERT, UPDATE or DELETE also gets a shape: its text with the
// numbers as parameters too, so statements that differ only in their
// literals share one shape and one prepared statement. A whole number that
// fits 64 bits is bound as an integer; any other number outside the result
// list and ORDER BY is bound as its text through +CAST(? AS REAL), which
// the engine reads with the same conversion as a literal and which, like a
// literal, has no affinity. The numbers of the result list (they name its
// columns) and of ORDER BY (a number there is a column's position) stay in
// the text, as do integers past 64 bits (the engine reads those in ways of
// its own).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct Literal {
  enum Kind { kString, kInteger, kReal };
  Kind kind = kString;
  std::string text;     // a string's bytes; a number's text
  int64_t integer = 0;  // the value of a kInteger
};

struct Statement {
  std::string sql;               // the SQLite text, strings as '?'
  std::string shape;             // the text with numbers as parameters too; empty for CREATE and DROP
  std::vector<Literal> params;   // the literals of the shape, in order (sql binds the kString ones)
  std::string table;             // the table the statement works on (CREATE INDEX: its table)
};

// Largest payload of a wire frame, part of the wire format: a table whose
// rows could outgrow it is refused when it is made.
constexpr size_t kMaxPayload = 32768;

// Translates one statement of the dialect. false with *error set when the
// text is no statement of the dialect.
bool translateStatement(const std::string &text, Statement *out, std::string *error);

// True for a name of letters, digits and '_' that does not begin with a
// digit (a table or column name).
bool isIdentifier(const std::string &name);
