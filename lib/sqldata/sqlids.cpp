// Row ids per table, counted in table `ids' under a lock file per table.

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "locks.h"
#include "memory.h"
#include "sqlquote.h"
#include "sqldata.h"

namespace {

// Table names have at most 15 characters.
constexpr size_t kTableNameSize = 16;
constexpr size_t kLockNameSize = 80;
// Seconds between two tries for an id lock; lockWait with no limit of tries.
constexpr unsigned kLockSleep = 1;
constexpr unsigned kLockForever = 0;

// The table whose counter is held ("" when none) and its last id.
char cachedTable[kTableNameSize];
unsigned long cachedId;

// "id-" + table, the name of the table's lock file.
const char *idLockName(char *buf, size_t size, const char *table) {
  snprintf(buf, size, "id-%s", table);
  return buf;
}

// Reads the counter of table from `ids' into the cache, making the row when
// the table has none yet; false when that row could not be made.
bool readCounter(const char *table, const std::string &quoted) {
  sqlQuery("SELECT tabid FROM ids WHERE tabname='%s'", quoted.c_str());
  MsqlResult *result = sqlStoreResult();
  MsqlRow row = result ? sqlFetchRow(result, 1) : nullptr;
  if (row && row[0]) {
    cachedId = strtoul(row[0], nullptr, 10);
  } else {
    cachedId = 0;
    if (sqlQuery("INSERT INTO ids (tabname,tabid) VALUES ('%s',%lu)", quoted.c_str(), cachedId) != 0) {
      if (result) sqlFreeResult(result);
      return false;
    }
  }
  if (result) sqlFreeResult(result);
  strnzcpy(cachedTable, table, sizeof cachedTable);
  return true;
}

}  // namespace

unsigned long nextIds(const char *table, unsigned long count) {
  std::string quoted = sqlQuoted(table);
  if (strcmp(table, cachedTable) != 0 && !readCounter(table, quoted)) return 0;
  const unsigned long first = cachedId + 1;
  cachedId += count;
  // The ids are handed out only once the counter holds them; a counter not
  // updated is read again next time.
  if (sqlQuery("UPDATE ids SET tabid=%lu WHERE tabname='%s'", cachedId, quoted.c_str()) != 0) {
    cachedTable[0] = '\0';
    return 0;
  }
  return first;
}

unsigned long nextId(const char *table) {
  if (!table) {
    cachedTable[0] = '\0';
    return 0;
  }
  return nextIds(table, 1);
}

int lockIds(const char *table) {
  char name[kLockNameSize];
  return lockWait(idLockName(name, sizeof name, table), kLockSleep, kLockForever);
}

void unlockIds(const char *table) {
  char name[kLockNameSize];
  unlock(idLockName(name, sizeof name, table));
  // The counter held is that of another table when this lock period drew no
  // id: it stays good while that table's lock is held.
  if (strcmp(table, cachedTable) == 0) nextId(nullptr);
}
