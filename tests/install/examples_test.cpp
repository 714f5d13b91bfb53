// The node's example files, their paths moved into a copy of the sample node,
// checked by the tools they are written for and run there.
#include <gtest/gtest.h>

#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <iterator>
#include <sstream>

#include "process.h"

using namespace testsupport;

namespace {

// The example with the test's paths for a real node's (and root, which the
// test is in its namespace, for the home's owner).
std::string adapted(const std::string &name, const std::string &home, const std::string &log) {
  std::string text = readFile(sourcePath("examples/" + name));
  const std::pair<std::string, std::string> moves[] = {{"/var/local/stat", home},
                                                       {"/var/log/korvix", log},
                                                       {"/usr/local/bin/dbserver", binPath("dbserver")},
                                                       {"su stat stat", "su root root"}};
  for (const auto &[from, to] : moves)
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
      text.replace(at, from.size(), to);
  return text;
}

}  // namespace

TEST(Examples, WorkOnACopyOfTheSampleNode) {
  std::string missing;
  for (const char *tool : {"/usr/sbin/lighttpd", "/usr/bin/systemd-analyze", "/usr/sbin/logrotate"})
    if (!fileExists(tool)) missing += std::string(" ") + tool;
  if (!missing.empty()) GTEST_SKIP() << "not installed:" << missing << " (scripts/install-deps.sh installs them)";
  TempDir tmp("examples");
  const std::string home = tmp.sub("home"), log = tmp.sub("log"), ex = tmp.sub("ex");
  std::filesystem::copy(sourcePath("examples/node"), home, std::filesystem::copy_options::recursive);
  makeDirs(home + "/locks");
  writeFile(log + "/traffic", readFile(home + "/traffic"));
  writeFile(home + "/Logfile", "a line\n");
  for (const char *name : {"korvix-lighttpd.conf", "korvix-dbserver.service", "korvix.logrotate"})
    writeFile(ex + "/" + name, adapted(name, home, log));
  writeFile(ex + "/web.conf", "server.modules = (\"mod_alias\")\nserver.document-root = \"" + ex +
                                  "\"\ninclude \"" + ex + "/korvix-lighttpd.conf\"\n");
  // Yesterday as the cron job takes it: the day before today, local time.
  RunSpec date;
  date.program = "/bin/date";
  date.args = {"-d", "yesterday", "+%Y%m%d"};
  date.overlay = false;
  std::string yesterday = run(date).out;
  yesterday = yesterday.substr(0, yesterday.find('\n'));

  // The unit's command, which serves the socket of the sample configuration.
  std::string unit = adapted("korvix-dbserver.service", home, log);
  size_t at = unit.find("\nExecStart=") + 11;
  std::istringstream line(unit.substr(at, unit.find('\n', at) - at));
  std::vector<std::string> start{std::istream_iterator<std::string>(line), {}};
  ASSERT_EQ(waitChild(spawnChild({binPath("dbserver"), "-D", home + "/db", "--init", "vovuvuza"}, nullptr), 10), 0);
  pid_t server = spawnChild(start, nullptr);
  for (int i = 0; i < 500 && !fileExists(home + "/db/msql.sock"); ++i) usleep(10000);

  const struct {
    std::vector<std::string> command;
    std::vector<std::string> made;  // files the command makes
  } cases[] = {
      {{"/usr/sbin/lighttpd", "-tt", "-f", ex + "/web.conf"}, {}},
      {{"/usr/bin/systemd-analyze", "verify", "--man=no", ex + "/korvix-dbserver.service"}, {}},
      {{binPath("fxpost"), "-q", "USD", "92.5"}, {}},
      {{"/usr/sbin/logrotate", "-f", "-s", tmp.sub("state"), ex + "/korvix.logrotate"}, {home + "/Logfile.1"}},
      {{sourcePath("scripts/cron-job"), sourcePath("examples/korvix.cron"), "1"},
       {log + "/traffic." + yesterday + ".gz", home + "/userbase/a/alice/mail.st"}},
  };
  for (const auto &c : cases) {
    RunSpec spec;
    spec.program = c.command[0];
    spec.args.assign(c.command.begin() + 1, c.command.end());
    spec.etc = {{"korvix-1.3.conf", adapted("node/korvix-1.3.conf", home, log)}};
    spec.env = {{"T", log + "/traffic"}, {"PATH", binPath(".") + ":" + sourcePath("examples") + ":/usr/bin:/bin"}};
    RunResult r = run(spec);
    EXPECT_EQ(r.status, 0) << c.command[0];
    EXPECT_EQ(r.out + r.err, "") << c.command[0];
    for (const std::string &made : c.made) EXPECT_TRUE(fileExists(made)) << made;
  }
  EXPECT_EQ(stopChild(server, 10), 0);
}
