// Fuzz entry point: the client's reader of the server's answers. The first
// byte chooses the request (a query, a database selection, a field list,
// the list of databases or of tables); the rest is what the server sends
// back, after which it hangs up. Whatever came back is taken apart as a
// program would.
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>

#include "msql.h"

namespace {

void readAll(MsqlResult *result) {
  if (!result) return;
  while (MsqlRow row = msqlFetchRow(result)) (void)row;
  while (MsqlField *field = msqlFetchField(result)) (void)field;
  msqlFieldSeek(result, 1);
  msqlDataSeek(result, 1);
  msqlFreeResult(result);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static bool ready = (initNet(), true);
  (void)ready;
  if (size == 0) return 0;
  int ends[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, ends) != 0) return 0;
  const int client = ends[0], server = ends[1];
  // The answer is written ahead; what does not fit is dropped.
  fcntl(server, F_SETFL, O_NONBLOCK);
  for (size_t at = 1; at < size;) {
    ssize_t n = write(server, data + at, size - at);
    if (n <= 0) break;
    at += static_cast<size_t>(n);
  }
  shutdown(server, SHUT_WR);
  switch (data[0] % 5) {
    case 0:
      if (msqlQuery(client, "SELECT name,descr FROM snames") == 0) readAll(msqlStoreResult());
      break;
    case 1:
      msqlSelectDB(client, "vovuvuza");
      break;
    case 2:
      readAll(msqlListFields(client, "snames"));
      break;
    case 3:
      readAll(msqlListDBs(client));
      break;
    default:
      readAll(msqlListTables(client));
      break;
  }
  // A lost connection has been closed by the client already.
  if (fcntl(client, F_GETFD) != -1) close(client);
  close(server);
  return 0;
}
