// The SQL data layer: the one database connection of a process, row ids,
// service group and service name descriptions, and currency rates.
//
// Every program that reaches the database goes through these functions and
// never calls the mSQL client itself. The connection is opened from the
// settings sql-server, sql-port, sql-socket and sql-database (default
// "vovuvuza") by sqlConnect, or by the first sqlQuery, and lives until
// sqlClose or the end of the process. A server that cannot be reached is
// logged through error() and tried again every retry interval (60 seconds)
// without limit, so a program waits for a database that is down instead of
// ending; a connection lost underneath is opened again (and the database
// selected again) at once, then at the interval. A statement whose answer
// was lost with the connection is sent again only when that cannot store it
// twice: an INSERT whose row is there is done, one whose key another row
// holds is given up. A statement the server answered with an error is sent
// three times at most, a second apart, then given up (logged with the
// statement and the reason), so that a refusal for good never hangs a
// program; sqlGivenUp counts them. With the interval set to 0
// the functions return their failure value at the first failure instead;
// with a try limit (sqlTryLimit) they give up after that many tries.
//
// Statements are built from printf formats; every text value goes into a
// statement through sqlString inside single quotes, numbers are formatted
// directly. Only one query result is pending at a time.
//
// Tables (all values travel as text; dates are YYYYMMDD numbers):
//   ids      (tabname, tabid)          last row id handed out per table
//   rates    (id, date, name, rate)    rate from that day on, 3 decimals
//   sgroups  (id, lang, name, descr)   group short name per description
//   snames   (id, lang, name, descr)   service description per name
//   statistic, accounts                written and read by the programs
// Every table with an id column takes its ids from nextId under lockIds.
#pragma once

#include <string>

#include "date.h"
#include "misc.h"
#include "msql.h"

// ---- Connection and queries (module sql) ----

// Opens the connection unless one is open: connect, select the database and,
// when debug-level is above 10, a test query on `ids'. 0 connected (or already
// connected); -1 failed with retries off; 1 the test query found no result
// (the connection stays open).
int sqlConnect();
// Closes the connection: 0, or -1 when there is none.
int sqlClose();
// Formats a statement and sends it whole, connecting first when needed;
// failures are retried as described above. A statement longer than a request
// can carry (kMsqlQueryMax) is not sent and not retried: -1 after a warning.
// 0 accepted (or found stored after a lost answer); -1 not connected and
// connecting failed, refused with retries off, or given up.
int sqlQuery(const char *format, ...) KX_PRINTF(1, 2);
// How many statements sqlQuery has given up (returned -1 for) in this
// process: a caller that sent statements for one piece of work compares it
// before and after to tell whether all of them went through.
unsigned long sqlGivenUp();
// The result of the last query, owned by the caller until sqlFreeResult; null
// when not connected or when the last query left nothing pending.
MsqlResult *sqlStoreResult();
// The next row of result (valid until sqlFreeResult), or null after the last.
// A null column pointer is SQL NULL.
MsqlRow sqlFetchRow(MsqlResult *result);
// The same for a reader of columns 0 to columns - 1: a row narrower than
// that is a failed read (logged), which ends the result like its last row.
// Every reader of rows fetches them so.
MsqlRow sqlFetchRow(MsqlResult *result, int columns);
// Frees a result and everything in it; 0.
int sqlFreeResult(MsqlResult *result);
// s with a backslash put before every single quote and every backslash; null s
// stands for "<null>". With buf (at least 2 * strlen(s) + 1 bytes) the text is
// written there; without, into a library-owned buffer that stays valid until
// the next call without a buffer. Returns the quoted text.
char *sqlString(const char *s, char *buf);
// Sets the retry interval in seconds (0: no retries; 1 is taken as 60) and
// returns the value set.
unsigned sqlRetry(unsigned seconds);
// Bounds the tries of one operation (a connect, or a statement with the
// reconnects it needs) to tries; 0, as at start, means no bound. When the
// tries are used up, giveUp (when not null) is called; should it return, the
// operation fails as with retries off. Each connect, read and write of a try
// is bounded to ioSeconds (0: no bound), so that a server that accepts but
// never answers uses the try up too. For a program that must not wait long.
void sqlTryLimit(unsigned tries, unsigned ioSeconds, void (*giveUp)());
// 0 when sql-type is "msql"; otherwise logs that only mSQL is supported and
// returns 1.
int sqlCheckType();

// ---- Row ids (module sqlids) ----
//
// A writer takes lockIds(t), then calls nextId(t) once per row it inserts (or
// nextIds(t, n) once for n rows) and unlockIds(t) at the end. The counter of t
// is read from `ids' once per lock period (or after another table's counter
// was used in between) and every new id is written back before it is
// returned, so `ids' is correct whenever the lock is released. Ids of a table
// count from 1.

// Waits (one second between tries, without limit) for the lock "id-" + table
// in the lock directory; 1 once held.
int lockIds(const char *table);
// The next id of table (at most 15 characters); null forgets the cached
// counter and returns 0. 0 also when the counter could not be written (the
// statement given up): no id is handed out then. Safe against other
// processes only under lockIds.
unsigned long nextId(const char *table);
// The first of count (at least 1) new consecutive ids of table, written back
// with one update; 0 as for nextId. Safe against other processes only under
// lockIds.
unsigned long nextIds(const char *table, unsigned long count);
// Removes the lock of table and forgets its counter when that is the one
// cached (the counter of another table, whose lock is still held, is kept).
void unlockIds(const char *table);

// ---- Service descriptions (module servgroup) ----
//
// A language null or "" stands for the setting `language'. A catalogue text
// under "sgrp_" + group name or "serv_" + service name wins over the tables.
// Each text is asked of the tables once per process and then remembered,
// with what the process itself inserts or updates; changes made meanwhile by
// other processes are not seen.

// The short name ("misc" or "s" and eight digits) of a group description,
// taken from `sgroups' or made and inserted on first use. Library-owned, valid
// until the next call.
const char *sgroupName(const char *descr, const char *lang);
// The description of a group short name: catalogue text, text from `sgroups'
// (library-owned, valid until the next call) or the "sgrp_misc" message.
const char *sgroupDescr(const char *name, const char *lang);
// The description of a service. With descr given, `snames' is brought in step
// with it (row inserted or updated) and descr is returned. With descr null:
// the stored text (library-owned, valid until the next call) or the service
// name itself. A catalogue text wins in both cases and leaves the table alone.
const char *snameDescr(const char *name, const char *descr, const char *lang);

// ---- Currency rates (module rates) ----
//
// A rate is units of base currency for one unit of a currency, valid from
// its day on; a value below 0.00001 counts as no rate. A missing or stale
// rate is logged every time and mailed to the administrator once per process.

// The rate of currency for the newest day strictly before date, or 0 when
// there is none. A rate of the month asked for is cached for the process; an
// older one is returned but reported as out of date. Currency null empties
// the cache and returns 0.
double getRate(const char *currency, const Date &date);
// The text a rate is stored as: as many significant digits as a double
// carries (15), so a rate is kept as given (0.0058 stays 0.0058).
std::string rateText(double rate);
// Stores rate (as rateText writes it) for currency from date on, under the id
// lock of `rates', and updates cached entries for that currency and day.
// false when the row could not be stored (its statement given up, logged).
bool storeRate(const char *currency, double rate, const Date &date);
