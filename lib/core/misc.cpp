#include "misc.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "config.h"
#include "memory.h"

namespace {

bool endsInNewline(const char *format) {
  size_t n = format ? strlen(format) : 0;
  return n > 0 && format[n - 1] == '\n';
}

// Appends one message to the log (when open) and to err (when not null).
void writeMessage(FILE *log, FILE *err, const char *kind, const char *format, va_list args) {
  if (log) {
    fputs(timeStamp(kind), log);
    va_list copy;
    va_copy(copy, args);
    vfprintf(log, format, copy);
    va_end(copy);
  }
  if (err) {
    va_list copy;
    va_copy(copy, args);
    vfprintf(err, format, copy);
    va_end(copy);
  }
  if (!endsInNewline(format)) {
    if (log) fputc('\n', log);
    if (err) fputc('\n', err);
  }
}

// dir + "/" + name into buf. A path that does not fit gives an empty text, so
// that opening it fails instead of reaching a file of a shorter name.
char *joinPath(char *buf, size_t size, const char *dir, const char *name) {
  int n = snprintf(buf, size, "%s/%s", dir ? dir : "", name ? name : "");
  if (n < 0 || static_cast<size_t>(n) >= size) buf[0] = '\0';
  return buf;
}

// Says once per process, on standard error, that the log loses messages, so
// that the loss is not silent (the messages still reach standard error).
void logUnwritable(int reason) {
  static bool said = false;
  if (said || !homeDir) return;
  said = true;
  fprintf(stderr, "Can't append to `%s/Logfile' (%s)\n", homeDir, strerror(reason));
}

FILE *openLog() {
  FILE *log = fopen(logFileName(), "a");
  if (!log) logUnwritable(errno);
  return log;
}

// A line that did not reach the disk (a full file system) is lost as well.
void closeLog(FILE *log) {
  if (log && fclose(log) != 0) logUnwritable(errno);
}

}  // namespace

const char *timeStamp(const char *kind) {
  static char buf[100];
  time_t now = time(nullptr);
  struct tm tm;
  localtime_r(&now, &tm);
  snprintf(buf, sizeof buf, "%02d:%02d:%02d %02d/%02d/%04d %s ", tm.tm_hour, tm.tm_min, tm.tm_sec,
           tm.tm_mday, tm.tm_mon + 1, tm.tm_year + 1900, kind);
  return buf;
}

const char *logFileName() {
  static char buf[300];
  if (!homeDir) return "/dev/null";
  return joinPath(buf, sizeof buf, homeDir, "Logfile");
}

int error(const char *format, ...) {
  // A log that cannot be opened must not silence the warning as well.
  FILE *log = openLog();
  va_list args;
  va_start(args, format);
  writeMessage(log, stderr, "W", format, args);
  va_end(args);
  closeLog(log);
  return 0;
}

void fatal(int exitCode, const char *format, ...) {
  FILE *log = homeDir ? openLog() : nullptr;
  va_list args;
  va_start(args, format);
  writeMessage(log, stderr, "E", format, args);
  va_end(args);
  closeLog(log);
  exit(exitCode);
}

void logMessage(const char *format, ...) {
  FILE *log = openLog();
  if (!log) return;
  va_list args;
  va_start(args, format);
  writeMessage(log, nullptr, "L", format, args);
  va_end(args);
  closeLog(log);
}

void debug(int level, const char *format, ...) {
  if (debugLevel < level) return;
  if (format) {
    va_list args;
    va_start(args, format);
    vfprintf(stderr, format, args);
    va_end(args);
    if (*format && !endsInNewline(format)) fputc('\n', stderr);
  }
  fflush(stderr);
}

char *homePath(const char *name) {
  static char buf[200];
  return joinPath(buf, sizeof buf, homeDir, name);
}

char *serverPath(const char *name) {
  static char buf[200];
  return joinPath(buf, sizeof buf, serverDir, name);
}

char *binPath(const char *name) {
  static char buf[200];
  return joinPath(buf, sizeof buf, binDir, name);
}

char *vstrprintf(const char *format, va_list args) {
  size_t size = 400;
  char *buf = static_cast<char *>(memRealloc(nullptr, size));
  for (;;) {
    va_list copy;
    va_copy(copy, args);
    int n = vsnprintf(buf, size, format, copy);
    va_end(copy);
    if (n < 0) {
      // The formatter failed: an empty text rather than a loop without end.
      buf[0] = '\0';
      return buf;
    }
    if (static_cast<size_t>(n) < size) return buf;
    size = (static_cast<size_t>(n) + 1 + 399) / 400 * 400;  // whole steps of 400 bytes
    buf = static_cast<char *>(memRealloc(buf, size));
  }
}

char *strprintf(const char *format, ...) {
  va_list args;
  va_start(args, format);
  char *text = vstrprintf(format, args);
  va_end(args);
  return text;
}
