#include "ustatus.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "config.h"
#include "memory.h"
#include "process.h"

namespace {

class UserStatus : public ::testing::Test {
 protected:
  void SetUp() override { storeConfigString(&userBase, home.path().c_str(), nullptr); }
  void TearDown() override {
    memRealloc(userBase, 0);
    userBase = nullptr;
  }
  testsupport::TempDir home{"ustatus"};
};

}  // namespace

TEST_F(UserStatus, OnlyUpperCaseCAndNCount) {
  const std::pair<std::string, int> cases[] = {
      {"Closed", kStatusClosed | kStatusOfficial},
      {"No", 0},
      {"closed, not official", kStatusOfficial},
      {"", kStatusOfficial},
      {std::string("x\0N\xc3\n-C", 7), kStatusClosed},
      {"\xe3\xee", kStatusOfficial},  // KOI8-R capitals are no letters here
  };
  for (const auto &[text, flags] : cases) {
    testsupport::writeFile(home.sub("ann/status"), text);
    EXPECT_EQ(readUserStatus("ann"), flags) << text;
  }
  EXPECT_EQ(readUserStatus("nobody"), kStatusOfficial);
}

TEST_F(UserStatus, WritesClosedOnlyAndReportsWhatItCouldNotWrite) {
  testsupport::makeDirs(home.sub("ann"));
  EXPECT_EQ(writeUserStatus("ann", kStatusClosed), kStatusClosed);
  EXPECT_EQ(testsupport::readFile(home.sub("ann/status")), "Closed");
  EXPECT_EQ(writeUserStatus("ann", 0), 0);
  EXPECT_EQ(readUserStatus("ann"), kStatusOfficial);
  EXPECT_EQ(testsupport::readFile(home.sub("ann/status")), "");

  EXPECT_EQ(writeUserStatus("nobody", kStatusClosed), ~kStatusClosed);
  testsupport::makeDirs(home.sub("bob"));
  ASSERT_EQ(symlink("/dev/full", home.sub("bob/status").c_str()), 0);
  EXPECT_EQ(writeUserStatus("bob", kStatusClosed | kStatusOfficial), ~(kStatusClosed | kStatusOfficial));
}
