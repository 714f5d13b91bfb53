#include <glob.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core.h"
#include "formula.h"
#include "sqldata.h"
#include "tallymill.h"
#include "userbase.h"

unsigned usersPriced;
unsigned usersIncomplete;
unsigned usersNotRead;

namespace {

// Set when the month of the user being priced is incomplete.
bool incomplete;

// The counter table of the current user: one value symbol per counter name
// in order of first appearance, closed by the wildcard "*" entry.
Symbol *counters;
int counterCount;

constexpr size_t kLineMax = 2048;
// The name of the entry that ends the counter table and matches every name.
const char kWildcard[] = "*";

void addCounter(const char *name, double value) {
  int i = 0;
  while (i < counterCount && strcmp(counters[i].name, name) != 0) ++i;
  if (i == counterCount) {
    if (counterCount % 20 == 0)
      counters = static_cast<Symbol *>(memRealloc(counters, (counterCount + 20) * sizeof(Symbol)));
    counters[i] = {strDup(name), SYM_VALUE, value, nullptr, nullptr, nullptr};
    ++counterCount;
  } else {
    counters[i].value += value;
  }
  debug(5, "statistic[%d]={name='%s', value='%f'}\n", i, counters[i].name, counters[i].value);
}

void clearCounters() {
  for (int i = 0; i < counterCount; ++i)
    if (counters[i].name != kWildcard) memRealloc(const_cast<char *>(counters[i].name), 0);
  memRealloc(counters, 0);
  counters = nullptr;
  counterCount = 0;
}

// True when the service's price is in a currency other than the base one.
bool isForeign(const Service &s, const UserConf *user) {
  if (!s.currency[0] || strcmp(s.currency, currencyName) == 0) return false;
  const char *lang = user->lang[0] ? user->lang : language;
  return strcmp(s.currency, getMessage(currencyName, lang)) != 0;
}

// Amounts that are not finite would make a row the database refuses.
bool finite2(double a, double b) { return std::isfinite(a) && std::isfinite(b); }

// Adds the counters of an open counter file and closes it; one that cannot
// be read to its end leaves the month incomplete.
void readCounterStream(FILE *f, const char *name) {
  readStatFile(f, name);
  if (ferror(f)) {
    error("Can't read `%s' to collect statistic!", name);
    markIncomplete();
  }
  fclose(f);
}

// The user's counters: from the -i input when given, else from every file of
// his directory that matches *.st.
void readCounters(const char *user) {
  if (inname || infile) {
    const std::string label = inname ? userPath(user, inname) : inlabel;
    readCounterStream(openFile(user, inname, infile, "r"), label.c_str());
    return;
  }
  std::string pattern = userPath(user, "*.st");
  glob_t g;
  memset(&g, 0, sizeof g);
  if (glob(pattern.c_str(), GLOB_MARK | GLOB_NOSORT, nullptr, &g) != 0 || g.gl_pathc == 0)
    debug(1, "No statistic for `%s'", user);
  for (size_t i = 0; i < g.gl_pathc; ++i) {
    const char *path = g.gl_pathv[i];
    size_t n = strlen(path);
    if (n > 0 && path[n - 1] == '/') {
      error("Hm.. directory matched *.st pattern - `%s'", path);
      continue;
    }
    debug(5, "Accumulating statistic from `%s'", path);
    FILE *f = fopen(path, "r");
    if (!f) {
      error("Can't open `%s' to collect statistic!", path);
      markIncomplete();
      continue;
    }
    readCounterStream(f, path);
  }
  globfree(&g);
}

}  // namespace

void markIncomplete() { incomplete = true; }

void readStatFile(FILE *stream, const char *name) {
  char line[kLineMax];
  char **words = nullptr;
  int count = 0;
  unsigned number = 0;  // of the logical line
  while (readstring(line, sizeof line, stream)) {
    ++number;
    count = 0;
    sepwords(&words, &count, line, 1);
    if (count == 0 || words[0][0] == '#') continue;
    if (count == 1) {
      // "dialup_min=1234.5": whatever it meant, no counter can be read from
      // it, and the month would be priced short without a word.
      error("Bad counter line %u in %s: `%s' is not a name and a value", number, name, words[0]);
      markIncomplete();
      continue;
    }
    if (strcmp(words[0], kWildcard) == 0) {
      // In the counter table "*" stands for every counter a formula names.
      error("Counter named `%s' ignored", kWildcard);
      continue;
    }
    // A value is read as far as it is a number ("234,5" counts 234), with a
    // warning.
    const char *end;
    const double value = decimalNumber(words[1], &end);
    if (*end) error("Bad counter value `%s' for `%s' in %s, %g counted", words[1], words[0], name, value);
    addCounter(words[0], value);
  }
  memRealloc(words, 0);
}

void finishStatTable() {
  if (counterCount % 20 == 0)
    counters = static_cast<Symbol *>(memRealloc(counters, (counterCount + 1) * sizeof(Symbol)));
  counters[counterCount++] = {kWildcard, SYM_VALUE, 0.0, nullptr, nullptr, nullptr};
}

namespace {

// A priced row waiting for its INSERT.
struct PricedRow {
  const Service *service;
  double amount;
  double sum;
};

// Replaces the user's rows of the month with the priced ones. The id lock of
// `statistic' is held from before the DELETE to after the last INSERT, so a
// reader that takes it (ledgerctl) sees the month whole, before or after; the
// rows take their ids with one update of the counter.
void replaceMonth(const UserConf *user, const char *lang, int year, int month,
                  const std::vector<PricedRow> &rows) {
  std::string quser(2 * strlen(user->name) + 1, '\0');
  sqlString(user->name, quser.data());
  // The language code comes from user.cf unchecked; quoting keeps a stray
  // quote from breaking the statement (ordinary codes are unchanged).
  std::string qlang(2 * strlen(lang) + 1, '\0');
  sqlString(lang, qlang.data());
  lockIds("statistic");
  // A step given up (logged by the data layer) ends the replacement: the
  // month is incomplete then, and the next run replaces it whole.
  if (sqlQuery("DELETE FROM statistic WHERE user='%s' AND date=%04d%02d00", quser.c_str(), year, month) != 0) {
    unlockIds("statistic");
    return;
  }
  unsigned long id = rows.empty() ? 0 : nextIds("statistic", rows.size());
  if (!rows.empty() && id == 0) {
    unlockIds("statistic");
    return;
  }
  for (const PricedRow &row : rows) {
    const Service &s = *row.service;
    std::string qname(2 * strlen(s.name) + 1, '\0');
    std::string qgroup(2 * strlen(s.group) + 1, '\0');
    std::string qsname(2 * strlen(s.sname) + 1, '\0');
    if (sqlQuery("INSERT INTO statistic (id,user,date,name,group,lang,amount,sname,sum) VALUES "
                 "(%lu,'%s',%04d%02d00,'%s','%s','%s',%f,'%s',%f)",
                 id++, quser.c_str(), year, month, sqlString(s.name, qname.data()), sqlString(s.group, qgroup.data()),
                 qlang.c_str(), row.amount, sqlString(s.sname, qsname.data()), row.sum) != 0)
      break;
  }
  unlockIds("statistic");
}

}  // namespace

void storeStatistic(const UserConf *user, FILE *out, int year, int month) {
  const unsigned long givenUp = sqlGivenUp();
  const char *lang = user->lang[0] ? user->lang : language;
  std::vector<PricedRow> rows;
  setExprTables(counters, nullptr);
  for (unsigned i = 0; i < serviceCount; ++i) {
    const Service &s = services[i];
    double amount;
    if (evaluate(&amount, s.formula) != 0) {
      error("Bad formula `%s' for `%s.%s'", s.formula, s.group, s.name);
      markIncomplete();
      continue;
    }
    if (std::fabs(amount) < 1e-6) continue;
    debug(4, "Formula: %s -> %g\n", s.formula, amount);
    double sum = amount * s.price;
    if (isForeign(s, user)) {
      Date date = {31, month, year};
      double rate = getRate(s.currency, date);
      // No rate prices the service at 0 (getRate has said so); a stale one
      // is used as it is.
      if (rate == 0) markIncomplete();
      sum *= rate;
      debug(5, "Rate for %s set to %g, sum=%g\n", s.currency, rate, sum);
    }
    if (!finite2(amount, sum)) {
      // Such a row would be refused by the database and retried for ever.
      error("Bad formula `%s' for `%s.%s'", s.formula, s.group, s.name);
      markIncomplete();
      continue;
    }
    snameDescr(s.name, s.descr, lang);
    if (out) {
      fprintf(out, "%04d%02d00 %s %s %s %f %s %f %s\n", year, month, user->name, s.name, s.group, amount,
              s.sname, sum, s.descr);
      continue;
    }
    rows.push_back({&s, amount, sum});
  }
  if (!out) replaceMonth(user, lang, year, month, rows);
  if (sqlGivenUp() != givenUp) {
    error("Statements for `%s' were given up: %02d/%04d not stored whole", user->name, month, year);
    markIncomplete();
  }
  clearCounters();
  setExprTables(nullptr);
}

bool convertUser(const char *user) {
  priceUser(user);
  return true;
}

bool priceUser(const char *user) {
  incomplete = false;
  UserConf conf;
  userInit(&conf);
  if (!getUserConf(&conf, user)) {
    userClear(&conf);
    ++usersNotRead;
    return false;
  }
  ++usersPriced;
  debug(1, "Username: %s\n", user);
  readPriceLists(&conf);
  debug(1, "Price lists read..\n");
  readCounters(user);
  finishStatTable();
  FILE *out = openFile(user, outname, outfile, "w");
  storeStatistic(&conf, out, runYear, runMonth);
  // Text lines that did not all get out (a full disk, a closed pipe) leave
  // the user's month incomplete like any other loss.
  bool written = true;
  if (out && out != outfile) written = fclose(out) == 0;
  else if (out) written = fflush(out) == 0 && !ferror(out);
  if (!written) {
    error("Can't write the statistic lines of `%s'", user);
    markIncomplete();
  }
  userClear(&conf);
  if (incomplete) ++usersIncomplete;
  return true;
}
