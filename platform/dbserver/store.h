// The databases of the server: DIR/NAME.db, one SQLite file each, and the
// execution of translated statements on them.
//
// Type codes in field descriptions: 1 int (length 4), 2 char (its declared
// length), 3 real (length 8). A char(N) column holds at most N bytes and an
// int or real column numbers only: an INSERT or UPDATE that would store
// anything else fails and changes nothing. Opening a database made by an
// older schema widens the system's tables to the current widths.
#pragma once

#include <sqlite3.h>

#include <functional>
#include <list>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "dialect.h"

// The schema text (schema.sql), compiled in.
extern const char kSchemaText[];

constexpr int kTypeInt = 1;
constexpr int kTypeChar = 2;
constexpr int kTypeReal = 3;

struct FieldInfo {
  std::string table;
  std::string name;
  int type = kTypeChar;
  int length = 0;
  bool notNull = false;
  bool primaryKey = false;
};

// A column value: the bytes as text, or nothing for SQL NULL.
typedef std::optional<std::string> Value;

// One value of a row as the engine holds it: data is null for SQL NULL.
// Valid only during the call that gets it.
struct ColumnText {
  const char *data;
  size_t size;
};

// Takes the rows of a statement as they are read, instead of QueryResult's
// rows: the values of one row; false, with *error set, stops the statement.
typedef std::function<bool(const ColumnText *values, int count, std::string *error)> RowSink;

struct QueryResult {
  bool hasColumns = false;                // a statement that yields rows
  RowSink sink;                           // when set, the rows go to it
  std::vector<std::vector<Value>> rows;
  std::vector<FieldInfo> fields;          // one per column
  int changes = 0;                        // rows changed by a statement without columns
};

// How far an acknowledged statement is made durable. The databases are kept
// in write-ahead-log mode: with kSyncNormal a committed statement is in the
// log file when it is acknowledged (it survives a crash or kill of the
// server, not necessarily a power loss); with kSyncFull the log is also
// synced to disk before the acknowledgement (it survives a power loss).
enum class Durability { kSyncNormal, kSyncFull };

// The prepared statements of one connection, kept by their shape (see
// Statement), so a statement that differs from an earlier one only in its
// literals is not compiled again: at most kCapacity, the least recently
// used going first. A kept statement is reset after each use, so between
// statements it holds no lock and no snapshot; the engine prepares it again
// by itself when the schema changed. Owned by Databases and emptied before
// its connection closes.
class StatementCache {
 public:
  static constexpr size_t kCapacity = 64;
  struct Entry {
    std::string shape;
    sqlite3_stmt *stmt = nullptr;
    std::vector<FieldInfo> fields;  // the answer's field descriptions
    int prepared = -1;              // how often the engine had prepared stmt again when fields were taken
  };
  StatementCache() = default;
  ~StatementCache();
  StatementCache(const StatementCache &) = delete;
  StatementCache &operator=(const StatementCache &) = delete;
  // The entry of a shape, prepared now when new; null with *error set when
  // the engine refuses the shape. Valid until the next call.
  Entry *find(sqlite3 *db, const std::string &shape, std::string *error);

 private:
  std::list<Entry> entries_;  // the most recently used first
  std::unordered_map<std::string_view, std::list<Entry>::iterator> index_;  // keys point into entries_
};

// The database files of one directory with their open connections.
class Databases {
 public:
  Databases(const std::string &dir, Durability durability = Durability::kSyncNormal);
  ~Databases();
  Databases(const Databases &) = delete;
  Databases &operator=(const Databases &) = delete;

  // True for a database name the server accepts: 1 to 64 letters, digits,
  // '_' and '-', not beginning with '-'. Only such names become file names.
  static bool validName(const std::string &name);
  // The open connection of an existing database, or null (*error set).
  sqlite3 *open(const std::string &name, std::string *error);
  // Creates an empty database; with the schema when withSchema. false with
  // *error set when the name is bad, the database exists or creation failed
  // (a half-made file is removed).
  bool create(const std::string &name, bool withSchema, std::string *error);
  // Closes and removes a database. false with *error set when there is none.
  bool drop(const std::string &name, std::string *error);
  // The names of the databases, sorted.
  std::vector<std::string> list() const;
  // True when the database holds a table of that name (in any case), so a
  // statement may name it: the engine's own schema, pragma and table-valued
  // names are no tables of a database. Known names are kept until
  // forgetTables.
  bool hasTable(sqlite3 *db, const std::string &table);
  // After a CREATE TABLE or DROP TABLE.
  void forgetTables(sqlite3 *db) { tables_.erase(db); }
  // The prepared statements of an open connection; valid while it is open.
  StatementCache *statements(sqlite3 *db) { return &statements_[db]; }

 private:
  std::string path(const std::string &name) const { return dir_ + "/" + name + ".db"; }
  // Removes the files SQLite may have left beside a database (its
  // write-ahead log, shared-memory index and rollback journal).
  void removeCompanions(const std::string &name) const;
  std::string dir_;
  Durability durability_;
  std::map<std::string, sqlite3 *> open_;
  std::map<sqlite3 *, std::set<std::string>> tables_;
  std::map<sqlite3 *, StatementCache> statements_;
};

// Bounds of one statement, 0 for none: its running time in seconds, and the
// size of its rows (their bytes, counted with some overhead per value).
struct StatementBounds {
  double seconds = 0;
  size_t rowBytes = 0;
};

// Runs one translated statement, by its shape from cache when one is given.
// false with *error set (the engine's text, or the bound it crossed) when it
// fails; a failed statement changes nothing.
bool runStatement(sqlite3 *db, const Statement &statement, QueryResult *result, std::string *error,
                  const StatementBounds &bounds = {}, StatementCache *cache = nullptr);
// The names of the tables of a database, sorted.
bool tableNames(sqlite3 *db, std::vector<std::string> *names, std::string *error);
// The field descriptions of a table; false with *error set when there is no
// such table.
bool tableFields(sqlite3 *db, const std::string &table, std::vector<FieldInfo> *fields, std::string *error);
