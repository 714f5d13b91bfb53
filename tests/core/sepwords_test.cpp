// Splitting lines into words, with and without quoting.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "memory.h"

namespace {

// The words sepwords finds in text (a fresh array each time).
std::vector<std::string> split(std::string text, char quoting) {
  std::vector<char> line(text.begin(), text.end());
  line.push_back('\0');
  char **words = nullptr;
  int count = -7;  // set to 0 when the array is allocated
  sepwords(&words, &count, line.data(), quoting);
  std::vector<std::string> out(words, words + count);
  memRealloc(words, 0);
  return out;
}

using Words = std::vector<std::string>;

}  // namespace

TEST(Sepwords, SplitsOnWhiteSpace) {
  EXPECT_EQ(split("  one\ttwo  three\n", kQuotesOn), (Words{"one", "two", "three"}));
  EXPECT_EQ(split(" \t\r\n", kQuotesOn), Words{});
  EXPECT_EQ(split("", kQuotesOff), Words{});
  EXPECT_EQ(split("key \xf3\xde\xa3\xd4\n", kQuotesOn), (Words{"key", "\xf3\xde\xa3\xd4"}));
}

TEST(Sepwords, QuotesGroupAndBackslashesEscape) {
  EXPECT_EQ(split("\"a b\" \"c d\"\n", kQuotesOn), (Words{"a b", "c d"}));
  EXPECT_EQ(split("ab\"c d\"e f", kQuotesOn), (Words{"abc de", "f"}));
  EXPECT_EQ(split("\"\" x", kQuotesOn), (Words{"", "x"}));
  EXPECT_EQ(split("a\\ b \\\"q\\\" line\\nbreak", kQuotesOn),
            (Words{"a b", "\"q\"", "line\nbreak"}));
  EXPECT_EQ(split("\"in \\\" quotes\"", kQuotesOn), (Words{"in \" quotes"}));
  // A backslash as the very last character stays; before the newline it
  // escapes the newline.
  EXPECT_EQ(split("end\\", kQuotesOn), (Words{"end\\"}));
  EXPECT_EQ(split("end\\\n", kQuotesOn), (Words{"end\n"}));
  // An unclosed quote runs to the end and keeps the newline.
  EXPECT_EQ(split("k \"open text\n", kQuotesOn), (Words{"k", "open text\n"}));
}

TEST(Sepwords, WithoutQuotingQuotesAndBackslashesAreOrdinary) {
  EXPECT_EQ(split("\"a b\" c\\nd e\\ f\n", kQuotesOff), (Words{"\"a", "b\"", "c\\nd", "e\\", "f"}));
}

TEST(Sepwords, AppendsAtCountAndReusesTheArray) {
  char **words = nullptr;
  int count = 0;
  char first[] = "a b";
  sepwords(&words, &count, first, kQuotesOn);
  char **array = words;
  char second[] = "c";
  sepwords(&words, &count, second, kQuotesOn);
  EXPECT_EQ(words, array);
  ASSERT_EQ(count, 3);
  EXPECT_STREQ(words[0], "a");
  EXPECT_STREQ(words[2], "c");
  EXPECT_EQ(words[2], second);  // words point into the caller's line
  memRealloc(words, 0);
}

TEST(Sepwords, NeverWritesPastTheHundredthWord) {
  std::string line;
  for (int i = 0; i < 150; ++i) line += "w" + std::to_string(i) + " ";
  Words w = split(line, kQuotesOn);
  ASSERT_EQ(w.size(), 100u);
  EXPECT_EQ(w[99], "w99");

  // Appending to a full array adds nothing either.
  char **words = nullptr;
  int count = 0;
  std::vector<char> buf(line.begin(), line.end());
  buf.push_back('\0');
  sepwords(&words, &count, buf.data(), kQuotesOff);
  char more[] = "extra";
  sepwords(&words, &count, more, kQuotesOff);
  EXPECT_EQ(count, 100);
  memRealloc(words, 0);
}
