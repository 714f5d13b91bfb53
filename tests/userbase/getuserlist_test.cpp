#include <unistd.h>

#include <string>
#include <vector>

#include "userbase.h"
#include "userbase_fixture.h"

namespace {

// The names getUserList finds, in its order; checks the count's agreement.
std::vector<std::string> listUsers() {
  UserList list;
  unsigned count = 99;
  const bool found = getUserList(&list, &count);
  std::vector<std::string> names;
  if (!found) {
    EXPECT_EQ(list, nullptr);
    EXPECT_EQ(count, 0u);
    return names;
  }
  EXPECT_GT(count, 0u);
  for (unsigned i = 0; i < count; ++i) names.emplace_back(list[i]);
  freeUserList(list, count);
  return names;
}

std::vector<std::string> visited;
unsigned stopAt = 0;  // the visit that answers false; 0: never

bool visit(const char *user) {
  visited.emplace_back(user);
  return visited.size() != stopAt;
}

using Names = std::vector<std::string>;

}  // namespace

using UserWalk = UserBaseTest;

TEST_F(UserWalk, FlatBaseListsDirectoriesWithRegularUserCfInByteOrder) {
  addUser("kate");
  addUser("john");
  addUser("Zed");
  addUser("al-b_1");
  addUser("a.b");        // a dot: never a user
  addUser(".hidden");
  addUser("sp ace");
  makeDir("noconf");     // no user.cf
  makeDir("dircf/user.cf");  // user.cf is a directory
  touch("plain");        // not a directory
  // Links are followed: to a user's folder, and to a file.
  ASSERT_EQ(symlink((base_ + "/kate").c_str(), (base_ + "/linked").c_str()), 0);
  ASSERT_EQ(symlink((base_ + "/plain").c_str(), (base_ + "/tofile").c_str()), 0);
  EXPECT_EQ(listUsers(), (Names{"Zed", "al-b_1", "john", "kate", "linked"}));
  EXPECT_EQ(leftOutUserDirs(), 3u);  // a.b, "sp ace" and dircf
}

TEST_F(UserWalk, IndexLevelsTakeOnlyTheNextLongerPrefix) {
  touch(".alpha");
  touch("j/.alpha");
  addUser("j/jo/john");
  addUser("j/jo/joe");
  addUser("j/ja/jack");
  addUser("j/ko/kim");   // does not begin with the level's prefix j
  addUser("j/john");     // wrong length at the level j
  touch("j/jp");         // a plain file
  addUser("jx/jim");     // wrong length at the root
  addUser("kate");       // a user directory in an index level: not looked at
  addUser("k/kate");     // k has no .alpha: a leaf, names not checked
  addUser("k/zed");
  addUser("x.y/xena");
  EXPECT_EQ(listUsers(), (Names{"jack", "joe", "john", "kate", "zed"}));
}

TEST_F(UserWalk, ThirdIndexLevelVisitsOnlyItsOwnSubdirectories) {
  touch(".alpha");
  touch("j/.alpha");
  makeDir("j/jo/.alpha");  // any kind of entry marks the level
  addUser("j/jo/joh/john");
  addUser("j/jo/jok/joker");
  addUser("j/jo/jo/jolly");
  addUser("j/jo/john");
  addUser("j/jo/kat/kate");
  touch("j/jo/joe");
  addUser("j/jo/joh/.hidden");
  EXPECT_EQ(listUsers(), (Names{"john", "joker"}));
}

TEST_F(UserWalk, EmptyOrMissingBaseHasNoUsers) {
  EXPECT_TRUE(listUsers().empty());
  makeDir("nobody");
  EXPECT_TRUE(listUsers().empty());
  visited.clear();
  EXPECT_FALSE(forEachUser(visit));
  EXPECT_TRUE(visited.empty());

  storeConfigString(&userBase, home_.sub("missing").c_str(), nullptr);
  EXPECT_TRUE(listUsers().empty());
  EXPECT_FALSE(forEachUser(visit));
  EXPECT_TRUE(visited.empty());
  EXPECT_EQ(log(), "");  // the callers report it in their own words
}

TEST_F(UserWalk, ListGrowsPastItsStepsInOrder) {
  Names expected;
  for (int i = 0; i < 25; ++i) {
    char name[8];
    snprintf(name, sizeof name, "u%02d", i);
    addUser(name);
    expected.emplace_back(name);
  }
  EXPECT_EQ(listUsers(), expected);
}

TEST_F(UserWalk, WalkVisitsEveryUserAndStopsAtTheFirstFalse) {
  addUser("ann");
  addUser("bob");
  addUser("cid");
  visited.clear();
  stopAt = 0;
  EXPECT_TRUE(forEachUser(visit));
  EXPECT_EQ(visited, (Names{"ann", "bob", "cid"}));

  visited.clear();
  stopAt = 2;
  EXPECT_FALSE(forEachUser(visit));
  EXPECT_EQ(visited, (Names{"ann", "bob"}));

  // Every walk reads the tree anew.
  addUser("abe");
  visited.clear();
  stopAt = 0;
  EXPECT_TRUE(forEachUser(visit));
  EXPECT_EQ(visited, (Names{"abe", "ann", "bob", "cid"}));
}
