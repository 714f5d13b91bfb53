// ledgerctl as a process against a stand-in database server of its own: the
// statements it sends, what it prints with -n, and what it refuses.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "dbserver.h"
#include "process.h"

namespace {

// KOI8-R: "Услуги за" and "Оплата".
const std::string kServicesRu = "\xf5\xd3\xcc\xd5\xc7\xc9 \xda\xc1", kPaymentRu = "\xef\xd0\xcc\xc1\xd4\xc1";

// Users alice (English) and anton (Russian) share the account alice; carl
// has his own. bob's directory stands in a/, where his name does not lead:
// the walk finds him between alice and carl, but his user.cf is looked for
// under b/ and cannot be read.
class Ledger {
 public:
  Ledger() {
    file("languages.cf", "en messages.en\nru messages.ru\n");
    messages("\"Services in %02u/%u\"");
    file("messages.ru", "services_in \"" + kServicesRu + " %02u/%u\"\npayment " + kPaymentRu + "\n");
    file("userbase/.alpha", "");
    const char *users[][2] = {{"a/alice", ""}, {"a/anton", "accname alice\nlanguage ru\n"}, {"a/bob", ""}, {"c/carl", ""}};
    for (const auto &[dir, cf] : users)
      file(std::string("userbase/") + dir + "/user.cf", std::string(cf) + "prices std.lst\npostmaster p@node\n");
    if (!db.start()) ADD_FAILURE() << "database server did not start";
  }
  void file(const std::string &rel, const std::string &text) const { testsupport::writeFile(home + "/" + rel, text); }
  void messages(const std::string &servicesIn) const {
    file("messages.en", "services_in " + servicesIn + "\npayment Payment\nvat_remove \"VAT taken out\"\n");
  }
  // Runs ledgerctl through a shell, so that standard output can go elsewhere.
  testsupport::RunResult run(std::vector<std::string> args, const std::string &config = "", const std::string &to = "") const {
    args.insert(args.begin(), {"-c", "exec \"$0\" \"$@\" " + to, testsupport::binPath("ledgerctl")});
    testsupport::RunSpec spec;
    spec.program = "/bin/sh";
    spec.args = args;
    spec.etc = {{"korvix-1.3.conf",
                 testsupport::configFor(home, db.config() + "language en\ntaxes 0.2\ncurrency-precision 0.01\n"
                                                            "currency-thousands \" \"\n" + config)}};
    return testsupport::run(spec);
  }
  // The statements of the log that hold part, one a line.
  std::string statements(const std::string &part) const {
    std::istringstream log(db.statements());
    std::string out;
    for (std::string line; std::getline(log, line);)
      if (line.find(part) != std::string::npos) out += line + "\n";
    return out;
  }

  testsupport::TempDir tmp{"ledgerctl"};
  std::string home = tmp.sub("home");
  testsupport::DbServer db{tmp.sub("db"), {.statementLog = true}};
};

const std::string kUsage =
    "Usage:\tledgerctl [-n] [-T date] {-a | -uuser} command arguments\n\t-a\tFor all users\n"
    "\t-uuser\tOnly for user `user'\n\t-n\tDon't actually do SQL queries\n\t-T\tSet today's date\n"
    "Commands:\n\tstatistic year month\n\t\tAdds monthly statistic for month/year to user's account\n"
    "\tincome sum cmt [vat]\n\t\tInserts sum to user's account with comment `cmt' and\n\t\tremoves VAT if requested\n";

const std::string kInsert = "INSERT INTO accounts (id,user,date,sum,cmt,flag) VALUES (";

}  // namespace

TEST(Ledgerctl, RefusesBadCommandLinesWithStatusOneAndBooksNothing) {
  Ledger node;
  const std::string noMonth = "No year/month given\n" + kUsage, badSum = "Bad expression for sum\n" + kUsage;
  const struct {
    std::vector<std::string> args;
    std::string err;  // the end of standard error
    std::string config = "";
  } cases[] = {
      {{}, kUsage},
      {{"-H", "-a", "statistic", "1998", "5"}, kUsage},
      {{"-z", "-a", "statistic", "1998", "5"}, "invalid option -- 'z'\n" + kUsage},
      {{"-a"}, kUsage},
      {{"statistic", "1998", "5"}, "-a or -uuser must present\n\n" + kUsage},
      {{"-a", "statistic"}, noMonth},
      {{"-a", "statistic", "19985"}, noMonth},
      {{"-a", "statistic", "1998055"}, noMonth},
      {{"-a", "statistic", "1998x", "5"}, noMonth},
      {{"-a", "statistic", "4294967297", "5"}, noMonth},
      {{"-a", "statistic", "2101", "1"}, "Bad year given - 2101\n"},
      {{"-a", "statistic", "1998", "13"}, "Bad month given - 13\n"},
      {{"-a", "statistic", "199800"}, "Bad month given - 0\n"},
      {{"-a", "income", "100"}, "No sum and comment given\n" + kUsage},
      {{"-a", "income", "1", "c", "v", "x"}, "Extra parameters given\n" + kUsage},
      {{"-a", "income", "abc", "c"}, "No such function or variable - abc\n" + badSum},
      {{"-a", "income", "1e308*10", "c"}, badSum},
      {{"-a", "income", "1e13", "c"}, badSum},
      {{"-a", "--", "income", "-1e13", "c"}, badSum},
      {{"-a", "xyz", "1"}, "Unknown command `xyz'\n" + kUsage},
      {{"-a", ""}, "Unknown command `'\n" + kUsage},
      {{"-u", "../etc", "income", "1", "c"}, "Bad user name '../etc'\n"},
      {{"-u", "bob", "income", "1", "c", "v"}, "Error reading configuration for `bob'\n"},
      {{"-T", "2024.2.30", "-a", "income", "1", "c"}, "Bad date given - 30/02/2024\n"},
      {{"-T", "69.12.31", "-a", "income", "1", "c"}, "Bad date given - 31/12/1969\n"},
      {{"-T", "10000.1.1", "-a", "income", "1", "c"}, "Bad date given - 1/01/10000\n"},
      {{"-a", "income", "1", "c"}, "Can't open user base `/nonexistent'\n", "userbase-dir /nonexistent\n"},
  };
  for (const auto &c : cases) {
    auto r = node.run(c.args, c.config);
    EXPECT_EQ(r.status, 1) << c.err;
    EXPECT_TRUE(r.err.ends_with(c.err)) << r.err;
  }
  EXPECT_EQ(node.statements(" accounts "), "");
}

TEST(Ledgerctl, ChargesEachUsersMonthOnceIntoHisAccount) {
  Ledger node;
  for (const char *row : {"'alice',19980500,100.125", "'alice',19980599,20", "'alice',19980600,99", "'anton',19980500,7.5",
                          "'anton',19980500,NULL", "'bob',19980500,50", "'carl',19980500,0.004"})
    ASSERT_EQ(node.db.query(std::string("INSERT INTO statistic (user,date,sum,name,group,amount) VALUES (") + row +
                            ",'ftp','misc',1)"),
              "");
  const std::string unread = "Can't get configuration for 'bob', error #2\nError reading configuration for `bob'\n";
  // The three forms of the month; the second and third run find it booked.
  auto r = node.run({"-T", "98.6.1", "-a", "statistic", "98", "5"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "No sum in statistic row of `ftp', counted as 0\n" + unread);
  r = node.run({"-T", "1998.6.2", "-a", "statistic", "199805"});
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(r.err.ends_with("Account `alice' already holds `" + kServicesRu + " 05/1998 (anton)', not charged again\n" + unread))
      << r.err;
  r = node.run({"-n", "-a", "statistic", "1998", "5"});
  EXPECT_EQ(r.out, "");
  const std::string check = "SELECT id FROM accounts WHERE user='alice' AND cmt='";
  const std::string mine = check + "Services in 05/1998'\n", his = check + kServicesRu + " 05/1998 (anton)'\n";
  EXPECT_EQ(node.statements(" accounts "), mine + kInsert + "1,'alice',19980601,-120.13,'Services in 05/1998',0) \n" + his +
                                             kInsert + "2,'alice',19980601,-7.50,'" + kServicesRu + " 05/1998 (anton)',0) \n" +
                                             mine + his + mine + his);
  EXPECT_EQ(node.statements("user='alice' AND date>=19980500 AND date<=19980599 ORDER BY group").size(),
            3 * std::string("SELECT name,group,amount,sum,sname FROM statistic WHERE user='alice' AND date>=19980500 "
                            "AND date<=19980599 ORDER BY group\n").size());
}

TEST(Ledgerctl, BooksPaymentsRoundedWithTheVatTakenOut) {
  Ledger node;
  // bob's user.cf cannot be read: carl's entries still go to carl.
  auto r = node.run({"-T", "1998.6.2", "-a", "income", "120", "payment", "v"});
  EXPECT_EQ(r.status, 0);
  for (std::vector<std::string> args : {std::vector<std::string>{"0", "zero"}, {"0.004", "residue"}, {"0.125", "half"},
                                        {"-0.125", "half"}, {"1e13-1", "Payment", "x"}, {"5", "it's"}}) {
    args.insert(args.begin(), {"-T", "1998.6.3", "-u", "carl", "--", "income"});
    EXPECT_EQ(node.run(args).status, 0);
  }
  const std::string day2 = ",19980602,";
  EXPECT_EQ(node.statements(" accounts "),
            kInsert + "1,'alice'" + day2 + "120.00,'Payment',0) \n" + kInsert + "2,'alice'" + day2 + "120.00,'" +
                kPaymentRu + " (anton)',0) \n" + kInsert + "3,'carl'" + day2 + "120.00,'Payment',0) \n" + kInsert +
                "4,'alice'" + day2 + "-20.00,'VAT taken out',0) \n" + kInsert + "5,'alice'" + day2 +
                "-20.00,'vat_remove (anton)',0) \n" + kInsert + "6,'carl'" + day2 + "-20.00,'VAT taken out',0) \n" +
                kInsert + "7,'carl',19980603,0.13,'half',0) \n" + kInsert + "8,'carl',19980603,-0.13,'half',0) \n" +
                kInsert + "9,'carl',19980603,9999999999999.00,'Payment',0) \n" + kInsert +
                "10,'carl',19980603,5.00,'it\\'s',0) \n");
}

TEST(Ledgerctl, PrintsEntriesWithoutWritingAndChecksTheMonthFormat) {
  Ledger node;
  ASSERT_EQ(node.db.query("INSERT INTO statistic (user,date,name,group,amount,sum) VALUES ('alice',19980500,'web','misc',1,10)"), "");
  auto r = node.run({"-n", "-T", "1998.7.15-..14", "-u", "anton", "income", "1234.5", "payment"});
  EXPECT_EQ(r.out, "---------------------------------------- anton (alice)\ndate    = 1/07/1998\nsum     = 1 234.50\n"
                   "comment = " + kPaymentRu + " (anton)\n");
  const std::string fallback = "' used\n";
  const struct {
    std::string text, comment, err;
  } formats[] = {
      {"\"In %02u/%u\"", "In 05/1998", ""},
      {"\"%-3u|%.1x 100%%\"", "5  |7ce 100%", ""},
      {"\"No month\"", "No month", ""},
      {std::string(120, 'x'), std::string(99, 'x'), ""},
      {"\"%s in %u\"", "05/1998", "Bad message services_in - `%s in %u', `%02u/%u' used\n"},
      {"\"%u %u %u\"", "05/1998", fallback},
      {"\"%n\"", "05/1998", fallback},
      {"\"%*u\"", "05/1998", fallback},
      {"\"%lu\"", "05/1998", fallback},
      {"\"%1000u\"", "05/1998", fallback},
      {"\"%u%\"", "05/1998", fallback},
  };
  for (const auto &f : formats) {
    node.messages(f.text);
    r = node.run({"-n", "-T", "1998.6.1", "-u", "alice", "statistic", "1998", "5"});
    EXPECT_EQ(r.out, "---------------------------------------- alice (alice)\ndate    = 1/06/1998\nsum     = -10.00\n"
                     "comment = " + f.comment + "\n");
    EXPECT_TRUE(r.err.ends_with(f.err)) << r.err;
  }
  r = node.run({"-n", "-u", "alice", "income", "5", "payment"}, "", ">/dev/full");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Can't write the entries\n");
  // Nothing written, no id drawn.
  EXPECT_EQ(node.statements("INTO accounts") + node.statements("ids"), "");
}
