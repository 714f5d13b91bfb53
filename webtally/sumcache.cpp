// The sums behind `account', `statistic' and `total', read once per request.
// webtally writes nothing to the database, so within one request a balance
// or a charge sum read once stands for every later read with the same
// arguments: a page that asks total() four times reads two sums, not eight.
#include <cstdio>
#include <map>
#include <string>

#include "readers.h"
#include "webtally.h"

namespace {

std::map<std::string, double> balances;  // account, to, from
std::map<std::string, double> charges;   // user, from, to

// A date as a key piece; a missing date is "-".
std::string dateKey(const Date *d) {
  if (!d) return "-";
  char text[40];
  snprintf(text, sizeof text, "%d.%d.%d", d->day, d->month, d->year);
  return text;
}

}  // namespace

double requestBalance(const char *account, const Date *to, const Date *from) {
  std::string key = std::string(account) + '\0' + dateKey(to ? to : &today) + '\0' + dateKey(from);
  auto at = balances.find(key);
  if (at == balances.end()) at = balances.emplace(key, accountBalance(account, to, from)).first;
  return at->second;
}

bool requestStatistic(double *out, ArgSlot *args) {
  if (!boundUserName) return e_statistic(out, args);
  std::string key = std::string(boundUserName) + '\0' + dateKey(args[0].date) + '\0' + dateKey(args[1].date);
  auto at = charges.find(key);
  if (at == charges.end()) {
    // A failed read (no user) is not remembered.
    if (!e_statistic(out, args)) return false;
    at = charges.emplace(key, *out).first;
  }
  *out = at->second;
  return true;
}
