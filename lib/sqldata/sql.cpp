// The one database connection of a process and the statements sent on it.

#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

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
// A statement the server answered with an error is sent this many times at
// most, this many seconds apart, before it is given up: the reason may pass
// (a busy database), but most refusals are for good (a value too long, a
// statement not allowed), and waiting them out would hang the program.
constexpr unsigned kRefusedTries = 3;
constexpr unsigned kRefusedPause = 1;

int sqlSocket = -1;
unsigned retryInterval = kDefaultRetry;
char *quoteBuffer = nullptr;
// Tries of one operation (0: no bound), what is called when they are used
// up, and the failed tries of the operation under way.
unsigned tryLimit = 0;
void (*giveUpHandler)() = nullptr;
unsigned failedTries = 0;
// Statements given up (refused for good, or whose fate after a lost answer
// forbids sending them again).
unsigned long givenUp = 0;

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

// ", retrying in N s" while failures are waited out, else "".
const char *retrying() {
  static char text[48];
  text[0] = '\0';
  if (retryInterval != 0) snprintf(text, sizeof text, ", retrying in %u s", retryInterval);
  return text;
}

// Connects (when sock is -1) and selects the database, waiting out failures
// at the retry interval. Sets sock to the open socket and returns 0, or -1
// (sock -1) at the first failure when retries are off.
int openDatabase(int *sock) {
  const char *database = sqlDatabase ? sqlDatabase : kDefaultDatabase;
  for (;;) {
    if (*sock == -1) {
      *sock = msqlConnect(sqlServerHost);
      if (*sock == -1) {
        // The server's host, or the local socket the client tried.
        const char *local = getenv("MSQL_UNIX_PORT");
        error("Can't connect to sql server %s (%s) at %s%s", sqlServerHost ? sqlServerHost : "local", msqlErrMsg,
              sqlServerHost ? (sqlServerPort ? sqlServerPort : "the default port") : (local ? local : "/dev/msql"),
              retrying());
        if (!waitToRetry()) return -1;
        continue;
      }
    }
    if (msqlSelectDB(*sock, database) == 0) return 0;
    error("Cannot select database (%s)%s", msqlErrMsg, retrying());
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

// The number of rows a select finds, or -1 when it fails.
int countRows(const std::string &select) {
  if (msqlQuery(sqlSocket, select.c_str()) != 0) return -1;
  MsqlResult *result = msqlStoreResult();
  if (!result) return -1;
  int rows = 0;
  while (msqlFetchRow(result)) rows++;
  msqlFreeResult(result);
  return rows;
}

// The items of a parenthesised list of an INSERT from *p on: names, numbers
// or quoted texts (with their quotes and escapes), as written. false when
// the text is no such list.
bool listItems(const char **p, std::vector<std::string> *items) {
  const char *s = *p;
  while (*s == ' ') s++;
  if (*s++ != '(') return false;
  std::string item;
  for (;; s++) {
    if (*s == '\0') return false;
    if (*s == '\'') {
      item += *s++;
      while (*s && *s != '\'') {
        if (*s == '\\' && s[1]) item += *s++;
        item += *s++;
      }
      if (!*s) return false;
      item += *s;
    } else if (*s == ',' || *s == ')') {
      size_t first = item.find_first_not_of(' '), last = item.find_last_not_of(' ');
      if (first == std::string::npos) return false;
      items->push_back(item.substr(first, last - first + 1));
      item.clear();
      if (*s == ')') break;
    } else {
      item += *s;
    }
  }
  *p = s + 1;
  return true;
}

// What became of an INSERT whose answer was lost with the connection, asked
// on the new connection: 1 its row is stored (a row with every value as
// sent), -1 a different row holds its key (its id, or the first column of a
// table without one: an id collision, which sending again would hide), 0 it
// is not there. -1 also when the statement cannot be read or asked about:
// sending again could store it twice.
int lostInsert(const char *query) {
  const char *p = query + strlen("INSERT INTO ");
  std::string table;
  while (*p && *p != ' ' && *p != '(') table += *p++;
  std::vector<std::string> columns, values;
  if (table.empty() || !listItems(&p, &columns)) return -1;
  while (*p == ' ') p++;
  if (strncmp(p, "VALUES", 6) != 0) return -1;
  p += 6;
  if (!listItems(&p, &values) || columns.size() != values.size()) return -1;
  while (*p == ' ') p++;
  if (*p) return -1;  // more than one row
  size_t key = 0;
  std::string same;
  for (size_t i = 0; i < columns.size(); i++) {
    if (columns[i] == "id") key = i;
    same += (i ? " AND " : "") + columns[i] + "=" + values[i];
  }
  int found = countRows("SELECT " + columns[key] + " FROM " + table + " WHERE " + same);
  if (found != 0) return found > 0 ? 1 : -1;
  found = countRows("SELECT " + columns[key] + " FROM " + table + " WHERE " + columns[key] + "=" + values[key]);
  return found == 0 ? 0 : -1;
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
    givenUp++;
    return -1;
  }
  debug(10, "SQL: query `%s'", query);
  int result = 0;
  failedTries = 0;
  unsigned refusals = 0;
  bool lost = false;  // an answer was lost with the connection: the statement may be stored
  const bool insert = strncmp(query, "INSERT INTO ", 12) == 0;
  for (;;) {
    // An INSERT is sent again only when it is not stored; the system's
    // UPDATEs set values and its DELETEs remove rows, so sending them again
    // changes nothing.
    int state = lost && insert ? lostInsert(query) : 0;
    if (state > 0) {
      debug(1, "SQL: stored before its answer was lost: %s", query);
      break;
    }
    if (state < 0) {
      error("Not sent again: after the answer was lost, '%s' is not stored and its key is taken, or that "
            "cannot be told",
            query);
      result = -1;
      break;
    }
    if (msqlQuery(sqlSocket, query) == 0) break;
    if (connectionLost()) {
      error("Cannot process query '%s' (%s)", query, msqlErrMsg);
      sqlSocket = -1;
      // Connected again at once the first time (a server that is down is
      // waited out there), after the interval when it happens again.
      if ((lost && !waitToRetry()) || retryInterval == 0 || openDatabase(&sqlSocket) != 0) {
        result = -1;
        break;
      }
      lost = true;
      continue;
    }
    // Answered with an error: sent again a few times, then given up.
    if (retryInterval == 0 || ++refusals >= kRefusedTries) {
      error("Cannot process query '%s' (%s)%s", query, msqlErrMsg, retryInterval ? ": given up" : "");
      result = -1;
      break;
    }
    error("Cannot process query '%s' (%s), sending it again in %u s", query, msqlErrMsg, kRefusedPause);
    sleep(kRefusedPause);
  }
  memRealloc(query, 0);
  if (result == 0) debug(11, "SQL: query sent");
  else givenUp++;
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

unsigned long sqlGivenUp() { return givenUp; }

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
