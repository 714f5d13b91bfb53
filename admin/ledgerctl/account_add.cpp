// One row of table `accounts' from an account entry.

#include <algorithm>

#include "config.h"
#include "currency.h"
#include "ledgerctl.h"
#include "memory.h"
#include "sqldata.h"
#include "userbase.h"

int insertAccount(const char *account, AccountEntry *entry, int flag) {
  if (entry->year <= 1899) entry->year += 1900;
  // The user column holds an account name of at most 15 characters; the
  // quoted form needs room for a backslash before each of them.
  char name[kUserNameMax + 1];
  strnzcpy(name, account, sizeof name);
  char quotedName[2 * sizeof name + 1];
  sqlString(name, quotedName);
  const double sum = roundTo(entry->sum, currencyPrecision);
  // As many decimals as the unit has, so a finer unit is stored as booked.
  const int decimals = std::max(kSumDecimalsMin, unitDecimals(currencyPrecision));
  const unsigned long id = nextId("accounts");
  if (id == 0) return -1;
  return sqlQuery("INSERT INTO accounts (id,user,date,sum,cmt,flag) VALUES (%lu,'%s',%d%02d%02d,%.*f,'%s',%d) ",
                  id, quotedName, static_cast<int>(entry->year), static_cast<int>(entry->month),
                  static_cast<int>(entry->day), decimals, sum, sqlString(entry->comment, nullptr), flag) == 0
             ? 0
             : -1;
}
