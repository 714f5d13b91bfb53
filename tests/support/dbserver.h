// Test support: a stand-in database server (build/bin/dbserver) of its own
// for one test, with its databases, UNIX socket and statement log in a
// directory of the test and a free TCP port on 127.0.0.1.
//
//   testsupport::TempDir tmp;
//   testsupport::DbServer db(tmp.sub("db"));
//   ASSERT_TRUE(db.start());
//   ... configFor(home, db.config()) ...
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace testsupport {

class DbServer {
 public:
  struct Options {
    // Created with the system's six tables before the first start when
    // missing; "" creates none.
    std::string database = "vovuvuza";
    bool tcp = true;            // also listen on TCP (a free port)
    bool statementLog = false;  // log every query into logPath()
    std::string durability = "";  // the server's -S value; "" for its default
    std::vector<std::string> args = {};  // further options of the server
  };

  // dir: a directory of the test (created when missing) that holds data/,
  // the socket "msql.sock" and the statement log "statements.log".
  explicit DbServer(const std::string &dir);
  DbServer(const std::string &dir, const Options &options);
  ~DbServer();  // stops the server
  DbServer(const DbServer &) = delete;
  DbServer &operator=(const DbServer &) = delete;

  // Starts the server (again) and waits until it listens; false, with the
  // reason on standard error, when it did not come up.
  bool start();
  // SIGTERM and wait; true when it ended with status 0. A stopped server
  // keeps its data for the next start.
  bool stop();
  // SIGKILL and wait, as a crash; the data stays for the next start.
  void crash();
  bool running() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }

  const std::string &dir() const { return dir_; }
  std::string dataDir() const { return dir_ + "/data"; }
  std::string socketPath() const { return dir_ + "/msql.sock"; }
  std::string logPath() const { return dir_ + "/statements.log"; }
  const std::string &database() const { return options_.database; }
  // The TCP port of the running server (a new one at every start), or -1.
  int port() const { return port_; }
  // The statement log so far, one query a line.
  std::string statements() const;
  // Sends one statement over the socket: the rows of its result, each row
  // its columns joined by "|" ("NULL" for SQL NULL), one row a line; "" when
  // it has none; "connect failed: ..." or "query failed: ..." otherwise.
  std::string query(const std::string &sql) const;

  // Main configuration lines that point a program at this server over the
  // UNIX socket ("sql-socket", "sql-database"), or over TCP ("sql-server",
  // "sql-port", "sql-database").
  std::string config() const;
  std::string tcpConfig() const;

 private:
  std::string dir_;
  Options options_;
  pid_t pid_ = -1;
  int port_ = -1;
};

}  // namespace testsupport
