// Test driver: msqlprobe HOST [DATABASE [QUERY]] connects (HOST "-": the
// local socket), selects, queries and prints what it got, one line each:
// "host: ...", "server: ...", "row: col|col" (NULL as "<null>"), or
// "error: ..." and exit status 1.
#include <cstdio>
#include <cstring>

#include "msql.h"

static int fail() {
  printf("error: %s\n", msqlErrMsg);
  return 1;
}

int main(int argc, char **argv) {
  if (argc < 2) return 2;
  int sock = msqlConnect(strcmp(argv[1], "-") == 0 ? nullptr : argv[1]);
  if (sock < 0) return fail();
  printf("host: %s\nserver: %s\n", msqlGetHostInfo(), msqlGetServerInfo());
  if (argc > 2 && msqlSelectDB(sock, argv[2]) < 0) return fail();
  if (argc > 3) {
    if (msqlQuery(sock, argv[3]) < 0) return fail();
    MsqlResult *result = msqlStoreResult();
    while (MsqlRow row = msqlFetchRow(result)) {
      printf("row:");
      for (int i = 0; i < result->numFields; i++) printf("%s%s", i ? "|" : " ", row[i] ? row[i] : "<null>");
      printf("\n");
    }
    msqlFreeResult(result);
  }
  msqlClose(sock);
  return 0;
}
