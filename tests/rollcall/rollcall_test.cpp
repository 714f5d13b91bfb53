#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "process.h"

namespace {

const char kUsage[] =
    "Usage: rollcall [-p] [-o] [user user ...]\n"
    "\t-p\tshow path to user's home instead of user name\n"
    "\t-o\tdon't show closed users\n"
    "\t-O\tshow only ``official'' users\n"
    "\n"
    "By default all user names showed\n";

// A user base with index levels: alice and anton under a/, john under j/jo/,
// kate under k/ (no index below k). anton is closed, john not official; kate's
// lower-case "closed" marks nothing; a/adam lacks user.cf and is no user.
class Rollcall : public ::testing::Test {
 protected:
  void SetUp() override {
    testsupport::writeFile(home + "/languages.cf", "en messages.en\n");
    testsupport::writeFile(home + "/messages.en", "");
    for (const char *rel : {".alpha", "j/.alpha", "a/adam/status"}) testsupport::writeFile(base + "/" + rel, "");
    for (const char *rel : {"a/alice", "a/anton", "j/jo/john", "k/kate"})
      testsupport::writeFile(base + "/" + rel + "/user.cf", "prices std\n");
    testsupport::writeFile(base + "/a/anton/status", "Closed");
    testsupport::writeFile(base + "/j/jo/john/status", "No");
    testsupport::writeFile(base + "/k/kate/status", "closed\n");
  }
  testsupport::RunResult rollcall(const std::vector<std::string> &args, const std::string &extra = "",
                                  const std::string &program = "rollcall") {
    testsupport::RunSpec spec;
    spec.program = program;
    spec.args = args;
    spec.etc = {{"korvix-1.3.conf", testsupport::configFor(home, extra)}};
    return testsupport::run(spec);
  }
  testsupport::TempDir tmp{"rollcall"};
  std::string home = tmp.sub("home");
  std::string base = home + "/userbase";
};

}  // namespace

TEST_F(Rollcall, ListsTheWalkOrTheNamedUsersFilteredByStatus) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{}, "alice\nanton\njohn\nkate\n"},
      {{"-o"}, "alice\njohn\nkate\n"},
      {{"-O"}, "alice\nanton\nkate\n"},
      {{"-o", "-O"}, "alice\nkate\n"},
      {{"-p", "-o"}, base + "/a/alice\n" + base + "/j/jo/john\n" + base + "/k/kate\n"},
      // Named users in the given order, also ones the base lacks.
      {{"-o", "-O", "kate", "nobody", "anton", "john", "alice"}, "kate\nnobody\nalice\n"},
      {{"-p", "john", "nobody"}, base + "/j/jo/john\n" + base + "/n/nobody\n"},
  };
  for (const auto &[args, out] : cases) {
    auto r = rollcall(args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, out);
  }
}

TEST_F(Rollcall, UsageRefusalsAndFailuresEndWithStatusOne) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"-H"}, kUsage},
      {{"-p", "-x"}, std::string("rollcall: invalid option -- 'x'\n") + kUsage},
      {{"alice", "../etc"}, "Bad user name '../etc'\n"},
      {{"-p", "a/alice"}, "Bad user name 'a/alice'\n"},
      {{""}, "Bad user name ''\n"},
  };
  for (const auto &[args, err] : cases) {
    auto r = rollcall(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(r.err.ends_with(err)) << r.err;
  }

  auto r = rollcall({}, "userbase-dir " + tmp.sub("missing") + "\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Can't open user base `" + tmp.sub("missing") + "'\n");
  // An empty base that opens is an empty list.
  r = rollcall({}, "userbase-dir " + home + "/locks\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");

  // A list that cannot be written out is a failure.
  for (const std::vector<std::string> &args : std::vector<std::vector<std::string>>{{}, {"alice"}}) {
    std::vector<std::string> shell = {"-c", "exec \"$0\" \"$@\" >/dev/full", testsupport::binPath("rollcall")};
    shell.insert(shell.end(), args.begin(), args.end());
    r = rollcall(shell, "", "/bin/sh");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Can't write the user list\n");
  }
}
