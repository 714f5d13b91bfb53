#include "ustatus.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "config.h"
#include "process.h"

TEST(UserStatus, ReadsUpperCaseCAndNWritesClosedAndReportsWhatItCouldNotWrite) {
  testsupport::TempDir base("ustatus");
  storeConfigString(&userBase, base.path().c_str(), nullptr);
  testsupport::writeFile(base.sub("ann/status"), std::string("x\0N\xc3\xe3-C", 7));
  EXPECT_EQ(readUserStatus("ann"), kStatusClosed);
  EXPECT_EQ(writeUserStatus("ann", 0), 0);
  EXPECT_EQ(readUserStatus("ann"), kStatusOfficial);
  EXPECT_EQ(writeUserStatus("ann", kStatusClosed), kStatusClosed);
  EXPECT_EQ(testsupport::readFile(base.sub("ann/status")), "Closed");

  EXPECT_EQ(writeUserStatus("nobody", kStatusClosed), ~kStatusClosed);
  testsupport::makeDirs(base.sub("bob"));
  ASSERT_EQ(symlink("/dev/full", base.sub("bob/status").c_str()), 0);
  EXPECT_EQ(writeUserStatus("bob", kStatusClosed), ~kStatusClosed);
}
