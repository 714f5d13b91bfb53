// The user base as a started program sees it: default place under home-dir,
// the configured admin address as the default postmaster, messages in the
// home's Logfile.
#include <gtest/gtest.h>

#include "process.h"

using testsupport::RunSpec;
using testsupport::TempDir;
using testsupport::configFor;
using testsupport::readFile;
using testsupport::run;
using testsupport::writeFile;

namespace {

// The probe driver with the main configuration config and user (none: "").
RunSpec probe(const std::string &config, const std::string &user) {
  RunSpec spec;
  spec.program = "userbase_probe";
  if (!user.empty()) spec.args = {user};
  spec.etc = {{"korvix-1.3.conf", config}};
  return spec;
}

}  // namespace

TEST(UserBaseProgram, FindsUsersUnderTheDefaultBaseAndReadsTheirRecords) {
  TempDir home("userbase-e2e");
  const std::string config = configFor(home.path());
  const std::string base = home.sub("userbase");
  writeFile(base + "/.alpha", "");
  writeFile(base + "/j/.alpha", "");
  writeFile(base + "/j/jo/john/user.cf", "prices basic\naccname family\n");
  writeFile(base + "/k/kate/user.cf", "lang russian\n");

  auto list = run(probe(config, ""));
  ASSERT_EQ(list.status, 0) << list.err;
  EXPECT_EQ(list.out, "john " + base + "/j/jo/john\nkate " + base + "/k/kate\n");

  auto kate = run(probe(config, "kate"));
  ASSERT_EQ(kate.status, 0) << kate.err;
  EXPECT_EQ(kate.out,
            "name=kate accname=kate lang=ru postmaster=stat-adm@node.example prices=0 items=2\n");
  const std::string log = readFile(home.sub("Logfile"));
  EXPECT_NE(log.find(" W Postmaster's address not defined for kate, using stat-adm@node.example\n"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find(" W No price-lists defined for kate\n"), std::string::npos) << log;

  auto nobody = run(probe(config, "nobody"));
  EXPECT_EQ(nobody.status, 2);
  EXPECT_NE(nobody.err.find("Error reading configuration for `nobody'"), std::string::npos);
}
