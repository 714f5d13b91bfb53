// Account entries of table `accounts': selection by account and date range,
// balances with a cache for one account, and the last entries of an account
// with their running balance.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "config.h"
#include "currency.h"
#include "memory.h"
#include "readers.h"
#include "sqldata.h"

namespace {

constexpr bool kOrdered = true;
constexpr bool kUnordered = false;

// Account names are at most 15 characters. A longer one is not cached, so it
// can never be taken for another account with the same first 15.
constexpr size_t kAccountNameSize = 16;

// The balance of one account over all its entries up to the report date; the
// empty name (at start) stands for a balance of 0.
char cachedAccount[kAccountNameSize];
double cachedBalance;

// First size of the ring of lastAccounts; it doubles as rows come in.
constexpr size_t kRingStart = 16;

// A date as the YYYYMMDD number of the date column; a date before year 0
// gives 0, which lies before every entry.
unsigned long dateNumber(const Date &d) {
  int64_t n = int64_t{d.year} * 10000 + int64_t{d.month} * 100 + d.day;
  return n < 0 ? 0 : static_cast<unsigned long>(n);
}

void appendDate(std::string *statement, const char *condition, const Date &d) {
  char text[40];
  snprintf(text, sizeof text, " AND date%s%08lu", condition, dateNumber(d));
  *statement += text;
}

// A balance is kept rounded like the entries it adds up, so that an account
// whose entries cancel out is 0, not a binary residue shown as a debt.
double keptBalance(double sum) { return roundTo(sum, currencyPrecision); }

}  // namespace

int parseAccountRow(AccountEntry *entry, char **row) {
  unsigned long date = strtoul(row[0], nullptr, 10);
  entry->day = static_cast<uint32_t>(date % 100);
  entry->month = static_cast<uint32_t>(date / 100 % 100);
  entry->year = static_cast<uint32_t>(date / 10000);
  entry->sum = roundTo(strtod(row[1], nullptr), currencyPrecision);
  strnzcpy(entry->comment, row[2] ? row[2] : "", sizeof entry->comment);
  return 1;
}

bool nextAccount(MsqlResult *result, AccountEntry *entry) {
  if (!result) return false;
  while (MsqlRow row = sqlFetchRow(result, 3)) {
    // A row without a date or a sum is no entry; the rows after it still
    // count, or a balance would come out wrong.
    if (!row[0] || !row[1]) continue;
    parseAccountRow(entry, row);
    return true;
  }
  return false;
}

MsqlResult *selectAccounts(const char *account, const Date *to, const Date *from, bool ordered) {
  std::string statement = "SELECT date,sum,cmt FROM accounts WHERE user='";
  statement += sqlString(account, nullptr);
  statement += "'";
  if (from) appendDate(&statement, ">=", *from);
  appendDate(&statement, "<=", to ? *to : today);
  if (ordered) statement += " ORDER BY date,cmt";
  // A failed query must not hand out a result left over from another one.
  if (sqlQuery("%s", statement.c_str()) != 0) return nullptr;
  return sqlStoreResult();
}

double accountBalance(const char *account, const Date *to, const Date *from) {
  if (!account) {
    cachedAccount[0] = '\0';
    cachedBalance = 0;
    return 0;
  }
  bool whole = !to && !from;
  if (whole && strcmp(account, cachedAccount) == 0) return cachedBalance;
  MsqlResult *result = selectAccounts(account, to, from, kUnordered);
  if (!result) return 0;
  double balance = 0;
  AccountEntry entry;
  while (nextAccount(result, &entry)) balance = keptBalance(balance + entry.sum);
  sqlFreeResult(result);
  if (whole && strlen(account) < sizeof cachedAccount) {
    strnzcpy(cachedAccount, account, sizeof cachedAccount);
    cachedBalance = balance;
  }
  return balance;
}

AccountEntry *lastAccounts(const char *account, unsigned count, AccountEntry *out, const Date *to,
                           const Date *from) {
  size_t want = count == 0 ? 1 : count;
  double balance = 0;
  if (from) {
    Date before = *from;
    const Date oneDay = {1, 0, 0};
    balance = accountBalance(account, subDate(&before, &oneDay), nullptr);
  }
  // The last `want' entries are kept in a ring that grows with the rows
  // read, never beyond them: the count may come from a form.
  AccountEntry *ring = nullptr;
  size_t room = 0;
  size_t read = 0;
  MsqlResult *result = selectAccounts(account, to, from, kOrdered);
  AccountEntry entry = {};
  while (nextAccount(result, &entry)) {
    balance = keptBalance(balance + entry.sum);
    entry.balance = balance;
    size_t at = read % want;
    if (at == room) {
      room = std::min(want, std::max(kRingStart, 2 * room));
      ring = static_cast<AccountEntry *>(memRealloc(ring, room * sizeof *ring));
    }
    ring[at] = entry;
    ++read;
  }
  if (result) sqlFreeResult(result);

  // Fewer entries than asked for: a zeroed entry marked as the end follows them.
  size_t kept = std::min(read, want);
  if (!out)
    out = static_cast<AccountEntry *>(
        memRealloc(nullptr, (kept < want ? kept + 1 : want) * sizeof *out));
  size_t oldest = read < want ? 0 : read % want;
  for (size_t j = 0; j < kept; ++j) out[j] = ring[(oldest + j) % want];
  if (kept < want) {
    memset(&out[kept], 0, sizeof *out);
    out[kept].end = true;
  }
  memRealloc(ring, 0);
  return out;
}

AccountEntry *lastAccountsYMD(const char *account, unsigned count, AccountEntry *out, unsigned year,
                              unsigned month, unsigned day) {
  if (year == 0) return lastAccounts(account, count, out, nullptr, nullptr);
  const Date from = {static_cast<int32_t>(day), static_cast<int32_t>(month),
                     static_cast<int32_t>(year)};
  return lastAccounts(account, count, out, nullptr, &from);
}
