#include <string>

#include "userbase.h"
#include "userbase_fixture.h"

using UserPath = UserBaseTest;

TEST_F(UserPath, FlatBasePutsTheUserDirectlyUnderTheRoot) {
  EXPECT_EQ(std::string(userPath("john", "user.cf")), base_ + "/john/user.cf");
  // A null and an empty file name both give the directory, without "/".
  EXPECT_EQ(std::string(userPath("john", nullptr)), base_ + "/john");
  EXPECT_EQ(std::string(userPath("john", "")), base_ + "/john");
  // An empty name descends no level.
  EXPECT_EQ(std::string(userPath("", nullptr)), base_ + "/");
}

TEST_F(UserPath, DescendsOneIndexLevelPerAlphaFile) {
  touch(".alpha");
  touch("j/.alpha");
  makeDir("j/jo");
  makeDir("k");
  EXPECT_EQ(std::string(userPath("john", "user.cf")), base_ + "/j/jo/john/user.cf");
  EXPECT_EQ(std::string(userPath("kate", nullptr)), base_ + "/k/kate");
  // A missing index directory ends the descent like one without ".alpha".
  EXPECT_EQ(std::string(userPath("mike", "status")), base_ + "/m/mike/status");
  // Any kind of entry named .alpha marks an index level.
  makeDir("k/.alpha");
  EXPECT_EQ(std::string(userPath("kate", nullptr)), base_ + "/k/ka/kate");
}

TEST_F(UserPath, StopsDescendingAtTheWholeName) {
  touch(".alpha");
  makeDir("j");
  EXPECT_EQ(std::string(userPath("j", nullptr)), base_ + "/j/j");
  touch("j/.alpha");
  EXPECT_EQ(std::string(userPath("j", nullptr)), base_ + "/j/j");
  touch("j/jo/.alpha");
  EXPECT_EQ(std::string(userPath("jo", "x")), base_ + "/j/jo/jo/x");
}

TEST_F(UserPath, LongPathsAreNeverCut) {
  const std::string file(700, 'f');
  const char *path = userPath("john", file.c_str());
  EXPECT_EQ(std::string(path), base_ + "/john/" + file);
  // The buffer is reused by the next call.
  EXPECT_EQ(std::string(userPath("kate", nullptr)), base_ + "/kate");
}

TEST(UserDirName, AcceptsOnlyLettersDigitsHyphenAndUnderscore) {
  EXPECT_EQ(isUserDirName("john"), 1);
  EXPECT_EQ(isUserDirName("A-b_9"), 1);
  EXPECT_EQ(isUserDirName("-"), 1);
  for (const char *bad : {"", ".", "..", ".hidden", "a.b", "a b", "a/b", "../x", "tab\t",
                          "\xf0\xc5\xd4\xd2", "caf\xe9"}) {
    EXPECT_EQ(isUserDirName(bad), 0) << bad;
  }
  EXPECT_EQ(isUserDirName(static_cast<const char *>(nullptr)), 0);
}
