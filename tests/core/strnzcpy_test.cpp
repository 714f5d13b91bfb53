// Bounded copies into fixed-size fields.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "memory.h"

TEST(Strnzcpy, CutsToSizeMinusOneAndZeroFillsTheRest) {
  char field[18];
  memset(field, '#', sizeof field);
  EXPECT_EQ(strnzcpy(field, "abcdefghijklmnopqrst", 17), field);
  EXPECT_EQ(std::string(field, 17), std::string("abcdefghijklmnop") + '\0');
  EXPECT_EQ(field[17], '#');  // nothing past the size

  memset(field, '#', sizeof field);
  strnzcpy(field, "abc", 17);
  EXPECT_EQ(std::string(field, 17), std::string("abc") + std::string(14, '\0'));
  EXPECT_EQ(field[17], '#');

  memset(field, '#', sizeof field);
  strnzcpy(field, "exactly 16 chars", 17);
  EXPECT_STREQ(field, "exactly 16 chars");
}

TEST(Strnzcpy, TinyFields) {
  char field[2] = {'#', '#'};
  strnzcpy(field, "abc", 1);
  EXPECT_EQ(field[0], '\0');
  EXPECT_EQ(field[1], '#');
  field[0] = '#';
  strnzcpy(field, "abc", 0);  // no room at all: nothing is written
  EXPECT_EQ(field[0], '#');
}
