#include "dbserver.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "msql.h"
#include "process.h"

namespace testsupport {

namespace {

// Seconds to wait for the server to come up or to end.
constexpr int kWaitSeconds = 30;

// The first line the server writes, or "" when none comes in time.
std::string readLine(int fd, int seconds) {
  std::string line;
  time_t deadline = time(nullptr) + seconds;
  while (time(nullptr) <= deadline) {
    pollfd p = {fd, POLLIN, 0};
    int r = poll(&p, 1, 200);
    if (r < 0 && errno != EINTR) break;
    if (r <= 0) continue;
    char c;
    ssize_t n = read(fd, &c, 1);
    if (n <= 0) break;
    if (c == '\n') return line;
    line += c;
  }
  return "";
}

}  // namespace

DbServer::DbServer(const std::string &dir) : DbServer(dir, Options()) {}

DbServer::DbServer(const std::string &dir, const Options &options) : dir_(dir), options_(options) {
  makeDirs(dataDir());
}

DbServer::~DbServer() { stop(); }

bool DbServer::start() {
  if (running()) return true;
  std::string program = binPath("dbserver");
  if (!options_.database.empty() && !fileExists(dataDir() + "/" + options_.database + ".db")) {
    pid_t init = spawnChild({program, "-D", dataDir(), "--init", options_.database}, nullptr);
    if (init < 0 || waitChild(init, kWaitSeconds) != 0) {
      fprintf(stderr, "dbserver --init %s failed\n", options_.database.c_str());
      return false;
    }
  }
  std::vector<std::string> args = {program, "-D", dataDir(), "-s", socketPath()};
  if (options_.tcp) {
    writeFile(dir_ + "/access", "127.0.0.1\n");
    args.insert(args.end(), {"-p", "0", "-A", dir_ + "/access"});
  }
  if (options_.statementLog) args.insert(args.end(), {"-l", logPath()});
  if (!options_.durability.empty()) args.insert(args.end(), {"-S", options_.durability});
  args.insert(args.end(), options_.args.begin(), options_.args.end());
  int out = -1;
  pid_ = spawnChild(args, &out);
  if (pid_ < 0) return false;
  std::string line = readLine(out, kWaitSeconds);
  close(out);
  const std::string ready = "dbserver ready";
  if (line.compare(0, ready.size(), ready) != 0) {
    fprintf(stderr, "dbserver did not come up (\"%s\")\n", line.c_str());
    kill(pid_, SIGKILL);
    waitChild(pid_, kWaitSeconds);
    pid_ = -1;
    return false;
  }
  port_ = -1;
  size_t at = line.find(" port ");
  if (at != std::string::npos) port_ = static_cast<int>(strtol(line.c_str() + at + 6, nullptr, 10));
  return true;
}

bool DbServer::stop() {
  if (!running()) return true;
  int status = stopChild(pid_, kWaitSeconds);
  pid_ = -1;
  port_ = -1;
  return status == 0;
}

void DbServer::crash() {
  if (!running()) return;
  kill(pid_, SIGKILL);
  waitChild(pid_, kWaitSeconds);
  pid_ = -1;
  port_ = -1;
}

std::string DbServer::statements() const { return readFile(logPath()); }

std::string DbServer::query(const std::string &sql) const {
  setenv("MSQL_UNIX_PORT", socketPath().c_str(), 1);
  int sock = msqlConnect(nullptr);
  if (sock < 0) return "connect failed: " + std::string(msqlErrMsg);
  std::string out;
  if (msqlSelectDB(sock, database().c_str()) < 0 || msqlQuery(sock, sql.c_str()) < 0) {
    out = "query failed: " + std::string(msqlErrMsg);
  } else if (MsqlResult *res = msqlStoreResult()) {
    while (MsqlRow row = msqlFetchRow(res)) {
      for (int i = 0; i < res->numFields; ++i) {
        if (i) out += "|";
        out += row[i] ? row[i] : "NULL";
      }
      out += "\n";
    }
    msqlFreeResult(res);
  }
  msqlClose(sock);
  return out;
}

std::string DbServer::config() const {
  return "sql-socket " + socketPath() + "\nsql-database " + options_.database + "\n";
}

std::string DbServer::tcpConfig() const {
  return "sql-server 127.0.0.1\nsql-port " + std::to_string(port_) + "\nsql-database " + options_.database + "\n";
}

}  // namespace testsupport
