// Fixed-width lines: fill, alignment, cutting, and data texts laid out
// through "%s".
#include <gtest/gtest.h>

#include <string>

#include "layout.h"

TEST(LineBuild, AlignsTheTextOverTheFill) {
  struct Row {
    char fill;
    unsigned width;
    const char *format, *text, *line;
  } rows[] = {
      {'=', 10, "<%s", "ab", "ab ======="},
      {'=', 10, ">%s", "ab", "======= ab"},
      {'=', 10, "=%s", "ab", "=== ab ==="},
      {'=', 10, "x%s", "ab", "== xab ==="},       // no mark: centred, kept
      {'=', 10, "%s", "abcdefgh", " abcdefgh "},  // h = 1
      {'=', 10, "%s", "abcdefghi", "abcdefghi"},  // h = 0: one short
      {'=', 10, ">%s", "abcdefghij", "abcdefghij"},
      {' ', 10, "<%s", "abcdefghijkl", "abcdefghij"},
      {'=', 10, "<%s", "50%n%s", "50%n%s ==="},  // data stays data
      {'-', 5, "", "", "-----"},
      {'-', 0, "<%s", "ab", ""},
  };
  for (const Row &row : rows) {
    char buf[16];
    EXPECT_STREQ(lineBuild(buf, row.fill, row.width, row.format, row.text), row.line)
        << row.format << " " << row.text;
  }
  char buf[80];
  EXPECT_STREQ(lineBuild(buf, ' ', 10, ">%g", 5.0), "         5");
  EXPECT_STREQ(lineBuild(buf, ' ', 10, "%g", 5.0), "    5     ");
  EXPECT_EQ(std::string(lineBuild(buf, '=', 79, nullptr)), std::string(79, '='));
}
