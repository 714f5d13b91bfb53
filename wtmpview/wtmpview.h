// wtmpview: prints the sessions of a login-record file newest first, one
// fixed-width line each, for other programs to parse. It stands alone and
// uses only the C library.
//
// The login-record file is a sequence of 56-byte records in the layout that
// the C library of 32-bit x86 Linux writes, little-endian:
//
//   offset size field
//        0    2 record type (signed)          not read
//        2    2 padding                       not read
//        4    4 process id                    not read
//        8   12 line, without "/dev/"         read
//       20    2 inittab id                    not read
//       22    2 padding                       not read
//       24    4 time, signed seconds of 1970  read
//       28    8 user, empty for a logout      read
//       36   16 remote host                   read
//       52    4 remote address                not read
//
// The text fields are NUL-padded but not necessarily NUL-terminated. This is
// not the native record of the machine the program runs on (384 bytes on
// x86_64), so the bytes are decoded here field by field.
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

// Sizes of the on-disk format.
constexpr size_t kRecordSize = 56;
constexpr size_t kLineSize = 12;
constexpr size_t kUserSize = 8;
constexpr size_t kHostSize = 16;
// The file is read backwards in blocks of 1024 records.
constexpr long kBlockSize = 1024 * static_cast<long>(kRecordSize);

// The fields of one record that wtmpview uses, copied as they are (not
// terminated when a field is full).
struct LoginRecord {
  char line[kLineSize];
  int32_t time;
  char user[kUserSize];
  char host[kHostSize];
};

enum class FilterKind { user, tty, host };

// What wtmpview knows of one terminal line while walking back in time.
struct TtyState {
  int64_t time;     // newest record of this line so far: the end of the next
                    // older session on it; 0 while none was seen
  bool crash;       // a reboot or clock change came after that record
  bool logoutSeen;  // that record was a logout
  char line[kLineSize];
};

// Decodes the fields used here from kRecordSize bytes.
LoginRecord decodeRecord(const unsigned char *bytes);

// Puts a filter at the head of the filter list.
void addFilter(FilterKind kind, const std::string &value);

// Whether the record passes the filters: no filters, or ANY of them matches
// (user in 8 characters, tty in 12, host in 16 ignoring case). With shorten
// set, a line beginning with "ftp" or "uucp" is first cut to that word, in
// the record itself.
bool wanted(LoginRecord &rec, bool shorten);

// Prints one output line; prints nothing for a record of user "LOGIN".
// Blanks in the host and control characters in every field print as "_".
// label may be null.
void printRecord(const LoginRecord &rec, int64_t seconds, const char *label);

// A new terminal state for the line at the head of the list: its time is the
// current boot time, its crash mark set when any existing state has one. The
// state lives until the program ends.
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
// program through err when the file cannot be opened or read.
void walkWtmp(const char *file);

// The program: options, operands, the walk, starting with no filters and
// no terminal states. Returns the exit status.
int wtmpviewMain(int argc, char **argv);

}  // namespace wtmpview
