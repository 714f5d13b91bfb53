// dbserver: the stand-in database server of the test suite and the demo.
//
//   dbserver -D DIR [-s SOCKET] [-p PORT -A ACCESS_LIST] [-l STATEMENT_LOG]
//            [-S normal|full] [-c CLIENTS] [-t SECONDS] [-a BYTES]
//   dbserver -D DIR --init NAME
//
// Serves the databases DIR/NAME.db on a UNIX socket and/or TCP on 127.0.0.1
// (-p 0: any free port, named in the ready line) in the foreground until
// SIGTERM. TCP needs -A, a file of the IPv4 hosts and networks it serves
// (one a line: 127.0.0.1 or 127.0.0.0/8): anyone who reaches an allowed
// address reads and writes every account. -l appends every query received to the file, one a line, as
// received. -S says what an acknowledged statement survives: normal (the
// default) a crash or kill of the server, full also a power loss. -c is the
// number of clients served at once (500), -t and -a bound the running time
// (10 seconds) and the rows (8 MiB) of one statement.
// --init creates DIR/NAME.db with the system's six tables and their indexes.
//
// Everything the server makes is its own user's only: the folder 0700, the
// databases, their companions and the statement log 0600, the socket 0700.

#include <getopt.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "server.h"
#include "store.h"

namespace {

void usage() {
  fputs("usage: dbserver -D DIR [-s SOCKET] [-p PORT -A ACCESS_LIST] [-l STATEMENT_LOG]\n"
        "                [-S normal|full] [-c CLIENTS] [-t SECONDS] [-a BYTES]\n"
        "       dbserver -D DIR --init NAME\n",
        stderr);
  exit(1);
}

// The value of a numeric option, a whole decimal number from min to max;
// anything else ends the run.
long long numberOption(const char *text, long long min, long long max, const char *what) {
  char *end = nullptr;
  errno = 0;
  long long v = strtoll(text, &end, 10);
  if (errno || end == text || *end || v < min || v > max) {
    fprintf(stderr, "dbserver: bad %s %s\n", what, text);
    exit(1);
  }
  return v;
}

bool isDirectory(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

int main(int argc, char **argv) {
  static const option kLongOptions[] = {{"init", required_argument, nullptr, 'i'}, {nullptr, 0, nullptr, 0}};
  ServerOptions options;
  std::string initName;
  bool init = false;
  int c;
  while ((c = getopt_long(argc, argv, "D:s:p:A:l:S:c:t:a:", kLongOptions, nullptr)) != -1) {
    switch (c) {
      case 'D': options.dir = optarg; break;
      case 's': options.socketPath = optarg; break;
      case 'p': options.port = static_cast<int>(numberOption(optarg, 0, 65535, "port")); break;
      case 'c':
        options.maxClients = static_cast<size_t>(numberOption(optarg, 1, 1000000, "number of clients"));
        break;
      case 't': {
        char *end = nullptr;
        options.bounds.seconds = strtod(optarg, &end);
        if (end == optarg || *end || !(options.bounds.seconds > 0 && options.bounds.seconds <= 1e6)) {
          fprintf(stderr, "dbserver: bad number of seconds %s\n", optarg);
          return 1;
        }
        break;
      }
      case 'a':
        options.bounds.rowBytes = static_cast<size_t>(numberOption(optarg, 1, 1LL << 40, "number of bytes"));
        break;
      case 'l': options.statementLog = optarg; break;
      case 'A': options.accessList = optarg; break;
      case 'S':
        if (strcmp(optarg, "normal") == 0) {
          options.durability = Durability::kSyncNormal;
        } else if (strcmp(optarg, "full") == 0) {
          options.durability = Durability::kSyncFull;
        } else {
          fprintf(stderr, "dbserver: bad durability %s (normal or full)\n", optarg);
          return 1;
        }
        break;
      case 'i':
        init = true;
        initName = optarg;
        break;
      default: usage();
    }
  }
  if (optind != argc || options.dir.empty()) usage();
  // The databases are the customers' accounts: whatever the caller's umask,
  // nobody but the server's user reads them or reaches the socket.
  umask(077);

  if (init) {
    if (mkdir(options.dir.c_str(), 0700) != 0 && errno != EEXIST) {
      fprintf(stderr, "dbserver: cannot create %s: %s\n", options.dir.c_str(), strerror(errno));
      return 1;
    }
    Databases databases(options.dir, options.durability);
    std::string error;
    if (!databases.create(initName, true, &error)) {
      fprintf(stderr, "dbserver: %s\n", error.c_str());
      return 1;
    }
    return 0;
  }
  if (options.socketPath.empty() && options.port < 0) usage();
  if (!isDirectory(options.dir)) {
    fprintf(stderr, "dbserver: no directory %s\n", options.dir.c_str());
    return 1;
  }
  return runServer(options);
}
