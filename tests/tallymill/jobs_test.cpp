// The node's daily and monthly jobs stopped, doubled and interleaved, each
// case compared with an undisturbed run.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "node.h"

using testsupport::writeFile;
namespace fs = std::filesystem;

namespace {

// Writes dir/tool, which stands in for that program: runs the real one, then
// on its call number k kills the job that ran it, or (hold) makes tool.held
// and waits for tool.go.
void standIn(const std::string &dir, const std::string &tool, const std::string &k, bool hold) {
  const std::string act = hold ? ": > $0.held; while [ ! -e $0.go ]; do sleep 0.05; done"
                               : "set --; p=$PPID; while case $(cat /proc/$p/comm) in korvix-*) ;; *) false ;; esac; "
                                 "do set -- \"$@\" $p; p=$(cut -d' ' -f4 /proc/$p/stat); done; kill -9 \"$@\"";
  writeFile(dir + "/" + tool, "#!/bin/sh\nPATH=${PATH#*:} " + tool + " \"$@\"\ns=$?\necho >> $0.n\n"
                              "[ $(wc -l < $0.n) != " + k + " ] || { " + act + "; }\nexit $s\n");
  fs::permissions(dir + "/" + tool, fs::perms::owner_all);
}

// Two customers with counters of 202403 and a closed user, each counting mail.
void twoCustomers(const Node &node) {
  node.file("prices/std.lst", "mail mail_in 2\ndialup dialup_min 1\n");
  node.file("mail.cf", "class mail_in\nfrom .*\n");
  for (std::string u : {"ann", "bob", "kate"}) {
    node.user(u, "prices std.lst\n");
    node.file("userbase/" + u + "/mail.cf", "class user\nany " + u + "\n");
    node.file("userbase/" + u + "/mail.st", "mail_in 5\n");
  }
  node.file("userbase/ann/dialup.st", "dialup_min 4\n");
  node.file("userbase/kate/status", "Closed");
}

// The tables' rows but their ids, the user base's files, the traffic files' names.
std::string snapshot(const Node &node) {
  std::string all = node.query("SELECT user,date,name,lang,amount,sname,sum FROM statistic ORDER BY user,date,name") +
                    node.query("SELECT user,date,sum,cmt,flag FROM accounts ORDER BY user,date");
  std::map<std::string, std::string> files;
  for (const auto &e : fs::recursive_directory_iterator(node.home + "/userbase"))
    if (e.is_regular_file()) files[e.path().string().substr(node.home.size())] = testsupport::readFile(e.path());
  for (const auto &e : fs::directory_iterator(node.tmp.path()))
    if (e.path().filename().string().rfind("traffic", 0) == 0) files[e.path().filename()] = "";
  for (const auto &[name, text] : files) all += name + ":\n" + text;
  return all;
}

}  // namespace

TEST(Jobs, AMonthStoppedAnywhereIsFinishedByARunAgainAsIfNeverStopped) {
  const struct {
    std::string tool, call;     // the stand-in, the call it kills the job at
    bool hold = false;          // a second job starts while the first is held there instead
    bool dailyBetween = false;  // the daily job runs before the month is run again
  } cases[] = {
      {"", ""},                          // undisturbed: what every other row must give
      {"mv", "1"},                       // the month recorded, nothing put aside
      {"mv", "3", false, true},          // half of ann's files put aside
      {"mv", "4"},                       // ann's put aside, bob's not
      {"tallymill", "1"},                // ann priced
      {"ledgerctl", "2", false, true},   // both priced, none charged
      {"ledgerctl", "3"},                // ann charged
      {"tallymill", "1", true},
  };
  std::string undisturbed;
  for (const auto &c : cases) {
    Node node;
    twoCustomers(node);
    testsupport::TempDir stand("standin");
    const std::string first = c.tool.empty() ? "" : stand.path(), job = testsupport::sourcePath("scripts/cron-job");
    if (!c.tool.empty()) standIn(first, c.tool, c.call, c.hold);
    if (!c.hold) {
      EXPECT_EQ(node.job({"2", "202403"}, first).status, c.tool.empty() ? 0 : 128 + 9) << c.tool << c.call;
    } else {
      writeFile(stand.sub("two"), "#!/bin/sh\n" + job + " \"$@\" &\nwhile [ ! -e ${0%/*}/tallymill.held ]; do sleep 0.05; done\n" +
                                      job + " \"$@\" 2>&1; echo \"second $?\"\n: > ${0%/*}/tallymill.go; wait $!; echo \"first $?\"\n");
      fs::permissions(stand.sub("two"), fs::perms::owner_all);
      EXPECT_EQ(node.job({"2", "202403"}, first, stand.sub("two")).out,
                "korvix-monthly: another korvix-monthly is running (it holds " + node.home +
                    "/locks/korvix-monthly): 202403 not started\nsecond 1\n"
                    "korvix-monthly: 202403: 2 customers priced, 2 charged, the month's total 24\nfirst 0\n");
    }
    // The next month's first day of mail, the month run again, then the next month.
    const auto daily = [&] {
      writeFile(node.tmp.sub("traffic"), "x@example.com ann 7 a b\nx@example.com bob 3 a b\n");
      EXPECT_EQ(node.job({"1", "20240401"}).status, 0);
    };
    if (c.dailyBetween) daily();
    EXPECT_EQ(node.monthly("202403").status, 0) << c.tool << c.call;
    if (!c.dailyBetween) daily();
    EXPECT_EQ(node.monthly("202404").status, 0) << c.tool << c.call;
    if (c.tool.empty()) undisturbed = snapshot(node);
    EXPECT_EQ(snapshot(node), undisturbed) << c.tool << c.call << c.hold;
  }
}

TEST(Jobs, TheDailyJobCountsEachTrafficFileOnceWhateverStopsIt) {
  const struct {
    std::string traffic;  // the first run's ("": none), then a second run on the day
    std::string fault;    // "kill": SIGKILL once postmeter wrote; "full": bob's mail.st cannot be written
    int status;
    std::string err;  // the first run's standard error after the traffic file's path
  } cases[] = {
      {"x@example.com ann 7 a b\nx@example.com bob 1 a b\n", "", 0, ""},
      {"", "", 0, ""},
      {"x@example.com ann 7 a b\nx@example.com bob 1 a b\n", "kill", 128 + 9, ""},
      {"x@example.com ann 7 a b\nx@example.com bob 1 a b\n", "full", 1,
       " not counted (see above): it stays for the next run of korvix-daily\n"},
  };
  std::string whole;
  for (const auto &c : cases) {
    Node node;
    twoCustomers(node);
    const std::string t = node.tmp.sub("traffic"), bob = node.home + "/userbase/bob/mail.st";
    testsupport::TempDir stand("standin");
    if (c.fault == "kill") standIn(stand.path(), "postmeter", "1", false);
    if (c.fault == "full") fs::remove(bob), fs::create_symlink("/dev/full", bob);
    if (!c.traffic.empty()) writeFile(t, c.traffic);
    auto r = node.job({"1", "20240315"}, c.fault == "kill" ? stand.path() : "");
    EXPECT_EQ(r.status, c.status) << c.fault << r.err;
    const std::string reason = "mailstat: can't write output file ~bob/mail.st (" + bob + ": No space left on device)\n";
    EXPECT_EQ(r.out + r.err, c.fault == "full" ? reason + "korvix-daily: " + t + ".20240315" + c.err
                                               : c.fault == "kill" ? "Killed\n" : "");
    if (c.traffic.empty()) {
      EXPECT_EQ(snapshot(node).find("traffic"), std::string::npos);
      continue;
    }
    // Mended, and more traffic of the day: every line counted once.
    if (c.fault == "full") fs::remove(bob), writeFile(bob, "mail_in 5\n");
    writeFile(t, "x@example.com ann 2 a b\n");
    EXPECT_EQ(node.job({"1", "20240315"}).status, 0) << c.fault;
    if (c.fault.empty()) whole = snapshot(node);
    EXPECT_EQ(snapshot(node), whole) << c.fault;
  }
  EXPECT_NE(whole.find("traffic.20240315.2.gz"), std::string::npos) << whole;
}
