// The one database connection of a process and the statements sent on it.

#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "config.h"
#include "memory.h"
#include "misc.h"
#include "sqldata.h"

namespace {

// Database used while sql-database is unset.
const char kDefaultDatabase[] = "vovuvuza";
// The client's text for a connection that it found dead and closed itself.
const char kGoneAway[] = "MSQL server has gone away";
// A statement shown in a message is cut to this many characters.
constexpr int kShownQuery = 200;
// What sqlRetry makes of an interval of 1 second.
constexpr unsigned kDefaultRetry = 60;

int sqlSocket = -1;
unsigned retryInterval = kDefaultRetry;
char *quoteBuffer = nullptr;
// Tries of one operation (0: no bound), what is called when they are used
// up, and the failed tries of the operation under way.
unsigned tryLimit = 0;
void (*giveUpHandler)() = nullptr;
unsigned failedTries = 0;

// After a failed try: waits the retry interval and returns true, or returns
// false when the operation is to fail now (retries off, or its tries used up
// and the give-up handler returned).
bool waitToRetry() {
  if (retryInterval == 0) return false;
  if (tryLimit != 0 && ++failedTries >= tryLimit) {
    if (giveUpHandler) giveUpHandler();
    return false;
  }
  sleep(retryInterval);
  return true;
}

// True when the last client failure closed the connection: a retry on the
// same socket could never succeed, so the connection must be opened again.
bool connectionLost() { return strcmp(msqlErrMsg, kGoneAway) == 0; }

// Connects (when sock is -1) and selects the database, waiting out failures
// at the retry interval. Sets sock to the open socket and returns 0, or -1
// (sock -1) at the first failure when retries are off.
int openDatabase(int *sock) {
  const char *database = sqlDatabase ? sqlDatabase : kDefaultDatabase;
  for (;;) {
    if (*sock == -1) {
      *sock = msqlConnect(sqlServerHost);
      if (*sock == -1) {
        error("Can't connect to sql server %s (%s)", sqlServerHost ? sqlServerHost : "local",
              msqlErrMsg);
        if (!waitToRetry()) return -1;
        continue;
      }
    }
    if (msqlSelectDB(*sock, database) == 0) return 0;
    error("Cannot select database (%s)", msqlErrMsg);
    if (connectionLost()) *sock = -1;
    if (!waitToRetry()) {
      // Without a database the connection is of no use; do not leave it
      // looking connected.
      if (*sock != -1) msqlClose(*sock);
      *sock = -1;
      return -1;
    }
  }
}

// The test query run at high debug levels: table `ids' must be readable.
int testQuery() {
  debug(10, "SQL: doing test query");
  sqlQuery("SELECT * FROM ids LIMIT 1");
  MsqlResult *result = sqlStoreResult();
  if (!result) {
    error("Can't select data from `ids'");
    return 1;
  }
  MsqlRow row = sqlFetchRow(result, 1);
  if (!row || !row[0]) error("No data in `ids' table");
  sqlFreeResult(result);
  return 0;
}

}  // namespace

int sqlConnect() {
  if (sqlSocket != -1) return 0;
  debug(10, "SQL: connecting to engine");
  if (sqlServerPort) setenv("MSQL_TCP_PORT", sqlServerPort, 1);
  if (sqlServerSocket) setenv("MSQL_UNIX_PORT", sqlServerSocket, 1);
  int sock = -1;
  failedTries = 0;
  if (openDatabase(&sock) != 0) return -1;
  sqlSocket = sock;
  if (debugLevel > 10 && testQuery() != 0) return 1;
  debug(10, "SQL: connected to engine via socket %d", sqlSocket);
  return 0;
}

int sqlClose() {
  if (sqlSocket == -1) return -1;
  debug(10, "SQL: closing connection");
  msqlClose(sqlSocket);
  sqlSocket = -1;
  return 0;
}

int sqlQuery(const char *format, ...) {
  if (sqlSocket == -1) {
    debug(1, "Not connected to SQL engine. Connecting..");
    if (sqlConnect() != 0) return -1;
  }
  va_list args;
  va_start(args, format);
  // The statement is built whole: a cut one would be refused by the server
  // and retried for ever, or worse, mean something else.
  char *query = vstrprintf(format, args);
  va_end(args);
  size_t length = strlen(query);
  if (length > static_cast<size_t>(kMsqlQueryMax)) {
    // No retry can make it fit.
    error("Query of %lu characters not sent, at most %d fit: '%.*s...'", static_cast<unsigned long>(length),
          kMsqlQueryMax, kShownQuery, query);
    memRealloc(query, 0);
    return -1;
  }
  debug(10, "SQL: query `%s'", query);
  int result = 0;
  failedTries = 0;
  while (msqlQuery(sqlSocket, query) != 0) {
    error("Cannot process query '%s' (%s)", query, msqlErrMsg);
    if (connectionLost()) sqlSocket = -1;
    if (!waitToRetry() || (sqlSocket == -1 && openDatabase(&sqlSocket) != 0)) {
      result = -1;
      break;
    }
  }
  memRealloc(query, 0);
  if (result == 0) debug(11, "SQL: query sent");
  return result;
}

MsqlResult *sqlStoreResult() {
  debug(10, "SQL: fetching results");
  if (sqlSocket == -1) return nullptr;
  MsqlResult *result = msqlStoreResult();
  debug(11, "SQL: results got (%p)", static_cast<void *>(result));
  return result;
}

MsqlRow sqlFetchRow(MsqlResult *result) {
  debug(11, "SQL: fetching next record");
  MsqlRow row = msqlFetchRow(result);
  debug(12, "SQL: next record fetched %p=(`%s',...)", static_cast<void *>(row),
        row ? (row[0] ? row[0] : "(null)") : "<NO>");
  return row;
}

MsqlRow sqlFetchRow(MsqlResult *result, int columns) {
  if (result && result->cursor && result->cursor->width < columns) {
    error("Short row from the database: %d columns where %d are read", result->cursor->width, columns);
    result->cursor = nullptr;  // nor are the rows after it read
    return nullptr;
  }
  return sqlFetchRow(result);
}

int sqlFreeResult(MsqlResult *result) {
  debug(10, "SQL: finishing query");
  msqlFreeResult(result);
  debug(11, "SQL: query finished");
  return 0;
}

char *sqlString(const char *s, char *buf) {
  if (!s) s = "<null>";
  // The previous library-owned buffer is freed only after the copy, since s
  // may point into it. memRealloc never fails (it waits for memory).
  char *previous = nullptr;
  if (!buf) {
    previous = quoteBuffer;
    quoteBuffer = static_cast<char *>(memRealloc(nullptr, 2 * strlen(s) + 1));
    buf = quoteBuffer;
  }
  char *out = buf;
  for (; *s; ++s) {
    if (*s == '\'' || *s == '\\') *out++ = '\\';
    *out++ = *s;
  }
  *out = '\0';
  memRealloc(previous, 0);
  return buf;
}

unsigned sqlRetry(unsigned seconds) {
  retryInterval = seconds == 1 ? kDefaultRetry : seconds;
  return retryInterval;
}

void sqlTryLimit(unsigned tries, unsigned ioSeconds, void (*giveUp)()) {
  tryLimit = tries;
  msqlSetTimeout(ioSeconds);
  giveUpHandler = giveUp;
}

int sqlCheckType() {
  if (!sqlServerType || strcmp(sqlServerType, "msql") == 0) return 0;
  error("Only mSQL server supported now! Read the documentation.\n");
  return 1;
}
