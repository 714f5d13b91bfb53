// Readers of the money tables: account entries of table `accounts' (module
// account) and priced usage rows of table `statistic' (module readstat).
// webtally's reports and ledgerctl both link them.
//
// The readers go through the SQL data layer, so a database that is down is
// waited for there. A null result handle (no connection) reads as a result
// without rows. The report date is the process-wide `today', already moved by
// the caller (webtally's `date' parameter, ledgerctl's -T).
#pragma once

#include <cstddef>
#include <cstdint>

#include "date.h"
#include "msql.h"

// ---- Account entries (module account) ----
//
// `accounts' columns read here: date (YYYYMMDD), sum (positive an income,
// negative a charge), cmt (comment). Rows without a date or a sum are skipped.

// Comment bytes of an entry: at most 299 characters and the terminator.
constexpr size_t kAccountCommentSize = 300;

struct AccountEntry {
  uint32_t day;
  uint32_t month;
  uint32_t year;
  double sum;      // rounded to currency-precision when read
  double balance;  // running balance after the entry; set by lastAccounts only
  char comment[kAccountCommentSize];  // empty for a NULL cmt
  // Set only in the zeroed entry after the last one of a shorter list from
  // lastAccounts: day 0 cannot end a list, an entry may be dated day 00.
  bool end;
};

// Fills day, month, year, sum and comment of entry from a row of the columns
// date, sum, cmt (date and sum not NULL); balance is left alone. Returns 1.
int parseAccountRow(AccountEntry *entry, char **row);
// Reads the next row of result that has a date and a sum into entry; false
// when there is none left. The result stays the caller's to free.
bool nextAccount(MsqlResult *result, AccountEntry *entry);
// Selects date,sum,cmt of the account's entries with a date from `from' (when
// given) to `to' (null: the report date), both inclusive; ordered by date and
// then comment when asked. The caller frees the result; null when the statement
// failed (no connection, or refused).
MsqlResult *selectAccounts(const char *account, const Date *to, const Date *from, bool ordered);
// The sum of the account's entries from `from' (null: the first) to `to'
// (null: the report date), kept rounded to currency-precision as it is added
// up (so entries that cancel out give exactly 0). The balance of the whole
// account up to the report date is cached for one account name at a time and
// served again without a query; a null account empties the cache and
// returns 0.
double accountBalance(const char *account, const Date *to, const Date *from);
// The last `count' (0 counts as 1) entries of the account in the range, oldest
// first (a day is ordered by comment), each with the running balance of the
// account after it, kept rounded as accountBalance keeps it: with `from',
// entries before `from' count in it.
//
// With `out' (room for `count' entries) the list is written there and `out'
// returned. Without, a new array is returned, which the caller frees with
// memRealloc(list, 0); it holds as many entries as were read (at most
// `count') and one more to end the list, so a huge count costs nothing.
// Fewer than `count' entries: the one after the last has `end' set.
AccountEntry *lastAccounts(const char *account, unsigned count, AccountEntry *out, const Date *to,
                           const Date *from);
// lastAccounts up to the report date, from day.month.year (year 0: from the
// first entry).
AccountEntry *lastAccountsYMD(const char *account, unsigned count, AccountEntry *out, unsigned year,
                              unsigned month, unsigned day);

// ---- Statistic rows (module readstat) ----
//
// A month of `statistic' is every date from YYYYMM00 to YYYYMM99. A result
// handle from selectStat belongs to the reader once it is handed to nextStat
// or sumStat: nextStat frees it when it returns kStatEnd, sumStat when it
// returns kStatRead.

// Texts of a row: at most 16 characters and the terminator.
constexpr size_t kStatTextSize = 17;

struct StatRow {
  char name[kStatTextSize];   // service name
  char group[kStatTextSize];  // service group short name
  double amount;              // counted quantity
  double sum;                 // charge in base currency; 0 (with a warning) when NULL
  char sname[kStatTextSize];  // unit name (a message key); "-" when NULL
  long date = 0;              // YYYYMMDD, read from selectStatMonths only
};

// Results of nextStat and sumStat.
constexpr int kStatRead = 0;      // a row was read (sumStat: the sum is in row)
constexpr int kStatNoRecord = 1;  // the record was null
constexpr int kStatEnd = 2;       // no rows left; the result has been freed

// Selects the user's rows of the month, ordered by group. Null when the statement
// failed (no connection, or refused).
MsqlResult *selectStat(const char *user, unsigned year, unsigned month);
// The user's rows of the months from first to last (YYYYMM), ordered by
// group, with their dates: one statement for a page of months. Within a
// month the rows come in the order selectStat gives them.
MsqlResult *selectStatMonths(const char *user, unsigned first, unsigned last);
// selectStat for the month of the report date.
MsqlResult *selectStatCurrent(const char *user);
// Reads the next row into row, texts cut to 16 characters. Rows without a
// name, group or amount are skipped. kStatNoRecord leaves the result alone.
int nextStat(StatRow *row, MsqlResult *result);
// A row whose amount is below this in magnitude is no charge: the services
// page leaves it out.
constexpr double kStatLeastAmount = 1e-6;
// What a row adds to its month's charges, its sum times factor (1 + taxes for
// prices with VAT, else 1) rounded to currency-precision as the services page
// shows it; 0 for a row that the page leaves out.
double statCharge(const StatRow &row, double factor = 1);
// Empties row and puts into its sum the month's charges of all remaining rows
// of result: the sum of their statCharge, so that it equals the total of the
// services page.
int sumStat(StatRow *row, MsqlResult *result);
