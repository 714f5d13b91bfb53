// wtmpview: prints the sessions of a login-record file newest first, one
// fixed-width line each, for other programs to parse. It stands alone and
// uses only the C library.
//
// The login-record file is a sequence of records in one of two layouts, as
// the Linux C library writes them, little-endian: the 384-byte records of
// x86_64 (the native ones here) and the 56-byte ones of 32-bit x86.
//
//   384-byte      56-byte
//   offset size   offset size  field
//        0    2        0    2  record type (signed)          checked
//        2    2        2    2  padding                       not read
//        4    4        4    4  process id                    not read
//        8   32        8   12  line, without "/dev/"         read
//       40    4       20    2  inittab id                    not read
//        -    -       22    2  padding                       not read
//       44   32       28    8  user, empty for a logout      read
//       76  256       36   16  remote host                   read
//      332    8        -    -  exit status, session          not read
//      340    4       24    4  time, signed seconds of 1970  read
//      344    4        -    -  microseconds                  not read
//      348   16       52    4  remote address                not read
//      364   20        -    -  reserved                      not read
//
// The text fields are NUL-padded but not necessarily NUL-terminated. The
// bytes are decoded field by field, so either layout reads the same on any
// machine. The first record tells the layout (layoutOf).
//
// Records are told apart by the line alone: exactly "~" is a reboot or
// shutdown, exactly "{" the new and exactly "|" the old time of a clock
// change; anything else is a login (user not empty) or a logout.
//
// Output line: user (8), two blanks, line (12), a blank, host (16), a blank,
// "dd/mm/yyyy hh:mm:ss " in local time, the session length in seconds
// ("%7ld") and, where the session did not end with a logout, " (reason)".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace wtmpview {

// Where the fields of a record layout lie: offsets and sizes in bytes.
struct Layout {
  size_t size;
  size_t lineAt, lineSize;
  size_t userAt, userSize;
  size_t hostAt, hostSize;
  size_t timeAt;
};

// The on-disk layouts.
constexpr Layout kLayout384 = {384, 8, 32, 44, 32, 76, 256, 340};
constexpr Layout kLayout56 = {56, 8, 12, 28, 8, 36, 16, 24};
// The file is read backwards in blocks of this many records.
constexpr long kBlockRecords = 1024;

// The fields of one record that wtmpview uses, copied as they are (not
// terminated when a field is full), in room for the wider layout; the bytes
// past the layout's field sizes are NUL.
struct LoginRecord {
  char line[kLayout384.lineSize];
  int32_t time;
  char user[kLayout384.userSize];
  char host[kLayout384.hostSize];
};

// The layout of a file whose first n bytes (at most 384) are start: 384
// bytes when they begin with a record of that layout, else 56 when they
// begin with one of that; null when neither. A record of a layout has a
// type the C library knows (0 to 9) and NUL-padded text fields.
const Layout *layoutOf(const unsigned char *start, size_t n);

// Decodes the fields used here from a record of the layout.
LoginRecord decodeRecord(const Layout &layout, const unsigned char *bytes);

enum class FilterKind { user, tty, host };

// What wtmpview knows of one terminal line while walking back in time.
struct TtyState {
  int64_t time;     // newest record of this line so far: the end of the next
                    // older session on it; 0 while none was seen
  bool crash;       // a reboot or clock change came after that record
  bool logoutSeen;  // that record was a logout
};

// Puts a filter at the head of the filter list.
void addFilter(FilterKind kind, const std::string &value);

// Whether the record passes the filters: no filters, or ANY of them matches
// (user, tty and host in the sizes of the file's layout, the host ignoring
// case). With shorten set, a line beginning with "ftp" or "uucp" is first
// cut to that word, in the record itself.
bool wanted(LoginRecord &rec, bool shorten);

// Prints one output line; prints nothing for a record of user "LOGIN".
// Blanks in the host and control characters in every field print as "_".
// label may be null.
void printRecord(const LoginRecord &rec, int64_t seconds, const char *label);

// A new terminal state for the line (in the size of the file's layout),
// found again by a hash index: its time is the current boot time, its crash
// mark set when any existing state has one. The state lives until the
// program ends.
TtyState &newTty(const char *line);

// Cuts host at its first "." when the rest equals the own host's domain,
// ignoring case.
void stripDomain(std::string &host);

// "co" -> "console", any other two characters xy -> "ttyxy", a text with a
// leading "/dev/" loses it; anything else is returned as it is.
std::string ttyConv(const std::string &text);

// The formatted message and a newline on standard error, then exit(code).
[[noreturn]] void err(int code, const char *format, ...) __attribute__((format(printf, 2, 3)));

// Walks the file from its end to its start, printing the sessions. Ends the
// program through err when the file cannot be opened or read, or holds
// records of neither layout.
void walkWtmp(const char *file);

// The program: options, operands, the walk, starting with no filters and
// no terminal states. Returns the exit status.
int wtmpviewMain(int argc, char **argv);

}  // namespace wtmpview
