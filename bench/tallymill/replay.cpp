// benchreplay SOCKET DATABASE FILE: sends every line of FILE as one statement
// through the client library alone, the way the SQL data layer does: connect
// to the local socket, select the database, then per statement the query and,
// when it left rows pending (a SELECT), all its rows fetched and freed.
//
// The whole file is read before the connection opens, so only the exchange
// with the server is timed. On standard output: "statements N failed F
// seconds S" (S the wall time from connect to close). Exit status 1 when a
// statement failed or the server could not be reached.

#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "msql.h"

namespace {

double now() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

bool readLines(const char *path, std::vector<std::string> *lines) {
  FILE *f = fopen(path, "r");
  if (!f) return false;
  char *line = nullptr;
  size_t size = 0;
  ssize_t n;
  while ((n = getline(&line, &size, f)) >= 0) {
    if (n > 0 && line[n - 1] == '\n') --n;
    lines->emplace_back(line, static_cast<size_t>(n));
  }
  free(line);
  bool ok = !ferror(f);
  fclose(f);
  return ok;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 4) {
    fputs("usage: benchreplay SOCKET DATABASE FILE\n", stderr);
    return 1;
  }
  std::vector<std::string> statements;
  if (!readLines(argv[3], &statements)) {
    perror(argv[3]);
    return 1;
  }
  setenv("MSQL_UNIX_PORT", argv[1], 1);

  double start = now();
  int sock = msqlConnect(nullptr);
  if (sock < 0 || msqlSelectDB(sock, argv[2]) < 0) {
    fprintf(stderr, "benchreplay: %s\n", msqlErrMsg);
    return 1;
  }
  unsigned long failed = 0;
  for (const std::string &statement : statements) {
    if (msqlQuery(sock, statement.c_str()) < 0) {
      if (failed++ < 5) fprintf(stderr, "benchreplay: %s: %s\n", statement.c_str(), msqlErrMsg);
      continue;
    }
    if (MsqlResult *result = msqlStoreResult()) {
      while (msqlFetchRow(result)) {
      }
      msqlFreeResult(result);
    }
  }
  msqlClose(sock);
  double seconds = now() - start;

  printf("statements %zu failed %lu seconds %.3f\n", statements.size(), failed, seconds);
  return failed == 0 ? 0 : 1;
}
