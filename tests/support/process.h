// Test support: temporary directories and running a built program as a
// separate process with its own main configuration file.
//
// A program under test sees its own /etc/korvix-1.3.conf through an overlay
// mounted over /etc inside a private mount namespace (unshare -m as root,
// unshare -rm otherwise); the real /etc is never written.
#pragma once

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

namespace testsupport {

// A fresh directory under $TMPDIR (or /tmp), removed with everything in it
// when the object goes away (kept when KORVIX_KEEP_TMP is set).
class TempDir {
 public:
  explicit TempDir(const char *tag = "korvix");
  ~TempDir();
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;
  const std::string &path() const { return path_; }
  // path() + "/" + name
  std::string sub(const std::string &name) const;
 private:
  std::string path_;
};

// Writes text to the file, creating missing parent directories.
void writeFile(const std::string &path, const std::string &text);
// The whole file, or "" when it cannot be read.
std::string readFile(const std::string &path);
bool fileExists(const std::string &path);
void makeDirs(const std::string &path);

// Absolute path of a built program: $KORVIX_BIN/name.
std::string binPath(const std::string &name);
// Absolute path of a file in the source tree: $KORVIX_SOURCE/rel.
std::string sourcePath(const std::string &rel);

struct RunSpec {
  std::string program;                // a path, or a name in $KORVIX_BIN
  std::vector<std::string> args;
  std::string input;                  // standard input
  // Files put into the overlay over /etc, by name relative to /etc; the main
  // configuration is normally {"korvix-1.3.conf", text}. Empty: no overlay
  // is mounted at all (the program sees the real /etc).
  std::vector<std::pair<std::string, std::string>> etc;
  bool overlay = true;                // mount the overlay even when etc is empty
  // Environment: TZ=UTC and PATH are always set; these are added (and
  // replace those two when they name them).
  std::vector<std::pair<std::string, std::string>> env;
  std::string cwd;                    // working directory; "" keeps the test's
  int timeoutSeconds = 60;
};

struct RunResult {
  int status = -1;        // exit status, or 128 + signal number
  std::string out;        // standard output
  std::string err;        // standard error
};

// Runs the program and waits for it; never throws.
RunResult run(const RunSpec &spec);

// The command words that run a program (appended after them) with the files
// of the directory upper laid over /etc, in a private mount namespace that
// ends with the program; work is an empty directory on the same file system.
std::vector<std::string> etcOverlayCommand(const std::string &upper, const std::string &work);

// Starts args (args[0] a path) in the background with standard output into
// *out when out is not null; the child gets SIGTERM when the test process
// dies, so no server outlives its test. -1 when it cannot be started.
pid_t spawnChild(const std::vector<std::string> &args, int *out);
// Waits for the child: its exit status, 128 + signal, or -1 on time-out.
int waitChild(pid_t pid, int seconds);
// SIGTERM, then SIGKILL when the child has not ended within seconds; its
// status as waitChild gives it.
int stopChild(pid_t pid, int seconds);

// A main configuration text whose home directory is home, with the usual
// directories below it, plus extra lines.
std::string configFor(const std::string &home, const std::string &extra = "");

}  // namespace testsupport
