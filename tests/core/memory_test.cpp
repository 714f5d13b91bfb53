// The allocator and string copies.
#include <gtest/gtest.h>

#include <cstring>

#include "memory.h"

TEST(Memory, SizeZeroFreesAndGivesNull) {
  void *block = memRealloc(nullptr, 16);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(memRealloc(block, 0), nullptr);  // the sanitizer sees a leak otherwise
  EXPECT_EQ(memRealloc(nullptr, 0), nullptr);
}

TEST(Memory, ResizeKeepsTheContents) {
  char *p = static_cast<char *>(memRealloc(nullptr, 4));
  memcpy(p, "abc", 4);
  p = static_cast<char *>(memRealloc(p, 100000));
  EXPECT_STREQ(p, "abc");
  p[99999] = 'z';
  p = static_cast<char *>(memRealloc(p, 2));
  EXPECT_EQ(p[0], 'a');
  memRealloc(p, 0);
}

TEST(Memory, StrDupCopiesAndNullStaysNull) {
  EXPECT_EQ(strDup(nullptr), nullptr);
  const char text[] = "copy \xf3\xde\xa3\xd4";
  char *c = strDup(text);
  EXPECT_NE(c, text);
  EXPECT_STREQ(c, text);
  memRealloc(c, 0);
  c = strDup("");
  EXPECT_STREQ(c, "");
  memRealloc(c, 0);
}
