// Texts cut into lines at blanks.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "layout.h"

namespace {

// Every piece of text, the first at most first characters, the others at
// most width.
std::vector<std::string> cut(const char *text, unsigned first, unsigned width) {
  std::vector<const char *> pieces;
  splitString(text, 0);
  for (char *piece = splitString(nullptr, first); piece; piece = splitString(nullptr, width)) {
    pieces.push_back(piece);
  }
  // The pieces are read only now: each stays valid until the next text.
  return std::vector<std::string>(pieces.begin(), pieces.end());
}

}  // namespace

TEST(SplitString, CutsAtTheLastBlankWithinTheWidth) {
  const std::string hundred(100, 'x');
  using V = std::vector<std::string>;
  EXPECT_EQ(cut(hundred.c_str(), 38, 39),
            (V{hundred.substr(0, 38), hundred.substr(38, 39), hundred.substr(77)}));
  EXPECT_EQ(cut("  one two\t\tthree   four\n", 9, 9), (V{"one two", "three", "four"}));
  EXPECT_EQ(cut("aaa bbb", 3, 3), (V{"aaa", "bbb"}));
  EXPECT_EQ(cut("ab cd", 0, 5), (V{"", "ab cd"}));
  EXPECT_EQ(cut(" \t ", 5, 5), (V{""}));
  EXPECT_EQ(splitString(nullptr, 5), nullptr);  // used up

  // No character lost, whatever the widths: the pieces are the folded text
  // with one blank dropped at each cut that found one.
  std::string text;
  for (int i = 0; i < 60; ++i)
    text += std::string(1 + i * 7 % 11, 'a' + i % 26) + (i % 5 ? " " : "  \t");
  for (unsigned width = 1; width <= 25; ++width) {
    std::string joined, folded;
    for (const std::string &piece : cut(text.c_str(), width, width)) {
      EXPECT_LE(piece.size(), width);
      joined += piece;
    }
    for (char c : text) {
      if (c != ' ' && c != '\t') folded += c;
    }
    std::string compact;
    for (char c : joined) {
      if (c != ' ') compact += c;
    }
    EXPECT_EQ(compact, folded) << width;
  }
}
