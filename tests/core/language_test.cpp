// The message catalogue: languages.cf, message files and lookups. Texts are
// KOI8-R bytes and compared as bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "config.h"
#include "language.h"
#include "memory.h"
#include "misc.h"
#include "process.h"

using testsupport::TempDir;

namespace {

// "Привет" and "Счёт абонента" in KOI8-R.
const char kHello[] = "\xf0\xd2\xc9\xd7\xc5\xd4";
const char kAccount[] = "\xf3\xde\xa3\xd4 \xc1\xc2\xcf\xce\xc5\xce\xd4\xc1";

// A home directory with its own Logfile and a configured language; standard
// error is captured so that the expected complaints stay quiet.
class Catalogue : public testing::Test {
 protected:
  void SetUp() override {
    savedHome_ = homeDir;
    savedLanguage_ = language;
    homeDir = strDup(home_.path().c_str());
    language = strDup("ru");
    testing::internal::CaptureStderr();
  }
  void TearDown() override {
    testing::internal::GetCapturedStderr();
    memRealloc(homeDir, 0);
    memRealloc(language, 0);
    homeDir = savedHome_;
    language = savedLanguage_;
  }
  void write(const std::string &name, const std::string &text) {
    testsupport::writeFile(home_.sub(name), text);
  }
  void remove(const std::string &name) { ::remove(home_.sub(name).c_str()); }
  // How many lines of the Logfile hold text.
  int logged(const std::string &text) {
    std::string log = testsupport::readFile(home_.sub("Logfile"));
    int n = 0;
    for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++n;
    return n;
  }
  int logLines() {
    std::string log = testsupport::readFile(home_.sub("Logfile"));
    return static_cast<int>(std::count(log.begin(), log.end(), '\n'));
  }

 private:
  TempDir home_;
  char *savedHome_ = nullptr;
  char *savedLanguage_ = nullptr;
};

}  // namespace

TEST_F(Catalogue, MessageFileKeysAndTextsAreBytes) {
  write("messages.ru", std::string("# a comment\n") +
                           "acc_header \"" + kAccount + "\"\n"
                           "hello " + kHello + " more words ignored\n"
                           "two \"line\\none\"\n"
                           "\n"
                           "empty\n"
                           "Key upper\n"
                           "key lower\n");
  MessageTable table("messages.ru");
  ASSERT_EQ(table.count, 6u);
  EXPECT_STREQ(lookupMessage(&table, "acc_header"), kAccount);
  EXPECT_STREQ(lookupMessage(&table, "hello"), kHello);
  EXPECT_STREQ(lookupMessage(&table, "two"), "line\none");
  EXPECT_STREQ(lookupMessage(&table, "empty"), "");
  EXPECT_STREQ(lookupMessage(&table, "Key"), "upper");
  EXPECT_STREQ(lookupMessage(&table, "key"), "lower");
  EXPECT_EQ(findMessage(&table, "acc_header"), 0u);
  EXPECT_EQ(findMessage(&table, "key"), 5u);
  const char missing[] = "no_such_key";
  EXPECT_EQ(findMessage(&table, missing), table.count);
  EXPECT_EQ(lookupMessage(&table, missing), missing);  // the very pointer
  EXPECT_EQ(logLines(), 0);
}

TEST_F(Catalogue, LaterKeyLineWinsAndKeepsTheFirstPlace) {
  write("m", "a 1\nb 2\na \"three 3\"\n");
  MessageTable table;
  EXPECT_EQ(loadMessages(&table, "m"), 0);
  ASSERT_EQ(table.count, 2u);
  EXPECT_STREQ(table.keys[0], "a");
  EXPECT_STREQ(table.values[0], "three 3");
  EXPECT_STREQ(table.values[1], "2");
}

TEST_F(Catalogue, ContinuationLinesAppendTheirFirstWord) {
  write("m",
        " orphan text\n"
        "k a\n"
        " b ignored\n"
        "\t\" c\"\n"
        "  # a comment, not a continuation\n"
        "m x\n"
        "m y\n"
        "  z\n"
        "n \"\"\n"
        " \xf0\xd2\n"
        "\t\xc9\n");
  MessageTable table;
  EXPECT_EQ(loadMessages(&table, "m"), 0);
  ASSERT_EQ(table.count, 3u);
  EXPECT_STREQ(lookupMessage(&table, "k"), "ab c");
  EXPECT_STREQ(lookupMessage(&table, "m"), "yz");  // joins the text that won
  EXPECT_STREQ(lookupMessage(&table, "n"), "\xf0\xd2\xc9");
  EXPECT_EQ(logged("W Continuation of unknown field `orphan'\n"), 1);
  EXPECT_EQ(logLines(), 1);
}

TEST_F(Catalogue, ManyEntriesAndLinesReadInPieces) {
  std::string text;
  for (int i = 0; i < 45; ++i) text += "key" + std::to_string(i) + " text" + std::to_string(i) + "\n";
  // A line of more than 2047 characters: its second piece is a line of its own.
  text += "long " + std::string(2042, 'a') + "tail rest\n";
  write("m", text);
  MessageTable table;
  EXPECT_EQ(loadMessages(&table, "m"), 0);
  ASSERT_EQ(table.count, 47u);
  for (int i = 0; i < 45; ++i) {
    std::string key = "key" + std::to_string(i);
    EXPECT_EQ(lookupMessage(&table, key.c_str()), "text" + std::to_string(i));
  }
  EXPECT_EQ(std::string(lookupMessage(&table, "long")), std::string(2042, 'a'));
  EXPECT_STREQ(lookupMessage(&table, "tail"), "rest");
}

TEST_F(Catalogue, UnreadableMessageFileLeavesTheTableEmpty) {
  write("m", "a 1\n");
  MessageTable table("m");
  ASSERT_EQ(table.count, 1u);
  EXPECT_EQ(loadMessages(&table, "nofile"), 1);
  EXPECT_EQ(table.count, 0u);
  EXPECT_EQ(table.keys, nullptr);
  EXPECT_EQ(logged("W Can't read `nofile'\n"), 1);
}

TEST_F(Catalogue, LanguageNamesIgnoreCaseAndLoadOnce) {
  write("languages.cf", "# comment line\n\n  ru messages.ru extra\nen messages.en\n");
  write("messages.ru", std::string("hello ") + kHello + "\n");
  LanguageList list;
  MessageTable *ru = list.loadLanguage("ru");
  EXPECT_STREQ(lookupMessage(ru, "hello"), kHello);
  remove("languages.cf");
  remove("messages.ru");
  EXPECT_EQ(list.loadLanguage("RU"), ru);  // nothing is read again
  EXPECT_EQ(list.loadLanguage(nullptr), ru);  // the configured language
  EXPECT_EQ(list.loadLanguage(""), ru);
  EXPECT_EQ(list.count, 1u);
  EXPECT_STREQ(list.names[0], "ru");
  EXPECT_EQ(logLines(), 0);
}

TEST_F(Catalogue, QuotedNamesInLanguagesCf) {
  write("languages.cf", "\"r u\" x\nru \"messages of ru\"\n");
  write("messages of ru", "k v\n");
  LanguageList list;
  EXPECT_STREQ(lookupMessage(list.loadLanguage("ru"), "k"), "v");
}

TEST_F(Catalogue, UndefinedLanguageSharesTheConfiguredTable) {
  write("languages.cf", "ru messages.ru\n");
  write("messages.ru", std::string("hello ") + kHello + "\n");
  {
    LanguageList list;
    MessageTable *xx = list.loadLanguage("xx");
    EXPECT_EQ(xx, list.loadLanguage("ru"));
    EXPECT_EQ(list.loadLanguage("XX"), xx);
    EXPECT_EQ(list.loadLanguage("yy"), xx);
    EXPECT_STREQ(lookupMessage(xx, "hello"), kHello);
    EXPECT_EQ(list.count, 3u);
    EXPECT_EQ(logged("W No definition for language `xx' found in `languages.cf'\n"), 1);
    EXPECT_EQ(logged("W No definition for language `yy' found in `languages.cf'\n"), 1);
    EXPECT_EQ(logLines(), 2);
    // Leaving the scope destroys the shared table once (the sanitizer
    // catches a second delete).
  }
}

TEST_F(Catalogue, UndefinedConfiguredLanguageHasAnEmptyTable) {
  write("languages.cf", "en messages.en\n");
  memRealloc(language, 0);
  language = strDup("zz");
  LanguageList list;
  MessageTable *zz = list.loadLanguage("ZZ");
  EXPECT_EQ(zz->count, 0u);
  EXPECT_EQ(list.loadLanguage("qq"), zz);
  EXPECT_EQ(logged("No definition for language `ZZ'"), 1);
  EXPECT_EQ(logged("No definition for language `qq'"), 1);
  EXPECT_EQ(logLines(), 2);
}

TEST_F(Catalogue, WithoutLanguagesCfEveryKeyIsItselfWithOneMessagePerName) {
  LanguageList list;
  MessageTable *ru = list.loadLanguage("ru");
  EXPECT_EQ(ru->count, 0u);
  EXPECT_EQ(list.loadLanguage("ru"), ru);
  MessageTable *en = list.loadLanguage("en");
  EXPECT_NE(en, ru);
  EXPECT_EQ(logged("W No languages.cf file!! I'll speak my weird internal language!\n"), 2);
  EXPECT_EQ(logLines(), 2);
}

TEST_F(Catalogue, LanguageLineWithoutAFileGivesAnEmptyTable) {
  write("languages.cf", "ru\n");
  LanguageList list;
  EXPECT_EQ(list.loadLanguage("ru")->count, 0u);
  EXPECT_EQ(logLines(), 0);
}

// The process-wide catalogue; the language names are used by this test only.
TEST_F(Catalogue, GetMessageFollowsTheCurrentOrTheNamedLanguage) {
  memRealloc(language, 0);
  language = strDup("ga");
  write("languages.cf", "ga msgs.a\ngb msgs.b\n");
  write("msgs.a", std::string("k ") + kHello + "\n");
  write("msgs.b", "k B\n");
  EXPECT_STREQ(currentLanguage(), "ga");  // nothing selected yet: the setting
  setLanguage(nullptr);
  EXPECT_STREQ(currentLanguage(), "ga");
  EXPECT_STREQ(getMessage("k"), kHello);
  EXPECT_STREQ(getMessage("k", "gb"), "B");
  EXPECT_STREQ(getMessage("k"), kHello);  // a named lookup does not switch
  const char key[] = "missing";
  EXPECT_EQ(getMessage(key), key);
  EXPECT_EQ(getMessage(key, "GB"), key);
  setLanguage("GB");
  EXPECT_STREQ(currentLanguage(), "gb");  // the name as first asked for
  EXPECT_STREQ(getMessage("k"), "B");
  setLanguage("gz");  // undefined: speaks the configured language
  EXPECT_STREQ(currentLanguage(), "ga");
  EXPECT_STREQ(getMessage("k"), kHello);
  setLanguage("");
  EXPECT_STREQ(currentLanguage(), "ga");
  EXPECT_EQ(logLines(), 1);
}
