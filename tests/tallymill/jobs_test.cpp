// The node's daily and monthly jobs stopped, doubled and interleaved, each
// case compared with an undisturbed run.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "node.h"

using testsupport::readFile;
using testsupport::writeFile;

namespace {

// Stands in for the program of its name: runs the real one, then, on the
// call whose number NAME.kill holds, kills the job that ran it; on that of
// NAME.hold, makes NAME.held and waits for NAME.go.
const char kStandIn[] =
    "#!/bin/sh\n"
    "PATH=${PATH#*:} \"${0##*/}\" \"$@\"\ns=$?\n"
    "n=$(($(cat \"$0.n\" 2>/dev/null || echo 0) + 1))\necho $n > \"$0.n\"\n"
    "if [ \"$n\" = \"$(cat \"$0.hold\" 2>/dev/null)\" ]; then\n"
    "  : > \"$0.held\"\n  while [ ! -e \"$0.go\" ]; do sleep 0.05; done\nfi\n"
    "if [ \"$n\" = \"$(cat \"$0.kill\" 2>/dev/null)\" ]; then\n"
    "  p=$PPID\n  set --\n  while case $(cat /proc/$p/comm) in korvix-*) ;; *) false ;; esac; do\n"
    "    set -- \"$@\" $p\n    p=$(cut -d' ' -f4 /proc/$p/stat)\n  done\n  kill -9 \"$@\"\nfi\n"
    "exit $s\n";

// Two customers with counters of 202403 and a closed user, each counting
// mail.
void twoCustomers(const Node &node) {
  node.file("prices/std.lst", "mail mail_in 2\ndialup dialup_min 1\n");
  node.file("mail.cf", "class mail_in\nfrom .*\n");
  for (const char *u : {"ann", "bob", "kate"}) {
    node.user(u, "prices std.lst\n");
    node.file("userbase/" + std::string(u) + "/mail.cf", "class user\nany " + std::string(u) + "\n");
    node.file("userbase/" + std::string(u) + "/mail.st", "mail_in 5\n");
  }
  node.file("userbase/ann/dialup.st", "dialup_min 4\n");
  node.file("userbase/kate/status", "Closed");
}

// The rows of the month's tables but their ids, the files of the user base
// and the traffic files' names.
std::string snapshot(const Node &node) {
  std::string all = node.query("SELECT user,date,name,lang,amount,sname,sum FROM statistic "
                               "ORDER BY user,date,name") +
                    node.query("SELECT user,date,sum,cmt,flag FROM accounts ORDER BY user,date");
  std::map<std::string, std::string> files;
  for (const auto &e : std::filesystem::recursive_directory_iterator(node.home + "/userbase"))
    if (e.is_regular_file()) files[e.path().string().substr(node.home.size())] = readFile(e.path());
  for (const auto &e : std::filesystem::directory_iterator(node.tmp.path()))
    if (e.path().filename().string().rfind("traffic", 0) == 0) files[e.path().filename()] = "";
  for (const auto &[name, text] : files) all += name + ":\n" + text;
  return all;
}

}  // namespace

TEST(Jobs, AMonthStoppedAnywhereIsFinishedByARunAgainAsIfNeverStopped) {
  const struct {
    std::string tool, kill, hold;  // the stand-in, the call it kills or holds at
    bool dailyBetween = false;     // the daily job runs before the month is run again
  } cases[] = {
      {"", "", ""},                   // undisturbed: what every other row must give
      {"mv", "1", ""},                // the month recorded, nothing put aside
      {"mv", "3", "", true},          // half of ann's files put aside
      {"mv", "4", ""},                // ann's put aside, bob's not
      {"tallymill", "1", ""},         // ann priced
      {"ledgerctl", "2", "", true},   // both priced, none charged
      {"ledgerctl", "3", ""},         // ann charged
      {"tallymill", "", "1"},         // a second job while the first prices
  };
  std::string undisturbed;
  for (const auto &c : cases) {
    Node node;
    twoCustomers(node);
    testsupport::TempDir stand("standin");
    std::string first, program;
    if (!c.tool.empty()) {
      first = stand.path();
      writeFile(first + "/" + c.tool, kStandIn);
      std::filesystem::permissions(first + "/" + c.tool, std::filesystem::perms::owner_all);
      writeFile(first + "/" + c.tool + (c.kill.empty() ? ".hold" : ".kill"), c.kill + c.hold);
    }
    if (!c.hold.empty()) {
      // The second job starts once the first holds the lock, and is refused.
      program = first + "/two";
      writeFile(program, "#!/bin/sh\n" + testsupport::sourcePath("scripts/cron-job") + " \"$@\" &\n"
                         "while [ ! -e " + first + "/" + c.tool + ".held ]; do sleep 0.05; done\n" +
                         testsupport::sourcePath("scripts/cron-job") + " \"$@\" 2>&1\necho \"second $?\"\n"
                         ": > " + first + "/" + c.tool + ".go\nwait $!\necho \"first $?\"\n");
      std::filesystem::permissions(program, std::filesystem::perms::owner_all);
    }
    auto r = node.job({"2", "202403"}, first, program);
    if (!c.hold.empty()) {
      EXPECT_EQ(r.out, "korvix-monthly: another korvix-monthly is running (it holds " + node.home +
                           "/locks/korvix-monthly): 202403 not started\nsecond 1\n"
                           "korvix-monthly: 202403: 2 customers priced, 2 charged, the month's total 24\nfirst 0\n");
    } else {
      EXPECT_EQ(r.status, c.tool.empty() ? 0 : 128 + 9) << c.tool << c.kill << r.err;
    }
    // The next month's first day of mail, then the month run again, and the
    // next month.
    const auto daily = [&] {
      writeFile(node.tmp.sub("traffic"), "x@example.com ann 7 a b\nx@example.com bob 3 a b\n");
      EXPECT_EQ(node.job({"1", "20240401"}).status, 0);
    };
    if (c.dailyBetween) daily();
    r = node.monthly("202403");
    EXPECT_EQ(r.status, 0) << c.tool << c.kill << r.err;
    if (!c.dailyBetween) daily();
    r = node.monthly("202404");
    EXPECT_EQ(r.status, 0) << c.tool << c.kill << r.err;
    if (c.tool.empty()) undisturbed = snapshot(node);
    EXPECT_EQ(snapshot(node), undisturbed) << c.tool << c.kill << c.hold;
  }
}

TEST(Jobs, TheDailyJobCountsEachTrafficFileOnceWhateverStopsIt) {
  const struct {
    std::string traffic;  // the first run's traffic ("": none)
    std::string fault;    // "kill": SIGKILL once postmeter wrote; "full": bob's mail.st cannot be written
    int status;
    std::string err;      // the first run's standard error, the traffic file's path put for %s
  } cases[] = {
      {"x@example.com ann 7 a b\nx@example.com bob 1 a b\n", "", 0, ""},  // then a second run on the day
      {"", "", 0, ""},
      {"x@example.com ann 7 a b\nx@example.com bob 1 a b\n", "kill", 128 + 9, "Killed\n"},
      {"x@example.com ann 7 a b\nx@example.com bob 1 a b\n", "full", 1,
       "mailstat: can't write output file ~bob/mail.st (%h/userbase/bob/mail.st: No space left on device)\n"
       "korvix-daily: %s not counted (see above): it stays for the next run of korvix-daily\n"},
  };
  std::string whole;
  for (const auto &c : cases) {
    Node node;
    twoCustomers(node);
    const std::string t = node.tmp.sub("traffic"), bob = node.home + "/userbase/bob/mail.st";
    testsupport::TempDir stand("standin");
    if (c.fault == "kill") {
      writeFile(stand.sub("postmeter"), kStandIn);
      std::filesystem::permissions(stand.sub("postmeter"), std::filesystem::perms::owner_all);
      writeFile(stand.sub("postmeter.kill"), "1");
    } else if (c.fault == "full") {
      std::filesystem::remove(bob);
      std::filesystem::create_symlink("/dev/full", bob);
    }
    if (!c.traffic.empty()) writeFile(t, c.traffic);
    auto r = node.job({"1", "20240315"}, c.fault == "kill" ? stand.path() : "");
    std::string err = c.err;
    for (size_t at; (at = err.find("%s")) != std::string::npos;) err.replace(at, 2, t + ".20240315");
    for (size_t at; (at = err.find("%h")) != std::string::npos;) err.replace(at, 2, node.home);
    EXPECT_EQ(r.status, c.status) << c.fault << r.err;
    EXPECT_EQ(r.out + r.err, err) << c.fault;
    if (c.traffic.empty()) {
      EXPECT_EQ(snapshot(node).find("traffic"), std::string::npos);
      continue;
    }
    // Mended, and more traffic of the day: every line counted once.
    if (c.fault == "full") {
      std::filesystem::remove(bob);
      writeFile(bob, "mail_in 5\n");
    }
    writeFile(t, "x@example.com ann 2 a b\n");
    r = node.job({"1", "20240315"});
    EXPECT_EQ(r.status, 0) << c.fault << r.err;
    if (c.fault.empty()) whole = snapshot(node);
    EXPECT_EQ(snapshot(node), whole) << c.fault;
  }
  EXPECT_TRUE(whole.find("traffic.20240315.2.gz") != std::string::npos) << whole;
}
