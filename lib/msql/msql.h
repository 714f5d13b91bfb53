// The database client library: the client side of wire protocol 6.
//
// One connection and one query at a time per process: the library keeps its
// state (the packet buffer, the pending result, the error text) in
// process-wide variables.
//
// Wire frame (both directions): a 4-byte payload length, unsigned 32-bit,
// least significant byte first, then that many payload bytes (no NUL). The
// largest payload is kMsqlPacketSize bytes. Payloads are text; numbers in
// them are decimal and ':' separates fields.
//
// Requests are "%d:%s\n" (command number and argument) or "%d:\n"; right
// after the greeting the client sends its login name and a newline. Replies:
//  - error: "-1:" and the message (possibly ending in a newline), or "-1";
//  - greeting: a number, ':', the protocol number, optionally ':' and text;
//  - query: a number, ':' and the column count; with a count above 0 there
//    follow row packets, an end packet ("-100"), field-description packets
//    (rows of 6 columns: table, field, type code, length, not-null flag,
//    primary-key flag, a flag set when it begins with 'Y') and an end packet;
//  - row packet: per column its length in decimal, ':' and exactly that many
//    bytes; an SQL NULL is the length -2 with its ':' and no bytes.
//
// Environment: MSQL_UNIX_PORT (local socket path, default "/dev/msql"),
// MSQL_TCP_PORT (TCP port; beats the services entry "msql"/"tcp"; default
// 1112), ROVIVED_DEBUG (debug output to standard output, see msqlConnect).
#pragma once

// ---------------------------------------------------------------------------
// Packet layer

// Largest payload of one frame, part of the wire format.
constexpr int kMsqlPacketSize = 32768;
// Longest query text one request can carry: the frame holds "3:", the text
// and a newline.
constexpr int kMsqlQueryMax = kMsqlPacketSize - 3;
// The protocol number this client speaks.
constexpr int kMsqlProtocol = 6;

// Request command numbers, part of the wire format.
enum MsqlCommand {
  MSQL_QUIT = 1,
  MSQL_INIT_DB = 2,
  MSQL_QUERY = 3,
  MSQL_DB_LIST = 4,
  MSQL_TABLE_LIST = 5,
  MSQL_FIELD_LIST = 6,
  MSQL_CREATE_DB = 7,
  MSQL_DROP_DB = 8,
  MSQL_RELOAD_ACL = 9,
  MSQL_SHUTDOWN = 10,
};

// Names of the commands by number; "???" for 0.
extern const char *const msqlCommandNames[11];

// The payload of the process's one packet buffer: kMsqlPacketSize bytes and
// room for a terminating NUL after them. Requests are formatted into it as
// NUL-terminated text; replies are read into it and NUL-terminated.
extern char *msqlPacket;

// Points msqlPacket at the payload of the packet buffer and drops what the
// read buffer holds.
void initNet();
// Sends the NUL-terminated text in msqlPacket as one frame, repeating partial
// writes. 0, or -1 when a write fails or the text exceeds kMsqlPacketSize.
// Bytes still in the read buffer are dropped: they cannot belong to the
// reply to this request.
int writePkt(int fd);
// Reads one frame into msqlPacket and NUL-terminates it (the rest of the
// buffer is left as it was). Frames are taken from a read buffer of the
// process that one read fills with what the socket holds; its bytes belong
// to one socket and are dropped when another is read. Returns the payload
// length (0 or below for an empty frame), or -1 when the peer closed, a read
// failed or timed out (see alarmHandler), or the frame announces more than
// kMsqlPacketSize bytes ("Packet too large (%d)" on standard error; the rest
// of that frame is left unread).
int readPkt(int fd);
// value into buf[0..3], least significant byte first.
void intToBuf(char *buf, int value);
// The 4 bytes at buf, least significant first, as a signed int.
int bufToInt(const char *buf);
// A SIGALRM handler that installs itself again and sets the time-out flag,
// which makes readPkt fail after the read that the alarm interrupted or
// completed. Nothing installs it: reads wait without limit.
void alarmHandler(int sig);

// ---------------------------------------------------------------------------
// Client interface

// One result row: the column texts, a null pointer for SQL NULL. Each text
// is NUL-terminated and holds the bytes the server sent.
typedef char **MsqlRow;

struct MsqlDataNode {
  int width;           // number of columns
  MsqlRow data;
  MsqlDataNode *next;
};

// Field flag bits.
constexpr int kMsqlNotNull = 1;
constexpr int kMsqlPrimaryKey = 2;

struct MsqlField {
  char *name;
  char *table;
  int type;            // the server's type code, passed through
  int length;
  int flags;           // kMsqlNotNull, kMsqlPrimaryKey
  MsqlField *next;
};

// A result handle; the caller owns it (and everything reachable from it)
// until msqlFreeResult. Rows and fields stay valid until then.
struct MsqlResult {
  MsqlDataNode *queryData;    // first row
  MsqlDataNode *cursor;       // next row to hand out
  MsqlField *fieldData;       // first field
  MsqlField *fieldCursor;     // next field to hand out
  int numRows;
  int numFields;
};

// Text of the last failure (at most 159 characters). Cleared at the start of
// msqlConnect, msqlSelectDB and msqlQuery only.
extern char msqlErrMsg[160];

// Connects to the server: host NULL means the local UNIX socket, else a host
// name or dotted address reached over TCP. Installs its own SIGPIPE handler
// for the life of the connection (a write to a dropped connection closes the
// socket instead of ending the process). The first call reads ROVIVED_DEBUG:
// pieces "msql_query", "msql_api", "msql_malloc" (':'-separated) switch on
// query, call and allocation traces on standard output. Returns the socket,
// or -1 with msqlErrMsg set.
int msqlConnect(const char *host);
// Bounds every connect, read and write of the connections made from now on to
// seconds each (0, as at start: no bound); one that takes longer fails as a
// lost connection would. For a program that must not hang on a server that
// accepts but never answers.
void msqlSetTimeout(unsigned seconds);
// Selects the database. 0, or -1 with msqlErrMsg set.
int msqlSelectDB(int sock, const char *db);
// Sends a query and reads its whole answer; rows of a query with columns
// become the pending result (replacing one nobody took). 0, or -1 with
// msqlErrMsg set; a query too long for the packet buffer is not sent.
int msqlQuery(int sock, const char *query);
// Hands the pending result to the caller, or NULL when nothing is pending.
MsqlResult *msqlStoreResult();
// The next row, or NULL after the last.
MsqlRow msqlFetchRow(MsqlResult *result);
// Frees the handle with all its rows and fields; NULL is ignored.
void msqlFreeResult(MsqlResult *result);
// Sends Quit without waiting for a reply and closes the socket.
void msqlClose(int sock);

// The next field description, or NULL at the end.
MsqlField *msqlFetchField(MsqlResult *result);
// Moves the field cursor to field pos (NULL past the end).
void msqlFieldSeek(MsqlResult *result, int pos);
// Moves the row cursor to row pos (NULL past the end).
void msqlDataSeek(MsqlResult *result, int pos);
// The databases (one column, field "Database"), or NULL on failure.
MsqlResult *msqlListDBs(int sock);
// The tables of the selected database (one column, field "Table"), or NULL.
MsqlResult *msqlListTables(int sock);
// The fields of a table as field descriptions and no rows, or NULL.
MsqlResult *msqlListFields(int sock, const char *table);
// Database administration: 0, or -1 with msqlErrMsg set.
int msqlCreateDB(int sock, const char *db);
int msqlDropDB(int sock, const char *db);
int msqlReloadAcl(int sock);
int msqlShutdown(int sock);
// The server's greeting text (at most 79 characters), or
// "Error in server handshake!".
char *msqlGetServerInfo();
// "Localhost via UNIX socket" or "<host> via TCP/IP" (at most 79 characters).
char *msqlGetHostInfo();
// The server's protocol number; 0 before the first successful handshake.
int msqlGetProtoInfo();
