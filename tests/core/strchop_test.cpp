// Trimming white space.
#include <gtest/gtest.h>

#include "memory.h"

TEST(Strchop, TrimsBothEndsInPlace) {
  char text[] = " \t\v\f\r\n word one \t\r\n";
  char *p = strchop(text);
  EXPECT_EQ(p, text + 7);  // leading white space is skipped, not moved
  EXPECT_STREQ(p, "word one");
  EXPECT_EQ(text[15], '\0');
}

TEST(Strchop, EmptyWhiteOnlyAndNull) {
  char blanks[] = "    ";
  EXPECT_STREQ(strchop(blanks), "");
  char empty[] = "";
  EXPECT_STREQ(strchop(empty), "");
  char none[] = "x";
  EXPECT_EQ(strchop(none), none);
  EXPECT_STREQ(none, "x");
  char koi8[] = "\xf3\xde\xa3\xd4\xa0 ";  // KOI8-R bytes are not white space
  EXPECT_STREQ(strchop(koi8), "\xf3\xde\xa3\xd4\xa0");
  EXPECT_EQ(strchop(nullptr), nullptr);
}
