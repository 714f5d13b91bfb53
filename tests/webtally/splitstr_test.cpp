// Texts cut into lines at blanks.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "layout.h"

namespace {

// Every piece of text, the first of at most first characters, the others of
// at most width; read only at the end, as each stays valid until the next text.
std::vector<std::string> cut(const std::string &text, unsigned first, unsigned width) {
  std::vector<const char *> pieces;
  splitString(text.c_str(), 0);
  for (char *p = splitString(nullptr, first); p; p = splitString(nullptr, width)) {
    pieces.push_back(p);
  }
  return std::vector<std::string>(pieces.begin(), pieces.end());
}

}  // namespace

TEST(SplitString, CutsAtTheLastBlankWithinTheWidth) {
  using V = std::vector<std::string>;
  const std::string x(100, 'x');
  EXPECT_EQ(cut(x, 38, 39), (V{x.substr(0, 38), x.substr(38, 39), x.substr(77)}));
  EXPECT_EQ(cut("  one two\t\tthree   four\n", 9, 9), (V{"one two", "three", "four"}));
  EXPECT_EQ(cut("aaa bbb", 3, 3), (V{"aaa", "bbb"}));
  EXPECT_EQ(cut("ab cd", 0, 5), (V{"", "ab cd"}));
  EXPECT_EQ(cut(" \t ", 5, 5), (V{""}));
  EXPECT_EQ(splitString(nullptr, 5), nullptr);  // used up

  // No character lost, whatever the width.
  std::string text, letters;
  for (int i = 0; i < 60; ++i) {
    std::string word(1 + i * 7 % 11, 'a' + i % 26);
    text += word + (i % 2 ? " " : "  \t");
    letters += word;
  }
  for (unsigned width = 1; width <= 25; ++width) {
    std::string joined;
    for (const std::string &piece : cut(text, width, width)) {
      EXPECT_LE(piece.size(), width);
      joined += piece;
    }
    joined.erase(std::remove(joined.begin(), joined.end(), ' '), joined.end());
    EXPECT_EQ(joined, letters) << width;
  }
}
