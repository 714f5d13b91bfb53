#include "wtmpview.h"

#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <forward_list>
#include <new>
#include <unordered_map>
#include <vector>

namespace wtmpview {

namespace {

const char kDefaultFile[] = "/var/log/wtmp";
const char kUsage[] =
    "wtmpview -- shows wtmp information in computer readable form\n\n"
    "usage: wtmpview [-#] [-f file] [-t tty] [-h hostname] [-T time] [user ...]\n";
constexpr long kNoLimit = -1;
// Bound on -T: far beyond any record time, and small enough that every
// session length (end minus a 32-bit login time) stays within 64 bits.
constexpr int64_t kMaxTime = INT64_MAX / 4;

struct Filter {
  FilterKind kind;
  std::string value;
};

// State of the walk back in time. Times are 64-bit so that a record time of
// 2147483647 plus 1 does not overflow.
struct Walk {
  int64_t now = 0;                  // end of sessions still open
  int64_t boot = 0;                 // end of sessions cut by a reboot
  bool inBoot = false;              // a reboot was met, no ordinary record since
  const char *crashLabel = "error"; // label of sessions ending at boot
  int64_t newTime = 0;              // time of the last "{" record
  long limit = kNoLimit;            // lines still to print
};

// The printed widths of user, line and host.
constexpr int kUserWidth = 8, kLineWidth = 12, kHostWidth = 16;

std::forward_list<Filter> filters;
// Terminal states by line, the line cut at its first NUL.
std::unordered_map<std::string, TtyState> ttys;
const Layout *layout = &kLayout56;
Walk walk;

[[noreturn]] void usage() {
  fputs(kUsage, stderr);
  exit(1);
}

void outOfMemory() { err(1, "malloc failure"); }

int readInt16(const unsigned char *p) { return static_cast<int16_t>(p[0] | p[1] << 8); }

int32_t readInt32(const unsigned char *p) {
  uint32_t v = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
  return static_cast<int32_t>(v);
}

// Copies a fixed-width field into buf (size n + 1) and terminates it.
void fieldText(char *buf, const char *field, size_t n) {
  memcpy(buf, field, n);
  buf[n] = '\0';
}

// Whether a text field holds nothing but NULs after its first NUL.
bool padded(const unsigned char *field, size_t n) {
  const void *nul = memchr(field, '\0', n);
  if (!nul) return true;
  for (const unsigned char *p = static_cast<const unsigned char *>(nul); p < field + n; ++p)
    if (*p) return false;
  return true;
}

// Whether bytes begin with a record of the layout: a record type of the C
// library (EMPTY 0 to ACCOUNTING 9) and NUL-padded text fields.
bool isRecord(const Layout &l, const unsigned char *bytes, size_t n) {
  if (n < l.size) return false;
  int type = readInt16(bytes);
  return type >= 0 && type <= 9 && padded(bytes + l.lineAt, l.lineSize) &&
         padded(bytes + l.userAt, l.userSize) && padded(bytes + l.hostAt, l.hostSize);
}

bool isMark(const LoginRecord &rec, char mark) { return rec.line[0] == mark && rec.line[1] == '\0'; }

std::string lineKey(const char *line) { return std::string(line, strnlen(line, layout->lineSize)); }

TtyState *findTty(const char *line) {
  auto it = ttys.find(lineKey(line));
  return it == ttys.end() ? nullptr : &it->second;
}

// Prints the record and counts it against the limit; false when the limit
// is used up and the walk must end.
bool show(const LoginRecord &rec, int64_t seconds, const char *label) {
  printRecord(rec, seconds, label);
  if (walk.limit == kNoLimit) return true;
  return --walk.limit > 0;
}

// A reboot or shutdown record: every line without a logout since gets the
// crash mark, and the sessions before it end at the boot time.
bool takeReboot(LoginRecord &rec) {
  for (auto &[line, s] : ttys)
    if (!s.logoutSeen) s.crash = true;
  walk.boot = rec.time;
  walk.inBoot = true;
  walk.crashLabel = strncmp(rec.user, "shutdown", layout->userSize) == 0 ? "shutdown" : "crash";
  return !wanted(rec, false) || show(rec, 0, nullptr);
}

// A clock change: "{" carries the new time and comes first when walking
// back, "|" the old one; times met so far are moved to the old clock.
bool takeClock(LoginRecord &rec) {
  bool newClock = rec.line[0] == '{';
  if (wanted(rec, false) && !show(rec, 0, newClock ? "new time" : "old time")) return false;
  if (newClock) {
    walk.newTime = rec.time;
    return true;
  }
  int64_t shift = rec.time - walk.newTime;
  for (auto &[line, s] : ttys) {
    s.time += shift;
    s.crash = true;
  }
  walk.crashLabel = "time corr.";
  if (walk.inBoot) {
    walk.boot += shift;
    walk.inBoot = false;
  }
  return true;
}

// A login or logout: a login is printed with the length of its session, which
// ends at the newest record of its line met so far.
bool takeSession(LoginRecord &rec) {
  int64_t t = rec.time;
  if (walk.inBoot) {
    walk.boot = t + 1;
    walk.inBoot = false;
  }
  TtyState *state = findTty(rec.line);
  if (!state) state = &newTty(rec.line);
  bool goOn = true;
  if (rec.user[0] != '\0' && wanted(rec, true)) {
    int64_t end = state->time;
    const char *label = nullptr;
    if (state->time == 0) {
      end = walk.now;
      label = "still in";
    } else if (state->crash) {
      end = walk.boot;
      label = walk.crashLabel;
    }
    goOn = show(rec, end - t, label);
  }
  state->time = t;
  state->crash = false;
  state->logoutSeen = rec.user[0] == '\0';
  return goOn;
}

// One record of the walk; false when the walk must end.
bool takeRecord(LoginRecord &rec) {
  if (walk.now < rec.time) walk.now = int64_t(rec.time) + 1;
  if (isMark(rec, '~')) return takeReboot(rec);
  if (isMark(rec, '{') || isMark(rec, '|')) return takeClock(rec);
  return takeSession(rec);
}

// The decimal number at the start of text, at most LONG_MAX.
long leadingNumber(const char *text) {
  long n = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    int digit = *text - '0';
    if (n > (LONG_MAX - digit) / 10) return LONG_MAX;
    n = n * 10 + digit;
  }
  return n;
}

// The line limit of a digit option: the digits after the "-" of the word
// that getopt takes the option from. first is optind before that getopt call:
// the word itself while getopt is inside it, else the next element, which
// may be followed by operands that getopt skips before the word.
long limitFromWord(char **argv, int argc, int first) {
  for (int i = first; i < argc; ++i)
    if (argv[i][0] == '-' && argv[i][1] != '\0') return leadingNumber(argv[i] + 1);
  return 0;
}

// The -T value: decimal seconds since 1970; anything else is a usage error.
int64_t parseTime(const char *text) {
  char *end = nullptr;
  errno = 0;
  long long v = strtoll(text, &end, 10);
  if (end == text || *end != '\0' || errno == ERANGE || v > kMaxTime || v < -kMaxTime) usage();
  return v;
}

}  // namespace

const Layout *layoutOf(const unsigned char *start, size_t n) {
  for (const Layout *l : {&kLayout384, &kLayout56})
    if (isRecord(*l, start, n)) return l;
  return nullptr;
}

LoginRecord decodeRecord(const Layout &l, const unsigned char *bytes) {
  LoginRecord rec{};
  memcpy(rec.line, bytes + l.lineAt, l.lineSize);
  rec.time = readInt32(bytes + l.timeAt);
  memcpy(rec.user, bytes + l.userAt, l.userSize);
  memcpy(rec.host, bytes + l.hostAt, l.hostSize);
  return rec;
}

void addFilter(FilterKind kind, const std::string &value) { filters.push_front(Filter{kind, value}); }

bool wanted(LoginRecord &rec, bool shorten) {
  if (shorten) {
    if (strncmp(rec.line, "ftp", 3) == 0)
      rec.line[3] = '\0';
    else if (strncmp(rec.line, "uucp", 4) == 0)
      rec.line[4] = '\0';
  }
  if (filters.empty()) return true;
  for (const Filter &f : filters) {
    switch (f.kind) {
      case FilterKind::user:
        if (strncmp(f.value.c_str(), rec.user, layout->userSize) == 0) return true;
        break;
      case FilterKind::tty:
        if (strncmp(f.value.c_str(), rec.line, layout->lineSize) == 0) return true;
        break;
      case FilterKind::host:
        if (strncasecmp(f.value.c_str(), rec.host, layout->hostSize) == 0) return true;
        break;
    }
  }
  return false;
}

void printRecord(const LoginRecord &rec, int64_t seconds, const char *label) {
  if (memcmp(rec.user, "LOGIN", 6) == 0) return;
  char user[kUserWidth + 1], line[kLineWidth + 1], host[kHostWidth + 1];
  fieldText(user, rec.user, kUserWidth);
  fieldText(line, rec.line, kLineWidth);
  fieldText(host, rec.host, kHostWidth);
  for (char *p = host; *p; ++p)
    if (*p == ' ') *p = '_';
  // Control characters (a tab, a newline) would break the fixed-width line
  // that other programs parse.
  for (char *field : {user, line, host})
    for (char *p = field; *p; ++p)
      if (static_cast<unsigned char>(*p) < ' ' || *p == '\x7f') *p = '_';
  printf("%-*.*s  %-*.*s %-*.*s ", kUserWidth, kUserWidth, user[0] ? user : "unknown", kLineWidth,
         kLineWidth, line[0] ? line : "unknown", kHostWidth, kHostWidth, host[0] ? host : "localhost");
  time_t when = rec.time;
  struct tm tm;
  memset(&tm, 0, sizeof tm);
  localtime_r(&when, &tm);
  printf("%02d/%02d/%04d %02d:%02d:%02d ", tm.tm_mday, tm.tm_mon + 1, tm.tm_year + 1900, tm.tm_hour,
         tm.tm_min, tm.tm_sec);
  printf("%7ld", seconds < 0 ? 0L : long(seconds));
  if (label)
    printf(" (%s)", label);
  else if (seconds < 0)
    printf(" (%s)", "will be more");
  putchar('\n');
}

TtyState &newTty(const char *line) {
  bool crash = false;
  for (const auto &[known, s] : ttys) crash = crash || s.crash;
  TtyState &state = ttys[lineKey(line)];
  state = TtyState{walk.boot, crash, false};
  return state;
}

void stripDomain(std::string &host) {
  static bool known = false;
  static std::string ownDomain;
  size_t dot = host.find('.');
  if (dot == std::string::npos) return;
  if (!known) {
    char name[64];
    if (gethostname(name, sizeof name) != 0) err(1, "gethostname");
    name[sizeof name - 1] = '\0';
    if (const char *d = strchr(name, '.')) ownDomain = d;
    known = true;
  }
  if (!ownDomain.empty() && strcasecmp(ownDomain.c_str(), host.c_str() + dot) == 0) host.erase(dot);
}

std::string ttyConv(const std::string &text) {
  if (text.size() == 2) return text == "co" ? "console" : "tty" + text;
  if (text.starts_with("/dev/")) return text.substr(5);
  return text;
}

void err(int code, const char *format, ...) {
  va_list args;
  va_start(args, format);
  vfprintf(stderr, format, args);
  va_end(args);
  fputc('\n', stderr);
  exit(code);
}

void walkWtmp(const char *file) {
  int fd = open(file, O_RDONLY);
  if (fd < 0) err(1, "%s", file);
  off_t size = lseek(fd, 0, SEEK_END);
  if (size < 0) err(1, "%s", file);
  // The first record tells the layout; an empty file has none.
  unsigned char start[kLayout384.size];
  ssize_t got = pread(fd, start, sizeof start, 0);
  if (got < 0) err(1, "%s", file);
  if (got > 0 && !(layout = layoutOf(start, size_t(got))))
    err(1, "%s: not a file of login records", file);
  const off_t blockSize = kBlockRecords * off_t(layout->size);
  std::vector<unsigned char> block(blockSize);
  // Signed block numbers: an empty file has none, block -1 is never read.
  for (off_t b = (size + blockSize - 1) / blockSize - 1; b >= 0; --b) {
    if (lseek(fd, b * blockSize, SEEK_SET) < 0) err(1, "%s", file);
    got = read(fd, block.data(), block.size());
    if (got < 0) err(1, "%s", file);
    // A trailing partial record is ignored.
    for (size_t i = size_t(got) / layout->size; i-- > 0;) {
      LoginRecord rec = decodeRecord(*layout, block.data() + i * layout->size);
      if (!takeRecord(rec)) {
        close(fd);
        return;
      }
    }
  }
  close(fd);
}

int wtmpviewMain(int argc, char **argv) {
  // Every run starts from nothing, also a second one in the same process.
  filters.clear();
  ttys.clear();
  layout = &kLayout56;
  walk = Walk();
  std::set_new_handler(outOfMemory);
  // Line by line to a terminal; in blocks to a file or a pipe, where a
  // write per line would cost more than the whole walk.
  if (isatty(STDOUT_FILENO)) setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
  else setvbuf(stdout, nullptr, _IOFBF, 1 << 16);
  const char *file = kDefaultFile;
  walk.now = time(nullptr);
  for (;;) {
    int word = optind;
    int c = getopt(argc, argv, "0123456789f:h:t:T:");
    if (c == -1) break;
    switch (c) {
      case '0': case '1': case '2': case '3': case '4':
      case '5': case '6': case '7': case '8': case '9':
        if (walk.limit == kNoLimit) {
          walk.limit = limitFromWord(argv, argc, word);
          if (walk.limit == 0) exit(0);
        }
        break;
      case 'f':
        file = optarg;
        walk.now = 0;
        break;
      case 'T':
        walk.now = parseTime(optarg);
        break;
      case 'h': {
        std::string host = optarg;
        stripDomain(host);
        addFilter(FilterKind::host, host);
        break;
      }
      case 't':
        addFilter(FilterKind::tty, ttyConv(optarg));
        break;
      default:
        usage();
    }
  }
  for (int i = optind; i < argc; ++i) {
    addFilter(FilterKind::tty, ttyConv(argv[i]));
    addFilter(FilterKind::user, argv[i]);
  }
  walkWtmp(file);
  // A lost write (a full disk) is a failure, not a shorter listing.
  if (fflush(stdout) != 0) err(1, "standard output: %s", strerror(errno));
  return 0;
}

}  // namespace wtmpview
