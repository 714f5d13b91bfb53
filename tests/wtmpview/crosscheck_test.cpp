// wtmpview against the platform's own tools: the records of a text dump are
// written into a file by the C library's updwtmp (this machine's 384-byte
// records); wtmpview on that file must print the fields that `utmpdump`
// reads from it and the sessions that `last -f` lists, and the same records
// mapped field by field to the 56-byte layout must print the same lines.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <utmp.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sstream>
#include <string>
#include <vector>

#include "process.h"
#include "records.h"

using namespace wtmptest;
using testsupport::TempDir;

namespace {

const char kUtmpdump[] = "/usr/bin/utmpdump";
const char kLast[] = "/usr/bin/last";

// A working day of a small node: boots, a shutdown, getty records, logins
// on consoles and pseudo terminals, logouts, a crash and open sessions.
const char kDump[] =
    "[2] [00000] [~~  ] [reboot  ] [~           ] [6.1.0-18-amd64      ] [0.0.0.0        ] [2024-03-11T08:00:00,000000+00:00]\n"
    "[6] [00612] [tty1] [LOGIN   ] [tty1        ] [                    ] [0.0.0.0        ] [2024-03-11T08:00:05,000000+00:00]\n"
    "[7] [00612] [tty1] [root    ] [tty1        ] [                    ] [0.0.0.0        ] [2024-03-11T08:01:10,000000+00:00]\n"
    "[7] [01001] [ts/0] [ivan    ] [pts/0       ] [10.0.0.5            ] [10.0.0.5       ] [2024-03-11T09:15:00,000000+00:00]\n"
    "[7] [01020] [ts/1] [olga    ] [pts/1       ] [dial7.isp.example   ] [192.0.2.7      ] [2024-03-11T09:20:30,000000+00:00]\n"
    "[8] [01001] [ts/0] [        ] [pts/0       ] [                    ] [0.0.0.0        ] [2024-03-11T11:02:13,000000+00:00]\n"
    "[7] [01100] [ts/0] [petr    ] [pts/0       ] [10.0.0.9            ] [10.0.0.9       ] [2024-03-11T12:00:00,000000+00:00]\n"
    "[8] [00612] [tty1] [        ] [tty1        ] [                    ] [0.0.0.0        ] [2024-03-11T12:30:00,000000+00:00]\n"
    "[6] [01200] [tty1] [LOGIN   ] [tty1        ] [                    ] [0.0.0.0        ] [2024-03-11T12:30:01,000000+00:00]\n"
    "[8] [01020] [ts/1] [        ] [pts/1       ] [                    ] [0.0.0.0        ] [2024-03-11T13:45:00,000000+00:00]\n"
    "[1] [00000] [~~  ] [shutdown] [~           ] [6.1.0-18-amd64      ] [0.0.0.0        ] [2024-03-11T18:00:00,000000+00:00]\n"
    "[2] [00000] [~~  ] [reboot  ] [~           ] [6.1.0-18-amd64      ] [0.0.0.0        ] [2024-03-12T07:30:00,000000+00:00]\n"
    "[6] [00640] [tty1] [LOGIN   ] [tty1        ] [                    ] [0.0.0.0        ] [2024-03-12T07:30:04,000000+00:00]\n"
    "[7] [02001] [ts/0] [ivan    ] [pts/0       ] [10.0.0.5            ] [10.0.0.5       ] [2024-03-12T08:10:00,000000+00:00]\n"
    "[7] [02002] [ts/1] [anna    ] [pts/1       ] [gate.node.example   ] [192.0.2.1      ] [2024-03-12T08:12:00,000000+00:00]\n"
    "[8] [02001] [ts/0] [        ] [pts/0       ] [                    ] [0.0.0.0        ] [2024-03-12T08:40:41,000000+00:00]\n"
    "[7] [02003] [ts/0] [olga    ] [pts/0       ] [dial3.isp.example   ] [192.0.2.3      ] [2024-03-12T09:00:00,000000+00:00]\n"
    "[2] [00000] [~~  ] [reboot  ] [~           ] [6.1.0-18-amd64      ] [0.0.0.0        ] [2024-03-12T10:00:00,000000+00:00]\n"
    "[7] [03001] [ts/0] [ivan    ] [pts/0       ] [10.0.0.5            ] [10.0.0.5       ] [2024-03-12T10:05:00,000000+00:00]\n"
    "[7] [03002] [ts/2] [root    ] [pts/2       ] [10.0.0.1            ] [10.0.0.1       ] [2024-03-12T10:06:00,000000+00:00]\n"
    "[8] [03002] [ts/2] [        ] [pts/2       ] [                    ] [0.0.0.0        ] [2024-03-12T10:07:30,000000+00:00]\n"
    "[7] [03003] [ts/3] [anna    ] [pts/3       ] [gate.node.example   ] [192.0.2.1      ] [2024-03-12T10:20:00,000000+00:00]\n";

// The native record of x86_64 Linux.
constexpr size_t kNativeSize = 384;
static_assert(sizeof(struct utmp) == kNativeSize);

int32_t int32At(const std::string &b, size_t off) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | uint8_t(b[off + i]);
  return int32_t(v);
}

std::string textAt(const std::string &b, size_t off, size_t n) {
  std::string s = b.substr(off, n);
  return s.substr(0, s.find('\0'));
}

// Maps native records to 56-byte ones: type, pid, line, id, seconds, user,
// host and the first word of the address, each cut to its narrower field.
std::string mapRecords(const std::string &native) {
  std::string out;
  for (size_t off = 0; off + kNativeSize <= native.size(); off += kNativeSize) {
    std::string r = native.substr(off, kNativeSize);
    Rec rec;
    rec.type = int16_t(uint8_t(r[0]) | uint8_t(r[1]) << 8);
    rec.pid = int32At(r, 4);
    rec.line = textAt(r, 8, 32);
    rec.id = textAt(r, 40, 4);
    rec.user = textAt(r, 44, 32);
    rec.host = textAt(r, 76, 256);
    rec.time = int32At(r, 340);
    rec.addr = uint32_t(int32At(r, 348));
    out += encode(rec);
  }
  return out;
}

struct Session {
  std::string user, line;
  long login = 0;
  long seconds = -1;  // -1: the session did not end with a logout record
  bool operator==(const Session &) const = default;
};

std::ostream &operator<<(std::ostream &os, const Session &s) {
  return os << s.user << " " << s.line << " " << s.login << " " << s.seconds;
}

long isoTime(const std::string &text) {
  struct tm tm = {};
  if (sscanf(text.c_str(), "%d-%d-%dT%d:%d:%d", &tm.tm_year, &tm.tm_mon, &tm.tm_mday, &tm.tm_hour,
             &tm.tm_min, &tm.tm_sec) != 6)
    return -1;
  tm.tm_year -= 1900;
  tm.tm_mon -= 1;
  return long(timegm(&tm));
}

std::string trimmed(const std::string &s) { return s.substr(0, s.find_last_not_of(' ') + 1); }

// The bracketed fields of utmpdump's lines: type, pid, id, user, line, host,
// address, time.
std::vector<std::vector<std::string>> dumpFields(const std::string &dump) {
  std::vector<std::vector<std::string>> list;
  std::istringstream in(dump);
  for (std::string text; std::getline(in, text);) {
    std::vector<std::string> f;
    for (size_t at = text.find('['); at != std::string::npos; at = text.find('[', at)) {
      size_t end = text.find(']', at);
      f.push_back(trimmed(text.substr(at + 1, end - at - 1)));
      at = end;
    }
    list.push_back(f);
  }
  return list;
}

void put(char *field, size_t n, const std::string &text) {
  memcpy(field, text.data(), std::min(n, text.size()));
}

// Appends the records of a dump to file with the C library's updwtmp.
void writeNative(const std::string &file, const std::string &dump) {
  for (const auto &f : dumpFields(dump)) {
    struct utmp ut = {};
    ut.ut_type = short(std::stoi(f[0]));
    ut.ut_pid = std::stoi(f[1]);
    put(ut.ut_id, sizeof ut.ut_id, f[2]);
    put(ut.ut_user, sizeof ut.ut_user, f[3]);
    put(ut.ut_line, sizeof ut.ut_line, f[4]);
    put(ut.ut_host, sizeof ut.ut_host, f[5]);
    inet_pton(AF_INET, f[6].c_str(), &ut.ut_addr_v6[0]);
    ut.ut_tv.tv_sec = int32_t(isoTime(f[7]));
    updwtmp(file.c_str(), &ut);
  }
}

// Sessions from `last -R -w --time-format iso`: user, line, login time and,
// when a logout time is given, the length.
std::vector<Session> lastSessions(const std::string &out) {
  std::vector<Session> list;
  std::istringstream in(out);
  std::string text;
  while (std::getline(in, text) && !text.empty()) {
    std::istringstream words(text);
    std::vector<std::string> w;
    for (std::string x; words >> x;) w.push_back(x);
    if (w.size() < 3 || w[0] == "reboot") continue;
    Session s{w[0], w[1], isoTime(w[2]), -1};
    if (w.size() > 4 && w[3] == "-" && isdigit(uint8_t(w[4][0]))) s.seconds = isoTime(w[4]) - s.login;
    list.push_back(s);
  }
  return list;
}

// Sessions from wtmpview's fixed-width lines, reboot records left out; the
// length is kept only for sessions without a label (ended by a record).
std::vector<Session> wtmpviewSessions(const std::string &out) {
  std::vector<Session> list;
  std::istringstream in(out);
  for (std::string text; std::getline(in, text);) {
    if (text.size() < 67) continue;
    Session s{trimmed(text.substr(0, 8)), trimmed(text.substr(10, 12)), -1, -1};
    if (s.line == "~") continue;
    struct tm tm = {};
    sscanf(text.c_str() + 40, "%d/%d/%d %d:%d:%d", &tm.tm_mday, &tm.tm_mon, &tm.tm_year, &tm.tm_hour,
           &tm.tm_min, &tm.tm_sec);
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    s.login = long(timegm(&tm));
    if (text.size() == 67) s.seconds = std::stol(text.substr(60, 7));
    list.push_back(s);
  }
  return list;
}

}  // namespace

TEST(WtmpviewCrossCheck, NativeRecordsPrintWhatUtmpdumpReadsAndLastLists) {
  if (!testsupport::fileExists(kUtmpdump) || !testsupport::fileExists(kLast))
    GTEST_SKIP() << "utmpdump or last is missing";
  TempDir dir("wtmpcheck");
  std::string native = dir.sub("wtmp384");
  testsupport::writeFile(native, "");  // updwtmp appends to a file that exists
  writeNative(native, kDump);

  auto run = [](const char *program, std::vector<std::string> args) {
    testsupport::RunSpec spec;
    spec.program = program;
    spec.overlay = false;
    spec.args = args;
    return testsupport::run(spec);
  };
  auto actual = view(native);
  ASSERT_EQ(actual.status, 0) << actual.err;
  // Every record with a user but LOGIN prints, newest first, its user, line,
  // host and time as utmpdump reads them.
  auto dump = run(kUtmpdump, {native});
  auto fields = dumpFields(dump.out);
  ASSERT_EQ(fields.size(), 22u) << dump.out << dump.err;
  std::string dumped, printed;
  for (auto f = fields.rbegin(); f != fields.rend(); ++f)
    if (!(*f)[3].empty() && (*f)[3] != "LOGIN")
      dumped += row((*f)[3], (*f)[4], (*f)[5].empty() ? "localhost" : (*f)[5].substr(0, 16),
                  isoTime((*f)[7]), 0).substr(0, 59) + "\n";
  std::istringstream lines(actual.out);
  for (std::string text; std::getline(lines, text);) printed += text.substr(0, 59) + "\n";
  EXPECT_EQ(printed, dumped);

  auto expected = run(kLast, {"-R", "-w", "--time-format", "iso", "-f", native});
  ASSERT_EQ(expected.status, 0) << expected.err;
  std::vector<Session> want = lastSessions(expected.out);
  std::vector<Session> got = wtmpviewSessions(actual.out);
  // Lengths are compared only where last names a logout time.
  for (size_t i = 0; i < got.size() && i < want.size(); ++i)
    if (want[i].seconds < 0) got[i].seconds = -1;
  ASSERT_EQ(want.size(), 10u) << expected.out;
  EXPECT_EQ(got, want) << "last:\n" << expected.out << "wtmpview:\n" << actual.out;

  // The host is compared in all its characters, not in the 16 printed.
  EXPECT_EQ(view(native, {"-h", "DIAL7.isp.example"}).out,
            row("olga", "pts/1", "dial7.isp.exampl", isoTime("2024-03-11T09:20:30"), 15870));
  EXPECT_EQ(view(native, {"-h", "dial7.isp.example.org"}).out, "");

  std::string mapped = dir.sub("wtmp56");
  testsupport::writeFile(mapped, mapRecords(testsupport::readFile(native)));
  EXPECT_EQ(view(mapped).out, actual.out);
}
