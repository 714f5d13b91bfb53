// Priced usage rows of table `statistic', read a month at a time; webtally's
// reports show them and ledgerctl books their sum.

#include <cmath>
#include <cstdlib>

#include "config.h"
#include "currency.h"
#include "memory.h"
#include "misc.h"
#include "readers.h"
#include "sqldata.h"

MsqlResult *selectStat(const char *user, unsigned year, unsigned month) {
  // A failed query must not hand out a result left over from another one.
  if (sqlQuery("SELECT name,group,amount,sum,sname FROM statistic WHERE user='%s' AND "
               "date>=%04u%02u00 AND date<=%04u%02u99 ORDER BY group",
               sqlString(user, nullptr), year, month, year, month) != 0)
    return nullptr;
  return sqlStoreResult();
}

MsqlResult *selectStatMonths(const char *user, unsigned first, unsigned last) {
  if (sqlQuery("SELECT name,group,amount,sum,sname,date FROM statistic WHERE user='%s' AND "
               "date>=%06u00 AND date<=%06u99 ORDER BY group",
               sqlString(user, nullptr), first, last) != 0)
    return nullptr;
  return sqlStoreResult();
}

MsqlResult *selectStatCurrent(const char *user) {
  return selectStat(user, static_cast<unsigned>(today.year), static_cast<unsigned>(today.month));
}

int nextStat(StatRow *row, MsqlResult *result) {
  if (!row) return kStatNoRecord;
  if (!result) return kStatEnd;
  while (MsqlRow column = sqlFetchRow(result, 5)) {
    // A row without name, group or amount is passed over: ending the read
    // there would leave the rows after it out of a month's charge.
    if (!column[0] || !column[1] || !column[2]) continue;
    strnzcpy(row->name, column[0], sizeof row->name);
    strnzcpy(row->group, column[1], sizeof row->group);
    row->amount = strtod(column[2], nullptr);
    row->sum = column[3] ? strtod(column[3], nullptr) : 0;
    if (!column[3]) error("No sum in statistic row of `%s', counted as 0", row->name);
    strnzcpy(row->sname, column[4] ? column[4] : "-", sizeof row->sname);
    row->date = result->numFields > 5 && column[5] ? strtol(column[5], nullptr, 10) : 0;
    return kStatRead;
  }
  sqlFreeResult(result);
  return kStatEnd;
}

double statCharge(const StatRow &row, double factor) {
  if (std::fabs(row.amount) < kStatLeastAmount) return 0;
  return roundTo(factor * row.sum, currencyPrecision);
}

int sumStat(StatRow *row, MsqlResult *result) {
  if (!row) return kStatNoRecord;
  *row = StatRow{};
  StatRow each;
  while (nextStat(&each, result) == kStatRead)
    row->sum = roundTo(row->sum + statCharge(each), currencyPrecision);
  return kStatRead;
}
