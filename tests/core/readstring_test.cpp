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
    // A continuation that meets the end of the file ends the line there.
    EXPECT_EQ(lines("one\ntwo\\\n", size), (Lines{"one\n", "two\n", "<null>"})) << size;
    EXPECT_EQ(lines("one\ntwo\\", size), (Lines{"one\n", "two\n", "<null>"})) << size;
    EXPECT_EQ(lines("\\", size), (Lines{"\n", "<null>"})) << size;
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

TEST(Readstring, NulBytesEndTheTextButNotTheLine) {
  // What follows a NUL on its line is dropped; the next line is neither
  // merged in nor skipped, with either buffer.
  const struct {
    std::string text;
    Lines want;
  } cases[] = {
      {std::string("a\0\nb\nc\n", 7), {"a\n", "b\n", "c\n", "<null>"}},
      {std::string("a\0junk\\\nb\n", 10), {"a\n", "b\n", "<null>"}},
      {std::string("\0\n\0\nlast", 8), {"\n", "\n", "last\n", "<null>"}},
      {std::string("x\\\ny\0z\nw\n", 9), {"xy\n", "w\n", "<null>"}},
  };
  for (const auto &c : cases)
    for (size_t size : {0, 8, 2048}) EXPECT_EQ(lines(c.text, size), c.want) << size << " " << c.text;
  // Many such lines in a row cost nothing and leave the reader whole.
  std::string many;
  Lines want;
  for (int i = 0; i < 23; ++i) {
    many += std::string("a\0\n", 3);
    want.push_back("a\n");
  }
  want.push_back("<null>");
  EXPECT_EQ(lines(many, 0), want);
  EXPECT_EQ(lines("after\n", 0), (Lines{"after\n", "<null>"}));
}

TEST(Readstring, LibraryBufferHasABoundAndStaysWhole) {
  // A continued line of 66,000 pieces is read in linear time and memory.
  std::string pieces;
  for (int i = 0; i < 66000; ++i) pieces += "a\\\n";
  EXPECT_EQ(lines(pieces + "b\nc\n", 0), (Lines{std::string(66000, 'a') + "b\n", "c\n", "<null>"}));
  // A logical line beyond the bound is skipped with a warning naming the
  // file, and the next one is read as usual, also from the next file.
  std::string huge(kLogicalLineMax + 1, 'x');
  for (const std::string &text : {huge + "\nnext\n", std::string(kLogicalLineMax / 2, 'y') + "\\\n" +
                                                           std::string(kLogicalLineMax / 2 + 1, 'z') + "\nnext\n"}) {
    Stream s(text);
    testing::internal::CaptureStderr();
    char *line = readstring(nullptr, 0, s.get(), "/u/user.cf");
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_STREQ(line, "next\n");
    EXPECT_EQ(err, "Line longer than 1048576 bytes skipped in /u/user.cf\n");
    EXPECT_EQ(readstring(nullptr, 0, s.get()), nullptr);
  }
  EXPECT_EQ(lines(std::string(kLogicalLineMax, 'k') + "\nshort\n", 0),
            (Lines{std::string(kLogicalLineMax, 'k') + "\n", "short\n", "<null>"}));
}
