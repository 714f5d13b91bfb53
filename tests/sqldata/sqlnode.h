// A node for the end-to-end tests of the SQL data layer: a temporary home
// (with its lock directory), a stand-in database server of its own with its
// statement log, a capture mailer, and the test driver run against them.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "dbserver.h"
#include "process.h"

namespace sqlnode {

inline testsupport::DbServer::Options withLog() {
  testsupport::DbServer::Options options;
  options.statementLog = true;
  return options;
}

// Lines of text, without their newlines.
inline std::vector<std::string> linesOf(const std::string &text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

inline size_t countOf(const std::vector<std::string> &lines, const std::string &line) {
  return static_cast<size_t>(std::count(lines.begin(), lines.end(), line));
}

// Number of lines that begin with prefix.
inline size_t countPrefix(const std::vector<std::string> &lines, const std::string &prefix) {
  return static_cast<size_t>(std::count_if(lines.begin(), lines.end(), [&](const std::string &l) {
    return l.compare(0, prefix.size(), prefix) == 0;
  }));
}

// Number of times needle occurs in text.
inline size_t occurrences(const std::string &text, const std::string &needle) {
  size_t n = 0;
  for (size_t pos = text.find(needle); pos != std::string::npos; pos = text.find(needle, pos + 1))
    ++n;
  return n;
}

class Node {
 public:
  explicit Node(const testsupport::DbServer::Options &options = withLog())
      : db(tmp.sub("db"), options) {}

  testsupport::TempDir tmp{"sqldata"};
  testsupport::DbServer db;
  // Further lines of the main configuration.
  std::string extra;
  // Reach the server over TCP instead of its UNIX socket.
  bool tcp = false;

  std::string home() const { return tmp.sub("home"); }
  std::string mailDir() const { return tmp.sub("mails"); }
  std::string lockDir() const { return home() + "/locks"; }

  std::string config() const {
    return testsupport::configFor(
        home(), (tcp ? db.tcpConfig() : db.config()) + "mailer " + testsupport::sourcePath("platform/mailcapture/capture-mail") +
                    " " + mailDir() + " -f%s\n" + extra);
  }

  testsupport::RunSpec spec(const std::string &program, const std::vector<std::string> &args) const {
    testsupport::RunSpec s;
    s.program = program;
    s.args = args;
    s.etc = {{"korvix-1.3.conf", config()}};
    return s;
  }

  // Runs the driver with the commands given.
  testsupport::RunResult drive(const std::vector<std::string> &args) const {
    return testsupport::run(spec("sqldata_driver", args));
  }

  // Runs a shell script in the node's namespace, in the node's directory,
  // with these variables besides env: DRIVER and DBSERVER (the programs),
  // DATA, SOCK and LOG (the server's data directory, socket and statement log).
  testsupport::RunResult shell(const std::string &script,
                               const std::vector<std::pair<std::string, std::string>> &env = {}) const {
    testsupport::RunSpec s = spec("/bin/sh", {"-c", script});
    s.env = {{"DRIVER", testsupport::binPath("sqldata_driver")},
             {"DBSERVER", testsupport::binPath("dbserver")},
             {"DATA", db.dataDir()},
             {"SOCK", db.socketPath()},
             {"LOG", db.logPath()}};
    s.env.insert(s.env.end(), env.begin(), env.end());
    s.cwd = tmp.path();
    return testsupport::run(s);
  }

  // Runs one select through the driver and returns its rows ("a|b").
  std::vector<std::string> rows(const std::string &select) const {
    testsupport::RunResult r = drive({"select", select});
    std::vector<std::string> out;
    for (const std::string &line : linesOf(r.out))
      if (line.compare(0, 4, "row ") == 0) out.push_back(line.substr(4));
    return out;
  }

  std::vector<std::string> statements() const { return linesOf(db.statements()); }

  // The captured mails, oldest first: the mailer's arguments ("[arg]" lines),
  // "--" and the text written to it.
  std::vector<std::string> mails() const {
    std::vector<std::string> out;
    for (int n = 1; testsupport::fileExists(mailDir() + "/mail-" + std::to_string(n)); ++n)
      out.push_back(testsupport::readFile(mailDir() + "/mail-" + std::to_string(n)));
    return out;
  }

  // Lock files left in the lock directory.
  std::vector<std::string> locks() const {
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto &e : std::filesystem::directory_iterator(lockDir(), ec))
      out.push_back(e.path().filename().string());
    return out;
  }
};

}  // namespace sqlnode
