// Logging, errors, debug output, home paths and heap formatting.
#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <string>

#include "config.h"
#include "memory.h"
#include "misc.h"
#include "process.h"

using testsupport::TempDir;

namespace {

// Points home-dir at a directory for the length of a test.
class HomeAt {
 public:
  explicit HomeAt(const std::string &dir) : saved_(homeDir) {
    homeDir = nullptr;
    storeConfigString(&homeDir, dir.c_str(), nullptr);
  }
  HomeAt() : saved_(homeDir) { homeDir = nullptr; }
  ~HomeAt() {
    memRealloc(homeDir, 0);
    homeDir = saved_;
  }
 private:
  char *saved_;
};

class DebugLevel {
 public:
  explicit DebugLevel(int level) : saved_(debugLevel) { debugLevel = level; }
  ~DebugLevel() { debugLevel = saved_; }
 private:
  int32_t saved_;
};

const char kStamp[] = R"(\d\d:\d\d:\d\d \d\d/\d\d/\d{4} )";

bool matches(const std::string &text, const std::string &re) {
  return std::regex_match(text, std::regex(re));
}

}  // namespace

TEST(Misc, ErrorWritesAStampedWarningLineAndTheMessage) {
  TempDir home;
  HomeAt at(home.path());
  testing::internal::CaptureStderr();
  EXPECT_EQ(error("one %d", 1), 0);
  EXPECT_EQ(error("two\n"), 0);
  EXPECT_EQ(error("%s", "three\n"), 0);  // the format decides, not the text
  EXPECT_EQ(error("four\nfive"), 0);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-zero-length"
  EXPECT_EQ(error(""), 0);  // an empty format gets its newline too
#pragma GCC diagnostic pop
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "one 1\ntwo\nthree\n\nfour\nfive\n\n");
  std::string s = kStamp;
  EXPECT_TRUE(matches(testsupport::readFile(home.sub("Logfile")),
                      s + "W one 1\n" + s + "W two\n" + s + "W three\n\n" + s + "W four\nfive\n" + s + "W \n"))
      << testsupport::readFile(home.sub("Logfile"));
}

TEST(Misc, ErrorWithoutAnOpenableLogStillReachesStandardError) {
  TempDir tmp;
  {
    HomeAt at(tmp.sub("missing"));
    testing::internal::CaptureStderr();
    error("not lost %d", 1);
    logMessage("the log alone");
    // Led by the one line, per process, that says the log cannot be written
    // (unless an earlier test of this process said it already).
    const std::string note = "Can't append to `" + tmp.sub("missing") + "/Logfile' (No such file or directory)\n";
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(err == note + "not lost 1\n" || err == "not lost 1\n") << err;
  }
  {
    // Before home-dir is known the log is /dev/null, which opens.
    HomeAt unset;
    EXPECT_STREQ(logFileName(), "/dev/null");
    testing::internal::CaptureStderr();
    error("early %s", "bird");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "early bird\n");
  }
}

TEST(Misc, LogMessageWritesOnlyTheLog) {
  TempDir home;
  HomeAt at(home.path());
  testing::internal::CaptureStderr();
  logMessage("note %d", 7);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_TRUE(matches(testsupport::readFile(home.sub("Logfile")), std::string(kStamp) + "L note 7\n"));
}

TEST(MiscDeathTest, FatalLogsOnceHomeIsKnownAndAlwaysPrints) {
  TempDir home;
  {
    HomeAt at(home.path());
    EXPECT_EXIT(fatal(1, "gone %s", "away"), testing::ExitedWithCode(1), "^gone away\n$");
    EXPECT_EXIT(fatal(3, "with newline\n"), testing::ExitedWithCode(3), "^with newline\n$");
    std::string s = kStamp;
    EXPECT_TRUE(matches(testsupport::readFile(home.sub("Logfile")),
                        s + "E gone away\n" + s + "E with newline\n"));
  }
  {
    HomeAt at(home.sub("missing"));
    EXPECT_EXIT(fatal(1, "still said"), testing::ExitedWithCode(1), "^(Can't append to .*\n)?still said\n$");
  }
  {
    HomeAt unset;
    EXPECT_EXIT(fatal(1, "no home"), testing::ExitedWithCode(1), "^no home\n$");
  }
}

TEST(Misc, DebugPrintsUpToTheConfiguredLevel) {
  testing::internal::CaptureStderr();
  {
    DebugLevel level(0);
    debug(10, "hidden");
    debug(1, "hidden too");
  }
  {
    DebugLevel level(10);
    debug(10, "shown %d", 10);
    debug(11, "hidden");
    debug(4, "%s", "text with newline\n");  // the format decides
    debug(4, "own newline\n");
    debug(4, "%s", "");
  }
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "shown 10\ntext with newline\n\nown newline\n\n");
}

TEST(Misc, TimeStampHasTheLogPrefixFormat) {
  EXPECT_TRUE(matches(timeStamp("W"), std::string(kStamp) + "W "));
  EXPECT_TRUE(matches(timeStamp("kind"), R"(\d\d:\d\d:\d\d \d\d/\d\d/\d{4} kind )"));
}

TEST(Misc, HomePathSharesOneBufferAndRefusesTooLongPaths) {
  HomeAt at("/h");
  char *first = homePath("a");
  EXPECT_STREQ(first, "/h/a");
  char *second = homePath("bb");
  EXPECT_EQ(first, second);
  EXPECT_STREQ(first, "/h/bb");
  EXPECT_STREQ(logFileName(), "/h/Logfile");

  // 199 characters fit; 200 would be cut to some other file's name.
  std::string name197(197, 'n');
  std::string fits(196, 'n');
  EXPECT_EQ(strlen(homePath(fits.c_str())), 199u);
  EXPECT_STREQ(homePath(name197.c_str()), "");

  char *savedBin = binDir, *savedServer = serverDir;
  binDir = const_cast<char *>("/b");
  serverDir = const_cast<char *>("/s");
  EXPECT_STREQ(binPath("x"), "/b/x");
  EXPECT_STREQ(serverPath("y"), "/s/y");
  EXPECT_STREQ(homePath("z"), "/h/z");
  binDir = savedBin;
  serverDir = savedServer;
}

TEST(Misc, LogFileNameIsRefusedWhenTooLong) {
  std::string dir = "/" + std::string(290, 'd');  // 291 characters: just fits
  {
    HomeAt at(dir);
    EXPECT_EQ(std::string(logFileName()), dir + "/Logfile");
  }
  {
    HomeAt at(dir + "d");
    EXPECT_STREQ(logFileName(), "");
  }
}

TEST(Misc, StrprintfNeverCuts) {
  for (size_t n : {0, 1, 398, 399, 400, 401, 799, 800, 1000, 5000}) {
    std::string text(n, 'q');
    char *s = strprintf("%s", text.c_str());
    EXPECT_EQ(s, text) << n;
    memRealloc(s, 0);
  }
  char *s = strprintf("%d-%s-%c", 42, std::string(1000, 'x').c_str(), '!');
  EXPECT_EQ(std::string(s), "42-" + std::string(1000, 'x') + "-!");
  memRealloc(s, 0);
}

TEST(Misc, StrprintfEndsWhenTheFormatterFails) {
  // A width beyond int makes the formatter fail; the result is empty
  // instead of a buffer grown without end.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-overflow"
  char *s = strprintf("%2147483648d", 1);
#pragma GCC diagnostic pop
  EXPECT_STREQ(s, "");
  memRealloc(s, 0);
}
