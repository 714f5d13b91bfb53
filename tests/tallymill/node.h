// A small node for end-to-end runs of tallymill: a home directory with price
// lists, a user base and a message catalogue, a stand-in database server of
// its own, and the stand-in mailer.
#pragma once

#include <string>
#include <vector>

#include "dbserver.h"
#include "process.h"

class Node {
 public:
  Node();
  // Writes a file relative to the home directory.
  void file(const std::string &rel, const std::string &text) const;
  // A user directory under userbase/ (rel may hold index levels) with its
  // user.cf.
  void user(const std::string &rel, const std::string &userCf) const;
  // Runs tallymill with these arguments (and standard input).
  testsupport::RunResult tallymill(const std::vector<std::string> &args,
                                   const std::string &input = "") const;
  // Runs the monthly job of examples/korvix.cron for the month (YYYYMM).
  testsupport::RunResult monthly(const std::string &month) const { return job({"2", month}); }
  // Runs a job of examples/korvix.cron (args: its number, then its own): the
  // folder first (when given), then the built programs and examples/ on its
  // PATH; T, the traffic file, is traffic in tmp.
  testsupport::RunResult job(const std::vector<std::string> &args, const std::string &first = "") const;
  // The rows of a query, each row its columns joined by "|" ("NULL" for
  // null); one row a line.
  std::string query(const std::string &sql) const;
  std::string log() const { return testsupport::readFile(home + "/Logfile"); }
  std::string statements() const { return db.statements(); }
  // The captured mails, in order.
  std::vector<std::string> mails() const;

  // Runs a program (a path, or a built program's name) with the node's
  // configuration.
  testsupport::RunResult run(testsupport::RunSpec spec) const;

  std::string extraConfig;  // more lines for the main configuration
  testsupport::TempDir tmp{"tallymill"};
  std::string home;
  testsupport::DbServer db;
};
