#include <cstring>
#include <string>
#include <vector>

#include "date.h"
#include "userbase.h"
#include "userbase_fixture.h"

namespace {

struct Item {
  std::string name;
  std::string value;
  bool native;
  bool operator==(const Item &) const = default;
};

std::vector<Item> items(const UserConf &user) {
  std::vector<Item> all;
  for (unsigned i = 0; i < user.dataCount; ++i)
    all.push_back({user.data[i].name, user.data[i].value, user.data[i].native != 0});
  return all;
}

std::vector<std::string> words(char **list, unsigned count) {
  return std::vector<std::string>(list, list + count);
}

using Words = std::vector<std::string>;
using Items = std::vector<Item>;

bool sameDate(const Date &d, int day, int month, int year) {
  return d.day == day && d.month == month && d.year == year;
}

// A record that a test fills and that is emptied at its end.
class UserConfTest : public UserBaseTest {
 protected:
  void SetUp() override {
    UserBaseTest::SetUp();
    userInit(&user_);
  }
  void TearDown() override {
    userClear(&user_);
    UserBaseTest::TearDown();
  }
  // Writes bob's user.cf and reads it.
  bool read(const std::string &text, const char *name = "bob") {
    addUser(name, text);
    return getUserConf(&user_, name);
  }
  UserConf user_;
};

}  // namespace

TEST_F(UserConfTest, EveryKeyLandsInItsField) {
  ASSERT_TRUE(read(
      "username bob\n"
      "accname shared\n"
      "prices basic mail\n"
      "prices\t~own\n"
      "legal one two\n"
      "copyto first@x\n"
      "copyto copy@x\n"
      "postmaster pm@x\n"
      "domain bob.example\n"
      "system linux\n"
      "phones 123-45\n"
      "degree PhD\n"
      "orgr Org native\n"
      "orge Org English\n"
      "namer Native Name\n"
      "reale English Name\n"
      "addrr Native Street\n"
      "locatione English Street\n"
      "whowhen reg 19980315\n"
      "lang en\n"
      "ext fax 555\n"
      "ext motto/e carpe diem\n"
      "colour/n blue\n"));
  EXPECT_STREQ(user_.name, "bob");
  EXPECT_STREQ(user_.accname, "shared");
  EXPECT_STREQ(user_.lang, "en");
  EXPECT_EQ(words(user_.prices, user_.priceCount), (Words{"basic", "mail", "~own"}));
  EXPECT_EQ(words(user_.legal, user_.legalCount), (Words{"one", "two"}));
  EXPECT_STREQ(user_.copyto, "copy@x");
  EXPECT_STREQ(user_.postmaster, "pm@x");
  EXPECT_TRUE(sameDate(user_.whowhen, 15, 3, 1998));
  EXPECT_EQ(items(user_), (Items{{"username", "bob", true},
                                 {"accname", "shared", true},
                                 {"copyto", "copy@x", true},
                                 {"postmaster", "pm@x", true},
                                 {"domain", "bob.example", true},
                                 {"system", "linux", true},
                                 {"phones", "123-45", true},
                                 {"contract", "PhD", true},
                                 {"organization", "Org native", true},
                                 {"organization", "Org English", false},
                                 {"realname", "Native Name", true},
                                 {"realname", "English Name", false},
                                 {"location", "Native Street", true},
                                 {"location", "English Street", false},
                                 {"whowhen", "reg 19980315", true},
                                 {"language", "en", true},
                                 {"fax", "555", true},
                                 {"motto", "carpe diem", false},
                                 {"colour", "blue", true}}));
  // The second copyto line replaced the first: reported as a duplicate only.
  EXPECT_EQ(logged("Duplicate user extension for `bob' : copyto/native"), 1);
  EXPECT_EQ(logged("Postmaster's address"), 0);
  EXPECT_EQ(logged("No price-lists"), 0);
}

TEST_F(UserConfTest, OtherKeySpellingsFillTheSameItems) {
  ASSERT_TRUE(read(
      "contract C-1\n"
      "realr R\n"
      "namee E\n"
      "locationr L\n"
      "addre A\n"
      "language russian\n"
      "Prices big\n"));  // keys are case-sensitive
  EXPECT_STREQ(user_.lang, "ru");
  EXPECT_EQ(user_.priceCount, 0u);
  EXPECT_EQ(items(user_), (Items{{"username", "bob", true},
                                 {"contract", "C-1", true},
                                 {"realname", "R", true},
                                 {"realname", "E", false},
                                 {"location", "L", true},
                                 {"location", "A", false},
                                 {"language", "russian", true},
                                 {"Prices", "big", true}}));
}

TEST_F(UserConfTest, CommentsAndBlanksOnlyGiveTheDefaults) {
  ASSERT_TRUE(read("# a comment\n\n   \n\t# indented comment\n  \t\n"));
  EXPECT_STREQ(user_.name, "bob");
  EXPECT_STREQ(user_.accname, "bob");
  EXPECT_STREQ(user_.lang, "");
  EXPECT_STREQ(user_.postmaster, "stat-adm@node.example");
  EXPECT_EQ(user_.copyto, nullptr);
  EXPECT_EQ(items(user_), (Items{{"username", "bob", true}}));
  EXPECT_EQ(logged("Postmaster's address not defined for bob, using stat-adm@node.example\n"), 1);
  EXPECT_EQ(logged("No price-lists defined for bob\n"), 1);
  EXPECT_EQ(logged(" W "), 2);
}

TEST_F(UserConfTest, LineFormEdgeCases) {
  ASSERT_TRUE(read(
      "phones\n"                  // no value
      "domain   a.example  \t \n"  // blanks around the value
      "system lin\\\n"            // continued line
      "ux box\n"
      "username bob\n"
      "username alice\n"
      "addresses a@x b@x\n"));
  EXPECT_EQ(items(user_), (Items{{"username", "bob", true},
                                 {"phones", "", true},
                                 {"domain", "a.example", true},
                                 {"system", "linux box", true}}));
  EXPECT_EQ(logged("Bad user name (alice) set in `user.cf' of `bob'"), 1);
  EXPECT_EQ(logged("Bad user name"), 1);
  EXPECT_EQ(logged("obsolete `addresses' field in user.cf of `bob'"), 1);
}

TEST_F(UserConfTest, OverlongValuesAreCutWithAMessage) {
  const std::string acc20 = "abcdefghijklmnopqrst";
  const std::string longName = "averyveryverylongname";  // 21 characters
  const std::string value(350, 'v');
  ASSERT_TRUE(read("accname " + acc20 + "\next " + longName + " x\next " + longName +
                   " y\nnote " + value + "\n"));
  EXPECT_STREQ(user_.accname, "abcdefghijklmno");
  EXPECT_EQ(logged("Account name `" + acc20 + "' truncated to `abcdefghijklmno', user `bob'"), 1);
  const Items got = items(user_);
  ASSERT_EQ(got.size(), 5u);
  EXPECT_EQ(got[1], (Item{"accname", "abcdefghijklmno", true}));
  // A name longer than 15 characters never matches: each line adds an item.
  EXPECT_EQ(got[2], (Item{"averyveryverylo", "x", true}));
  EXPECT_EQ(got[3], (Item{"averyveryverylo", "y", true}));
  EXPECT_EQ(logged("bob's user.cf ext." + longName + " (name) truncated"), 2);
  EXPECT_EQ(got[4], (Item{"note", value.substr(0, 299), true}));
  EXPECT_EQ(logged("bob's user.cf ext." + value + " (value) truncated"), 1);
}

TEST_F(UserConfTest, ItemsMatchByPrefixAndFlag) {
  ASSERT_TRUE(read(
      "ext fax 1\n"
      "ext fax 2\n"
      "ext fax/e 3\n"
      "orgr Old\n"
      "ext org/n New\n"
      "ext web/N n\n"
      "ext web/x e\n"));
  EXPECT_EQ(items(user_), (Items{{"username", "bob", true},
                                 {"fax", "2", true},
                                 {"fax", "3", false},
                                 {"org", "New", true},
                                 {"web", "n", true},
                                 {"web", "e", false}}));
  EXPECT_EQ(logged("Duplicate user extension for `bob' : fax/native"), 1);
  EXPECT_EQ(logged("Duplicate user extension for `bob' : org/native"), 1);
  EXPECT_EQ(logged("Duplicate"), 2);
}

TEST_F(UserConfTest, EmptyItemNamesAreRefused) {
  ASSERT_TRUE(read(
      "ext fax 1\n"
      "ext\n"
      "/n stolen\n"
      "/e stolen\n"));
  // Nothing was overwritten: an empty name would have matched username.
  EXPECT_EQ(items(user_), (Items{{"username", "bob", true}, {"fax", "1", true}}));
  EXPECT_EQ(logged("Empty user extension name in user.cf of `bob'"), 3);
  EXPECT_EQ(logged("Duplicate"), 0);
}

TEST_F(UserConfTest, NativeTextsAreKeptByteForByte) {
  // KOI8-R bytes; 0xA0 and 0x85 are letters there, not white space.
  const std::string name = "\xe9\xd7\xc1\xce \xf0\xc5\xd4\xd2\xcf\xd7";
  ASSERT_TRUE(read("realr " + name + "\nnamee Ivan Petrov\next \xa0x\x85 y\n"));
  EXPECT_EQ(items(user_), (Items{{"username", "bob", true},
                                 {"realname", name, true},
                                 {"realname", "Ivan Petrov", false},
                                 {"\xa0x\x85", "y", true}}));
}

TEST_F(UserConfTest, WhowhenTakesBothDateFormsAndFallsBackTo1970) {
  struct Case {
    const char *value;
    int day, month, year;  // expected, after a start of 1.2.2003
  } cases[] = {
      {"reg 980315", 15, 3, 1998},     {"reg 19980315", 15, 3, 1998},
      {"reg\t \t700101", 1, 1, 1970},  {"reg 99989999", 1, 1, 1970},
      {"reg 19981315", 1, 1, 1970},    {"reg 19990229", 1, 1, 1970},
      {"reg 21000229", 29, 2, 2100},   {"reg 1000000", 1, 1, 1970},
      {"reg 1998", 1, 2, 2003},        {"19980315", 1, 2, 2003},
      {"reg", 1, 2, 2003},             {"reg x19980315", 1, 2, 2003},
      {"reg 700000", 1, 2, 2003},      {"reg 99990101", 1, 2, 2003},
      {"reg 123456789012345678901234567890", 1, 2, 2003},
      {"reg 19980315junk", 15, 3, 1998},
  };
  for (const Case &c : cases) {
    user_.whowhen = Date{1, 2, 2003};
    ASSERT_TRUE(read(std::string("whowhen ") + c.value + "\n")) << c.value;
    EXPECT_TRUE(sameDate(user_.whowhen, c.day, c.month, c.year))
        << c.value << " gave " << user_.whowhen.day << "." << user_.whowhen.month << "."
        << user_.whowhen.year;
    EXPECT_EQ(items(user_).back(), (Item{"whowhen", c.value, true}));
  }
  // A date kept from before is checked too.
  user_.whowhen = Date{31, 4, 2003};
  ASSERT_TRUE(read("whowhen reg 1998\n"));
  EXPECT_TRUE(sameDate(user_.whowhen, 1, 1, 1970));
}

TEST_F(UserConfTest, NamesThatCannotBeReadFail) {
  const std::string name16 = "abcdefghijklmnop";
  addUser(name16);
  EXPECT_FALSE(getUserConf(&user_, name16.c_str()));
  EXPECT_EQ(logged("Too long user name - " + name16 + "\n"), 1);
  EXPECT_EQ(logged("Error reading configuration for `" + name16 + "'\n"), 1);
  EXPECT_STREQ(user_.name, "");
  EXPECT_EQ(user_.dataCount, 0u);

  const std::string name15 = "abcdefghijklmno";
  addUser(name15);
  EXPECT_TRUE(getUserConf(&user_, name15.c_str()));
  EXPECT_STREQ(user_.name, name15.c_str());

  EXPECT_FALSE(getUserConf(&user_, "nobody"));
  EXPECT_EQ(logged("Can't get configuration for 'nobody', error #2\n"), 1);
  EXPECT_EQ(logged("Error reading configuration for `nobody'"), 1);
  EXPECT_STREQ(user_.accname, "nobody");
  EXPECT_EQ(user_.postmaster, nullptr);

  makeDir("dir/user.cf");
  EXPECT_FALSE(getUserConf(&user_, "dir"));
  EXPECT_EQ(logged("Can't get configuration for 'dir', error #21\n"), 1);
  EXPECT_EQ(user_.postmaster, nullptr);

  const std::string before = log();
  EXPECT_FALSE(readUserConf(&user_, ""));
  EXPECT_FALSE(readUserConf(&user_, nullptr));
  EXPECT_EQ(log(), before);
  EXPECT_FALSE(getUserConf(nullptr, "bob"));
  EXPECT_EQ(logged("System error: no place to fit userconf for `bob'"), 1);
}

TEST_F(UserConfTest, LongPriceLinesKeepEveryWord) {
  std::string line = "prices";
  for (int i = 0; i < 130; ++i) line += " p" + std::to_string(i);
  ASSERT_TRUE(read(line + "\nlegal a\nlegal b c\n"));
  ASSERT_EQ(user_.priceCount, 130u);
  EXPECT_STREQ(user_.prices[129], "p129");
  EXPECT_EQ(words(user_.legal, user_.legalCount), (Words{"a", "b", "c"}));
}

TEST(UserData, KeylessValueLosesItsFirstWord) {
  UserConf user;
  userInit(&user);
  char text[] = "fax   555 12";
  setUserData(&user, text, nullptr);
  ASSERT_EQ(user.dataCount, 1u);
  EXPECT_STREQ(user.data[0].name, "fax");
  EXPECT_STREQ(user.data[0].value, "555 12");
  EXPECT_STREQ(text, "fax");
  char bare[] = "lonely";
  setUserData(&user, bare, nullptr);
  EXPECT_EQ(items(user).back(), (Item{"lonely", "", true}));
  userClear(&user);
  EXPECT_EQ(user.data, nullptr);
  EXPECT_EQ(user.dataCount, 0u);
}

TEST(UserRecord, FreshRecordIsEmptyAndHoldsToday) {
  UserConf user;
  memset(&user, 0x5a, sizeof user);  // memory that holds anything
  userInit(&user);
  EXPECT_STREQ(user.name, "");
  EXPECT_STREQ(user.accname, "");
  EXPECT_STREQ(user.lang, "");
  EXPECT_EQ(user.prices, nullptr);
  EXPECT_EQ(user.legal, nullptr);
  EXPECT_EQ(user.copyto, nullptr);
  EXPECT_EQ(user.postmaster, nullptr);
  EXPECT_EQ(user.data, nullptr);
  EXPECT_EQ(user.priceCount + user.legalCount + user.dataCount, 0u);
  EXPECT_TRUE(sameDate(user.whowhen, today.day, today.month, today.year));
}

namespace {

// One record read for every user of a walk, as the programs do.
UserConf walkRecord;
struct Seen {
  std::string name, accname, lang, postmaster;
  bool copyto;
  Words prices;
  unsigned items;
  Date whowhen;
};
std::vector<Seen> seen;

bool readEach(const char *name) {
  if (getUserConf(&walkRecord, name)) {
    seen.push_back({walkRecord.name, walkRecord.accname, walkRecord.lang, walkRecord.postmaster,
                    walkRecord.copyto != nullptr,
                    words(walkRecord.prices, walkRecord.priceCount), walkRecord.dataCount,
                    walkRecord.whowhen});
  }
  return true;
}

}  // namespace

TEST_F(UserConfTest, RecordReusedAcrossAWalkKeepsOnlyWhowhen) {
  addUser("ann",
          "accname family\nprices a1 a2\nlegal x\ncopyto c@x\npostmaster p@x\nlang ru\n"
          "whowhen reg 20010203\next fax 1\n");
  addUser("bob", "prices b1\n");
  addUser("cid", "prices c1\nwhowhen reg 19990101\n");
  addUser("dan", "prices d1\nwhowhen reg 5\n");
  userInit(&walkRecord);
  seen.clear();
  EXPECT_TRUE(forEachUser(readEach));
  userClear(&walkRecord);
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen[0].accname, "family");
  EXPECT_EQ(seen[0].lang, "ru");
  EXPECT_TRUE(seen[0].copyto);
  EXPECT_EQ(seen[0].items, 7u);
  EXPECT_TRUE(sameDate(seen[0].whowhen, 3, 2, 2001));

  EXPECT_EQ(seen[1].name, "bob");
  EXPECT_EQ(seen[1].accname, "bob");
  EXPECT_EQ(seen[1].lang, "");
  EXPECT_EQ(seen[1].postmaster, "stat-adm@node.example");
  EXPECT_FALSE(seen[1].copyto);
  EXPECT_EQ(seen[1].prices, (Words{"b1"}));
  EXPECT_EQ(seen[1].items, 1u);
  EXPECT_TRUE(sameDate(seen[1].whowhen, 3, 2, 2001));  // kept from ann

  EXPECT_TRUE(sameDate(seen[2].whowhen, 1, 1, 1999));
  EXPECT_TRUE(sameDate(seen[3].whowhen, 1, 1, 1999));  // out of range: kept
}
