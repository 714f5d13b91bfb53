// Client interface: connection, requests, result rows and handles.

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "msql.h"

char msqlErrMsg[160];

namespace {

constexpr const char *kDefaultUnixPort = "/dev/msql";
constexpr int kDefaultTcpPort = 1112;
// Debug mask bits (ROVIVED_DEBUG pieces msql_query, msql_api, msql_malloc).
constexpr int kDebugQuery = 1;
constexpr int kDebugApi = 2;
constexpr int kDebugMalloc = 4;
// Leading numbers of replies.
constexpr int kReplyError = -1;
constexpr int kReplyEnd = -100;
// A row column of this length is SQL NULL.
constexpr int kNullLength = -2;
// Columns of a field-description row.
constexpr int kFieldColumns = 6;

const char kGoneAway[] = "MSQL server has gone away";
const char kDebugRule[] = "\n-------------------------------------------------------\n";

char serverInfo[80];
char hostInfo[80];
int serverProtocol = 0;
int debugMask = 0;
bool debugInitialised = false;
int serverSock = -1;
// Seconds that one connect, read or write of a new connection may take; 0: no bound.
unsigned ioTimeout = 0;
sighandler_t savedPipeHandler = SIG_DFL;

// Rows and field rows of the last query that nobody took yet.
MsqlDataNode *pendingRows = nullptr;
int pendingRowCount = 0;
MsqlDataNode *pendingFields = nullptr;
int pendingFieldCount = 0;

void msqlDebug(int level, const char *format, ...) __attribute__((format(printf, 2, 3)));

void msqlDebug(int level, const char *format, ...) {
  if (!(level & debugMask)) return;
  char line[1024];
  va_list args;
  va_start(args, format);
  vsnprintf(line, sizeof line, format, args);  // a longer line is cut
  va_end(args);
  printf("[libmsql] %s", line);
  fflush(stdout);
}

void initDebug() {
  debugInitialised = true;
  const char *env = getenv("ROVIVED_DEBUG");
  if (!env) return;
  fputs(kDebugRule, stdout);
  fputs("ROVIVED_DEBUG found. libmsql started with the following:-\n\n", stdout);
  const char *piece = env;
  for (;;) {
    const char *end = strchr(piece, ':');
    size_t n = end ? static_cast<size_t>(end - piece) : strlen(piece);
    auto is = [&](const char *word) { return strlen(word) == n && strncmp(piece, word, n) == 0; };
    if (is("msql_query")) {
      debugMask |= kDebugQuery;
      fputs("Debug level : query\n", stdout);
    } else if (is("msql_api")) {
      debugMask |= kDebugApi;
      fputs("Debug level : api\n", stdout);
    } else if (is("msql_malloc")) {
      debugMask |= kDebugMalloc;
      fputs("Debug level : malloc\n", stdout);
    }
    if (!end) break;
    piece = end + 1;
  }
  fputs(kDebugRule, stdout);
  fputs("\n", stdout);
  fflush(stdout);
}

// Address for the allocation traces.
unsigned long addressOf(const void *p) { return static_cast<unsigned long>(reinterpret_cast<uintptr_t>(p)); }

void setError(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Formats the failure text into msqlErrMsg, cut to fit.
void setError(const char *format, ...) {
  va_list args;
  va_start(args, format);
  vsnprintf(msqlErrMsg, sizeof msqlErrMsg, format, args);
  va_end(args);
}

void clearError() { memset(msqlErrMsg, 0, sizeof msqlErrMsg); }

// Copies text into a buffer of size bytes, cut to fit, and cuts one final
// newline of what was copied.
void copyCutNewline(char *to, size_t size, const char *text) {
  snprintf(to, size, "%s", text);
  size_t n = strlen(to);
  if (n > 0 && to[n - 1] == '\n') to[n - 1] = '\0';
}

// The leading decimal number of a text as atoi reads it (blanks, sign,
// digits; nothing else), clamped to int.
int leadingInt(const char *text) {
  long v = strtol(text, nullptr, 10);
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return static_cast<int>(v);
}

void setServerSock(int sock) { serverSock = sock; }

void closeServer(int sock) {
  msqlDebug(kDebugApi, "Server socket (%d) closed\n", sock);
  shutdown(sock, SHUT_RDWR);
  signal(SIGPIPE, savedPipeHandler);
  close(sock);
}

void pipeHandler(int) {
  msqlDebug(kDebugApi, "Hit by pipe signal\n");
  closeServer(serverSock);
}

// The connection is lost: close it and say so.
void goneAway(int sock) {
  closeServer(sock);
  setError("%s", kGoneAway);
}

// A reply with the leading number -1: its text after the first ':' (one
// final newline cut), or "Unknown MSQL error".
void serverError() {
  const char *colon = strchr(msqlPacket, ':');
  if (colon) copyCutNewline(msqlErrMsg, sizeof msqlErrMsg, colon + 1);
  else setError("Unknown MSQL error");
}

bool isServerError() { return leadingInt(msqlPacket) == kReplyError; }

// Formats a request into the packet buffer. A request that does not fit is
// not sent cut: false, with msqlErrMsg set.
bool formatRequest(int command, const char *arg, const char *what) {
  int n = arg ? snprintf(msqlPacket, kMsqlPacketSize + 1, "%d:%s\n", command, arg)
              : snprintf(msqlPacket, kMsqlPacketSize + 1, "%d:\n", command);
  if (n < 0 || n > kMsqlPacketSize) {
    msqlPacket[0] = '\0';
    setError("%s too long for the packet buffer (%d bytes, at most %d)", what, n, kMsqlPacketSize);
    return false;
  }
  return true;
}

// Sends the request in the packet buffer and reads the reply (a failed send
// shows up as a failed read): its length, 0 or less when the connection is
// lost. Replies are NUL-terminated where they end, so the buffer is not
// cleared before.
int exchange(int sock) {
  writePkt(sock);
  return readPkt(sock);
}

void freeQueryData(MsqlDataNode *row) {
  while (row) {
    MsqlDataNode *next = row->next;
    if (row->data) {
      for (int i = 0; i < row->width; i++) free(row->data[i]);
      free(row->data);
    }
    msqlDebug(kDebugMalloc, "Query data row - free @ %lX\n", addressOf(row));
    free(row);
    row = next;
  }
}

void freeFieldList(MsqlField *field) {
  while (field) {
    MsqlField *next = field->next;
    free(field->table);
    free(field->name);
    msqlDebug(kDebugMalloc, "Field List Entry- free @ %lX\n", addressOf(field));
    free(field);
    field = next;
  }
}

void freePending() {
  freeQueryData(pendingRows);
  pendingRows = nullptr;
  pendingRowCount = 0;
  freeQueryData(pendingFields);
  pendingFields = nullptr;
  pendingFieldCount = 0;
}

// Decodes one row packet of width columns from payload[0..length). Null
// when the packet is malformed (fewer columns than width, a length without
// its ':', a length running past the payload, a negative length other than
// the NULL marker, a NULL column in a field row) or memory runs out; nothing
// is read past length.
MsqlDataNode *decodeRow(const char *payload, size_t length, int width, bool fieldRow) {
  // Every column takes at least two bytes ("0:"); a wider row cannot be in
  // this payload, whatever column count the server announced.
  if (width < 1 || static_cast<size_t>(width) > length / 2) return nullptr;
  MsqlDataNode *node = static_cast<MsqlDataNode *>(calloc(1, sizeof(MsqlDataNode)));
  if (!node) return nullptr;
  msqlDebug(kDebugMalloc, "Query data row - malloc @ %lX of %d\n", addressOf(node),
            static_cast<int>(sizeof(MsqlDataNode)));
  node->width = width;
  node->data = static_cast<MsqlRow>(calloc(static_cast<size_t>(width), sizeof(char *)));
  if (!node->data) {
    freeQueryData(node);
    return nullptr;
  }
  size_t pos = 0;
  for (int col = 0; col < width; col++) {
    bool negative = pos < length && payload[pos] == '-';
    if (negative) pos++;
    size_t digitsAt = pos;
    size_t value = 0;
    while (pos < length && payload[pos] >= '0' && payload[pos] <= '9') {
      if (value <= length) value = value * 10 + static_cast<size_t>(payload[pos] - '0');
      pos++;
    }
    if (pos == digitsAt || pos >= length || payload[pos] != ':') break;
    pos++;
    if (negative) {
      if (value != static_cast<size_t>(-kNullLength) || fieldRow) break;
      if (col == width - 1) return node;
      continue;
    }
    if (value > length - pos) break;
    char *text = static_cast<char *>(malloc(value + 1));
    if (!text) break;
    memcpy(text, payload + pos, value);
    text[value] = '\0';
    node->data[col] = text;
    pos += value;
    if (col == width - 1) return node;
  }
  freeQueryData(node);
  return nullptr;
}

// Reads the row packets of one answer up to its end packet into *list.
// Returns the row count, or -1 (msqlErrMsg set; rows read so far freed). A
// lost connection or a malformed row closes the socket.
int readQueryData(int sock, int width, bool fieldRows, MsqlDataNode **list) {
  *list = nullptr;
  MsqlDataNode **tail = list;
  int count = 0;
  for (;;) {
    int length = readPkt(sock);
    if (length <= 0) {
      goneAway(sock);
      break;
    }
    int lead = leadingInt(msqlPacket);
    if (lead == kReplyEnd) return count;
    if (lead == kReplyError) {
      serverError();
      break;
    }
    MsqlDataNode *row = decodeRow(msqlPacket, static_cast<size_t>(length), width, fieldRows);
    if (!row) {
      goneAway(sock);
      break;
    }
    *tail = row;
    tail = &row->next;
    count++;
  }
  freeQueryData(*list);
  *list = nullptr;
  return -1;
}

char *copyText(const char *text) { return strdup(text ? text : ""); }

MsqlField *newField(const char *name, const char *table, int type, int length, int flags) {
  MsqlField *field = static_cast<MsqlField *>(calloc(1, sizeof(MsqlField)));
  if (!field) return nullptr;
  msqlDebug(kDebugMalloc, "Field List Entry - malloc @ %lX of %d\n", addressOf(field),
            static_cast<int>(sizeof(MsqlField)));
  field->name = copyText(name);
  field->table = copyText(table);
  field->type = type;
  field->length = length;
  field->flags = flags;
  return field;
}

// One field entry per 6-column field row, in row order.
MsqlField *tableToFieldList(MsqlDataNode *rows) {
  MsqlField *first = nullptr;
  MsqlField **tail = &first;
  for (MsqlDataNode *row = rows; row; row = row->next) {
    char **c = row->data;
    int flags = (c[4][0] == 'Y' ? kMsqlNotNull : 0) | (c[5][0] == 'Y' ? kMsqlPrimaryKey : 0);
    MsqlField *field = newField(c[1], c[0], leadingInt(c[2]), leadingInt(c[3]), flags);
    if (!field) break;
    *tail = field;
    tail = &field->next;
  }
  return first;
}

MsqlResult *newResult() {
  MsqlResult *result = static_cast<MsqlResult *>(calloc(1, sizeof(MsqlResult)));
  if (result)
    msqlDebug(kDebugMalloc, "Result Handle - malloc @ %lX of %d\n", addressOf(result),
              static_cast<int>(sizeof(MsqlResult)));
  return result;
}

// Sends a request and reads its reply into the packet buffer: 0 when the
// reply is no error, else -1 with msqlErrMsg set (a lost connection closed).
int request(int sock, int command, const char *arg, const char *what) {
  if (!formatRequest(command, arg, what)) return -1;
  if (exchange(sock) <= 0) {
    goneAway(sock);
    return -1;
  }
  if (isServerError()) {
    serverError();
    return -1;
  }
  return 0;
}

// A request without result rows: 0, or -1.
int simpleCommand(int sock, int command, const char *arg) { return request(sock, command, arg, "Name"); }

// DB List and Table List: rows of one column under one field of that name.
MsqlResult *catalogListing(int sock, int command, const char *fieldName) {
  if (!formatRequest(command, nullptr, "Request")) return nullptr;
  writePkt(sock);
  MsqlDataNode *rows;
  int count = readQueryData(sock, 1, false, &rows);
  if (count < 0) return nullptr;
  MsqlResult *result = newResult();
  if (!result) {
    freeQueryData(rows);
    return nullptr;
  }
  result->queryData = result->cursor = rows;
  result->numRows = count;
  result->fieldData = result->fieldCursor = newField(fieldName, "mSQL Catalog", 2, 19, 0);
  result->numFields = 1;
  return result;
}

}  // namespace

namespace {

// A stream socket of the family, remembered for the SIGPIPE handler and kept
// alive; -1 with the error text set when it cannot be made.
int newServerSocket(int family, const char *failure) {
  int sock = socket(family, SOCK_STREAM, 0);
  if (sock < 0) {
    setError("%s", failure);
    return -1;
  }
  setServerSock(sock);
  int on = 1;
  setsockopt(sock, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
  if (ioTimeout != 0) {
    // Linux applies the send bound to connect as well.
    timeval bound = {static_cast<time_t>(ioTimeout), 0};
    setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
    setsockopt(sock, SOL_SOCKET, SO_SNDTIMEO, &bound, sizeof bound);
  }
  return sock;
}

// The connected local socket (MSQL_UNIX_PORT, else /dev/msql), or -1.
int connectLocal() {
  const char *path = getenv("MSQL_UNIX_PORT");
  if (!path) path = kDefaultUnixPort;
  snprintf(hostInfo, sizeof hostInfo, "%s", "Localhost via UNIX socket");
  msqlDebug(kDebugApi, "Server name = NULL.  Using UNIX sock(%s)\n", path);
  int sock = newServerSocket(AF_UNIX, "Can't create UNIX socket");
  if (sock < 0) return -1;
  sockaddr_un addr;
  memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  // A path that does not fit the address cannot be connected to.
  bool fits = strlen(path) < sizeof addr.sun_path;
  if (fits) memcpy(addr.sun_path, path, strlen(path));
  if (!fits || connect(sock, reinterpret_cast<sockaddr *>(&addr), sizeof addr) < 0) {
    setError("Can't connect to local MSQL server");
    close(sock);
    return -1;
  }
  return sock;
}

// The connected TCP socket to host (port: MSQL_TCP_PORT, else the services
// entry, else 1112), or -1.
int connectTcp(const char *host) {
  int port = kDefaultTcpPort;
  if (servent *service = getservbyname("msql", "tcp")) port = ntohs(static_cast<uint16_t>(service->s_port));
  if (const char *env = getenv("MSQL_TCP_PORT")) port = leadingInt(env);
  snprintf(hostInfo, sizeof hostInfo, "%s via TCP/IP", host);
  msqlDebug(kDebugApi, "Server name = %s.  Using TCP sock (%d)\n", host, port);
  int sock = newServerSocket(AF_INET, "Can't create IP socket");
  if (sock < 0) return -1;
  sockaddr_in addr;
  memset(&addr, 0, sizeof addr);
  addr.sin_family = AF_INET;
  in_addr_t address = inet_addr(host);
  if (address != INADDR_NONE) {
    addr.sin_addr.s_addr = address;
  } else {
    hostent *entry = gethostbyname(host);
    if (!entry || entry->h_addrtype != AF_INET || !entry->h_addr_list[0]) {
      setError("Unknown MSQL Server Host (%s)", host);
      close(sock);
      return -1;
    }
    memcpy(&addr.sin_addr, entry->h_addr_list[0], sizeof addr.sin_addr);
  }
  addr.sin_port = htons(static_cast<uint16_t>(port & 0xffff));
  if (connect(sock, reinterpret_cast<sockaddr *>(&addr), sizeof addr) < 0) {
    int saved = errno;
    setError("Can't connect to MSQL server on %s", host);
    errno = saved;
    perror("Connect");
    close(sock);
    return -1;
  }
  return sock;
}

// Reads a reply of the handshake. false, with the connection closed and the
// error text set, when the connection is lost or the reply is an error.
bool handshakeReply(int sock) {
  if (readPkt(sock) <= 0) {
    goneAway(sock);
    return false;
  }
  if (isServerError()) {
    serverError();
    closeServer(sock);
    return false;
  }
  return true;
}

}  // namespace

void msqlSetTimeout(unsigned seconds) { ioTimeout = seconds; }

int msqlConnect(const char *host) {
  clearError();
  initNet();
  if (!debugInitialised) initDebug();
  int sock = host ? connectTcp(host) : connectLocal();
  if (sock < 0) return -1;

  // Keep the handler in force before us, not our own when we connect again.
  sighandler_t previous = signal(SIGPIPE, pipeHandler);
  if (previous != pipeHandler) savedPipeHandler = previous;
  msqlDebug(kDebugApi, "Connection socket = %d\n", sock);

  if (!handshakeReply(sock)) return -1;
  const char *colon = strchr(msqlPacket, ':');
  if (!colon) {
    setError("Bad packet received from server");
    closeServer(sock);
    return -1;
  }
  int protocol = leadingInt(colon + 1);
  if (protocol != kMsqlProtocol) {
    setError("Protocol mismatch. Server Version = %d Client Version = %d", protocol, kMsqlProtocol);
    closeServer(sock);
    return -1;
  }
  msqlDebug(kDebugApi, "mSQL protocol version - API=%d, server=%d\n", kMsqlProtocol, protocol);
  serverProtocol = protocol;
  if (const char *greeting = strchr(colon + 1, ':')) {
    msqlDebug(kDebugApi, "Server greeting = '%s'\n", greeting + 1);
    copyCutNewline(serverInfo, sizeof serverInfo, greeting + 1);
  } else {
    snprintf(serverInfo, sizeof serverInfo, "%s", "Error in server handshake!");
  }

  passwd *user = getpwuid(geteuid());
  if (!user) {
    setError("Can't find your username. Who are you?");
    closeServer(sock);
    return -1;
  }
  snprintf(msqlPacket, kMsqlPacketSize + 1, "%s\n", user->pw_name);
  writePkt(sock);
  return handshakeReply(sock) ? sock : -1;
}

int msqlSelectDB(int sock, const char *db) {
  msqlDebug(kDebugApi, "Select Database = \"%s\"\n", db);
  clearError();
  setServerSock(sock);
  return simpleCommand(sock, MSQL_INIT_DB, db);
}

int msqlQuery(int sock, const char *query) {
  msqlDebug(kDebugQuery, "Query = \"%s\"\n", query);
  clearError();
  setServerSock(sock);
  if (request(sock, MSQL_QUERY, query, "Query") < 0) return -1;
  const char *colon = strchr(msqlPacket, ':');
  if (!colon) return 0;
  int columns = leadingInt(colon + 1);
  if (columns <= 0) return 0;

  freePending();
  MsqlDataNode *rows, *fields;
  int rowCount = readQueryData(sock, columns, false, &rows);
  if (rowCount < 0) return -1;
  int fieldCount = readQueryData(sock, kFieldColumns, true, &fields);
  if (fieldCount < 0) {
    // Nothing of a failed answer stays pending.
    freeQueryData(rows);
    return -1;
  }
  pendingRows = rows;
  pendingRowCount = rowCount;
  pendingFields = fields;
  pendingFieldCount = fieldCount;
  return 0;
}

MsqlResult *msqlStoreResult() {
  if (!pendingRows && !pendingFields) return nullptr;
  MsqlResult *result = newResult();
  if (!result) return nullptr;
  result->queryData = result->cursor = pendingRows;
  result->numRows = pendingRowCount;
  result->fieldData = result->fieldCursor = tableToFieldList(pendingFields);
  result->numFields = pendingFieldCount;
  freeQueryData(pendingFields);
  pendingRows = nullptr;
  pendingRowCount = 0;
  pendingFields = nullptr;
  pendingFieldCount = 0;
  return result;
}

MsqlRow msqlFetchRow(MsqlResult *result) {
  if (!result || !result->cursor) return nullptr;
  MsqlRow row = result->cursor->data;
  result->cursor = result->cursor->next;
  return row;
}

void msqlFreeResult(MsqlResult *result) {
  if (!result) return;
  freeQueryData(result->queryData);
  freeFieldList(result->fieldData);
  msqlDebug(kDebugMalloc, "Result Handle - Free @ %lX\n", addressOf(result));
  free(result);
}

void msqlClose(int sock) {
  setServerSock(sock);
  snprintf(msqlPacket, kMsqlPacketSize + 1, "%d:\n", MSQL_QUIT);
  writePkt(sock);
  closeServer(sock);
}

MsqlField *msqlFetchField(MsqlResult *result) {
  if (!result || !result->fieldCursor) return nullptr;
  MsqlField *field = result->fieldCursor;
  result->fieldCursor = field->next;
  return field;
}

void msqlFieldSeek(MsqlResult *result, int pos) {
  msqlDebug(kDebugApi, "msqlFieldSeek() pos = \n");
  if (!result) return;
  MsqlField *field = result->fieldData;
  for (int i = 0; i < pos && field; i++) field = field->next;
  result->fieldCursor = field;
}

void msqlDataSeek(MsqlResult *result, int pos) {
  msqlDebug(kDebugApi, "msqlDataSeek() pos = \n");
  if (!result) return;
  MsqlDataNode *row = result->queryData;
  for (int i = 0; i < pos && row; i++) row = row->next;
  result->cursor = row;
}

MsqlResult *msqlListDBs(int sock) {
  msqlDebug(kDebugApi, "msqlListDBs(%d)\n", sock);
  return catalogListing(sock, MSQL_DB_LIST, "Database");
}

MsqlResult *msqlListTables(int sock) {
  msqlDebug(kDebugApi, "msqlListTables(%d)\n", sock);
  return catalogListing(sock, MSQL_TABLE_LIST, "Table");
}

MsqlResult *msqlListFields(int sock, const char *table) {
  msqlDebug(kDebugApi, "msqlListFields(%d,%s)\n", sock, table);
  if (!formatRequest(MSQL_FIELD_LIST, table, "Name")) return nullptr;
  writePkt(sock);
  MsqlDataNode *rows;
  int count = readQueryData(sock, kFieldColumns, true, &rows);
  if (count < 0) return nullptr;
  MsqlResult *result = newResult();
  if (result) {
    result->fieldData = result->fieldCursor = tableToFieldList(rows);
    result->numFields = count;
  }
  freeQueryData(rows);
  return result;
}

int msqlCreateDB(int sock, const char *db) {
  msqlDebug(kDebugApi, "msqlCreateDB(%d,%s)\n", sock, db);
  return simpleCommand(sock, MSQL_CREATE_DB, db);
}

int msqlDropDB(int sock, const char *db) {
  msqlDebug(kDebugApi, "msqlDropDB(%d,%s)\n", sock, db);
  return simpleCommand(sock, MSQL_DROP_DB, db);
}

int msqlReloadAcl(int sock) {
  msqlDebug(kDebugApi, "msqlReloadAcl(%d)\n", sock);
  return simpleCommand(sock, MSQL_RELOAD_ACL, nullptr);
}

int msqlShutdown(int sock) {
  msqlDebug(kDebugApi, "msqlShutdown(%d)\n", sock);
  return simpleCommand(sock, MSQL_SHUTDOWN, nullptr);
}

char *msqlGetServerInfo() { return serverInfo; }

char *msqlGetHostInfo() { return hostInfo; }

int msqlGetProtoInfo() { return serverProtocol; }
