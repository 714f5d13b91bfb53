// The row readers against a stand-in database server of the test's own: the
// statements sent, balances and their cache, the last entries with running
// balances, NULL columns, hostile counts, empty months and no connection.

#include "readers.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "config.h"
#include "dbserver.h"
#include "memory.h"
#include "process.h"
#include "sqldata.h"

namespace {

// The readers run in the test with the settings that initConfig would fill
// (report date 10.5.1998, money in hundredths, no retries), put back at the
// end with the balance cache emptied.
class Node {
 public:
  Node() {
    sqlServerSocket = socket_.data();
    currencyPrecision = 0.01;
    today = {10, 5, 1998};
    sqlRetry(0);
  }
  ~Node() {
    sqlClose();
    accountBalance(nullptr, nullptr, nullptr);
    sqlServerSocket = savedSocket_;
    currencyPrecision = savedPrecision_;
    today = savedToday_;
    sqlRetry(60);
  }
  // Starts the server and inserts the rows (their values) into table.
  void start(const char *table, const std::vector<std::string> &rows) {
    ASSERT_TRUE(db_.start());
    for (const std::string &r : rows)
      ASSERT_EQ(sqlQuery("INSERT INTO %s VALUES (%s)", table, r.c_str()), 0);
  }
  // The selects that reached the server, in order.
  std::vector<std::string> selects() const {
    std::vector<std::string> out;
    std::istringstream log(db_.statements());
    for (std::string line; std::getline(log, line);)
      if (line.rfind("SELECT", 0) == 0) out.push_back(line);
    return out;
  }

 private:
  testsupport::TempDir tmp_{"readers"};
  testsupport::DbServer db_{tmp_.sub("db"), {.statementLog = true}};
  std::string socket_ = db_.socketPath();
  char *savedSocket_ = sqlServerSocket;
  double savedPrecision_ = currencyPrecision;
  Date savedToday_ = today;
};

// Account bob up to the report date: 92.25. The row without a sum comes
// second, so a reader that stopped there would miss the rest.
const char kAccounts[] = "accounts (id,user,date,sum,cmt)";
const std::vector<std::string> kEntries = {
    "1,'bob',19980301,100.00,'Payment'",     "2,'bob',19980302,NULL,'No sum'",
    "3,'bob',19980315,-30.50,'Charge b'",    "4,'bob',19980315,-20.00,'Charge a'",
    "5,'bob',19980420,-10.25,NULL",          "6,'bob',19980401,52.999,'Payment 2'",
    "7,'ann',19980310,7.00,'Other account'", "8,'bob',19980511,1000.00,'After the date'"};

// The entries of a list up to its end or count.
std::vector<std::string> texts(const AccountEntry *list, unsigned count) {
  std::vector<std::string> out;
  for (unsigned i = 0; i < count && !list[i].end; ++i) {
    char line[400];
    snprintf(line, sizeof line, "%02u.%02u.%04u %.2f %.2f %s", list[i].day, list[i].month,
             list[i].year, list[i].sum, list[i].balance, list[i].comment);
    out.push_back(line);
  }
  return out;
}

}  // namespace

TEST(AccountReader, BalancesCacheAndLastEntriesWithRunningBalances) {
  Node node;
  node.start(kAccounts, kEntries);
  const Date mid = {15, 3, 1998}, beforeYear0 = {1, 1, -5};
  const char *longName = "abcdefghijklmnopq", *cut = "abcdefghijklmno";
  const struct {
    const char *account;
    const Date *to, *from;
    double balance;
  } balances[] = {{"", nullptr, nullptr, 0},  // the empty name of the start: no query
                  {"bob", nullptr, nullptr, 92.25},  {"bob", nullptr, nullptr, 92.25},
                  {"bob", &mid, nullptr, 49.50},     {"bob", nullptr, &mid, -7.75},
                  {"o'k\\", nullptr, nullptr, 0},    {"bob", nullptr, nullptr, 92.25},
                  {nullptr, nullptr, nullptr, 0},    {"", nullptr, nullptr, 0},
                  {"bob", &beforeYear0, nullptr, 0}, {longName, nullptr, nullptr, 0},
                  {cut, nullptr, nullptr, 0}};
  for (const auto &c : balances)
    EXPECT_NEAR(accountBalance(c.account, c.to, c.from), c.balance, 1e-9) << c.balance;

  const std::string pay = "01.03.1998 100.00 100.00 Payment",
                    a = "15.03.1998 -20.00 80.00 Charge a", b = "15.03.1998 -30.50 49.50 Charge b",
                    pay2 = "01.04.1998 53.00 102.50 Payment 2", last = "20.04.1998 -10.25 92.25 ";
  const struct {
    AccountEntry *list;
    unsigned count;
    std::vector<std::string> entries;
  } lists[] = {{lastAccounts("bob", 3, nullptr, nullptr, nullptr), 3, {b, pay2, last}},
               {lastAccounts("bob", 0, nullptr, nullptr, nullptr), 1, {last}},
               {lastAccounts("bob", UINT_MAX, nullptr, &mid, nullptr), UINT_MAX, {pay, a, b}},
               {lastAccounts("bob", 10, nullptr, nullptr, &mid), 10, {a, b, pay2, last}},
               {lastAccountsYMD("bob", UINT_MAX, nullptr, 1998, 4, 1), UINT_MAX, {pay2, last}},
               {lastAccountsYMD("o'k\\", 99, nullptr, 0, 0, 0), 99, {}}};
  for (const auto &c : lists) {
    EXPECT_EQ(texts(c.list, c.count), c.entries);
    memRealloc(c.list, 0);
  }
  const std::string bob = "SELECT date,sum,cmt FROM accounts WHERE user='bob' AND date",
                    all = "SELECT date,sum,cmt FROM accounts WHERE user='",
                    ok = all + "o\\'k\\\\' AND date<=19980510", order = " ORDER BY date,cmt";
  EXPECT_EQ(node.selects(),
            (std::vector<std::string>{
                bob + "<=19980510", bob + "<=19980315", bob + ">=19980315 AND date<=19980510", ok,
                bob + "<=19980510", bob + "<=00000000", all + longName + "' AND date<=19980510",
                all + cut + "' AND date<=19980510", bob + "<=19980510" + order,
                bob + "<=19980510" + order, bob + "<=19980315" + order, bob + "<=19980314",
                bob + ">=19980315 AND date<=19980510" + order, bob + "<=19980331",
                bob + ">=19980401 AND date<=19980510" + order, ok + order}));
}

TEST(StatReader, ReadsMonthsByGroupPassingOverIncompleteRows) {
  Node node;
  // May 1998 of bob: five complete rows (45.75) and three incomplete ones,
  // one of which sorts first; rows of other months and of another user.
  // The table holds longer names than the schema's, as another server may.
  node.start("statistic", {});
  ASSERT_EQ(sqlQuery("DROP TABLE statistic"), 0);
  ASSERT_EQ(sqlQuery("CREATE TABLE statistic (id int, user char(15), date int, name char(32), group char(16), "
                     "lang char(2), amount real, sname char(32), sum real)"), 0);
  node.start(
      "statistic (id,user,date,name,group,amount,sname,sum)",
      {"1,'bob',19980500,'web','s00000002',1.5,'mb',30",
       "2,'bob',19980500,'nogroup',NULL,1,'mb',1000", "3,'bob',19980500,'mail','misc',2,NULL,10",
       "4,'bob',19980500,NULL,'misc',1,'mb',1000",
       "5,'bob',19980599,'dial','s00000001',4,'hour',5.25",
       "6,'bob',19980500,'ftp','s00000003',3,'mb',NULL",
       "7,'bob',19980500,'noamount','misc',NULL,'mb',1000",
       "8,'bob',19980500,'averyveryverylongname','s00000004',1,'averyveryverylongunit',0.5",
       "9,'bob',19980400,'april','misc',1,'mb',99", "10,'bob',19980600,'june','misc',1,'mb',99",
       "11,'ann',19980500,'web','misc',1,'mb',99"});
  MsqlResult *result = selectStat("bob", 1998, 5);
  std::vector<std::string> rows;
  testing::internal::CaptureStderr();
  for (StatRow r; nextStat(&r, result) == kStatRead;) {
    char line[200];
    snprintf(line, sizeof line, "%s|%s|%g|%g|%s", r.name, r.group, r.amount, r.sum, r.sname);
    rows.push_back(line);
  }
  // The row without a sum counts as 0, but not silently.
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "No sum in statistic row of `ftp', counted as 0\n");
  EXPECT_EQ(rows, (std::vector<std::string>{"mail|misc|2|10|-", "dial|s00000001|4|5.25|hour",
                                            "web|s00000002|1.5|30|mb", "ftp|s00000003|3|0|mb",
                                            "averyveryverylon|s00000004|1|0.5|averyveryverylon"}));
  const struct {
    MsqlResult *result;
    double sum;
  } sums[] = {{selectStatCurrent("bob"), 45.75}, {selectStat("o'k", 2024, 1), 0}};
  for (const auto &s : sums) {
    StatRow total = {"x", "y", 7, 7, "z"};
    EXPECT_EQ(sumStat(&total, s.result), kStatRead);
    EXPECT_NEAR(total.sum, s.sum, 1e-9);
  }
  const std::string head = "SELECT name,group,amount,sum,sname FROM statistic WHERE user='";
  EXPECT_EQ(node.selects(),
            (std::vector<std::string>{
                head + "bob' AND date>=19980500 AND date<=19980599 ORDER BY group",
                head + "bob' AND date>=19980500 AND date<=19980599 ORDER BY group",
                head + "o\\'k' AND date>=20240100 AND date<=20240199 ORDER BY group"}));
  // A statement that is not sent (longer than a request carries) gives no
  // result, not the rows that another select left behind.
  ASSERT_EQ(sqlQuery("SELECT name FROM statistic"), 0);
  EXPECT_EQ(selectStat(std::string(40000, 'x').c_str(), 1998, 5), nullptr);
}

TEST(Readers, WithoutAConnectionEveryReadFindsNoRows) {
  Node node;  // its server is not started yet
  AccountEntry *list = lastAccounts("bob", 5, nullptr, nullptr, nullptr);
  EXPECT_TRUE(list[0].end);
  memRealloc(list, 0);
  StatRow row = {"x", "y", 7, 7, "z"};
  EXPECT_EQ(selectStat("bob", 1998, 5), nullptr);
  EXPECT_EQ(nextStat(&row, nullptr), kStatEnd);
  EXPECT_EQ(sumStat(&row, nullptr), kStatRead);
  EXPECT_EQ(row.sum, 0);
  EXPECT_EQ(nextStat(nullptr, nullptr), kStatNoRecord);
  EXPECT_EQ(accountBalance("bob", nullptr, nullptr), 0);
  // A balance that could not be read is not cached.
  node.start(kAccounts, kEntries);
  EXPECT_NEAR(accountBalance("bob", nullptr, nullptr), 92.25, 1e-9);
}
