#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "process.h"

TEST(Rollcall, ListsUsersFilteredByStatusAndRefusesWhatItCannotList) {
  // Index levels: alice and anton under a/, john under j/jo/, kate under k/.
  // anton is closed, john not official; kate's lower-case "closed" marks
  // nothing; a/adam lacks user.cf and is no user. k/j.smith and k/u09 are
  // customer folders left out, with a warning; k/.old is hidden.
  testsupport::TempDir tmp("rollcall");
  const std::string home = tmp.sub("home"), b = home + "/userbase";
  const std::pair<std::string, std::string> files[] = {
      {"languages.cf", "en messages.en\n"}, {"messages.en", ""}, {"userbase/.alpha", ""},
      {"userbase/j/.alpha", ""}, {"userbase/a/adam/status", ""}, {"userbase/a/alice/user.cf", ""},
      {"userbase/a/anton/user.cf", ""}, {"userbase/a/anton/status", "Closed"},
      {"userbase/j/jo/john/user.cf", ""}, {"userbase/j/jo/john/status", "No"},
      {"userbase/k/kate/user.cf", ""}, {"userbase/k/kate/status", "closed\n"},
      {"userbase/k/j.smith/user.cf", ""}, {"userbase/k/u09/user.cf/x", ""}, {"userbase/k/.old/user.cf", ""}};
  for (const auto &[rel, text] : files) testsupport::writeFile(home + "/" + rel, text);
  // Through a shell, so that standard output can go elsewhere.
  auto rollcall = [&](std::vector<std::string> args, const std::string &config = "", const std::string &to = "") {
    args.insert(args.begin(), {"-c", "exec \"$0\" \"$@\" " + to, testsupport::binPath("rollcall")});
    testsupport::RunSpec spec;
    spec.program = "/bin/sh";
    spec.args = args;
    spec.etc = {{"korvix-1.3.conf", testsupport::configFor(home, config)}};
    return testsupport::run(spec);
  };

  const std::string usage =
      "Usage: rollcall [-p] [-o] [user user ...]\n\t-p\tshow path to user's home instead of user name\n"
      "\t-o\tdon't show closed users\n\t-O\tshow only ``official'' users\n\nBy default all user names showed\n";
  const std::string left = "`j.smith' is not a user name: only letters, digits, - and _\nuser.cf of `u09' is not a file\n";
  const struct {
    std::vector<std::string> args;
    int status;
    std::string out, err;  // err: the end of standard error
  } cases[] = {
      {{}, 0, "alice\nanton\njohn\nkate\n", left},
      {{"-o"}, 0, "alice\njohn\nkate\n", left},
      {{"-O"}, 0, "alice\nanton\nkate\n", left},
      {{"-p", "-o", "-O"}, 0, b + "/a/alice\n" + b + "/k/kate\n", left},
      // Named users in the given order, also ones the base lacks.
      {{"-o", "-O", "kate", "nobody", "anton", "john"}, 0, "kate\nnobody\n", ""},
      {{"-p", "john", "nobody"}, 0, b + "/j/jo/john\n" + b + "/n/nobody\n", ""},
      {{"-p", "-x"}, 1, "", "invalid option -- 'x'\n" + usage},
      {{"alice", "../etc"}, 1, "", "Bad user name '../etc'\n"},
  };
  for (const auto &c : cases) {
    auto r = rollcall(c.args);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out, c.out);
    EXPECT_TRUE(r.err.ends_with(c.err)) << r.err;
  }
  EXPECT_NE(testsupport::readFile(home + "/Logfile").find(" W user.cf of `u09' is not a file\n"), std::string::npos);

  auto r = rollcall({"-p"}, "userbase-dir " + tmp.sub("missing") + "\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Can't open user base `" + tmp.sub("missing") + "'\n");
  r = rollcall({}, "", ">/dev/full");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, left + "Can't write the user list\n");
}
