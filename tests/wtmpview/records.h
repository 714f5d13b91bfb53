// Test helpers for wtmpview: a writer of 56-byte little-endian login records
// (the 32-bit layout that wtmpview reads) and a runner of the built program.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <initializer_list>
#include <string>
#include <vector>

#include "process.h"

namespace wtmptest {

// Record types as the login programs write them; wtmpview does not read them.
constexpr int16_t kBootTime = 2;
constexpr int16_t kLoginProcess = 6;
constexpr int16_t kUserProcess = 7;
constexpr int16_t kDeadProcess = 8;

struct Rec {
  int16_t type = kUserProcess;
  int32_t pid = 0;
  std::string line;  // at most 12 bytes
  std::string id;    // at most 2 bytes
  int32_t time = 0;
  std::string user;  // at most 8 bytes
  std::string host;  // at most 16 bytes
  uint32_t addr = 0;
};

inline void putLE(std::string &out, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(char((v >> (8 * i)) & 0xff));
}

// A text field NUL-padded to n bytes (cut at n).
inline void putField(std::string &out, const std::string &text, size_t n) {
  std::string f = text.substr(0, n);
  f.resize(n, '\0');
  out += f;
}

// One 56-byte record.
inline std::string encode(const Rec &r) {
  std::string out;
  putLE(out, uint16_t(r.type), 2);
  putLE(out, 0, 2);
  putLE(out, uint32_t(r.pid), 4);
  putField(out, r.line, 12);
  putField(out, r.id, 2);
  putLE(out, 0, 2);
  putLE(out, uint32_t(r.time), 4);
  putField(out, r.user, 8);
  putField(out, r.host, 16);
  putLE(out, r.addr, 4);
  return out;
}

inline Rec login(const std::string &line, int32_t t, const std::string &user,
                 const std::string &host = "") {
  return Rec{kUserProcess, 100, line, "", t, user, host, 0};
}
inline Rec logout(const std::string &line, int32_t t) {
  return Rec{kDeadProcess, 100, line, "", t, "", "", 0};
}
inline Rec reboot(int32_t t, const std::string &user = "reboot") {
  return Rec{kBootTime, 0, "~", "~~", t, user, "6.1.0", 0};
}
// A clock record: mark '{' (new time) or '|' (old time).
inline Rec clockMark(char mark, int32_t t) {
  return Rec{3, 0, std::string(1, mark), "", t, "", "", 0};
}

inline std::string records(std::initializer_list<Rec> recs) {
  std::string out;
  for (const Rec &r : recs) out += encode(r);
  return out;
}

// Runs wtmpview -f file with the further arguments (TZ=UTC).
inline testsupport::RunResult view(const std::string &file, std::vector<std::string> args = {}) {
  testsupport::RunSpec spec;
  spec.program = "wtmpview";
  spec.overlay = false;
  spec.args = {"-f", file};
  spec.args.insert(spec.args.end(), args.begin(), args.end());
  return testsupport::run(spec);
}

// One expected output line for a login at t (UTC) of the given length.
inline std::string row(const std::string &user, const std::string &line, const std::string &host,
                       time_t t, long seconds, const std::string &label = "") {
  struct tm tm;
  gmtime_r(&t, &tm);
  char buf[200];
  snprintf(buf, sizeof buf, "%-8s  %-12s %-16s %02d/%02d/%04d %02d:%02d:%02d %7ld", user.c_str(),
           line.c_str(), host.c_str(), tm.tm_mday, tm.tm_mon + 1, tm.tm_year + 1900, tm.tm_hour,
           tm.tm_min, tm.tm_sec, seconds);
  std::string s = buf;
  if (!label.empty()) s += " (" + label + ")";
  return s + "\n";
}

}  // namespace wtmptest
