#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <cstdio>
#include <string>

#include "config.h"
#include "locks.h"
#include "memory.h"
#include "process.h"

using testsupport::fileExists;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

class Locks : public ::testing::Test {
 protected:
  void SetUp() override { storeConfigString(&lockDir, dir.path().c_str(), nullptr); }
  void TearDown() override { lockDir = static_cast<char *>(memRealloc(lockDir, 0)); }
  std::string lockFile(const std::string &name) { return dir.sub("LCK.." + name); }
  testsupport::TempDir dir{"locks"};
};

std::string pidText(long pid) {
  char buf[32];
  snprintf(buf, sizeof buf, "%10lu\n", static_cast<unsigned long>(pid));
  return buf;
}

// A process id that has just ended (and been reaped).
pid_t deadPid() {
  pid_t pid = fork();
  if (pid == 0) _exit(0);
  waitpid(pid, nullptr, 0);
  return pid;
}

size_t filesIn(const std::string &dir) {
  std::string listing;
  FILE *p = popen(("ls -A '" + dir + "'").c_str(), "r");
  char line[300];
  size_t n = 0;
  while (fgets(line, sizeof line, p)) ++n;
  pclose(p);
  return n;
}

}  // namespace

TEST_F(Locks, NameIsLockDirPlusPrefix) {
  EXPECT_EQ(std::string(lockName("id-accounts")), dir.path() + "/LCK..id-accounts");
}

TEST_F(Locks, TakesWritesAndReleasesALock) {
  ASSERT_EQ(lock("id-rates"), 1);
  std::string path = lockFile("id-rates");
  EXPECT_EQ(readFile(path), pidText(getpid()));
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(filesIn(dir.path()), 1u);  // the temporary name is gone
  EXPECT_EQ(lockPid("id-rates"), getpid());
  EXPECT_EQ(isLocked("id-rates"), 1);
  EXPECT_EQ(lock("id-rates"), 0);  // the owner itself is alive
  EXPECT_EQ(lock("id-other"), 1);
  EXPECT_EQ(unlock("id-rates"), 1);
  EXPECT_FALSE(fileExists(path));
  EXPECT_EQ(unlock("id-rates"), 0);
  EXPECT_EQ(lockPid("id-rates"), -1);
  EXPECT_EQ(isLocked("id-rates"), 0);
  EXPECT_EQ(unlock("id-other"), 1);
}

TEST_F(Locks, StaleLockIsRemovedAndTakenInOneCall) {
  std::string path = lockFile("id-statistic");
  pid_t gone = deadPid();
  writeFile(path, pidText(gone));
  EXPECT_EQ(lockPid("id-statistic"), gone);
  EXPECT_EQ(lock("id-statistic"), 1);
  EXPECT_EQ(readFile(path), pidText(getpid()));

  writeFile(path, pidText(gone));
  EXPECT_EQ(isLocked("id-statistic"), 0);
  EXPECT_FALSE(fileExists(path));

  // An id beyond any process id is as good as gone.
  writeFile(path, "9999999999\n");
  EXPECT_EQ(lockPid("id-statistic"), 9999999999L);
  EXPECT_EQ(lock("id-statistic"), 1);
  unlock("id-statistic");
}

TEST_F(Locks, InvalidLockFileIsNeitherHeldNorRemoved) {
  std::string path = lockFile("id-ids");
  const char *invalid[] = {"     1234",     // 9 bytes
                           "  12a4567\n",   // a letter
                           "         0\n",  // owner 0
                           "          \n",  // reads as 0
                           "-000000001\n"};
  for (const char *text : invalid) {
    writeFile(path, text);
    EXPECT_EQ(lockPid("id-ids"), -1) << text;
    EXPECT_EQ(isLocked("id-ids"), 0) << text;
    EXPECT_EQ(lock("id-ids"), 0) << text;
    EXPECT_EQ(readFile(path), text);
  }
  // Blanks and tabs are allowed, and bytes after the tenth are not read.
  std::string self = std::to_string(getpid());
  writeFile(path, "\t" + std::string(9 - self.size(), ' ') + self + "xyz");
  EXPECT_EQ(lockPid("id-ids"), getpid());
  EXPECT_EQ(isLocked("id-ids"), 1);
}

TEST_F(Locks, InvalidLockFileLeftForSecondsIsStale) {
  const std::string path = lockFile("id-ids");
  for (const char *text : {"     1234", "  12a4567\n", "         0\n", ""}) {
    writeFile(path, text);
    // Last changed ten seconds ago: nobody is writing it any more.
    struct timespec times[2] = {{time(nullptr) - 10, 0}, {time(nullptr) - 10, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    EXPECT_EQ(isLocked("id-ids"), 0) << text;
    EXPECT_FALSE(fileExists(path)) << text;
    writeFile(path, text);
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    EXPECT_EQ(lock("id-ids"), 1) << text;
    EXPECT_EQ(readFile(path), pidText(getpid())) << text;
    unlock("id-ids");
  }
}

TEST(LockWaitLog, AWaitOfMoreThanAMinuteIsLoggedOnce) {
  // The driver holds the lock itself and counts its sleeps instead of
  // sleeping; lockWait gives up after the tries given.
  testsupport::TempDir dir("lockwait");
  const struct {
    const char *tries;
    std::string err;
  } cases[] = {
      {"60", ""},
      {"61", "Waiting more than 60 seconds for lock " + dir.sub("LCK..id-held") + "\n"},
      {"200", "Waiting more than 60 seconds for lock " + dir.sub("LCK..id-held") + "\n"},
  };
  for (const auto &c : cases) {
    testsupport::RunSpec spec;
    spec.program = "lockwait";
    spec.args = {dir.path(), "id-held", c.tries};
    spec.overlay = false;
    testsupport::RunResult r = testsupport::run(spec);
    EXPECT_EQ(r.out, std::string("lockWait 0 slept ") + c.tries + "\n");
    EXPECT_EQ(r.err, c.err) << c.tries;
  }
}

TEST_F(Locks, WaitGivesUpAfterItsTriesAndSleeps) {
  ASSERT_EQ(lock("id-held"), 1);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(lockWait("id-held", 1, 3), 0);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_GE(seconds, 2.9);
  EXPECT_LT(seconds, 6);
  EXPECT_EQ(lockWait("id-free", 1, 3), 1);
  unlock("id-held");
  unlock("id-free");
}

TEST_F(Locks, WaitTakesTheLockWhenTheOwnerEnds) {
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t child = fork();
  if (child == 0) {
    char c = lock("id-pass") ? '1' : '0';
    if (write(ready[1], &c, 1) != 1) _exit(1);
    sleep(1);
    _exit(0);  // leaves the lock behind: stale once reaped
  }
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  ASSERT_EQ(c, '1');
  EXPECT_EQ(lock("id-pass"), 0);
  waitpid(child, nullptr, 0);
  EXPECT_EQ(lockWait("id-pass", 1, 0), 1);
  EXPECT_EQ(lockPid("id-pass"), getpid());
  unlock("id-pass");
  close(ready[0]);
  close(ready[1]);
}

TEST_F(Locks, RefusesWhatCannotBeMade) {
  std::string longName(250, 'x');
  EXPECT_EQ(lock(longName.c_str()), 0);
  EXPECT_EQ(lockPid(longName.c_str()), -1);
  EXPECT_EQ(strlen(lockName(longName.c_str())), 199u);
  // A name that fits but leaves no room for the process id.
  std::string tight(199 - dir.path().size() - 6, 'y');
  EXPECT_EQ(lock(tight.c_str()), 0);
  EXPECT_EQ(filesIn(dir.path()), 0u);

  storeConfigString(&lockDir, dir.sub("missing").c_str(), nullptr);
  EXPECT_EQ(lock("id-x"), 0);
  EXPECT_EQ(lockWait("id-x", 0, 2), 0);
  lockDir = static_cast<char *>(memRealloc(lockDir, 0));
  EXPECT_EQ(lock("id-x"), 0);
  EXPECT_EQ(unlock("id-x"), 0);
  storeConfigString(&lockDir, dir.path().c_str(), nullptr);
}

namespace {

testsupport::RunResult runStress(const testsupport::TempDir &home,
                                 const std::vector<std::string> &args) {
  testsupport::RunSpec spec;
  spec.program = "lockstress";
  spec.args = args;
  spec.etc = {{"korvix-1.3.conf", testsupport::configFor(home.path())}};
  spec.timeoutSeconds = 120;
  return testsupport::run(spec);
}

}  // namespace

TEST(LockProcesses, CounterUnderLockIsExact) {
  testsupport::TempDir home("lockcount");
  std::string counter = home.sub("counter");
  auto res = runStress(home, {"count", "8", "200", "id-statistic", counter});
  ASSERT_EQ(res.status, 0) << res.err;
  EXPECT_EQ(readFile(counter), "1600\n");
  EXPECT_EQ(filesIn(home.sub("locks")), 0u);
}

TEST(LockProcesses, StaleLockIsRecoveredByExactlyOne) {
  testsupport::TempDir home("lockstale");
  auto res = runStress(home, {"stale", "8", "40", "id-accounts"});
  EXPECT_EQ(res.status, 0) << res.out << res.err;
  std::string expected;
  for (int i = 0; i < 40; ++i) expected += "winners 1\n";
  EXPECT_EQ(res.out, expected);
}
