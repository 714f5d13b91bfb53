#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "address.h"
#include "core.h"
#include "mailcf.h"

namespace {

// The normal form of address, or "(null)".
std::string normal(const std::string &address) {
  std::string buffer(address.size() + kNormalSlack, '\x7f');
  const char *result = normaliseAddress(buffer.data(), address.c_str());
  if (!result) return "(null)";
  EXPECT_LT(strlen(result), address.size() + kNormalSlack);
  return result;
}

// Sets legal-chars for one test and unsets it again.
struct LegalChars {
  explicit LegalChars(const char *chars) { storeConfigString(&legalAddrChars, chars, nullptr); }
  ~LegalChars() {
    memRealloc(legalAddrChars, 0);
    legalAddrChars = nullptr;
  }
};

}  // namespace

TEST(NormaliseAddress, GivesTheTableOfNormalForms) {
  EXPECT_EQ(normal("user"), "user");
  EXPECT_EQ(normal("user@host"), "LOCAL!host!user");
  EXPECT_EQ(normal("user%relay@host"), "LOCAL!host!relay!user");
  EXPECT_EQ(normal("gw!user@host"), "gw!host!user");
  EXPECT_EQ(normal("a:b!!c"), "a!b!c");
  EXPECT_EQ(normal("!a!b"), "LOCAL!a!b");
  EXPECT_EQ(normal("user@[10.0.0.1]"), "LOCAL![10.0.0.1]!user");
  EXPECT_EQ(normal(""), "LOCAL!");
  EXPECT_EQ(normal("Name <user@host>"), "(null)");
}

TEST(NormaliseAddress, KeepsDotsAndCaseInsidePieces) {
  EXPECT_EQ(normal("John.Smith@Mail.Example.COM"), "LOCAL!Mail.Example.COM!John.Smith");
  EXPECT_EQ(normal("gw:relay!user%inner@outer.net"), "gw!relay!outer.net!inner!user");
  EXPECT_EQ(normal(":x"), "LOCAL!x");
}

TEST(NormaliseAddress, RefusesStrayCharactersOnEitherSideOfTheAt) {
  EXPECT_EQ(normal("us er@host"), "(null)");
  EXPECT_EQ(normal("user@ho<st"), "(null)");
  EXPECT_EQ(normal("user@host>"), "(null)");
  EXPECT_EQ(normal("a,b"), "(null)");
}

TEST(NormaliseAddress, StaysInsideItsBufferAtTheEdges) {
  // Separators at the very start and end of the address.
  EXPECT_EQ(normal("@host"), "LOCAL!host!");
  EXPECT_EQ(normal("user@"), "LOCAL!!user");
  EXPECT_EQ(normal("!"), "LOCAL!");
  EXPECT_EQ(normal("%"), "LOCAL!!");
  // The longest growth: a rooted route in front of an address.
  EXPECT_EQ(normal(":@"), "LOCAL!!");
}

TEST(NormaliseAddress, FollowsLegalChars) {
  {
    LegalChars chars("abcdefghijklmnopqrstuvwxyz0123456789");
    EXPECT_EQ(normal("john@host"), "LOCAL!host!john");
    EXPECT_EQ(normal("john@host.net"), "(null)");
    EXPECT_EQ(normal("John@HOST"), "LOCAL!HOST!John");
    EXPECT_FALSE(isAddressChar('\0'));
    EXPECT_FALSE(isAddressChar('-'));
  }
  {
    // Another text of the same length, perhaps in the same place.
    LegalChars chars("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789");
    EXPECT_EQ(normal("john@host"), "(null)");
    EXPECT_FALSE(isAddressChar('A'));
  }
  EXPECT_TRUE(isAddressChar('-'));
  EXPECT_TRUE(isAddressChar('='));
  EXPECT_FALSE(isAddressChar('<'));
  EXPECT_FALSE(isAddressChar('\xc1'));
}

TEST(CopyRoute, WritesLocalForEmptyOrRootedRoutesAndCollapsesSeparators) {
  char buffer[32];
  const char empty[] = "";
  EXPECT_STREQ(copyRoute(buffer, empty, empty), "LOCAL!");
  const char rooted[] = "::a!!b:";
  EXPECT_STREQ(copyRoute(buffer, rooted, rooted + strlen(rooted)), "LOCAL!a!b!");
  const char plain[] = "gw!xyz";
  EXPECT_STREQ(copyRoute(buffer, plain, plain + 3), "gw!");
}

TEST(CompileRegex, AnchorsPatternsAndWarnsAboutBadOnes) {
  MailClassEntry entry = {};
  ASSERT_EQ(compileRegex(&entry, "local!jo.*", true), 0);
  // The set matcher takes it: regcomp waits for the first regexMatch.
  EXPECT_STREQ(entry.re2, "^local\\x21jo");
  EXPECT_EQ(entry.pattern, nullptr);
  EXPECT_TRUE(regexMatch(&entry, "local!john"));
  EXPECT_NE(entry.pattern, nullptr);
  EXPECT_FALSE(regexMatch(&entry, "x!local!john"));
  EXPECT_FALSE(regexMatch(&entry, "LOCAL!john"));

  ASSERT_EQ(compileRegex(&entry, "jo", false), 0);
  EXPECT_TRUE(regexMatch(&entry, "local!john"));
  ASSERT_EQ(compileRegex(&entry, "\\w+", true), 0);  // regexec only: compiled at once
  EXPECT_EQ(entry.re2, nullptr);
  EXPECT_NE(entry.pattern, nullptr);

  testing::internal::CaptureStderr();
  EXPECT_NE(compileRegex(&entry, "a(b", true), 0);
  EXPECT_NE(compileRegex(&entry, "a(b", false), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Can't compile regex `^a(b$'\n");
  freeEntryPattern(&entry);
}

TEST(CompileRegex, RefusesPatternsThatWouldTakeUnboundedMemory) {
  const struct {
    std::string pattern;
    bool accepted;
  } cases[] = {
      {"a" + std::string(30, '+'), false},  // gigabytes in regcomp
      {"a**", false},
      {"a+?", false},
      {"(ab){2}{3}", false},
      {"a*{2}", false},
      {"(a)\\1", false},  // a back-reference
      {std::string(513, 'a'), false},
      {std::string(512, 'a'), true},
      {"a{513}", false},  // written out longer than 512
      {"(.?){200}b", false},
      {"((ab){10}){20}", false},
      {"(a{10}){10}", true},
      {".*!example!.*", true},
      {"(a+)+", true},
      {"[a-z0-9.+*]+!x{1,3}", true},
      {"[]{}*+]{2}", true},
      {"[[:alpha:]]{3}?", false},
      {"x\\{2}", true},
  };
  for (const auto &c : cases) {
    MailClassEntry entry = {};
    testing::internal::CaptureStderr();
    int rc = compileRegex(&entry, c.pattern.c_str(), true);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(rc == 0, c.accepted) << c.pattern;
    EXPECT_EQ(err, c.accepted ? "" : "Can't compile regex `^" + c.pattern + "$'\n") << c.pattern;
    freeEntryPattern(&entry);
  }
}
