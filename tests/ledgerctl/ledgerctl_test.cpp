// ledgerctl as a process against a stand-in database server of its own: the
// statements it sends, what it prints with -n, and what it refuses.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "dbserver.h"
#include "process.h"

namespace {

using Args = std::vector<std::string>;

// Scripts of Ledger::run: ledgerctl once, and two ledgerctl at once.
const std::string kOnce = "exec \"$0\" \"$@\"";
const std::string kTwice = "\"$0\" \"$@\" & first=$!; \"$0\" \"$@\"; second=$?; wait $first && exit $second";

// KOI8-R: "Услуги за" and "Оплата".
const std::string kServicesRu = "\xf5\xd3\xcc\xd5\xc7\xc9 \xda\xc1";
const std::string kPaymentRu = "\xef\xd0\xcc\xc1\xd4\xc1";

// alice (English) and anton (Russian) share the account alice; carl has his
// own. bob's directory stands in a/, where his name does not lead: the walk
// finds him between alice and carl, but his user.cf is looked for under b/.
class Ledger {
 public:
  Ledger() {
    file("languages.cf", "en messages.en\nru messages.ru\n");
    messages("\"Services in %02u/%u\"");
    file("messages.ru",
         "services_in \"" + kServicesRu + " %02u/%u\"\npayment " + kPaymentRu + "\n");
    file("userbase/.alpha", "");
    const std::string cf = "prices std.lst\npostmaster p@n\n";
    for (std::string u : {"a/alice", "a/bob", "c/carl"}) file("userbase/" + u + "/user.cf", cf);
    file("userbase/a/anton/user.cf", "accname alice\nlanguage ru\n" + cf);
    if (!db.start()) ADD_FAILURE() << "database server did not start";
    // May 1998: alice 1020.125, anton 7.5 and a row without a sum, carl a
    // residue; June: more than the sum column holds for carl.
    for (std::string row : {"'alice',19980500,1000.125", "'alice',19980599,20",
                            "'alice',19980600,99", "'anton',19980500,7.5", "'anton',19980500,NULL",
                            "'bob',19980500,50", "'carl',19980500,0.004", "'carl',19980600,1e13"})
      db.query("INSERT INTO statistic (user,date,sum,name,group,amount) VALUES (" + row +
               ",'ftp','misc',1)");
  }
  void file(const std::string &rel, const std::string &text) const {
    testsupport::writeFile(home + "/" + rel, text);
  }
  // The English catalogue with this services_in text; "" leaves the key out.
  void messages(const std::string &servicesIn) const {
    file("messages.en", (servicesIn.empty() ? "" : "services_in " + servicesIn + "\n") +
                            "payment Payment\nvat_remove VAT\n");
  }
  // count users NAME0, NAME1, ... (price list big.lst) under the index level
  // of NAME's first letter, each with a May 1998 of that sum.
  void users(const std::string &name, int count, const std::string &sum) const {
    for (int i = 0; i < count; ++i) {
      const std::string u = name + std::to_string(i);
      file("userbase/" + name.substr(0, 1) + "/" + u + "/user.cf", "prices big.lst\npostmaster p@n\n");
      db.query("INSERT INTO statistic (user,date,sum,name,group,amount) VALUES ('" + u + "',19980500," + sum +
               ",'ftp','misc',1)");
    }
  }
  // Runs ledgerctl through a shell script ($0 the program, "$@" the
  // arguments), so that standard output can go elsewhere.
  testsupport::RunResult run(Args args, const std::string &config = "",
                             const std::string &script = kOnce) const {
    args.insert(args.begin(), {"-c", script, testsupport::binPath("ledgerctl")});
    testsupport::RunSpec spec;
    spec.program = "/bin/sh";
    spec.args = args;
    const std::string money = "taxes 0.2\ncurrency-precision 0.01\ncurrency-thousands \" \"\n";
    spec.etc = {{"korvix-1.3.conf",
                 testsupport::configFor(home, db.config() + "language en\n" + money + config)}};
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
    "\t-uuser\tOnly for user `user'\n\t-n\tDon't actually do SQL queries\n"
    "\t-T\tSet today's date\nCommands:\n\tstatistic year month\n"
    "\t\tAdds monthly statistic for month/year to user's account\n\tincome sum cmt [vat]\n"
    "\t\tInserts sum to user's account with comment `cmt' and\n\t\tremoves VAT if requested\n";

// The INSERT statement of one entry, as the log shows it.
std::string insert(int id, const std::string &rest, const std::string &flag = "0") {
  return "INSERT INTO accounts (id,user,date,sum,cmt,flag) VALUES (" + std::to_string(id) + ",'" +
         rest + "'," + flag + ") \n";
}

}  // namespace

TEST(Ledgerctl, RefusesBadCommandLinesWithStatusOneAndBooksNothing) {
  Ledger node;
  const std::string noMonth = "No year/month given\n" + kUsage;
  const std::string badSum = "Bad expression for sum\n" + kUsage;
  const struct {
    Args args;
    std::string err;  // the end of standard error
    std::string config = "";
  } cases[] = {
      {{}, kUsage},
      {{"-z", "-a", "statistic", "1998", "5"}, "invalid option -- 'z'\n" + kUsage},
      {{"statistic", "1998", "5"}, "-a or -uuser must present\n\n" + kUsage},
      {{"-a", "statistic"}, noMonth}, {{"-a", "statistic", "19985"}, noMonth},
      {{"-a", "statistic", "1998x", "5"}, noMonth},
      {{"-a", "statistic", "4294967297", "5"}, noMonth},
      {{"-a", "statistic", "2101", "1"}, "Bad year given - 2101\n"},
      {{"-a", "statistic", "1998", "13"}, "Bad month given - 13\n"},
      {{"-a", "income", "100"}, "No sum and comment given\n" + kUsage},
      {{"-a", "income", "1", "c", "v", "x"}, "Extra parameters given\n" + kUsage},
      {{"-a", "income", "1", "c", "yes"}, "Extra parameters given\n" + kUsage},
      {{"-a", "income", "1", "c", "vv"}, "Extra parameters given\n" + kUsage},
      {{"-a", "income", "abc", "c"}, "No such function or variable - abc\n" + badSum},
      {{"-a", "income", "1e308*10", "c"}, badSum}, {{"-a", "--", "income", "-1e13", "c"}, badSum},
      {{"-a", "xyz", "1"}, "Unknown command `xyz'\n" + kUsage},
      {{"-u", "../etc", "income", "1", "c"}, "Bad user name '../etc'\n"},
      {{"-u", "bob", "income", "1", "c", "v"}, "Error reading configuration for `bob'\n"},
      {{"-T", "2024.2.30", "-a", "income", "1", "c"}, "Bad date given - 30/02/2024\n"},
      {{"-T", "69.12.31", "-a", "income", "1", "c"}, "Bad date given - 31/12/1969\n"},
      {{"-a", "income", "1", "c"}, "Can't open user base `/none'\n", "userbase-dir /none\n"},
      {{"-a", "income", "1", "c"}, ": `18' is not a fraction from 0 to below 1\n", "taxes 18\n"},
      {{"-a", "income", "1", "c"}, "Can't use lock directory `/none' (No such file or directory)\n",
       "lock-dir /none\n"},
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
  const std::string unread =
      "Can't get configuration for 'bob', error #2\nError reading configuration for `bob'\n";
  const std::string en = "Services in 05/1998", ru = kServicesRu + " 05/1998";
  // The three forms of the month: the second and third run find it booked,
  // also in the language alice no longer speaks, and say when it was priced
  // again since. bob is skipped, so a walk ends with 2.
  auto r = node.run({"-T", "98.6.1", "-a", "statistic", "98", "5"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "No sum in statistic row of `ftp', counted as 0\n" + unread);
  node.file("userbase/a/alice/user.cf", "prices std.lst\npostmaster p@n\nlanguage ru\n");
  node.db.query("UPDATE statistic SET sum=30 WHERE user='alice' AND date=19980599");
  r = node.run({"-T", "1998.6.2", "-a", "statistic", "199805"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "Account `alice' already holds `" + en +
                       "' of -1 020.13, the month's charge is now -1 030.13: not charged again\n"
                       "No sum in statistic row of `ftp', counted as 0\n"
                       "Account `alice' already holds `" + ru + " (anton)', not charged again\n" + unread);
  r = node.run({"-n", "-a", "statistic", "1998", "5"});
  EXPECT_EQ(r.out, "");
  // A month already charged is no failure; a sum refused is.
  r = node.run({"-u", "alice", "statistic", "1998", "5"});
  EXPECT_EQ(r.status, 0);
  r = node.run({"-u", "carl", "statistic", "1998", "6"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Bad sum for `carl' - -1e+13, nothing booked\n");
  auto check = [](const std::string &first, const std::string &second) {
    return "SELECT sum,cmt,flag FROM accounts WHERE user='alice' AND (flag=199805 OR cmt='" + first + "' OR cmt='" +
           second + "')\n";
  };
  const std::string checks = check(ru, en) + check(ru + " (anton)", en + " (anton)");
  EXPECT_EQ(node.statements(" accounts "),
            check(en, ru) + insert(1, "alice',19980601,-1020.13,'" + en, "199805") +
                check(ru + " (anton)", en + " (anton)") + insert(2, "alice',19980601,-7.50,'" + ru + " (anton)", "199805") +
                checks + checks + check(ru, en));
  // The id counter is read once for the whole walk.
  EXPECT_EQ(node.statements(" ids "),
            "SELECT tabid FROM ids WHERE tabname='accounts'\nINSERT INTO ids (tabname,tabid) VALUES ('accounts',0)\n"
            "UPDATE ids SET tabid=1 WHERE tabname='accounts'\nUPDATE ids SET tabid=2 WHERE tabname='accounts'\n");
}

// A month is charged once per user whatever the catalogue says at each run:
// the charge carries the month as its flag, and entries booked before that
// are known by their comments.
TEST(Ledgerctl, AMonthIsChargedOnceWhateverTheCatalogueSaysAtEachRun) {
  const std::string en = "Services in 05/1998|199805\n", anton = kServicesRu + " 05/1998 (anton)|199805\n";
  const struct {
    const char *change;
    std::string before, after;  // services_in of the two runs ("" none)
    Args first = {"-a"};        // who the first run charges
    std::string languages = "en messages.en\nru messages.ru\n";  // of the second run
    std::string charged = "";  // then, in order ("": alice's, anton's)
  } cases[] = {
      {"wording edited", "\"Services in %02u/%u\"", "\"Charges of %02u/%u\""},
      {"language dropped", "\"Services in %02u/%u\"", "\"Services in %02u/%u\"", {"-a"}, "en messages.en\n"},
      {"fallback, then mended", "", "\"Services in %02u/%u\"", {"-a"}, "", "05/1998|199805\n" + anton},
      {"booked before the flag", "\"Services in %02u/%u\"", "\"Services in %02u/%u\"", {}, "", "Services in 05/1998|0\n"},
      {"a sharer charged first", "\"Services in %02u/%u\"", "\"Services in %02u/%u\"", {"-u", "anton"}, "",
       anton + en},
  };
  for (const auto &c : cases) {
    Ledger node;
    node.messages(c.before);
    if (c.first.empty()) {
      node.db.query("INSERT INTO accounts (id,user,date,sum,cmt,flag) VALUES (1,'alice',19980601,-1020.13,'Services in "
                    "05/1998',0)");
      node.db.query("INSERT INTO accounts (id,user,date,sum,cmt,flag) VALUES (2,'alice',19980601,-7.5,'" + kServicesRu +
                    " 05/1998 (anton)',0)");
      node.db.query("INSERT INTO ids (tabname,tabid) VALUES ('accounts',2)");
    } else {
      Args args = c.first;
      args.insert(args.end(), {"statistic", "1998", "5"});
      node.run(args);
    }
    node.messages(c.after);
    if (!c.languages.empty()) node.file("languages.cf", c.languages);
    node.run({"-a", "statistic", "1998", "5"});
    std::string booked = c.charged.empty() ? en + anton : c.charged;
    if (c.first.empty()) booked += kServicesRu + " 05/1998 (anton)|0\n";
    EXPECT_EQ(node.db.query("SELECT cmt,flag FROM accounts WHERE user='alice' ORDER BY id"), booked) << c.change;
  }
}

// Two walks at once book every user once; a walk beside tallymill pricing the
// month again books each user's month whole, as it was or as it is now.
TEST(Ledgerctl, ConcurrentRunsBookEachMonthOnceAndWhole) {
  const Args may = {"-T", "1998.6.1", "-a", "statistic", "1998", "5"};
  Ledger twice;
  twice.users("u", 200, "10");
  auto r = twice.run(may, "", kTwice);
  EXPECT_EQ(r.status, 2) << r.err;  // bob is skipped
  // One entry of each u, of alice and of anton.
  const std::string entries = twice.db.query("SELECT user FROM accounts WHERE sum<0");
  EXPECT_EQ(std::count(entries.begin(), entries.end(), '\n'), 202) << entries;
  // While another process holds the accounts lock, a walk sends nothing:
  // the test of an account and its booking are one step under that lock.
  const size_t seen = twice.db.statements().size();
  const std::string self = std::to_string(getpid());
  twice.file("locks/LCK..id-accounts", std::string(10 - self.size(), ' ') + self + "\n");
  EXPECT_EQ(twice.run(may, "", "timeout 2 \"$0\" \"$@\"").status, 124);
  EXPECT_EQ(twice.db.statements().substr(seen), "");

  // ledgerctl starts once tallymill has deleted r0's month, while it inserts
  // the new one.
  Ledger repriced;
  std::string prices;
  for (int i = 0; i < 300; ++i) prices += "s" + std::to_string(i) + " one 2\n";
  repriced.file("prices/big.lst", prices);
  repriced.users("r", 3, "150");
  const std::string both = "\"" + testsupport::binPath("tallymill") + "\" -a -Y 1998 -M 5 2>/dev/null & t=$!; i=0; "
                           "until grep -q \"DELETE FROM statistic WHERE user='r0'\" " + repriced.db.logPath() +
                           " || [ $i -gt 1000 ]; do sleep 0.01; i=$((i+1)); done; \"$0\" \"$@\"; l=$?; wait $t; exit $l";
  // -n shows each month whole too, and then a run books it.
  for (const std::string dry : {"-n", ""}) {
    Args args = may;
    if (!dry.empty()) args.insert(args.begin(), dry);
    r = repriced.run(args, "", both);
    EXPECT_EQ(r.status, 2) << r.err;
    std::istringstream out(r.out);
    std::string user;
    for (std::string line; std::getline(out, line);) {
      if (line.starts_with("---")) user = line.substr(41, 2);
      if (line.starts_with("sum ") && user[0] == 'r') {
        EXPECT_TRUE(line.ends_with("= -150.00") || line.ends_with("= -600.00")) << r.out;
      }
    }
  }
  for (int i = 0; i < 3; ++i) {
    const std::string sum = repriced.db.query("SELECT sum FROM accounts WHERE user='r" + std::to_string(i) + "'");
    EXPECT_TRUE(sum == "-150.0\n" || sum == "-600.0\n") << sum;
  }
}

TEST(Ledgerctl, BooksPaymentsRoundedWithTheVatTakenOut) {
  Ledger node;
  // bob's user.cf cannot be read: carl's entries still go to carl.
  EXPECT_EQ(node.run({"-T", "1998.6.2", "-a", "income", "120", "payment", "VAT"}).status, 2);
  for (Args args : {Args{"0", "zero"}, {"0.004", "residue"}, {"0.125", "half"}, {"-0.125", "half"},
                    {"1e13-1", "Payment"}, {"5", "it's"}}) {
    args.insert(args.begin(), {"-T", "1998.6.3", "-u", "carl", "--", "income"});
    EXPECT_EQ(node.run(args).status, 0);
  }
  // A finer unit is written with its decimals.
  EXPECT_EQ(node.run({"-T", "1998.6.3", "-u", "carl", "income", "0.0035", "fine"}, "currency-precision 0.001\n").status, 0);
  EXPECT_EQ(node.statements(" accounts "),
            insert(1, "alice',19980602,120.00,'Payment") +
                insert(2, "alice',19980602,120.00,'" + kPaymentRu + " (anton)") +
                insert(3, "carl',19980602,120.00,'Payment") +
                insert(4, "alice',19980602,-20.00,'VAT") +
                insert(5, "alice',19980602,-20.00,'vat_remove (anton)") +
                insert(6, "carl',19980602,-20.00,'VAT") +
                insert(7, "carl',19980603,0.13,'half") + insert(8, "carl',19980603,-0.13,'half") +
                insert(9, "carl',19980603,9999999999999.00,'Payment") +
                insert(10, "carl',19980603,5.00,'it\\'s") + insert(11, "carl',19980603,0.004,'fine"));
}

TEST(Ledgerctl, PrintsEntriesWithoutWritingAndChecksTheMonthFormat) {
  Ledger node;
  const std::string fallback = "', `%02u/%u' used\n";
  const struct {
    std::string text, comment, err;
  } formats[] = {
      {"\"In %02u/%u\"", "In 05/1998", ""}, {"\"%-3u|%.1x 100%%\"", "5  |7ce 100%", ""},
      {std::string(93, 'x') + "%02u/%u", "05/1998", fallback}, {"\"In %u\"", "05/1998", fallback},
      {"", "05/1998", "Bad message services_in - `services_in" + fallback},
      {"\"%s in %u\"", "05/1998", "Bad message services_in - `%s in %u" + fallback},
      {"\"%u %u %u\"", "05/1998", fallback}, {"\"%n\"", "05/1998", fallback},
      {"\"%*u\"", "05/1998", fallback}, {"\"%1000u\"", "05/1998", fallback},
  };
  for (const auto &f : formats) {
    node.messages(f.text);
    auto r = node.run({"-n", "-T", "1998.7.15-..14", "-u", "alice", "statistic", "1998", "5"});
    EXPECT_EQ(r.out, "---------------------------------------- alice (alice)\ndate    = 1/07/1998\n"
                     "sum     = -1 020.13\ncomment = " + f.comment + "\n");
    EXPECT_TRUE(r.err.ends_with(f.err)) << r.err;
  }
  auto r = node.run({"-n", "-u", "anton", "income", "5", "payment"}, "", kOnce + " >/dev/full");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Can't write the entries\n");
  // Every user read, but a customer folder left out: the walks (the sum and
  // the VAT) end with 2 and name it once.
  node.file("userbase/b/bob/user.cf", "postmaster p@n\nprices std.lst\n");
  testsupport::makeDirs(node.home + "/userbase/a/o brien");
  r = node.run({"-n", "-a", "income", "5", "payment", "v"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "`o brien' is not a user name: only letters, digits, - and _\n");
  // Nothing written, no id drawn.
  EXPECT_EQ(node.statements("INTO accounts") + node.statements("ids"), "");
}
