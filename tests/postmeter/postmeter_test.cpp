// postmeter run end to end: traffic in, totals and listings out.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cinttypes>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "dbserver.h"
#include "process.h"

using testsupport::RunResult;
using testsupport::RunSpec;
using testsupport::TempDir;

namespace {

const char kCommonMailCf[] =
    "class local\n"
    "any [^!]*\n"
    "class inet\n"
    "any .*\n";

const char kJohnMailCf[] =
    "class user\n"
    "any john\n"
    "class friends\n"
    "any local!example\\.com!.*\n";

const char kKateMailCf[] =
    "class user\n"
    "any kate\n";

const char kUsage[] =
    "Usage: postmeter [-xdebuglevel] [-uuser] [-ofile] file..\n"
    "\t-xdebug\tSet debug level to 'debug'\n"
    "\t-uuser\tOnly calculate statistic for user (by default statistic\n"
    "\t\tcalculated for all users)\n"
    "\t-s\tsave statistic lines into user's homes on per class basis\n"
    "\t\t(very slowly!)\n"
    "\t-ofile\tSet output file to 'file'. Where file is one of:\n"
    "\t\t\t-\tstdout (default)\n"
    "\t\t\t~file\tfile in user's home directory\n"
    "\t\t\tfile\tfile as it named\n";

// A node with a common mail.cf and the users john and kate.
struct Node {
  TempDir home{"postmeter"};
  std::string config = testsupport::configFor(home.path());

  Node() {
    testsupport::writeFile(home.sub("languages.cf"), "en messages.en\n");
    testsupport::writeFile(home.sub("messages.en"), "");
    testsupport::writeFile(home.sub("mail.cf"), kCommonMailCf);
    addUser("john", kJohnMailCf);
    addUser("kate", kKateMailCf);
  }
  // A user of the user base, with a mail.cf unless mailCf is empty.
  void addUser(const std::string &name, const std::string &mailCf) {
    testsupport::writeFile(userFile(name, "user.cf"), "prices std.lst\n");
    if (!mailCf.empty()) testsupport::writeFile(userFile(name, "mail.cf"), mailCf);
  }
  std::string userFile(const std::string &user, const std::string &name) const {
    return home.sub("userbase/" + user + "/" + name);
  }
  RunResult run(std::vector<std::string> args, const std::string &input = "") const {
    RunSpec spec;
    spec.program = "postmeter";
    spec.args = std::move(args);
    spec.input = input;
    spec.etc = {{"korvix-1.3.conf", config}};
    return testsupport::run(spec);
  }
};

// The header line of a user's block, dated today (the programs run in UTC).
std::string header(const std::string &user) {
  time_t now = time(nullptr);
  struct tm tm;
  gmtime_r(&now, &tm);
  char text[200];
  snprintf(text, sizeof text, "#============================= user=%s, date=%d/%02d/%d\n",
           user.c_str(), tm.tm_mday, tm.tm_mon + 1, tm.tm_year + 1900);
  return text;
}

// One line of a per-class listing.
std::string listed(const char *from, const char *to, uint64_t size, const char *f4,
                   const char *f5, const char *cls, const char *tag) {
  char text[300];
  snprintf(text, sizeof text, "%-25s %-25s %10" PRIu64 " %8s %8s %16s (%s)\n", from, to, size, f4,
           f5, cls, tag);
  return text;
}

const char kTraffic[] =
    "# sender recipient size two more fields\n"
    "john kate 100 a b\n"
    "\n"
    "john bob@example.com 1000 x y\n"
    "kate bob@example.com 10 x y\n"
    "John JOHN 5 s s\n";

}  // namespace

TEST(Postmeter, WritesTotalsToStandardOutputWithHeadersAndTabs) {
  Node node;
  // Between two users the mail counts for both; to himself it counts twice;
  // john's own class beats the common one; kate has none, so common inet.
  RunResult r = node.run({"-", "-o", "-"}, kTraffic);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, header("kate") +
                       "kate\tlocal\t100\n"
                       "kate\tinet\t10\n" +
                       header("john") +
                       "john\tlocal\t110\n"
                       "john\tfriends\t1000\n");
}

TEST(Postmeter, CountsAMailBetweenTwoUsersForBothSides) {
  Node node;
  node.addUser("mike", "class user\nany mike\nclass kateline\nfrom kate\n");
  RunResult r = node.run({"-"}, "kate mike 7 a b\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, header("mike") + "mike\tkateline\t7\n" + header("kate") + "kate\tlocal\t7\n");
}

TEST(Postmeter, CountsMailToOneselfTwice) {
  Node node;
  RunResult r = node.run({"-"}, "kate kate 21 a b\n");
  EXPECT_EQ(r.out, header("kate") + "kate\tlocal\t42\n");
}

TEST(Postmeter, SharesOneCounterBetweenOwnAndCommonClassOfOneName) {
  Node node;
  node.addUser("mike", "class user\nany mike\nclass inet\nto local!gw!.*\n");
  RunResult r = node.run({"-"},
                         "mike x@gw 3 a b\n"       // mike's own inet
                         "mike y@elsewhere 4 a b\n"  // the common inet
                         "nobody@gw y@gw 99 a b\n");  // no user's mail
  EXPECT_EQ(r.out, header("mike") + "mike\tinet\t7\n");
}

TEST(Postmeter, AppendsToOneOutputFile) {
  Node node;
  std::string out = node.home.sub("totals");
  ASSERT_EQ(node.run({"-o", out, "-"}, "kate kate 1 a b\n").status, 0);
  RunResult r = node.run({"-o", out, "-"}, "kate john 2 a b\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(testsupport::readFile(out), header("kate") + "kate\tlocal\t2\n" + header("john") +
                                            "john\tlocal\t2\n" + header("kate") +
                                            "kate\tlocal\t2\n");
}

TEST(Postmeter, AppendsEachUsersCounterFile) {
  Node node;
  ASSERT_EQ(node.run({"-o~mail.st", "-"}, kTraffic).status, 0);
  RunResult r = node.run({"-o", "~mail.st", "-"}, "john kate 3 a b\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(testsupport::readFile(node.userFile("john", "mail.st")),
            header("john") + "local\t110\nfriends\t1000\n" + header("john") + "local\t3\n");
  EXPECT_EQ(testsupport::readFile(node.userFile("kate", "mail.st")),
            header("kate") + "local\t100\ninet\t10\n" + header("kate") + "local\t3\n");
}

TEST(Postmeter, NamesTheFileAndTheReasonOfAnOutputFileItCannotOpenOrWrite) {
  Node node;
  ASSERT_EQ(symlink("/dev/full", node.userFile("kate", "full.st").c_str()), 0);
  const std::string kate = node.userFile("kate", "");
  const struct {
    std::string output, err;
  } cases[] = {
      {node.home.sub("no/such/file"),
       "mailstat: can't open output file " + node.home.sub("no/such/file") + " (No such file or directory)\n"},
      {"~no/file", "mailstat: can't open output file ~kate/no/file (" + kate + "no/file: No such file or directory)\n"},
      {"~full.st", "mailstat: can't write output file ~kate/full.st (" + kate + "full.st: No space left on device)\n"},
  };
  for (const auto &c : cases) {
    RunResult r = node.run({"-o", c.output, "-"}, "kate kate 1 a b\n");
    EXPECT_EQ(r.status, 1) << c.output;
    EXPECT_EQ(r.err, c.err);
  }
}

TEST(Postmeter, ListsClassifiedMailsPerClassWithTheirTags) {
  Node node;
  RunResult r = node.run({"-s", "-"},
                         "john kate 100 \"a b\" c\n"
                         "john bob@example.com 1000 x y\n"
                         "bob@Example.COM john 2 x y\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(testsupport::readFile(node.userFile("kate", "mail/local")),
            listed("john", "kate", 100, "a b", "c", "local", "common from"));
  EXPECT_EQ(testsupport::readFile(node.userFile("john", "mail/local")),
            listed("john", "kate", 100, "a b", "c", "local", "common to"));
  EXPECT_EQ(testsupport::readFile(node.userFile("john", "mail/friends")),
            listed("john", "local!example.com!bob", 1000, "x", "y", "friends",
                   "special to") +
                listed("local!example.com!bob", "john", 2, "x", "y", "friends",
                       "special from"));
  struct stat st;
  ASSERT_EQ(stat(node.userFile("john", "mail").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_FALSE(testsupport::fileExists(node.userFile("kate", "mail/inet")));
}

TEST(Postmeter, WarnsWhenAListingCannotBeAppended) {
  Node node;
  testsupport::writeFile(node.userFile("kate", "mail"), "a file, not a directory\n");
  RunResult r = node.run({"-s", "-"}, "kate kate 1 a b\n");
  EXPECT_EQ(r.status, 0);
  std::string warning = "Cannot append `" + node.userFile("kate", "mail/local") + "'\n";
  EXPECT_EQ(r.err, warning + warning);
  EXPECT_EQ(r.out, header("kate") + "kate\tlocal\t2\n");
}

TEST(Postmeter, SkipsLinesWithAWrongNumberOfFields) {
  Node node;
  RunResult r = node.run({"-"},
                         "kate kate 1 a\n"
                         "kate kate 1 a b c d e f g h i\n"
                         "kate kate 4 \"two words\" b\n"
                         " \tkate\vkate 16 a b \r\n"
                         "kate kate 32 a\\ b c\n"
                         // read in two pieces: five words, then one
                         "kate kate 64 a " + std::string(2100, 'b') + "\n"
                         "\"\"\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err,
            "Mailstat line ignored due to bad field's number (4)\n"
            "Mailstat line ignored due to bad field's number (12)\n"
            "Mailstat line ignored due to bad field's number (1)\n"
            "Mailstat line ignored due to bad field's number (1)\n");
  EXPECT_EQ(r.out, header("kate") + "kate\tlocal\t232\n");
}

TEST(Postmeter, SkipsMailsWithBadAddresses) {
  Node node;
  RunResult r = node.run({"-"},
                         "\"Kate <kate@host>\" john 1 a b\n"
                         "kate john,mike 1 a b\n"
                         "kate john 5 a b\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err,
            "Bad from address: Kate <kate@host>\n"
            "Bad to address: john,mike\n");
  EXPECT_EQ(r.out, header("john") + "john\tlocal\t5\n" + header("kate") + "kate\tlocal\t5\n");
}

TEST(Postmeter, ReadsSizesAsLeadingDigitsIntoWideCounters) {
  Node node;
  node.addUser("mike", "class user\nany mike\n");
  RunResult r = node.run({"-"},
                         "mike bob@example.com x a b\n"     // mike's only class totals 0
                         "kate bob@example.com -1 a b\n"    // no digits: inet stays 0
                         "kate kate none a b\n"
                         "kate john 4294967295 a b\n"
                         "kate john 12abc a b\n");
  EXPECT_EQ(r.status, 0);
  // kate's inet totals 0: no line; her header comes before her local line.
  EXPECT_EQ(r.out, header("kate") + "kate\tlocal\t4294967307\n" + header("john") +
                       "john\tlocal\t4294967307\n");
}

TEST(Postmeter, ClassifiesAlikeAcrossManyDistinctAddresses) {
  Node node;
  // Many distinct addresses, and a few repeated ones among them.
  std::string traffic;
  for (int i = 0; i < 120000; ++i) {
    traffic += "kate r" + std::to_string(i) + "@host 1 a b\n";
    if (i % 1000 == 0) traffic += "John KATE 2 a b\n";
  }
  RunResult r = node.run({"-"}, traffic);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, header("kate") + "kate\tinet\t120000\nkate\tlocal\t240\n" + header("john") +
                       "john\tlocal\t240\n");
}

TEST(Postmeter, ClassifiesAlikeWithThousandsOfUsersOwnPatterns) {
  // Each user's own address and a partner text of his own, such as the
  // ".*partner12.*" that also occurs in partner123's addresses.
  constexpr int kUsers = 3000;
  Node node;
  std::string traffic, expected;
  for (int i = 0; i < kUsers; ++i) {
    std::string user = "u" + std::to_string(i);
    std::string partner = std::to_string(i % 2 ? i * 13 % kUsers : i * 10 + 3);
    node.addUser(user, "class user\nany " + user + "\nclass partners\nto .*partner" + std::to_string(i) + ".*\n");
    std::string size = std::to_string(i + 1);
    traffic += user + " p@Partner" + partner + ".example " + size + " a b\n";
    bool own = partner.rfind(std::to_string(i), 0) == 0;
    expected += header(user) + user + (own ? "\tpartners\t" : "\tinet\t") + size + "\n";
  }
  RunResult r = node.run({"-"}, traffic);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, expected);
}

TEST(Postmeter, ReadsStandardInputOnlyOnce) {
  Node node;
  RunResult r = node.run({"-", "-"}, "kate kate 1 a b\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, header("kate") + "kate\tlocal\t2\n");
}

TEST(Postmeter, ReadsFileOperandsInOrder) {
  Node node;
  testsupport::writeFile(node.home.sub("one"), "john kate 1 a b\n");
  testsupport::writeFile(node.home.sub("two"), "kate bob@example.com 2 a b\n");
  RunResult r = node.run({node.home.sub("two"), node.home.sub("one")});
  EXPECT_EQ(r.out, header("kate") + "kate\tinet\t2\nkate\tlocal\t1\n" + header("john") +
                       "john\tlocal\t1\n");
}

TEST(Postmeter, EndsWithoutTotalsWhenAnInputCannotBeOpened) {
  Node node;
  testsupport::writeFile(node.home.sub("one"), "john kate 1 a b\n");
  RunResult r = node.run({node.home.sub("one"), node.home.sub("missing")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "Can't open file '" + node.home.sub("missing") + "'\n");
}

TEST(Postmeter, NeedsTheCommonMailCf) {
  Node node;
  remove(node.home.sub("mail.cf").c_str());
  RunResult r = node.run({"-"}, "kate kate 1 a b\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err,
            "No common mail.cf, mail services unusable\n"
            "Can't get common mail services configuration\n");
}

TEST(Postmeter, CountsOnlyTheUserOfOptionU) {
  Node node;
  RunResult r = node.run({"-u", "kate", "-"}, "john kate 1 a b\n");
  EXPECT_EQ(r.out, header("kate") + "kate\tlocal\t1\n");
  r = node.run({"-u", "nobody", "-"}, "john kate 1 a b\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
}

TEST(Postmeter, WarnsAboutAUserFileWithoutUserClass) {
  Node node;
  node.addUser("mike", "class inet\nany .*\n");
  RunResult r = node.run({"-"}, "mike kate 1 a b\n");
  EXPECT_EQ(r.err, "No `user' class found for mike in mail.cf\n");
  EXPECT_EQ(r.out, header("kate") + "kate\tlocal\t1\n");
}

TEST(Postmeter, PrintsTheUsageText) {
  Node node;
  for (auto args : {std::vector<std::string>{}, std::vector<std::string>{"-H", "-"},
                    std::vector<std::string>{"-q", "-"}, std::vector<std::string>{"-s"}}) {
    RunResult r = node.run(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.substr(r.err.size() - (sizeof kUsage - 1)), kUsage);
  }
}

TEST(Postmeter, TracesClassificationAtDebugLevels) {
  Node node;
  RunResult r = node.run({"-x", "7", "-"}, "John bob@example.com 9 a b\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("from=john to=local!example.com!bob size=9\n"), std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("user john hit(from): john\n"), std::string::npos);
  EXPECT_NE(r.err.find("service friends(john) hit(to): local!example.com!bob\n"),
            std::string::npos);
}

TEST(Postmeter, WritesCounterFilesThatTallymillPrices) {
  if (!testsupport::fileExists(testsupport::binPath("tallymill"))) GTEST_SKIP() << "no tallymill";
  Node node;
  testsupport::DbServer db(node.home.sub("db"));
  ASSERT_TRUE(db.start());
  node.config = testsupport::configFor(node.home.path(), db.config());
  // The class names are the counters the formulas use.
  testsupport::writeFile(node.home.sub("prices/std.lst"),
                         "inet  inet  2\n"
                         "local local*0.5  1\n");
  ASSERT_EQ(node.run({"-o", "~mail.st", "-"}, "kate bob@example.com 10 a b\n").status, 0);
  ASSERT_EQ(node.run({"-o", "~mail.st", "-"}, "kate bob@example.com 5 a b\nkate john 8 a b\n")
                .status,
            0);

  RunSpec spec;
  spec.program = "tallymill";
  spec.args = {"-u", "kate", "-o", "-", "-Y", "2026", "-M", "12"};
  spec.etc = {{"korvix-1.3.conf", node.config}};
  RunResult r = testsupport::run(spec);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "20261200 kate inet misc 15.000000 - 30.000000 inet\n"
            "20261200 kate local misc 4.000000 - 4.000000 local\n");
}
