#include <gtest/gtest.h>

#include <string>

#include "address.h"
#include "core.h"
#include "mailcf.h"
#include "process.h"

using testsupport::TempDir;
using testsupport::writeFile;

namespace {

// A set built in memory, released at the end of the test.
struct Set {
  MailClassSet set;
  Set() { classSetInit(&set, "tester"); }
  ~Set() { classSetFree(&set); }
  // Adds an entry of the kind to the class.
  void add(const char *name, int kind, const char *pattern) {
    MailClassEntry *entry = addClassEntry(&set, name);
    ASSERT_EQ(compileRegex(entry, pattern, true), 0);
    entry->kind = kind;
  }
  const char *match(const char *address, bool userClass, int wanted) const {
    const char *name = classMatch(&set, address, userClass, wanted);
    return name ? name : "(none)";
  }
};

// A home directory with a user base, made the settings' home for one test.
struct Home {
  TempDir dir{"postmeter"};
  Home() {
    storeConfigString(&homeDir, dir.path().c_str(), nullptr);
    storeConfigString(&userBase, dir.sub("userbase").c_str(), nullptr);
  }
  ~Home() {
    memRealloc(homeDir, 0);
    homeDir = nullptr;
    memRealloc(userBase, 0);
    userBase = nullptr;
  }
  void userFile(const std::string &user, const std::string &text) {
    writeFile(dir.sub("userbase/" + user + "/mail.cf"), text);
  }
};

// The set read for the user, or null.
const MailClassSet *setOf(const char *user) {
  for (unsigned i = 0; i < userClassSetCount; ++i)
    if (std::string(userClassSets[i].owner) == user) return &userClassSets[i];
  return nullptr;
}

// Number of entries in slot's list.
int entries(const MailClassSet *set, unsigned slot) {
  int n = 0;
  for (const MailClassEntry *e = set->heads[slot]; e; e = e->next) ++n;
  return n;
}

}  // namespace

TEST(MailClassSet, KeepsSlotZeroForUserAndServicesInOrderOfFirstEntry) {
  Set s;
  EXPECT_STREQ(s.match("x", false, KIND_TO), "(none)");
  s.add("friends", KIND_TO, "a");
  ASSERT_EQ(s.set.classCount, 2u);
  EXPECT_STREQ(s.set.names[0], "");
  EXPECT_EQ(s.set.heads[0], nullptr);
  s.add("inet", KIND_ANY, "b");
  s.add("user", KIND_FROM, "local!john");
  s.add("friends", KIND_TO, "c");
  ASSERT_EQ(s.set.classCount, 3u);
  EXPECT_STREQ(s.set.names[0], "user");
  EXPECT_STREQ(s.set.names[1], "friends");
  EXPECT_STREQ(s.set.names[2], "inet");
  EXPECT_EQ(registerClass(&s.set, "inet"), 2u);
  EXPECT_EQ(registerClass(&s.set, "abcdefghijklmnopqrstuvwxyz"), 3u);
  EXPECT_STREQ(s.set.names[3], "abcdefghijklmnop");
  EXPECT_EQ(registerClass(&s.set, "abcdefghijklmnopXYZ"), 3u);
}

TEST(MailClassSet, GrowsPastManyClassesAndEntriesWithoutMovingEntries) {
  Set s;
  const MailClassEntry *first = addClassEntry(&s.set, "c0");
  for (int i = 0; i < 450; ++i) addClassEntry(&s.set, ("c" + std::to_string(i % 35)).c_str());
  EXPECT_EQ(s.set.entryCount, 451u);
  EXPECT_EQ(s.set.classCount, 36u);
  EXPECT_EQ(s.set.heads[1], first);
  EXPECT_EQ(entries(&s.set, 1), 14);
}

TEST(ClassMatch, UsesKindsAndTheUserClassOnlyWhenAsked) {
  Set s;
  s.add("user", KIND_ANY, "local!john");
  s.add("out", KIND_TO, "local!.*");
  s.add("in", KIND_FROM, "local!.*");
  addClassEntry(&s.set, "never");  // kind none: never compiled, never hits
  EXPECT_STREQ(s.match("local!john", true, KIND_FROM), "user");
  EXPECT_STREQ(s.match("local!john", true, KIND_TO), "user");
  EXPECT_STREQ(s.match("local!kate", true, KIND_FROM), "(none)");
  EXPECT_STREQ(s.match("local!john", false, KIND_TO), "out");
  EXPECT_STREQ(s.match("local!john", false, KIND_FROM), "in");
  EXPECT_STREQ(s.match("gw!john", false, KIND_FROM), "(none)");
}

TEST(ClassMatch, ExceptCancelsOnlyTheEntryDirectlyBeforeIt) {
  Set guarded;
  guarded.add("svc", KIND_TO, "a.*");
  guarded.add("svc", KIND_EXCEPT, ".*b");
  guarded.add("later", KIND_TO, ".*");
  EXPECT_STREQ(guarded.match("axb", false, KIND_TO), "later");
  EXPECT_STREQ(guarded.match("axc", false, KIND_TO), "svc");
  EXPECT_STREQ(guarded.match("xb", false, KIND_TO), "later");

  Set second;
  second.add("svc", KIND_TO, "a.*");
  second.add("svc", KIND_TO, "[ca].*");
  second.add("svc", KIND_EXCEPT, ".*b");
  EXPECT_STREQ(second.match("axb", false, KIND_TO), "svc");
  EXPECT_STREQ(second.match("cxb", false, KIND_TO), "(none)");
  EXPECT_STREQ(second.match("cxd", false, KIND_TO), "svc");
}

TEST(ReadMailCf, BuildsTheUserAndServiceClassesOfAUserFile) {
  Home home;
  home.userFile("rdjohn",
                "# john's classes\n"
                "class user\n"
                "from local!john\n"
                "class friends   # people we know\n"
                "to .*!example!.*  # x\n");
  testing::internal::CaptureStderr();
  EXPECT_TRUE(readMailCf("rdjohn"));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  const MailClassSet *set = setOf("rdjohn");
  ASSERT_NE(set, nullptr);
  ASSERT_EQ(set->classCount, 2u);
  EXPECT_STREQ(set->names[0], "user");
  ASSERT_EQ(entries(set, 0), 1);
  EXPECT_EQ(set->heads[0]->kind, KIND_FROM);
  EXPECT_STREQ(set->names[1], "friends");
  ASSERT_EQ(entries(set, 1), 1);
  EXPECT_EQ(set->heads[1]->kind, KIND_TO);
  EXPECT_STREQ(classMatch(set, "gw!example!kate", false, KIND_TO), "friends");

  // Read again: the same set gets the entries once more.
  EXPECT_TRUE(readMailCf("rdjohn"));
  EXPECT_EQ(setOf("rdjohn"), set);
  EXPECT_EQ(entries(set, 0), 2);

  // The sets emptied, as between runs of the fuzz entry, and another user's
  // set in john's old place: john gets a set of his own.
  for (unsigned i = 0; i < userClassSetCount; ++i) classSetFree(&userClassSets[i]);
  userClassSetCount = 0;
  home.userFile("rdkate", "class user\nany kate\n");
  EXPECT_TRUE(readMailCf("rdkate"));
  EXPECT_TRUE(readMailCf("rdjohn"));
  ASSERT_EQ(userClassSetCount, 2u);
  EXPECT_STREQ(userClassSets[1].owner, "rdjohn");
  EXPECT_EQ(entries(&userClassSets[1], 0), 1);
}

TEST(ReadMailCf, WarnsAboutBadLinesAndGoesOn) {
  Home home;
  home.userFile("rdbad",
                "class\n"
                "to a\n"
                "class user\n"
                "any local!x\n"
                "class one two\n"
                "to b\n"
                "class svc\n"
                "to\n"
                "frm c\n"
                "to a( d\n"
                "not e\n"
                "class ../etc\n"
                "to f\n"
                "class .\n"
                "class x/y\n"
                "class *\n"
                "# to g\n"
                "to x # y z\n");
  testing::internal::CaptureStderr();
  EXPECT_TRUE(readMailCf("rdbad"));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "No class name, skipping..\n"
            "No service class name set\n"
            "No class name, skipping..\n"
            "No service class name set\n"
            "Empty regex\n"
            "Unknown keyword frm in rdbad mail.cf, ignored..\n"
            "Can't compile regex `^a($'\n"
            "Bad class name `../etc' in rdbad mail.cf, skipping..\n"
            "No service class name set\n"
            "Bad class name `.' in rdbad mail.cf, skipping..\n"
            "Bad class name `x/y' in rdbad mail.cf, skipping..\n"
            "Bad class name `*' in rdbad mail.cf, skipping..\n"
            "No service class name set\n");
  const MailClassSet *set = setOf("rdbad");
  ASSERT_NE(set, nullptr);
  ASSERT_EQ(set->classCount, 2u);
  EXPECT_STREQ(set->names[1], "svc");
  // a( failed and matches nothing; d and the except e still came in.
  ASSERT_EQ(entries(set, 1), 3);
  EXPECT_EQ(set->heads[1]->kind, KIND_NONE);
  EXPECT_EQ(set->heads[1]->next->kind, KIND_TO);
  EXPECT_EQ(set->heads[1]->next->next->kind, KIND_EXCEPT);
  EXPECT_STREQ(classMatch(set, "d", false, KIND_TO), "svc");
  EXPECT_STREQ(classMatch(set, "e", false, KIND_TO), nullptr);
}

TEST(ReadMailCf, GivesAUserWithoutUserClassAClassThatNeverMatches) {
  Home home;
  home.userFile("rdnouser", "class svc\nany .*\n");
  home.userFile("rdempty", "class user\nclass svc\nany .*\n");
  testing::internal::CaptureStderr();
  EXPECT_TRUE(readMailCf("rdnouser"));
  EXPECT_TRUE(readMailCf("rdempty"));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "No `user' class found for rdnouser in mail.cf\n");

  const MailClassSet *noUser = setOf("rdnouser");
  ASSERT_NE(noUser, nullptr);
  EXPECT_STREQ(noUser->names[0], "user");
  ASSERT_EQ(entries(noUser, 0), 1);
  EXPECT_EQ(noUser->heads[0]->kind, KIND_NONE);
  EXPECT_EQ(classMatch(noUser, "anything", true, KIND_FROM), nullptr);

  const MailClassSet *empty = setOf("rdempty");
  ASSERT_NE(empty, nullptr);
  EXPECT_STREQ(empty->names[0], "");
  EXPECT_EQ(empty->heads[0], nullptr);
  EXPECT_EQ(classMatch(empty, "anything", true, KIND_FROM), nullptr);
}

TEST(ReadMailCf, NeedsTheCommonFileButNoUserFile) {
  Home home;
  unsigned before = userClassSetCount;
  testing::internal::CaptureStderr();
  EXPECT_TRUE(readMailCf("rdabsent"));
  EXPECT_FALSE(readMailCf(nullptr));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "No common mail.cf, mail services unusable\n");
  EXPECT_EQ(userClassSetCount, before);

  writeFile(home.dir.sub("mail.cf"), "class user\nany .*\nclass inet\nany .*\n");
  EXPECT_TRUE(readMailCf(nullptr));
  EXPECT_STREQ(commonClassSet.owner, "common");
  ASSERT_EQ(commonClassSet.classCount, 2u);
  EXPECT_STREQ(classMatch(&commonClassSet, "x", false, KIND_TO), "inet");
}
