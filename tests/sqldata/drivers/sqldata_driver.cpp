// Test driver: runs the SQL data layer in a process of its own, the way the
// programs do (initConfig first), following a list of commands on its command
// line and printing one line per result.
//
//   retry N                 sqlRetry(N)
//   pause N                 sleeps N seconds
//   connect | close         sqlConnect / sqlClose, prints the result
//   query STMT              sqlQuery("%s", STMT), prints the result
//   select STMT             sqlQuery and prints every row ("row a|b", NULL as @null)
//   quote TEXT              prints sqlString(TEXT)
//   lock T | unlock T       lockIds / unlockIds
//   next T                  prints nextId(T)
//   burst T K NESTED        K times: lockIds(T), nextId(T) and an insert into T;
//                           with NESTED 1 also a new service description (its own
//                           id lock on snames) and a second id of T; unlockIds(T)
//   rate CUR YYYYMMDD       prints getRate
//   store CUR RATE YYYYMMDD storeRate
//   forget                  getRate(NULL): empties the rate cache
//   sgname DESCR LANG       prints sgroupName
//   sgdescr NAME LANG       prints sgroupDescr
//   sndescr NAME DESCR LANG prints snameDescr (DESCR @null for none)
// LANG "" is the configured language.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "config.h"
#include "sqldata.h"

namespace {

Date dateOf(const char *text) {
  unsigned long n = strtoul(text, nullptr, 10);
  Date d;
  d.year = static_cast<int>(n / 10000);
  d.month = static_cast<int>(n / 100 % 100);
  d.day = static_cast<int>(n % 100);
  return d;
}

const char *orNull(const char *text) { return strcmp(text, "@null") == 0 ? nullptr : text; }

void printRows() {
  MsqlResult *result = sqlStoreResult();
  if (!result) {
    printf("noresult\n");
    return;
  }
  while (MsqlRow row = sqlFetchRow(result)) {
    std::string line;
    for (int i = 0; i < result->numFields; ++i) {
      if (i) line += '|';
      line += row[i] ? row[i] : "@null";
    }
    printf("row %s\n", line.c_str());
  }
  sqlFreeResult(result);
}

// One insert into table with id, as the writers of the system make them.
void insertRow(const char *table, unsigned long id) {
  if (strcmp(table, "statistic") == 0)
    sqlQuery("INSERT INTO statistic (id,user,date,name,group,lang,amount,sname,sum) VALUES "
             "(%lu,'%s',%04d%02d00,'%s','%s','%s',%f,'%s',%f)",
             id, "u", 1998, 4, "svc", "misc", "en", 1.0, "-", 1.0);
  else
    sqlQuery("INSERT INTO %s (id) VALUES (%lu)", table, id);
}

void burst(const char *table, int count, bool nested) {
  for (int i = 0; i < count; ++i) {
    lockIds(table);
    unsigned long id = nextId(table);
    insertRow(table, id);
    printf("id %s %lu\n", table, id);
    if (nested) {
      std::string name = "n" + std::to_string(getpid()) + "_" + std::to_string(i);
      snameDescr(name.c_str(), "descr", "en");
      id = nextId(table);
      insertRow(table, id);
      printf("id %s %lu\n", table, id);
    }
    unlockIds(table);
  }
}

}  // namespace

int main(int argc, char **argv) {
  initConfig();
  setvbuf(stdout, nullptr, _IOLBF, 0);
  for (int i = 1; i < argc; ++i) {
    std::string cmd = argv[i];
    auto arg = [&](int k) -> const char * { return i + k < argc ? argv[i + k] : ""; };
    if (cmd == "retry") {
      sqlRetry(static_cast<unsigned>(strtoul(arg(1), nullptr, 10)));
      i += 1;
    } else if (cmd == "pause") {
      sleep(static_cast<unsigned>(strtoul(arg(1), nullptr, 10)));
      i += 1;
    } else if (cmd == "connect") {
      printf("connect %d\n", sqlConnect());
    } else if (cmd == "close") {
      printf("close %d\n", sqlClose());
    } else if (cmd == "query") {
      printf("query %d\n", sqlQuery("%s", arg(1)));
      i += 1;
    } else if (cmd == "select") {
      printf("query %d\n", sqlQuery("%s", arg(1)));
      printRows();
      i += 1;
    } else if (cmd == "quote") {
      printf("quote %s\n", sqlString(arg(1), nullptr));
      i += 1;
    } else if (cmd == "lock") {
      printf("lock %d\n", lockIds(arg(1)));
      i += 1;
    } else if (cmd == "unlock") {
      unlockIds(arg(1));
      i += 1;
    } else if (cmd == "next") {
      printf("next %s %lu\n", arg(1), nextId(arg(1)));
      i += 1;
    } else if (cmd == "burst") {
      burst(arg(1), static_cast<int>(strtol(arg(2), nullptr, 10)), strcmp(arg(3), "1") == 0);
      i += 3;
    } else if (cmd == "rate") {
      printf("rate %s %.6f\n", arg(1), getRate(arg(1), dateOf(arg(2))));
      i += 2;
    } else if (cmd == "store") {
      storeRate(arg(1), strtod(arg(2), nullptr), dateOf(arg(3)));
      i += 3;
    } else if (cmd == "forget") {
      getRate(nullptr, dateOf("0"));
    } else if (cmd == "sgname") {
      printf("sgname %s\n", sgroupName(arg(1), arg(2)));
      i += 2;
    } else if (cmd == "sgdescr") {
      printf("sgdescr %s\n", sgroupDescr(arg(1), arg(2)));
      i += 2;
    } else if (cmd == "sndescr") {
      printf("sndescr %s\n", snameDescr(arg(1), orNull(arg(2)), arg(3)));
      i += 3;
    } else {
      fprintf(stderr, "unknown command %s\n", cmd.c_str());
      return 2;
    }
  }
  return 0;
}
