// Logging, errors, debug output and paths in the home directory.
//
// Logfile (home-dir + "/Logfile") receives one time-stamped line per message:
// "%02d:%02d:%02d %02d/%02d/%04d %s " (hour, minute, second, day, month, year,
// kind letter) and the message. Kinds: "E" fatal, "W" error, "L" logMessage.
// The file is opened in append mode and closed again for every message. A
// newline is added when the format does not end in one.
#pragma once

#include <cstdarg>

#define KX_PRINTF(f, a) __attribute__((format(printf, f, a)))

// A warning or handled failure: a "W" line in Logfile and the message on
// standard error, which gets it also when the log cannot be opened (while
// home-dir is unset the log is /dev/null). Returns 0. The first time in a
// process that Logfile cannot be appended to, error, fatal and logMessage
// say so on standard error, naming the file and the reason.
int error(const char *format, ...) KX_PRINTF(1, 2);
// An "E" line in Logfile (once home-dir is known) and the message on standard
// error, then exit(exitCode).
[[noreturn]] void fatal(int exitCode, const char *format, ...) KX_PRINTF(2, 3);
// An "L" line in Logfile only.
void logMessage(const char *format, ...) KX_PRINTF(1, 2);
// The message on standard error (flushed) when level <= debug-level.
void debug(int level, const char *format, ...) KX_PRINTF(2, 3);

// The log prefix for the current local time; static buffer, overwritten by
// the next call.
const char *timeStamp(const char *kind);
// home-dir + "/Logfile", or "/dev/null" while home-dir is unset; static buffer
// of 300 bytes. A longer path gives an empty text, so nothing is logged.
const char *logFileName();
// home-dir, server-dir or bin-dir + "/" + name, each in its own static buffer
// of 200 bytes that the next call of the same function overwrites. Valid only
// after initConfig. A path of more than 199 characters gives an empty text
// (which no file opens) rather than a cut one.
char *homePath(const char *name);
char *serverPath(const char *name);
char *binPath(const char *name);

// The formatted text in a new heap string; the caller frees it with
// memRealloc(text, 0). Never cut.
char *strprintf(const char *format, ...) KX_PRINTF(1, 2);
char *vstrprintf(const char *format, va_list args) KX_PRINTF(1, 0);
