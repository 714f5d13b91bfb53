// wtmpview end to end: login-record files written by the tests, the program
// run with -f on them (TZ=UTC).
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "process.h"
#include "records.h"

using namespace wtmptest;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

// 15/03/1998 10:20:30 UTC
constexpr int32_t T0 = 889957230;

const char kUsage[] =
    "wtmpview -- shows wtmp information in computer readable form\n\n"
    "usage: wtmpview [-#] [-f file] [-t tty] [-h hostname] [-T time] [user ...]\n";

std::string fileOf(const TempDir &dir, const std::string &bytes, const std::string &name = "wtmp") {
  std::string path = dir.sub(name);
  writeFile(path, bytes);
  return path;
}

// The first n lines of text.
std::string firstLines(const std::string &text, int n) {
  size_t end = 0;
  for (int i = 0; i < n && end != std::string::npos; ++i) end = text.find('\n', end) + 1;
  return text.substr(0, end);
}

bool endsWith(const std::string &text, const std::string &tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

TEST(Wtmpview, PrintsFixedWidthLinesNewestFirst) {
  TempDir dir("wtmpview");
  std::string file = fileOf(dir, records({
      login("ttyS1", T0, "ivan"),
      logout("ttyS1", T0 + 300),
      login("", T0 + 320, "ghost"),
      logout("", T0 + 370),
      login("abcdefghijkl", T0 + 400, "abcdefgh", "abcdefghijklmnop"),
      logout("abcdefghijkl", T0 + 460),
      login("ttyS2", T0 + 500, "olga", "dial up 5"),
  }));
  auto r = view(file);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out,
            "olga      ttyS2        dial_up_5        15/03/1998 10:28:50       1 (still in)\n"
            "abcdefgh  abcdefghijkl abcdefghijklmnop 15/03/1998 10:27:10      60\n"
            "ghost     unknown      localhost        15/03/1998 10:25:50      50\n"
            "ivan      ttyS1        localhost        15/03/1998 10:20:30     300\n");
}

TEST(Wtmpview, ControlCharactersOfEveryFieldPrintAsUnderscores) {
  TempDir dir("wtmpview");
  std::string file = fileOf(dir, records({
      login("tty\t1", T0, "a\nb c", "h\x01st\tx\x7f y"),
      logout("tty\t1", T0 + 60),
  }));
  auto r = view(file);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "a_b c     tty_1        h_st_x__y        15/03/1998 10:20:30      60\n");
}

TEST(Wtmpview, OpenSessionsEndAtNowFromFileOrTimeOption) {
  TempDir dir("wtmpview");
  std::string file = fileOf(dir, records({login("ttyS1", T0, "ivan"), login("ttyS2", T0 + 100, "olga")}));
  std::string newest1 = row("olga", "ttyS2", "localhost", T0 + 100, 1, "still in") +
                        row("ivan", "ttyS1", "localhost", T0, 101, "still in");
  // -f alone: the newest record's time plus 1.
  EXPECT_EQ(view(file).out, newest1);
  // -T sets now.
  EXPECT_EQ(view(file, {"-T", std::to_string(T0 + 1000)}).out,
            row("olga", "ttyS2", "localhost", T0 + 100, 900, "still in") +
                row("ivan", "ttyS1", "localhost", T0, 1000, "still in"));
  // A -T older than the newest record is raised past it.
  EXPECT_EQ(view(file, {"-T", std::to_string(T0 + 50)}).out, newest1);
  // The last of -T and -f wins.
  EXPECT_EQ(view(file, {"-T", std::to_string(T0 + 1000), "-f", file}).out, newest1);

  // The newest possible 32-bit time plus 1 does not overflow.
  std::string late = fileOf(dir, records({login("ttyS1", 2147483647, "late")}), "late");
  EXPECT_EQ(view(late).out,
            "late      ttyS1        localhost        19/01/2038 03:14:07       1 (still in)\n");
}

TEST(Wtmpview, RebootCutsOpenSessionsAndSpreadsCrashMark) {
  TempDir dir("wtmpview");
  std::string file = fileOf(dir, records({
      login("tty1", T0, "a"),
      login("tty2", T0 + 100, "b"),
      logout("tty2", T0 + 200),
      login("tty3", T0 + 300, "c"),
      login("tty7", T0 + 350, "e"),
      reboot(T0 + 1000),
      logout("tty7", T0 + 1010),  // cleaned up after the boot: no crash
      login("tty1", T0 + 1100, "d"),
  }));
  // Sessions cut by the reboot end one second after the newest record before
  // it; tty3, first met after the reboot, takes the crash mark of tty1.
  EXPECT_EQ(view(file).out, row("d", "tty1", "localhost", T0 + 1100, 1, "still in") +
                                row("reboot", "~", "6.1.0", T0 + 1000, 0) +
                                row("e", "tty7", "localhost", T0 + 350, 660) +
                                row("c", "tty3", "localhost", T0 + 300, 51, "crash") +
                                row("b", "tty2", "localhost", T0 + 100, 100) +
                                row("a", "tty1", "localhost", T0, 351, "crash"));

  std::string down = fileOf(dir, records({
      login("tty5", T0, "x"),
      reboot(T0 + 500, "shutdown"),
      reboot(T0 + 600),
      login("tty5", T0 + 700, "y"),
  }), "down");
  EXPECT_EQ(view(down).out, row("y", "tty5", "localhost", T0 + 700, 1, "still in") +
                                row("reboot", "~", "6.1.0", T0 + 600, 0) +
                                row("shutdown", "~", "6.1.0", T0 + 500, 0) +
                                row("x", "tty5", "localhost", T0, 1, "shutdown"));

  // A reboot as the newest record marks no terminal: sessions end at the
  // boot without a label.
  std::string last = fileOf(dir, records({
      login("tty1", T0, "a"),
      login("tty2", T0 + 50, "b"),
      logout("tty2", T0 + 60),
      reboot(T0 + 100),
  }), "last");
  EXPECT_EQ(view(last).out, row("reboot", "~", "6.1.0", T0 + 100, 0) +
                                row("b", "tty2", "localhost", T0 + 50, 10) +
                                row("a", "tty1", "localhost", T0, 61));
}

TEST(Wtmpview, ClockChangesAreLabelledAndNegativeLengthsPrintZero) {
  TempDir dir("wtmpview");
  std::string plain = fileOf(dir, records({
      login("tty1", T0, "a"),
      clockMark('|', T0 + 100),
      clockMark('{', T0 + 4100),
      logout("tty1", T0 + 4200),
  }));
  EXPECT_EQ(view(plain).out, row("unknown", "{", "localhost", T0 + 4100, 0, "new time") +
                                 row("unknown", "|", "localhost", T0 + 100, 0, "old time") +
                                 row("a", "tty1", "localhost", T0, 0, "time corr."));

  // Right after a reboot the boot time is moved to the old clock too.
  std::string booted = fileOf(dir, records({
      login("tty1", T0, "a"),
      clockMark('|', T0 + 100),
      clockMark('{', T0 + 4100),
      reboot(T0 + 4200),
      login("tty1", T0 + 4300, "b"),
  }), "booted");
  EXPECT_EQ(view(booted).out, row("b", "tty1", "localhost", T0 + 4300, 1, "still in") +
                                  row("reboot", "~", "6.1.0", T0 + 4200, 0) +
                                  row("unknown", "{", "localhost", T0 + 4100, 0, "new time") +
                                  row("unknown", "|", "localhost", T0 + 100, 0, "old time") +
                                  row("a", "tty1", "localhost", T0, 200, "time corr."));

  // A logout older than its login: no label, so "will be more".
  std::string back = fileOf(dir, records({login("tty1", T0 + 2000, "a"), logout("tty1", T0 + 1500)}),
                            "back");
  EXPECT_EQ(view(back).out, row("a", "tty1", "localhost", T0 + 2000, 0, "will be more"));
}

TEST(Wtmpview, FtpAndUucpLinesAreShortenedButKeptApart) {
  TempDir dir("wtmpview");
  std::string file = fileOf(dir, records({
      login("ftp111", T0, "bob", "h1"),
      login("ftp222", T0 + 10, "eve"),
      login("uucp0042", T0 + 20, "uu"),
      logout("uucp0042", T0 + 50),
      logout("ftp111", T0 + 100),
      logout("ftp222", T0 + 300),
  }));
  std::string ftp = row("eve", "ftp", "localhost", T0 + 10, 290) + row("bob", "ftp", "h1", T0, 100);
  EXPECT_EQ(view(file).out, row("uu", "uucp", "localhost", T0 + 20, 30) + ftp);
  EXPECT_EQ(view(file, {"-t", "ftp"}).out, ftp);
  EXPECT_EQ(view(file, {"uucp"}).out, row("uu", "uucp", "localhost", T0 + 20, 30));
}

TEST(Wtmpview, LineLimitCountsLoginRecordsAndReadsWholeDigitWord) {
  TempDir dir("wtmpview");
  Rec getty{kLoginProcess, 7, "tty3", "3", T0 + 20, "LOGIN", "", 0};
  std::string file = fileOf(dir, records({
      login("tty1", T0, "a"),
      login("tty2", T0 + 10, "b"),
      getty,
      login("tty4", T0 + 30, "c"),
  }));
  std::string c = row("c", "tty4", "localhost", T0 + 30, 1, "still in");
  std::string b = row("b", "tty2", "localhost", T0 + 10, 21, "still in");
  std::string a = row("a", "tty1", "localhost", T0, 31, "still in");
  EXPECT_EQ(view(file).out, c + b + a);       // LOGIN prints nothing
  EXPECT_EQ(view(file, {"-2"}).out, c);       // but counts
  EXPECT_EQ(view(file, {"-3"}).out, c + b);
  auto zero = view(file, {"-0"});
  EXPECT_EQ(zero.status, 0);
  EXPECT_EQ(zero.out, "");

  std::string many;
  for (int i = 0; i < 13; ++i) many += encode(login("tty1", T0 + 10 * i, "u"));
  std::string manyFile = fileOf(dir, many, "many");
  auto lines = [&](std::vector<std::string> args) {
    std::string out = view(manyFile, args).out;
    return std::count(out.begin(), out.end(), '\n');
  };
  EXPECT_EQ(lines({}), 13);
  EXPECT_EQ(lines({"-12"}), 12);
  EXPECT_EQ(lines({"-5", "-50"}), 5);   // the first digit option wins
  EXPECT_EQ(lines({"-50", "-5"}), 13);
  EXPECT_EQ(lines({"u", "-12"}), 12);   // an operand before the option
  EXPECT_EQ(lines({"-3f", manyFile}), 3);
}

TEST(Wtmpview, OperandsAndOptionsFilterByUserTtyOrHost) {
  TempDir dir("wtmpview");
  std::string file = fileOf(dir, records({
      login("tty9", T0, "p1"),
      login("ttyp1", T0 + 10, "x"),
      login("console", T0 + 20, "y"),
      login("ttyS0", T0 + 30, "z"),
      login("ttyq", T0 + 40, "q"),
      login("tty8", T0 + 50, "w", "Gate7"),
      logout("tty9", T0 + 60),  // logouts are never printed, filters or not
  }));
  auto line = [](const std::string &user, const std::string &tty, int dt, const std::string &host = "localhost") {
    return row(user, tty, host, T0 + dt, 61 - dt, "still in");
  };
  EXPECT_EQ(view(file, {"p1"}).out, line("x", "ttyp1", 10) + row("p1", "tty9", "localhost", T0, 60));
  EXPECT_EQ(view(file, {"co"}).out, line("y", "console", 20));
  EXPECT_EQ(view(file, {"-t", "/dev/ttyS0"}).out, line("z", "ttyS0", 30));
  EXPECT_EQ(view(file, {"-t", "ttyS0", "q"}).out, line("q", "ttyq", 40) + line("z", "ttyS0", 30));
  EXPECT_EQ(view(file, {"-h", "gATE7"}).out, line("w", "tty8", 50, "Gate7"));
  EXPECT_EQ(view(file, {"nobody"}).out, "");
}

TEST(Wtmpview, HostInOwnDomainMatchesShortName) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root for a namespace with its own host name";
  testsupport::RunSpec probe;
  probe.program = "/usr/bin/unshare";
  probe.overlay = false;
  probe.args = {"--uts", "true"};
  if (testsupport::run(probe).status != 0) GTEST_SKIP() << "unshare --uts is not permitted here";

  TempDir dir("wtmpview");
  std::string file = fileOf(dir, records({
      login("tty1", T0, "a", "gw"),
      login("tty2", T0 + 10, "b", "GW.node.example"),
      login("tty3", T0 + 20, "c", "gw.other.org"),
  }));
  auto viewAs = [&](const std::string &host) {
    testsupport::RunSpec spec;
    spec.program = "/usr/bin/unshare";
    spec.overlay = false;
    spec.args = {"--uts", "sh", "-c", "hostname box.Node.Example && exec \"$0\" \"$@\"",
                 testsupport::binPath("wtmpview"), "-f", file, "-h", host};
    return testsupport::run(spec).out;
  };
  std::string a = row("a", "tty1", "gw", T0, 21, "still in");
  EXPECT_EQ(viewAs("gw.node.example"), a);
  EXPECT_EQ(viewAs("GW.NODE.EXAMPLE"), a);
  EXPECT_EQ(viewAs("gw"), a);
  EXPECT_EQ(viewAs("gw.other.org"), row("c", "tty3", "gw.other.org", T0 + 20, 1, "still in"));
}

TEST(Wtmpview, ReadsWholeRecordsBackwardsAcrossBlocks) {
  TempDir dir("wtmpview");
  auto empty = view(fileOf(dir, "", "empty"));
  EXPECT_EQ(empty.status, 0);
  EXPECT_EQ(empty.out, "");
  EXPECT_EQ(empty.err, "");

  // 100 bytes: one record; the other 44 bytes are ignored.
  std::string hundred = encode(login("tty1", T0, "a")) + encode(login("tty2", T0 + 99, "b")).substr(0, 44);
  EXPECT_EQ(view(fileOf(dir, hundred, "hundred")).out, row("a", "tty1", "localhost", T0, 1, "still in"));

  // 1100 records span two blocks of 1024; a partial record trails.
  std::string big;
  for (int i = 0; i < 1100; ++i) big += encode(login("tty1", T0 + 10 * i, "u"));
  big += std::string(30, 'x');
  std::string bigFile = fileOf(dir, big, "big");
  std::string expected = row("u", "tty1", "localhost", T0 + 10 * 1099, 1, "still in");
  for (int i = 1098; i >= 0; --i) expected += row("u", "tty1", "localhost", T0 + 10 * i, 10);
  auto r = view(bigFile);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, expected);
  EXPECT_EQ(view(bigFile, {"-1030"}).out, firstLines(expected, 1030));
}

TEST(Wtmpview, ReportsUsageAndUnreadableFile) {
  TempDir dir("wtmpview");
  std::string file = fileOf(dir, records({login("tty1", T0, "a")}));
  for (std::vector<std::string> args : {std::vector<std::string>{"-x"}, {"-T", "soon"}, {"-T", "12x"}}) {
    auto r = view(file, args);
    EXPECT_EQ(r.status, 1) << args[0];
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(endsWith(r.err, kUsage)) << r.err;
  }
  testsupport::RunSpec noArg;
  noArg.program = "wtmpview";
  noArg.overlay = false;
  noArg.args = {"-f"};
  auto r = testsupport::run(noArg);
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(endsWith(r.err, kUsage)) << r.err;

  // Output that cannot be written is a failure, not a shorter listing.
  testsupport::RunSpec full;
  full.program = "/bin/sh";
  full.overlay = false;
  full.args = {"-c", "\"$0\" -f \"$1\" > /dev/full", testsupport::binPath("wtmpview"), file};
  r = testsupport::run(full);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "standard output: No space left on device\n");

  std::string missing = dir.sub("no-such-wtmp");
  r = view(missing);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, missing + "\n");

  // Records of neither layout: text, and less than one record.
  std::string text;
  for (int i = 0; i < 20; ++i) text += "tty1 ivan 15/03/1998 10:20:30\n";
  for (const std::string &bytes : {text, encode(login("tty1", T0, "a")).substr(0, 40)}) {
    std::string path = fileOf(dir, bytes, "neither");
    r = view(path);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, path + ": not a file of login records\n");
  }
}
