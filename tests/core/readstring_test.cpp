// Reading logical lines with backslash continuation.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "memory.h"

namespace {

// A stream reading text.
class Stream {
 public:
  explicit Stream(const std::string &text) : f_(tmpfile()) {
    fwrite(text.data(), 1, text.size(), f_);
    rewind(f_);
  }
  ~Stream() { fclose(f_); }
  FILE *get() const { return f_; }
 private:
  FILE *f_;
};

// Every logical line read with a caller's buffer of size bytes, or with the
// library-owned buffer when size is 0; "<null>" marks the end.
std::vector<std::string> lines(const std::string &text, size_t size) {
  Stream s(text);
  std::vector<std::string> out;
  std::vector<char> buf(size ? size : 1);
  for (int guard = 0; guard < 100; ++guard) {
    char *line = readstring(size ? buf.data() : nullptr, size, s.get());
    if (!line) {
      out.push_back("<null>");
      break;
    }
    if (size) {
      EXPECT_EQ(line, buf.data());
    }
    out.push_back(line);
  }
  return out;
}

using Lines = std::vector<std::string>;

}  // namespace

TEST(Readstring, JoinsContinuedLines) {
  for (size_t size : {0, 2048}) {
    EXPECT_EQ(lines("a\\\nb\nc\n", size), (Lines{"ab\n", "c\n", "<null>"})) << size;
    EXPECT_EQ(lines("a\\\nb\\\nc\nd\n", size), (Lines{"abc\n", "d\n", "<null>"})) << size;
    // Only a backslash right before the newline continues.
    EXPECT_EQ(lines("a\\ b\n", size), (Lines{"a\\ b\n", "<null>"})) << size;
  }
}

TEST(Readstring, ContinuationLooksAtThePhysicalLineJustRead) {
  // "x\\" continues with an empty line; the backslash left over from the
  // first line must not make the empty line continue as well.
  for (size_t size : {0, 64})
    EXPECT_EQ(lines("x\\\\\n\nnext\n", size), (Lines{"x\\\n", "next\n", "<null>"})) << size;
}

TEST(Readstring, LastLineWithoutNewlineAndTrailingBackslash) {
  for (size_t size : {0, 2048}) {
    EXPECT_EQ(lines("one\ntwo", size), (Lines{"one\n", "two\n", "<null>"})) << size;
    EXPECT_EQ(lines("one\ntwo\\\n", size), (Lines{"one\n", "<null>"})) << size;
    EXPECT_EQ(lines("one\ntwo\\", size), (Lines{"one\n", "<null>"})) << size;
    EXPECT_EQ(lines("", size), (Lines{"<null>"})) << size;
    EXPECT_EQ(lines("\n", size), (Lines{"\n", "<null>"})) << size;
  }
}

TEST(Readstring, CallersBufferCutsAndSkipsTheRestOfTheLine) {
  EXPECT_EQ(lines("abcdefghijklmnopqrst\nnext\n", 8), (Lines{"abcdef\n", "next\n", "<null>"}));
  // Six characters and the newline fit exactly; seven lose the last one.
  EXPECT_EQ(lines("abcdef\nabcdefg\n", 8), (Lines{"abcdef\n", "abcdef\n", "<null>"}));
  EXPECT_EQ(lines("abcdefg", 8), (Lines{"abcdef\n", "<null>"}));
  // A continuation goes into the space that is left.
  EXPECT_EQ(lines("abc\\\ndefghij\nk\n", 8), (Lines{"abcdef\n", "k\n", "<null>"}));
  EXPECT_EQ(lines("abcde\\\nxyz\nk\n", 8), (Lines{"abcdex\n", "k\n", "<null>"}));
  // A cut line ends there, even when the cut text ends in a backslash.
  EXPECT_EQ(lines("abcdef\\\nxyz\n", 8), (Lines{"abcdef\n", "xyz\n", "<null>"}));
  EXPECT_EQ(lines("x\ny\n", 2), (Lines{"\n", "\n", "<null>"}));
}

TEST(Readstring, LibraryBufferKeepsLongLinesWhole) {
  std::string longLine(5000, 'L');
  EXPECT_EQ(lines(longLine + "\nshort\n", 0), (Lines{longLine + "\n", "short\n", "<null>"}));
  std::string part(900, 'p');
  EXPECT_EQ(lines(part + "\\\n" + part + "\\\n" + part + "\n", 0), (Lines{part + part + part + "\n", "<null>"}));
  EXPECT_EQ(lines(longLine, 0), (Lines{longLine + "\n", "<null>"}));
  // The result stays valid until the next call without a buffer.
  Stream s("first\nsecond\n");
  char *a = readstring(nullptr, 0, s.get());
  EXPECT_STREQ(a, "first\n");
}

// These need the library-owned buffer to be created by their first call, so
// each runs in a fresh process.
TEST(ReadstringDeathTest, LibraryBufferOfOneByteStillReads) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        Stream s("ab\ncd");
        char *l1 = readstring(nullptr, 1, s.get());
        bool ok1 = l1 && std::string(l1) == "ab\n";
        char *l2 = readstring(nullptr, 1, s.get());
        bool ok2 = l2 && std::string(l2) == "cd\n";
        exit(ok1 && ok2 && !readstring(nullptr, 1, s.get()) ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}

TEST(ReadstringDeathTest, LineFillingTheLibraryBufferAtEndOfFileIsComplete) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        Stream s("1234567");  // exactly fills 8 bytes with its zero byte
        char *l = readstring(nullptr, 8, s.get());
        exit(l && std::string(l) == "1234567\n" && !readstring(nullptr, 8, s.get()) ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}
