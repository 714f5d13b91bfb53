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
// on its call number k does what act says (by default kills the job that ran it).
const char kKill[] = "set --; p=$PPID; while case $(cat /proc/$p/comm) in korvix-*) ;; *) false ;; esac; "
                     "do set -- \"$@\" $p; p=$(cut -d' ' -f4 /proc/$p/stat); done; kill -9 \"$@\"";
void standIn(const std::string &dir, const std::string &tool, const std::string &k, const std::string &act = kKill) {
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
    std::string tool, call, act;  // the stand-in, the call it acts at: kill, second (job) or warn
    int status;                   // the first run's
    bool dailyBetween = false;    // the daily job runs before the month is run again
  } cases[] = {
      {"", "", "", 0},                            // undisturbed: what every other row must give
      {"mv", "1", "kill", 128 + 9},               // the month recorded, nothing put aside
      {"mv", "3", "kill", 128 + 9, true},         // half of ann's files put aside
      {"mv", "4", "kill", 128 + 9},               // ann's put aside, bob's not
      {"tallymill", "1", "kill", 128 + 9},        // ann priced
      {"ledgerctl", "2", "kill", 128 + 9, true},  // both priced, none charged
      {"ledgerctl", "3", "kill", 128 + 9},        // ann charged
      {"tallymill", "1", "second", 0},
      {"rollcall", "1", "warn", 2},               // a folder left out
  };
  const std::string warning = "`j.smith' is not a user name: only letters, digits, - and _";
  std::string undisturbed;
  for (const auto &c : cases) {
    Node node;
    twoCustomers(node);
    testsupport::TempDir stand("standin");
    const std::string first = c.tool.empty() ? "" : stand.path(), second = stand.sub("second");
    const std::map<std::string, std::string> acts = {
        {"kill", kKill},
        {"second", testsupport::sourcePath("scripts/cron-job") + " " + testsupport::sourcePath("examples/korvix.cron") +
                       " 2 202403 2> " + second},
        {"warn", "printf '\\140j.smith\\047 is not a user name: only letters, digits, - and _\\n' >&2"}};
    if (!c.tool.empty()) standIn(first, c.tool, c.call, acts.at(c.act));
    auto r = node.job({"2", "202403"}, first);
    EXPECT_EQ(r.status, c.status) << c.tool << c.call << r.err;
    if (c.act == "second") {
      EXPECT_EQ(testsupport::readFile(second), "korvix-monthly: another korvix-monthly is running (it holds " +
                                                   node.home + "/locks/korvix-monthly): 202403 not started\n");
    }
    if (c.act == "warn") {
      EXPECT_NE(r.err.find("\nkorvix-monthly: folders that rollcall left out, neither priced nor charged:\n  " + warning +
                           "\n"), std::string::npos) << r.err;
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
    EXPECT_EQ(snapshot(node), undisturbed) << c.tool << c.call << c.act;
  }
}

TEST(Jobs, TheDailyJobCountsEachTrafficFileOnceWhateverStopsIt) {
  // Each row's first run, then a second one on the day with more traffic.
  const struct {
    std::string fault;  // "none": no traffic; "kill": SIGKILL once postmeter wrote; "full": bob's mail.st unwritable
    int status;
  } cases[] = {{"", 0}, {"none", 0}, {"kill", 128 + 9}, {"full", 1}};
  std::string whole;
  for (const auto &c : cases) {
    Node node;
    twoCustomers(node);
    const std::string t = node.tmp.sub("traffic"), bob = node.home + "/userbase/bob/mail.st";
    testsupport::TempDir stand("standin");
    if (c.fault == "kill") standIn(stand.path(), "postmeter", "1");
    if (c.fault == "full") fs::remove(bob), fs::create_symlink("/dev/full", bob);
    if (c.fault != "none") writeFile(t, "x@example.com ann 7 a b\nx@example.com bob 1 a b\n");
    auto r = node.job({"1", "20240315"}, c.fault == "kill" ? stand.path() : "");
    EXPECT_EQ(r.status, c.status) << c.fault << r.err;
    EXPECT_EQ(r.out + r.err, c.fault == "full" ? "mailstat: can't write output file ~bob/mail.st (" + bob +
                                                     ": No space left on device)\nkorvix-daily: " + t +
                                                     ".20240315 not counted (see above): it stays for the next "
                                                     "run of korvix-daily\n"
                             : c.fault == "kill" ? "Killed\n" : "");
    if (c.fault == "none") {
      EXPECT_EQ(snapshot(node).find("traffic"), std::string::npos);
      continue;
    }
    if (c.fault == "full") fs::remove(bob), writeFile(bob, "mail_in 5\n");
    writeFile(t, "x@example.com ann 2 a b\n");
    EXPECT_EQ(node.job({"1", "20240315"}).status, 0) << c.fault;
    if (c.fault.empty()) whole = snapshot(node);
    EXPECT_EQ(snapshot(node), whole) << c.fault;  // every line counted once
  }
  EXPECT_NE(whole.find("traffic.20240315.2.gz"), std::string::npos) << whole;
}
