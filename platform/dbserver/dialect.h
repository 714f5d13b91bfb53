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
// literal becomes a '?' parameter, numbers and operators come from a fixed
// set of token forms. Function calls are refused (the system sends none).
// Anything else is refused.
#pragma once

#include <string>
#include <vector>

struct Statement {
  std::string sql;                  // the SQLite text, literals as '?'
  std::vector<std::string> params;  // the literals' bytes, in order
  std::string table;                // the table the statement works on (CREATE INDEX: its table)
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
