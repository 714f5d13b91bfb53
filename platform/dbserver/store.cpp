#include "store.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Type code and length of a declared column type ("CHAR(300)", "INT", "REAL").
void typeFromDeclared(const char *declared, FieldInfo *field) {
  std::string d = declared ? declared : "";
  for (char &c : d) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  if (d.rfind("INT", 0) == 0) {
    field->type = kTypeInt;
    field->length = 4;
  } else if (d.rfind("REAL", 0) == 0) {
    field->type = kTypeReal;
    field->length = 8;
  } else {
    field->type = kTypeChar;
    size_t open = d.find('(');
    field->length = open == std::string::npos ? 0 : static_cast<int>(strtol(d.c_str() + open + 1, nullptr, 10));
  }
}

// Settings of every connection: unknown names in double quotes are errors,
// not string literals; LIKE compares bytes with case. Each statement is its
// own transaction; in write-ahead-log mode a commit appends to the log and
// syncs it only with synchronous=FULL, instead of rewriting and syncing the
// database file and a rollback journal at every statement.
bool configure(sqlite3 *db, Durability durability, std::string *error) {
  sqlite3_db_config(db, SQLITE_DBCONFIG_DQS_DML, 0, nullptr);
  sqlite3_db_config(db, SQLITE_DBCONFIG_DQS_DDL, 0, nullptr);
  sqlite3_busy_timeout(db, 5000);
  const char *settings = durability == Durability::kSyncFull
                             ? "PRAGMA case_sensitive_like=ON; PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL"
                             : "PRAGMA case_sensitive_like=ON; PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL";
  char *message = nullptr;
  if (sqlite3_exec(db, settings, nullptr, nullptr, &message) != SQLITE_OK) {
    *error = message ? message : "cannot configure the database";
    sqlite3_free(message);
    return false;
  }
  return true;
}

std::string engineError(sqlite3 *db) { return sqlite3_errmsg(db); }

std::string lower(std::string text) {
  for (char &c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return text;
}

// Makes the declared types hold: per table, a trigger before INSERT and one
// before UPDATE refuse a row with a char(N) value of more than N bytes, or
// with an int or real value that is no number (a text the column's type
// could not turn into one), so no row grows past what its columns declare.
// The triggers are TEMP ones, kept with the connection and not in the file,
// so every database gets them when opened, however old; a table made later
// gets them when it is made, and loses them when it is dropped.
bool guardWidths(sqlite3 *db, std::string *error) {
  std::vector<std::string> tables;
  if (!tableNames(db, &tables, error)) return false;
  std::string sql;
  for (const std::string &table : tables) {
    std::vector<FieldInfo> fields;
    if (!isIdentifier(table) || !tableFields(db, table, &fields, error)) continue;
    std::string checks;
    for (const FieldInfo &f : fields) {
      if (!isIdentifier(f.name)) continue;
      std::string column = "NEW.\"" + f.name + "\"";
      if (f.type == kTypeChar && f.length > 0) {
        std::string width = std::to_string(f.length);
        checks += "SELECT RAISE(ABORT, 'Value too long for " + table + "." + f.name + " (at most " + width +
                  " bytes)') WHERE length(CAST(" + column + " AS BLOB)) > " + width + "; ";
      } else if (f.type == kTypeInt || f.type == kTypeReal) {
        // Two comparisons, not an IN list: the engine builds a scratch
        // table for a list of more than two values at every row.
        checks += "SELECT RAISE(ABORT, 'Value for " + table + "." + f.name + " is not a number') WHERE typeof(" +
                  column + ") = 'text' OR typeof(" + column + ") = 'blob'; ";
      }
    }
    if (checks.empty()) continue;
    for (const char *op : {"INSERT", "UPDATE"})
      sql += std::string("CREATE TEMP TRIGGER IF NOT EXISTS \"width_") + op + "_" + table + "\" BEFORE " + op +
             " ON main.\"" + table + "\" BEGIN " + checks + "END; ";
  }
  char *message = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
    *error = message ? message : "cannot guard the column widths";
    sqlite3_free(message);
    return false;
  }
  return true;
}

// The progress handler of a bounded statement: non-zero stops it.
int pastDeadline(void *deadline) {
  return std::chrono::steady_clock::now() > *static_cast<std::chrono::steady_clock::time_point *>(deadline);
}

// The statements of the schema text, translated: '#' lines are comments,
// ';' ends a statement.
bool schemaStatements(std::vector<Statement> *out, std::string *error) {
  std::string text, line;
  for (const char *p = kSchemaText; *p;) {
    const char *end = strchr(p, '\n');
    size_t n = end ? static_cast<size_t>(end - p) : strlen(p);
    line.assign(p, n);
    p += n + (end ? 1 : 0);
    if (line.find_first_not_of(" \t") != std::string::npos && line[line.find_first_not_of(" \t")] == '#')
      continue;
    text += line + "\n";
  }
  size_t start = 0;
  for (;;) {
    size_t semicolon = text.find(';', start);
    std::string piece = text.substr(start, semicolon == std::string::npos ? std::string::npos : semicolon - start);
    if (piece.find_first_not_of(" \t\n") != std::string::npos) {
      out->emplace_back();
      if (!translateStatement(piece, &out->back(), error)) return false;
    }
    if (semicolon == std::string::npos) return true;
    start = semicolon + 1;
  }
}

bool runSchema(sqlite3 *db, std::string *error) {
  std::vector<Statement> schema;
  if (!schemaStatements(&schema, error)) return false;
  for (const Statement &statement : schema) {
    QueryResult result;
    if (!runStatement(db, statement, &result, error)) return false;
  }
  return true;
}

bool execAll(sqlite3 *db, const std::string &sql, std::string *error) {
  char *message = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK) return true;
  *error = message ? message : engineError(db);
  sqlite3_free(message);
  return false;
}

// Brings the system's own tables of a database made by an older schema up
// to the current widths: a table with a char column narrower than the
// schema's is copied into a new one made from the schema, with its indexes,
// in one transaction. A table whose columns differ otherwise is left alone.
bool upgradeWidths(sqlite3 *db, const std::string &name, std::string *error) {
  std::vector<Statement> schema;
  if (!schemaStatements(&schema, error)) return false;
  sqlite3 *current = nullptr;
  if (sqlite3_open(":memory:", &current) != SQLITE_OK || !runSchema(current, error)) {
    if (error->empty()) *error = "cannot read the schema";
    sqlite3_close(current);
    return false;
  }
  bool ok = true;
  for (const Statement &create : schema) {
    std::vector<FieldInfo> have, want;
    std::string absent;
    if (create.sql.rfind("CREATE TABLE ", 0) != 0 || !tableFields(db, create.table, &have, &absent) ||
        !tableFields(current, create.table, &want, error))
      continue;
    bool alike = have.size() == want.size(), narrower = false;
    for (size_t i = 0; alike && i < have.size(); i++) {
      alike = have[i].name == want[i].name && have[i].type == want[i].type;
      narrower |= have[i].type == kTypeChar && have[i].length < want[i].length;
    }
    if (!alike || !narrower) continue;
    std::string old = "\"" + create.table + "_narrow\"";
    std::string sql = "BEGIN IMMEDIATE; ALTER TABLE \"" + create.table + "\" RENAME TO " + old + "; " + create.sql +
                      "; INSERT INTO \"" + create.table + "\" SELECT * FROM " + old + "; DROP TABLE " + old + "; ";
    for (const Statement &index : schema)
      if (index.sql.rfind("CREATE INDEX ", 0) == 0 && index.table == create.table) sql += index.sql + "; ";
    if (!execAll(db, sql + "COMMIT", error)) {
      std::string ignored;
      execAll(db, "ROLLBACK", &ignored);
      *error = "Cannot widen table \"" + create.table + "\" of \"" + name + "\": " + *error;
      ok = false;
      break;
    }
    fprintf(stderr, "dbserver: %s: table %s brought up to the current widths\n", name.c_str(),
            create.table.c_str());
  }
  sqlite3_close(current);
  return ok;
}

}  // namespace

Databases::Databases(const std::string &dir, Durability durability) : dir_(dir), durability_(durability) {
  // No page cache starts with a bulk of pages: a statement that sorts or
  // reads an IN list opens and closes a scratch table, and a bulk taken and
  // given back each time is memory the allocator takes from and returns to
  // the system at every such statement. Process-wide; refused (and
  // harmless) once the engine is in use.
  sqlite3_config(SQLITE_CONFIG_PAGECACHE, nullptr, 0, 0);
  // The server is one thread: the engine's locks and its count of the
  // memory in use are work for nothing.
  sqlite3_config(SQLITE_CONFIG_SINGLETHREAD);
  sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
}

Databases::~Databases() {
  statements_.clear();
  for (auto &[name, db] : open_) sqlite3_close_v2(db);
}

bool Databases::hasTable(sqlite3 *db, const std::string &table) {
  auto it = tables_.find(db);
  if (it == tables_.end()) {
    std::vector<std::string> names;
    std::string ignored;
    if (!tableNames(db, &names, &ignored)) return false;
    std::set<std::string> known;
    for (const std::string &n : names) known.insert(lower(n));
    it = tables_.emplace(db, std::move(known)).first;
  }
  return it->second.count(lower(table)) > 0;
}

bool Databases::validName(const std::string &name) {
  if (name.empty() || name.size() > 64 || name[0] == '-') return false;
  for (char c : name)
    if (!isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '-') return false;
  return true;
}

sqlite3 *Databases::open(const std::string &name, std::string *error) {
  if (!validName(name)) {
    *error = "Unknown database \"" + name.substr(0, 64) + "\"";
    return nullptr;
  }
  auto it = open_.find(name);
  if (it != open_.end()) return it->second;
  if (access(path(name).c_str(), F_OK) != 0) {
    *error = "Unknown database \"" + name + "\"";
    return nullptr;
  }
  sqlite3 *db = nullptr;
  if (sqlite3_open_v2(path(name).c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
    *error = "Cannot open database \"" + name + "\": " + (db ? engineError(db) : std::string("no memory"));
    sqlite3_close_v2(db);
    return nullptr;
  }
  if (!configure(db, durability_, error) || !upgradeWidths(db, name, error) || !guardWidths(db, error)) {
    sqlite3_close_v2(db);
    return nullptr;
  }
  open_[name] = db;
  return db;
}

bool Databases::create(const std::string &name, bool withSchema, std::string *error) {
  if (!validName(name)) {
    *error = "Bad database name \"" + name.substr(0, 64) + "\"";
    return false;
  }
  // O_EXCL: an existing database is never overwritten. An empty file is an
  // empty SQLite database.
  int fd = ::open(path(name).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) {
    *error = errno == EEXIST ? "Database \"" + name + "\" exists"
                             : "Cannot create database \"" + name + "\": " + strerror(errno);
    return false;
  }
  close(fd);
  if (!withSchema) return true;
  sqlite3 *db = open(name, error);
  if (db && runSchema(db, error)) return true;
  std::string ignored;
  drop(name, &ignored);
  return false;
}

bool Databases::drop(const std::string &name, std::string *error) {
  auto it = open_.find(name);
  if (it != open_.end()) {
    tables_.erase(it->second);
    statements_.erase(it->second);
    sqlite3_close_v2(it->second);
    open_.erase(it);
  }
  if (!validName(name) || unlink(path(name).c_str()) != 0) {
    *error = "Unknown database \"" + name.substr(0, 64) + "\"";
    return false;
  }
  removeCompanions(name);
  return true;
}

void Databases::removeCompanions(const std::string &name) const {
  for (const char *suffix : {"-wal", "-shm", "-journal"}) unlink((path(name) + suffix).c_str());
}

std::vector<std::string> Databases::list() const {
  std::vector<std::string> names;
  DIR *d = opendir(dir_.c_str());
  if (!d) return names;
  while (dirent *e = readdir(d)) {
    std::string file = e->d_name;
    if (file.size() > 3 && file.compare(file.size() - 3, 3, ".db") == 0) {
      std::string name = file.substr(0, file.size() - 3);
      if (validName(name)) names.push_back(name);
    }
  }
  closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

namespace {

// Prepares the one statement of text; anything after it is refused.
bool prepareOne(sqlite3 *db, const std::string &text, unsigned flags, sqlite3_stmt **stmt, std::string *error) {
  const char *tail = nullptr;
  if (sqlite3_prepare_v3(db, text.c_str(), static_cast<int>(text.size()), flags, stmt, &tail) != SQLITE_OK) {
    *error = engineError(db);
    return false;
  }
  if (!*stmt || (tail && *tail)) {
    sqlite3_finalize(*stmt);
    *stmt = nullptr;
    *error = "Exactly one statement expected";
    return false;
  }
  return true;
}

// Binds the literals of a statement: all of them to its shape, the strings
// alone to its text. The bytes are borrowed until the bindings are cleared.
void bindLiterals(sqlite3_stmt *stmt, const std::vector<Literal> &params, bool shape) {
  int n = 0;
  for (const Literal &p : params) {
    if (!shape && p.kind != Literal::kString) continue;
    if (p.kind == Literal::kInteger)
      sqlite3_bind_int64(stmt, ++n, p.integer);
    else
      sqlite3_bind_text(stmt, ++n, p.text.data(), static_cast<int>(p.text.size()), SQLITE_STATIC);
  }
}

// The field descriptions of the columns of a prepared statement.
void columnFields(sqlite3 *db, sqlite3_stmt *stmt, std::vector<FieldInfo> *fields) {
  fields->clear();
  for (int i = 0; i < sqlite3_column_count(stmt); i++) {
    FieldInfo field;
    const char *table = sqlite3_column_table_name(stmt, i);
    const char *origin = sqlite3_column_origin_name(stmt, i);
    field.name = origin ? origin : sqlite3_column_name(stmt, i);
    const char *declared = sqlite3_column_decltype(stmt, i);
    if (table && origin) {
      field.table = table;
      int notNull = 0, primaryKey = 0;
      const char *type = nullptr;
      if (sqlite3_table_column_metadata(db, nullptr, table, origin, &type, nullptr, &notNull, &primaryKey,
                                        nullptr) == SQLITE_OK) {
        declared = type;
        field.notNull = notNull != 0;
        field.primaryKey = primaryKey != 0;
      }
    }
    typeFromDeclared(declared, &field);
    fields->push_back(field);
  }
}

}  // namespace

StatementCache::~StatementCache() {
  for (Entry &e : entries_) sqlite3_finalize(e.stmt);
}

StatementCache::Entry *StatementCache::find(sqlite3 *db, const std::string &shape, std::string *error) {
  auto it = index_.find(shape);
  if (it != index_.end()) {
    entries_.splice(entries_.begin(), entries_, it->second);
    return &entries_.front();
  }
  sqlite3_stmt *stmt = nullptr;
  if (!prepareOne(db, shape, SQLITE_PREPARE_PERSISTENT, &stmt, error)) return nullptr;
  if (entries_.size() >= kCapacity) {
    index_.erase(entries_.back().shape);
    sqlite3_finalize(entries_.back().stmt);
    entries_.pop_back();
  }
  entries_.push_front(Entry{shape, stmt, {}, -1});
  index_.emplace(entries_.front().shape, entries_.begin());
  return &entries_.front();
}

bool runStatement(sqlite3 *db, const Statement &statement, QueryResult *result, std::string *error,
                  const StatementBounds &bounds, StatementCache *cache) {
  // A shape the engine refuses is tried as written, so that the refusal
  // quotes the statement's own numbers.
  std::string refused;
  StatementCache::Entry *entry =
      cache && !statement.shape.empty() ? cache->find(db, statement.shape, &refused) : nullptr;
  sqlite3_stmt *stmt = entry ? entry->stmt : nullptr;
  if (!stmt && !prepareOne(db, statement.sql, 0, &stmt, error)) return false;
  bindLiterals(stmt, statement.params, entry != nullptr);
  result->rows.clear();
  // The engine calls the handler every 1000 steps of its program, so a
  // statement past its time is stopped within a moment.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                                          std::chrono::duration<double>(bounds.seconds));
  if (bounds.seconds > 0) sqlite3_progress_handler(db, 1000, pastDeadline, &deadline);
  size_t rowBytes = 0;
  int rc;
  bool sunk = true;
  std::vector<ColumnText> values;
  while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    values.clear();
    for (int i = 0; i < sqlite3_data_count(stmt); i++) {
      rowBytes += 16;
      if (sqlite3_column_type(stmt, i) == SQLITE_NULL) {
        values.push_back({nullptr, 0});
        continue;
      }
      const char *text = reinterpret_cast<const char *>(sqlite3_column_text(stmt, i));
      size_t n = static_cast<size_t>(sqlite3_column_bytes(stmt, i));
      values.push_back({text ? text : "", n});
      rowBytes += n;
    }
    if (result->sink) {
      if (!(sunk = result->sink(values.data(), static_cast<int>(values.size()), error))) break;
    } else {
      std::vector<Value> row;
      for (const ColumnText &v : values)
        row.push_back(v.data ? Value(std::string(v.data, v.size)) : std::nullopt);
      result->rows.push_back(std::move(row));
    }
    if (bounds.rowBytes && rowBytes > bounds.rowBytes) break;
  }
  if (bounds.seconds > 0) sqlite3_progress_handler(db, 0, nullptr, nullptr);
  if (rc == SQLITE_DONE) {
    result->hasColumns = sqlite3_column_count(stmt) > 0;
    result->changes = result->hasColumns ? 0 : sqlite3_changes(db);
    // Field descriptions are taken again only when the engine prepared the
    // statement anew (the schema changed).
    int prepared = sqlite3_stmt_status(stmt, SQLITE_STMTSTATUS_REPREPARE, 0);
    if (!entry) {
      columnFields(db, stmt, &result->fields);
    } else {
      if (entry->prepared != prepared) columnFields(db, stmt, &entry->fields);
      entry->prepared = prepared;
      result->fields = entry->fields;
    }
  } else {
    char bound[64];
    if (!sunk) {
      // *error is the sink's.
    } else if (rc == SQLITE_ROW) {
      snprintf(bound, sizeof bound, "%zu bytes", bounds.rowBytes);
      *error = std::string("Answer too large (more than ") + bound + ")";
    } else if (rc == SQLITE_INTERRUPT) {
      snprintf(bound, sizeof bound, "%g seconds", bounds.seconds);
      *error = std::string("Statement took too long (more than ") + bound + ")";
    } else {
      *error = engineError(db);
    }
    result->rows.clear();
  }
  if (entry) {
    sqlite3_reset(stmt);
    sqlite3_clear_bindings(stmt);
  } else {
    sqlite3_finalize(stmt);
  }
  if (rc != SQLITE_DONE) return false;
  // A new table gets its width guards at once.
  if (statement.sql.rfind("CREATE TABLE ", 0) == 0) return guardWidths(db, error);
  return true;
}

bool tableNames(sqlite3 *db, std::vector<std::string> *names, std::string *error) {
  Statement statement;
  statement.sql = "SELECT name FROM sqlite_master WHERE type='table' AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\' ORDER BY name";
  QueryResult result;
  if (!runStatement(db, statement, &result, error)) return false;
  names->clear();
  for (const auto &row : result.rows)
    if (row[0]) names->push_back(*row[0]);
  return true;
}

bool tableFields(sqlite3 *db, const std::string &table, std::vector<FieldInfo> *fields, std::string *error) {
  fields->clear();
  if (!isIdentifier(table)) {
    *error = "Unknown table \"" + table.substr(0, 64) + "\"";
    return false;
  }
  // table_info: cid, name, type, notnull, dflt_value, pk
  Statement statement;
  statement.sql = "PRAGMA table_info(\"" + table + "\")";
  QueryResult result;
  if (!runStatement(db, statement, &result, error)) return false;
  if (result.rows.empty()) {
    *error = "Unknown table \"" + table + "\"";
    return false;
  }
  for (const auto &row : result.rows) {
    FieldInfo field;
    field.table = table;
    field.name = row[1].value_or("");
    typeFromDeclared(row[2] ? row[2]->c_str() : nullptr, &field);
    field.notNull = row[3].value_or("0") != "0";
    field.primaryKey = row[5].value_or("0") != "0";
    fields->push_back(field);
  }
  return true;
}
