// The formula functions of the forms: the balance of the user's account, the
// charges of his months, and what he owes now.
#include <cstdint>

#include "config.h"
#include "currency.h"
#include "readers.h"
#include "sqldata.h"
#include "webtally.h"

namespace {

// The date 1.1.1 stands for a date argument that was not given.
bool missing(const Date *d) { return d->day == 1 && d->month == 1 && d->year == 1; }

// The month of a date as the number YYYYMM; a date before year 0 gives 0,
// which lies before every row.
unsigned long monthNumber(const Date &d) {
  int64_t n = (int64_t{d.year} * 10000 + int64_t{d.month} * 100 + d.day) / 100;
  return n < 0 ? 0 : static_cast<unsigned long>(n);
}

bool named(const char *name) { return name && *name; }

}  // namespace

bool e_statistic(double *out, ArgSlot *args) {
  if (!named(boundUserName)) {
    error("e_statistic: No user name given");
    return false;
  }
  const Date *from = args[0].date;
  const Date *to = missing(args[1].date) ? from : args[1].date;
  // The months' charges as the services page totals them; no connection
  // gives no rows.
  MsqlResult *result = nullptr;
  if (sqlQuery("SELECT name,group,amount,sum,sname FROM statistic WHERE user='%s' AND date>=%lu00 AND "
               "date<=%lu99",
               sqlString(boundUserName, nullptr), monthNumber(*from), monthNumber(*to)) == 0)
    result = sqlStoreResult();
  StatRow charges;
  sumStat(&charges, result);
  *out = charges.sum;
  return true;
}

bool e_account(double *out, ArgSlot *args) {
  if (!named(boundAccountName)) {
    error("e_account:No account name given");
    return false;
  }
  const Date *from = missing(args[1].date) ? nullptr : args[1].date;
  *out = requestBalance(boundAccountName, args[0].date, from);
  return true;
}

bool e_total(double *out, ArgSlot *args) {
  if (!named(boundUserName) || !named(boundAccountName)) {
    error("e_total:No user or account name given");
    return false;
  }
  // The whole month of the date: from its first to the date itself.
  Date first = *args[0].date;
  first.day = 1;
  ArgSlot month[2];
  month[0].date = &first;
  month[1].date = args[0].date;
  double charges;
  if (!requestStatistic(&charges, month)) {
    error("Cannot read statistic");
    return false;
  }
  // Both are kept rounded; so is their difference, so that what is owed is
  // exactly 0 when balance and charges match.
  *out = roundTo(requestBalance(boundAccountName, args[0].date, nullptr) - charges, currencyPrecision);
  return true;
}
