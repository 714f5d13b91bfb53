// Fuzz entry point: the stand-in server's dialect. The input is one
// statement; translated, it runs on a fresh in-memory copy of a database
// with the system's six tables, as the server would run it.
#include <sqlite3.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "dialect.h"
#include "fuzz_support.h"
#include "store.h"

namespace {

// Statements that run long are stopped: the engine calls this every 1000
// steps, and a non-zero answer ends the statement.
int stopLongRuns(void *steps) { return ++*static_cast<int *>(steps) > 10000; }

// The database with the schema, made once; every input gets a copy.
sqlite3 *schemaDatabase() {
  static Databases *databases = new Databases(fuzzsupport::dir());
  static sqlite3 *db = nullptr;
  if (!db) {
    std::string error;
    if (!databases->create("schema", true, &error) || !(db = databases->open("schema", &error))) abort();
    sqlite3_hard_heap_limit64(256 << 20);
  }
  return db;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  sqlite3 *schema = schemaDatabase();
  Statement statement;
  std::string error;
  if (!translateStatement(std::string(reinterpret_cast<const char *>(data), size), &statement, &error)) return 0;
  sqlite3 *db = nullptr;
  if (sqlite3_open(":memory:", &db) == SQLITE_OK) {
    sqlite3_backup *copy = sqlite3_backup_init(db, "main", schema, "main");
    if (copy) {
      sqlite3_backup_step(copy, -1);
      sqlite3_backup_finish(copy);
    }
    int steps = 0;
    sqlite3_progress_handler(db, 1000, stopLongRuns, &steps);
    QueryResult result;
    runStatement(db, statement, &result, &error);
  }
  sqlite3_close(db);
  return 0;
}
