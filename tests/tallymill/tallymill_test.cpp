#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>

#include "dropproxy.h"
#include "node.h"

using testsupport::fileExists;
using testsupport::readFile;

namespace {

const char kUsage[] =
    "Usage: tallymill [switches]\n"
    "\t-xdebug\tSet debug level to 'debug'\n"
    "\t-uuser\tConvert stat for user 'user'\n"
    "\t-a\tConvert for ALL users\n"
    "\t-ofile\tWrite results to file (by default results stored in SQL\n"
    "\t\ttable `statistic'). Where file is one of:\n"
    "\t\t\t-\tstdout\n"
    "\t\t\t~file\tfile in user's home directory\n"
    "\t\t\tfile\tfile as it named\n"
    "\t-ifile\tSet input file to 'file'. Where file is one of:\n"
    "\t\t\t~file\tfile in user's home directory\n"
    "\t\t\tfile\tfile as it named\n"
    "\t\tBy default *.st files in homedirs will be converted\n"
    "\t-Yyear\tUse year as current year\n"
    "\t-Mmonth\tUse month as current month\n";

bool endsWith(const std::string &s, const std::string &tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

bool has(const std::string &s, const std::string &part) { return s.find(part) != std::string::npos; }

int countOf(const std::string &s, const std::string &part) {
  int n = 0;
  for (size_t p = s.find(part); p != std::string::npos; p = s.find(part, p + 1)) ++n;
  return n;
}

}  // namespace

TEST(Tallymill, CommandLineMistakesPrintTheUsageAndEndWithStatusOne) {
  Node node;
  auto r = node.tallymill({});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, std::string("One of '-u' or '-a' must be used.\n\n") + kUsage);

  r = node.tallymill({"-i", "-"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, std::string("'-i' must be used in pair with '-u'") + kUsage);

  r = node.tallymill({"-H"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, kUsage);

  r = node.tallymill({"-z", "-a"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(endsWith(r.err, kUsage)) << r.err;

  r = node.tallymill({"-a", "-M", "13"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Month (13) must be in range 1..12\n");

  r = node.tallymill({"-a", "-Y", "1899"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Year (1899) must be more than 1900\n");

  r = node.tallymill({"-a", "-i", node.tmp.sub("missing")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Can't open input file `" + node.tmp.sub("missing") + "'\n");

  // A plain -o file is created while the options are read, even when the
  // run then stops for want of -u or -a.
  std::string out = node.tmp.sub("early.txt");
  r = node.tallymill({"-o", out});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(fileExists(out));

  r = node.tallymill({"-a", "-o", node.tmp.sub("no/such/dir/out")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Can't open output file `" + node.tmp.sub("no/such/dir/out") + "'\n");

  // A user name is a plain name in the user base, never a path.
  r = node.tallymill({"-u", "../etc"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Bad user name '../etc'\n");
}

TEST(Tallymill, MonthComesFromTheMonthFileAndIsChecked) {
  Node node;
  node.user("ann", "prices std.lst\n");
  node.file("prices/std.lst", "fee one 10\n");
  std::string month = node.home + "/.month";

  testsupport::writeFile(month, "2024");
  auto r = node.tallymill({"-u", "ann"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Can't read " + month + " to read month/year\n\nSet date with -M/-Y or edit .month file\n");
  EXPECT_TRUE(has(node.log(), " W Can't read " + month + " to read month/year\n"));

  testsupport::writeFile(month, "202413");
  r = node.tallymill({"-u", "ann"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Bad date in " + month + " file. Correct it!\n");

  // A year from the command line is checked with the month from the file.
  testsupport::writeFile(month, "202403");
  r = node.tallymill({"-u", "ann", "-Y", "1950"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Bad date in " + month + " file. Correct it!\n");

  // Both given: the file is not read at all.
  unlink(month.c_str());
  r = node.tallymill({"-u", "ann", "-Y", "1950", "-M", "3", "-o", "-"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "19500300 ann fee misc 1.000000 - 10.000000 fee\n");

  testsupport::writeFile(month, "202311 and more");
  r = node.tallymill({"-u", "ann", "-o", "-"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "20231100 ann fee misc 1.000000 - 10.000000 fee\n");

  r = node.tallymill({"-u", "ann", "-o", "-", "-x", "1"});
  EXPECT_TRUE(has(r.err, "Date set as 11/2023\n")) << r.err;
}

TEST(Tallymill, CountersArePricedIntoStatisticRowsThatARerunReplaces) {
  Node node;
  node.user("alice", "prices std.lst\nlanguage en\n");
  node.file("prices/std.lst",
            "# services of the test\n"
            "dialup  dialup_min    0.5  min\n"
            "\tDial-up access\n"
            "mailin  mail_in/1024  2    KB\n"
            "tiny    tiny          1\n"
            "const   1             100  month\n"
            "zero    nothing       5\n"
            "edge    edge          3\n");
  node.file("userbase/alice/a.st", "dialup_min 100\nmail_in 10\n");
  node.file("userbase/alice/b.st", "dialup_min 20\n# a comment\n\nmail_in 5.5abc\ntiny 0.0000009\nedge 0.000001\n");
  node.file("userbase/alice/c.st", "dialup_min 3 extra words\n");
  node.file("userbase/alice/notes.txt", "dialup_min 1000\n");
  node.query("INSERT INTO statistic (id,user,date,name,group,lang,amount,sname,sum) VALUES "
             "(900,'alice',20240200,'old','misc','en',1.0,'-',1.0)");

  auto r = node.tallymill({"-u", "alice"});
  ASSERT_EQ(r.status, 0) << r.err;
  std::string log = node.statements();
  EXPECT_TRUE(has(log, "DELETE FROM statistic WHERE user='alice' AND date=20240300\n")) << log;
  EXPECT_TRUE(has(log, ",'alice',20240300,'dialup','misc','en',123.000000,'min',61.500000)\n")) << log;
  EXPECT_TRUE(has(log, ",'alice',20240300,'mailin','misc','en',0.015137,'KB',0.030273)\n")) << log;
  EXPECT_TRUE(has(log, ",'alice',20240300,'const','misc','en',1.000000,'month',100.000000)\n")) << log;
  EXPECT_TRUE(has(log, ",'alice',20240300,'edge','misc','en',0.000001,'-',0.000003)\n")) << log;
  EXPECT_FALSE(has(log, "'tiny'")) << "an amount below 1e-6 gets no row";
  EXPECT_FALSE(has(log, "'zero'")) << "a missing counter reads as 0";
  EXPECT_TRUE(has(log, "INSERT INTO statistic (id,user,date,name,group,lang,amount,sname,sum) VALUES ("));
  // The four rows take their ids with one read and one update of the counter.
  EXPECT_EQ(countOf(log, "SELECT tabid FROM ids WHERE tabname='statistic'\nINSERT INTO ids (tabname,tabid) VALUES "
                         "('statistic',0)\nUPDATE ids SET tabid=4 WHERE tabname='statistic'\nINSERT INTO statistic"),
            1);
  EXPECT_EQ(countOf(log, "tabname='statistic'"), 2) << log;

  EXPECT_EQ(node.query("SELECT name FROM statistic WHERE date=20240300 ORDER BY id"),
            "dialup\nmailin\nconst\nedge\n");
  // A second run replaces the month's rows; other months stay.
  r = node.tallymill({"-u", "alice"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(node.query("SELECT name FROM statistic WHERE date=20240300 ORDER BY id"),
            "dialup\nmailin\nconst\nedge\n");
  EXPECT_EQ(node.query("SELECT name FROM statistic WHERE date=20240200"), "old\n");
  // Every row id is unique and the id counter follows them.
  EXPECT_EQ(node.query("SELECT id FROM statistic WHERE date=20240300 ORDER BY id").size(),
            node.query("SELECT DISTINCT id FROM statistic WHERE date=20240300").size());
}

TEST(Tallymill, PriceListLanguageVariantsAreTriedInOrder) {
  Node node;
  // The user speaks ru, the node's language is en.
  node.user("ivan", "language ru\nprices a.lst b.lst c.lst d.lst\n");
  node.file("prices/a.ru.lst", "a_ru one 1\n");
  node.file("prices/a.lst", "a_plain one 1\n");
  node.file("prices/b.lst", "b_plain one 1\n");
  node.file("prices/b.en.lst", "b_en one 1\n");
  node.file("prices/c.en.lst", "c_en one 1\n");
  // d.lst opens in no form: his month is incomplete.
  auto r = node.tallymill({"-u", "ivan", "-o", "-"});
  ASSERT_EQ(r.status, 2) << r.err;
  EXPECT_EQ(r.out,
            "20240300 ivan a_ru misc 1.000000 - 1.000000 a_ru\n"
            "20240300 ivan b_plain misc 1.000000 - 1.000000 b_plain\n"
            "20240300 ivan c_en misc 1.000000 - 1.000000 c_en\n");
  EXPECT_TRUE(has(r.err, "Can't open prices file for 'ivan' (" + node.home + "/prices/d.en.lst)\n")) << r.err;

  // No language of his own, the node's language ru: ru variant, plain, and the
  // ru variant once more, which the message names.
  Node ru;
  ru.extraConfig = "language ru\n";
  ru.user("olga", "prices std.lst std\n");
  ru.file("prices/std.ru", "variant_of_std one 1\n");
  ru.file("prices/std", "plain_std one 1\n");
  r = ru.tallymill({"-u", "olga", "-o", "-"});
  ASSERT_EQ(r.status, 2) << r.err;
  EXPECT_EQ(r.out, "20240300 olga variant_of_std misc 1.000000 - 1.000000 variant_of_std\n");
  EXPECT_TRUE(has(r.err, "Can't open prices file for 'olga' (" + ru.home + "/prices/std.ru.lst)\n")) << r.err;

  // A one-letter language code gives a one-letter variant.
  ru.user("rita", "language r\nprices std.lst\n");
  ru.file("prices/std.r.lst", "one_letter one 1\n");
  r = ru.tallymill({"-u", "rita", "-o", "-"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "20240300 rita one_letter misc 1.000000 - 1.000000 one_letter\n");

  // A list in the user's own directory and one by absolute path.
  ru.user("petr", "prices ~own.lst " + ru.home + "/abs.lst\n");
  ru.file("userbase/petr/own.lst", "own one 2\n");
  ru.file("abs.lst", "abs one 3\n");
  r = ru.tallymill({"-u", "petr", "-o", "-"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "20240300 petr own misc 1.000000 - 2.000000 own\n"
            "20240300 petr abs misc 1.000000 - 3.000000 abs\n");
}

TEST(Tallymill, ListsRedefineServicesSetPricesAndNameGroups) {
  Node node;
  node.user("ivan", "prices one.lst two.lst\n");
  node.file("prices/one.lst",
            ": Dial-up access\n"
            "web   one   10   page\n"
            "\tFirst description\n"
            "mail  one   5\n"
            "setprices price*2\n"
            "setprices\n"
            "bad   one\n"
            "\tof nothing\n");  // describes the last service read: mail
  node.file("prices/two.lst",
            "\tmisplaced comment\n"
            "group Mail services\n"
            "web   one*3  7(USD))  kpage\n"
            "\tNew\n"
            "\tdescription\n"
            "news  one   4\n"
            "gid s00000042\n"
            "gid\n"
            "ftp   one   1@\n"
            "averyveryverylongname one 1\n"
            "averyveryverylongname one 1\n");
  node.query("INSERT INTO rates (id,date,name,rate) VALUES (1,20240315,'USD',90.500)");
  auto r = node.tallymill({"-u", "ivan", "-o", "-"});
  // The line "bad one" is a service left out: the month is incomplete.
  ASSERT_EQ(r.status, 2) << r.err;
  std::string dial = node.query("SELECT name FROM sgroups WHERE descr='Dial-up access'");
  std::string mail = node.query("SELECT name FROM sgroups WHERE descr='Mail services'");
  ASSERT_EQ(dial.size(), 10u) << dial;
  ASSERT_EQ(mail.size(), 10u) << mail;
  dial.pop_back();
  mail.pop_back();
  EXPECT_EQ(r.out,
            "20240300 ivan web " + dial + " 3.000000 kpage 1900.500000 New description\n"
            "20240300 ivan mail " + dial + " 1.000000 - 10.000000 of nothing\n"
            "20240300 ivan news " + mail + " 1.000000 - 4.000000 news\n"
            "20240300 ivan ftp s00000042 1.000000 - 1.000000 ftp\n"
            "20240300 ivan averyveryverylon s00000042 1.000000 - 1.000000 averyveryverylongname\n"
            "20240300 ivan averyveryverylon s00000042 1.000000 - 1.000000 averyveryverylongname\n");
  EXPECT_TRUE(has(r.err, "No formula given in `setprices' directive\n"));
  EXPECT_TRUE(has(r.err, "Only 2 fields in price list line bad\n"));
  EXPECT_TRUE(has(r.err, "Misplaced price comment (misplaced comment)\n"));
  EXPECT_TRUE(has(r.err, "No group name in `gid' line of price list " + node.home + "/prices/two.lst, line ignored\n"))
      << r.err;
  EXPECT_EQ(countOf(r.err, "name truncated to `averyveryverylon'\n"), 2);
  // Text mode writes no statistic rows but keeps the descriptions in step.
  EXPECT_EQ(node.query("SELECT id FROM statistic"), "");
  EXPECT_EQ(node.query("SELECT descr FROM snames WHERE name='web'"), "New description\n");
}

TEST(Tallymill, ForeignCurrencyWithoutRateCostsNothingMailsTheAdministratorOnceAndEndsWithTwo) {
  Node node;
  node.user("kate", "prices std.lst\n");
  node.file("prices/std.lst",
            "eur  one  10EUR\n"
            "gbp  one  10 GBP\n"  // a separate word is the unit name
            "chf  one  10CHF\n"
            "rub  one  10roubles\n");
  auto r = node.tallymill({"-u", "kate"});
  ASSERT_EQ(r.status, 2) << r.err;
  std::string log = node.statements();
  EXPECT_TRUE(has(log, ",'kate',20240300,'eur','misc','en',1.000000,'-',0.000000)\n")) << log;
  EXPECT_TRUE(has(log, ",'kate',20240300,'gbp','misc','en',1.000000,'GBP',10.000000)\n")) << log;
  EXPECT_TRUE(has(log, ",'kate',20240300,'chf','misc','en',1.000000,'-',0.000000)\n")) << log;
  EXPECT_TRUE(has(log, ",'kate',20240300,'rub','misc','en',1.000000,'-',10.000000)\n")) << log;
  EXPECT_TRUE(has(node.log(), " W No rate for `EUR' (at least before 20240331)!\n"));
  EXPECT_TRUE(has(node.log(), " W No rate for `CHF' (at least before 20240331)!\n"));
  auto mails = node.mails();
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_TRUE(has(mails[0], "EUR")) << mails[0];
}

TEST(Tallymill, TextModeInputAndOutputForms) {
  Node node;
  node.file("userbase/.alpha", "");
  node.user("a/amy", "prices std.lst\n");
  node.user("b/bob", "prices std.lst\n");
  node.file("prices/std.lst", "calls  calls  2\n");
  node.file("userbase/a/amy/x.st", "calls 1\n");
  node.file("userbase/b/bob/x.st", "calls 2\n");
  node.file("userbase/b/bob/old.txt", "stale text\n");

  // "~" output: every user's own file holds only his lines of this run.
  auto r = node.tallymill({"-a", "-o", "~old.txt"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(readFile(node.home + "/userbase/a/amy/old.txt"), "20240300 amy calls misc 1.000000 - 2.000000 calls\n");
  EXPECT_EQ(readFile(node.home + "/userbase/b/bob/old.txt"), "20240300 bob calls misc 2.000000 - 4.000000 calls\n");
  EXPECT_EQ(countOf(node.statements(), "SELECT descr FROM snames"), 1) << "a description is asked once per run";

  // One shared file, in walk order.
  std::string shared = node.tmp.sub("all.txt");
  r = node.tallymill({"-a", "-o", shared});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(readFile(shared),
            "20240300 amy calls misc 1.000000 - 2.000000 calls\n"
            "20240300 bob calls misc 2.000000 - 4.000000 calls\n");

  // -i - reads the counters from standard input instead of the *.st files,
  // and the rows go to the database.
  r = node.tallymill({"-u", "bob", "-i", "-"}, "calls 10\ncalls 5\n");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(has(node.statements(), ",'bob',20240300,'calls','misc','en',15.000000,'-',30.000000)\n"));

  // -i ~file names a file in the user's directory; -u with -a converts -u only.
  node.file("userbase/a/amy/in.txt", "calls 7\n");
  r = node.tallymill({"-a", "-u", "amy", "-i", "~in.txt", "-o", "-"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "20240300 amy calls misc 7.000000 - 14.000000 calls\n");

  r = node.tallymill({"-u", "amy", "-i", "~missing.txt", "-o", "-"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(endsWith(r.err, "openFile: can't open 'amy':'missing.txt'\n")) << r.err;

  r = node.tallymill({"-u", "nobody", "-i", "-", "-o", "-"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(endsWith(r.err, "Can't get user configuration for 'nobody'\n")) << r.err;
}

TEST(Tallymill, AllUsersWalkGoesOnPastUsersThatFail) {
  Node node;
  node.user("anna", "prices std.lst\n");
  node.user("averyverylongname", "prices std.lst\n");  // longer than a user name may be
  node.user("boris", "prices std.lst\n");
  node.user("clara", "prices missing.lst\n");
  node.user("j.smith", "prices std.lst\n");  // never a user name
  testsupport::makeDirs(node.home + "/userbase/u09/user.cf");
  node.file("prices/std.lst",
            "fee   one    10\n"
            "div   1/0    1\n"
            "huge  1e308*10  1\n");
  testsupport::makeDirs(node.home + "/userbase/boris/dir.st");
  node.query("INSERT INTO statistic (id,user,date,name,group,lang,amount,sname,sum) VALUES "
             "(900,'clara',20240300,'fee','misc','en',1.0,'-',10.0)");
  // Every user is priced, and then the run says how it went.
  auto r = node.tallymill({"-a"});
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_TRUE(endsWith(r.err, "\n3 users priced, 3 with problems, 3 not read (see Logfile)\n")) << r.err;
  EXPECT_EQ(node.query("SELECT user,name FROM statistic ORDER BY id"), "anna|fee\nboris|fee\n");
  std::string log = node.log();
  EXPECT_TRUE(has(log, " W Too long user name - averyverylongname\n")) << log;
  EXPECT_TRUE(has(log, " W Bad formula `1/0' for `misc.div'\n")) << log;
  EXPECT_TRUE(has(log, " W Bad formula `1e308*10' for `misc.huge'\n")) << log;
  EXPECT_TRUE(has(log, " W Hm.. directory matched *.st pattern - `" + node.home + "/userbase/boris/dir.st/'\n"))
      << log;
  EXPECT_FALSE(has(node.statements(), "inf")) << "a sum that is not finite is never sent";
}

TEST(Tallymill, RunsThatCannotDoTheirWorkEndWithStatusOneAndChangeNothing) {
  Node node;
  node.user("ann", "prices std.lst\n");
  node.file("prices/std.lst", "fee one 10\n");
  node.query("INSERT INTO statistic (id,user,date,name,group,lang,amount,sname,sum) VALUES "
             "(900,'ann',20240300,'old','misc','en',1.0,'-',1.0)");
  const std::string missing = node.tmp.sub("missing");
  const struct {
    std::string config;
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {"lock-dir " + missing + "\n", {"-u", "ann"},
       "Can't use lock directory `" + missing + "' (No such file or directory)\n"},
      {"lock-dir " + node.home + "/prices/std.lst\n", {"-a", "-o", "-"},
       "Can't use lock directory `" + node.home + "/prices/std.lst' (Not a directory)\n"},
      {"", {"-u", "nosuch"},
       "Can't get configuration for 'nosuch', error #2\nError reading configuration for `nosuch'\n"
       "Can't get user configuration for 'nosuch'\n"},
      {"userbase-dir " + missing + "\n", {"-a"},
       "Can't open user base `" + missing + "' (No such file or directory)\n"},
  };
  for (const auto &c : cases) {
    node.extraConfig = c.config;
    auto r = node.tallymill(c.args);
    EXPECT_EQ(r.status, 1) << c.err;
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.out, "");
  }
  EXPECT_EQ(node.query("SELECT name FROM statistic"), "old\n");
  EXPECT_FALSE(has(node.statements(), "DELETE")) << node.statements();
}

TEST(Tallymill, CountersAreDecimalNumbersAndNeverTheWildcard) {
  Node node;
  node.user("ann", "prices std.lst\n");
  node.file("prices/std.lst",
            "hex   hex    1\n"
            "inf   inf    1\n"
            "nan   nan    1\n"
            "other other  1\n"
            "sign  sign   1\n"
            "fee   one    0x10\n");
  // postmeter writes a counter "*" for a mail class of that name; it must
  // not stand in for every counter a formula names.
  node.file("userbase/ann/a.st", "hex 0x10\ninf inf\nnan nan\n* 5\nsign -2.5e1x\n");
  auto r = node.tallymill({"-u", "ann", "-o", "-"});
  ASSERT_EQ(r.status, 2) << r.err;
  EXPECT_EQ(r.out, "20240300 ann sign misc -25.000000 - -25.000000 sign\n");
  EXPECT_TRUE(has(node.log(), " W Counter named `*' ignored\n")) << node.log();
  // A value is read as far as it is a number, with a warning naming the file.
  EXPECT_EQ(countOf(node.log(), " W Bad counter value `-2.5e1x' for `sign' in " + node.home +
                                    "/userbase/ann/a.st, -25 counted\n"), 1) << node.log();
  // The price word 0x10 is no price: the currency "x10" is no currency name.
  EXPECT_TRUE(has(node.log(), " W Bad price `0x10' for `fee' in price list " + node.home + "/prices/std.lst, line ignored\n"))
      << node.log();
  EXPECT_FALSE(has(node.log(), "No rate")) << node.log();
}

TEST(Tallymill, IncompleteMonthsEndWithStatusTwoAndASummaryLine) {
  Node node;
  const std::string h = node.home;
  node.query("INSERT INTO rates (id,date,name,rate) VALUES (1,20240215,'USD',90.5)");
  node.file("oneword.st", "# one word\ndialup_min=1234.5\n");
  const struct {
    std::string user, list, link, last;  // his price list, what x.st links to, his last problem
    std::string out = "";                // -o: the text lines' file
  } cases[] = {
      {"nolists", "", "", "No price-lists defined for nolists"},
      {"formula", "div 1/0 1\n", "", "Bad formula `1/0' for `misc.div'"},
      {"setprices", "fee one 10\nsetprices nosuch\n", "", "Bad formula - price for `fee' leaved as is"},
      {"badprice", "fee one 0,45\n", "", "Bad price `0,45' for `fee' in price list " + h + "/prices/badprice.lst, line ignored"},
      {"gone", "fee one 1\n", h + "/none", "Can't open `" + h + "/userbase/gone/x.st' to collect statistic!"},
      {"eio", "fee one 1\n", "/proc/self/mem", "Can't read `" + h + "/userbase/eio/x.st' to collect statistic!"},
      {"short", "fee 1\n", "", "Only 2 fields in price list line fee"},
      {"oneword", "fee one 1\n", h + "/oneword.st",
       "Bad counter line 2 in " + h + "/userbase/oneword/x.st: `dialup_min=1234.5' is not a name and a value"},
      {"full", "fee one 1\n", "", "Can't write the statistic lines of `full'", "/dev/full"},
      {"stale", "usd one 1USD\n", "", ""},  // a rate of an earlier month is used: a warning only
  };
  for (const auto &c : cases) {
    node.user(c.user, c.list.empty() ? "" : "prices " + c.user + ".lst\n");
    node.file("prices/" + c.user + ".lst", c.list);
    if (!c.link.empty()) {
      ASSERT_EQ(symlink(c.link.c_str(), (h + "/userbase/" + c.user + "/x.st").c_str()), 0);
    }
    auto r = c.out.empty() ? node.tallymill({"-u", c.user}) : node.tallymill({"-u", c.user, "-o", c.out});
    EXPECT_EQ(r.status, c.last.empty() ? 0 : 2) << r.err;
    EXPECT_TRUE(endsWith(r.err, c.last.empty() ? "Requested 20240331, last known 20240215\n"
                                               : c.last + "\n1 user priced, 1 with problems, 0 not read (see Logfile)\n"))
        << r.err;
  }
}

TEST(Tallymill, MonthlyJobPutsEveryCounterAsideThenChargesOnlyCompleteMonthsAndNoClosedCustomer) {
  Node node;
  node.file("prices/std.lst", "mail mail_in 2\ndialup dialup_min 1\n");
  node.file("prices/usd.lst", "host one 10USD\n");
  node.user("ann", "prices std.lst\n");
  node.file("userbase/ann/mail.st", "mail_in 5\n");
  node.file("userbase/ann/dialup.st", "dialup_min 4\n");
  node.user("averyverylongname", "prices std.lst\n");  // a user.cf that cannot be read
  node.user("bob", "prices usd.lst\n");                // no rate of USD
  node.user("cat", "prices cat.lst\n");                // no such price list
  node.user("kate", "prices std.lst\n");
  node.file("userbase/kate/mail.st", "mail_in 7\n");
  node.file("userbase/kate/status", "Closed at the end of February");

  auto r = node.monthly("202403");
  EXPECT_EQ(r.status, 1);
  // Each failed customer with his files and tallymill's own reasons.
  EXPECT_TRUE(has(r.err, "korvix-monthly: 202403 priced with problems for averyverylongname bob cat, nothing charged:\n"
                         "  averyverylongname, priced from no counter files:\n    Too long user name - averyverylongname\n"))
      << r.err;
  EXPECT_TRUE(endsWith(r.err, "korvix-monthly: mend that (the Logfile says more), then run korvix-monthly 202403 to finish the month\n"))
      << r.err;
  EXPECT_EQ(node.query("SELECT user,sum FROM statistic ORDER BY id"), "ann|10.0\nann|4.0\nbob|0.0\n");
  EXPECT_EQ(node.query("SELECT id FROM accounts"), "");
  // Every counter file put aside first, kate's too: none is counted again.
  for (const char *f : {"ann/mail.st", "ann/dialup.st", "kate/mail.st"}) {
    EXPECT_FALSE(fileExists(node.home + "/userbase/" + f)) << f;
    EXPECT_TRUE(fileExists(node.home + "/userbase/" + f + "-202403")) << f;
  }

  // Mended: the rate stored, the price list written, the user moved out; the
  // next month's counting begun meanwhile.
  node.query("INSERT INTO rates (id,date,name,rate) VALUES (1,20240301,'USD',90)");
  node.file("prices/cat.lst", "fee one 3\n");
  ASSERT_EQ(rename((node.home + "/userbase/averyverylongname").c_str(), node.tmp.sub("moved").c_str()), 0);
  node.file("userbase/ann/mail.st", "mail_in 1\n");
  r = node.monthly("202403");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "korvix-monthly: 202403: 3 customers priced, 3 charged, the month's total 917\n");
  const std::string charged = "ann|20240401|-14.0|Services in 03/2024\nbob|20240401|-900.0|Services in 03/2024\n"
                              "cat|20240401|-3.0|Services in 03/2024\n";
  EXPECT_EQ(node.query("SELECT user,date,sum,cmt FROM accounts ORDER BY id"), charged);
  EXPECT_EQ(readFile(node.home + "/userbase/ann/mail.st"), "mail_in 1\n");
  EXPECT_EQ(readFile(node.home + "/userbase/ann/mail.st-202403"), "mail_in 5\n");

  // Priced again by hand at a new price: the month's charge now differs.
  node.file("prices/std.lst", "mail mail_in 3\ndialup dialup_min 1\n");
  ASSERT_EQ(node.tallymill({"-u", "ann", "-i", "-"}, "mail_in 5\ndialup_min 4\n").status, 0);
  r = node.monthly("202403");
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_TRUE(endsWith(r.err, "korvix-monthly: 202403 was charged before and now comes to another amount (book the difference with "
                   "ledgerctl -u USER income SUM COMMENT):\n  ann: Account `ann' already holds `Services in 03/2024' of "
                   "-14, the month's charge is now -19: not charged again\n"))
      << r.err;
  EXPECT_EQ(node.query("SELECT user,date,sum,cmt FROM accounts ORDER BY id"), charged);
  EXPECT_EQ(readFile(node.home + "/userbase/ann/mail.st"), "mail_in 1\n");
}

// Pricing and charging through a connection that loses answers after the
// server stored a statement, or to a server killed again and again, store
// what an undisturbed run stores, each row once.
TEST(Tallymill, LostAnswersAndKilledServersStoreAndChargeWhatAnUndisturbedRunDoes) {
  auto priceAndCharge = [](const Node &node) {
    node.file("prices/std.lst", "mail mail_in 2\ndialup dialup_min 0.35\nfee one 3\n");
    for (int u = 10; u < 70; u++) {
      std::string name = "u" + std::to_string(u);
      node.user(name, "prices std.lst\n");
      node.file("userbase/" + name + "/x.st",
                "mail_in " + std::to_string(u * 7) + "\ndialup_min " + std::to_string(u * 13) + ".5\n");
    }
    auto r = node.tallymill({"-a"});
    EXPECT_EQ(r.status, 0) << r.err;
    testsupport::RunSpec charge;
    charge.program = "ledgerctl";
    charge.args = {"-T", "2024.4.1", "-a", "statistic", "202403"};
    r = node.run(charge);
    EXPECT_EQ(r.status, 0) << r.err;
  };
  Node plain;
  priceAndCharge(plain);
  EXPECT_EQ(countOf(plain.query("SELECT user FROM accounts"), "\n"), 60);
  const struct {
    const char *fault;
    int every;  // the answer of every such writing statement lost
    bool kill;  // and the server SIGKILLed then, and started again
  } faults[] = {{"every fifth answer lost", 5, false}, {"the server killed after every seventh commit", 7, true}};
  for (const auto &f : faults) {
    Node faulty;
    testsupport::DropProxy proxy(faulty.tmp.sub("proxy.sock"), faulty.db.socketPath(), f.every);
    ASSERT_TRUE(proxy.start());
    faulty.extraConfig = "sql-socket " + proxy.socketPath() + "\n";
    // One thread starts the server again each time: it is the server's
    // parent, and the server ends with it.
    std::atomic<bool> done{false}, killNow{false};
    int kills = 0;
    std::thread keeper([&] {
      for (; !done; usleep(1000)) {
        if (!killNow) continue;
        faulty.db.crash();
        kills += faulty.db.start();
        killNow = false;
      }
    });
    if (f.kill) {
      proxy.onDrop = [&] {
        for (killNow = true; killNow && !done;) usleep(1000);
      };
    }
    priceAndCharge(faulty);
    done = true;
    keeper.join();
    faulty.db.crash();
    ASSERT_TRUE(faulty.db.start());
    EXPECT_GE(f.kill ? kills : proxy.dropped(), 20) << f.fault;
    for (const char *select : {"SELECT id,user,date,name,amount,sum FROM statistic ORDER BY id",
                               "SELECT id,user,date,sum,cmt,flag FROM accounts ORDER BY id",
                               "SELECT tabname,tabid FROM ids ORDER BY tabname"})
      EXPECT_EQ(faulty.query(select), plain.query(select)) << f.fault << ": " << select;
  }

  // A statement the server refuses for good is given up after a few tries:
  // the run ends with status 2 instead of waiting for ever.
  ASSERT_EQ(plain.query("DROP TABLE statistic"), "");
  auto r = plain.tallymill({"-u", "u10"});
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(endsWith(r.err, "\n1 user priced, 1 with problems, 0 not read (see Logfile)\n")) << r.err;
  EXPECT_TRUE(has(r.err, "DELETE FROM statistic WHERE user='u10' AND date=20240300' (")) << r.err;
  EXPECT_TRUE(has(r.err, "): given up\n")) << r.err;
}
