#include "locks.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "config.h"
#include "misc.h"

namespace {

// The lock path and the temporary name are built here; lock directory, name
// and process id together must stay below its size.
char pathBuf[200];

// Content of a lock file: the owner's id in 10 characters and a newline.
constexpr int kPidChars = 10;
constexpr int kLockBytes = kPidChars + 1;

// Builds the lock path of name; false when lock-dir is unset or it is cut.
bool buildPath(const char *name) {
  int n = snprintf(pathBuf, sizeof pathBuf, "%s/LCK..%s", lockDir ? lockDir : "",
                   name ? name : "");
  return lockDir && name && n >= 0 && static_cast<size_t>(n) < sizeof pathBuf;
}

// Reads the owner from the lock file at path; -1 when missing or not valid.
long readOwner(const char *path) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  char text[kPidChars + 1];
  int got = 0;
  while (got < kPidChars) {
    ssize_t n = read(fd, text + got, kPidChars - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<int>(n);
  }
  close(fd);
  if (got < kPidChars) return -1;
  for (int i = 0; i < kPidChars; ++i) {
    char c = text[i];
    if (c != ' ' && c != '\t' && (c < '0' || c > '9')) return -1;
  }
  text[kPidChars] = '\0';
  long owner = strtol(text, nullptr, 10);
  // Owner 0 would make kill() test this process's own group: not a lock.
  return owner > 0 ? owner : -1;
}

// A lock file without a valid owner is never made by lock(), which links a
// complete file; one that stays so for this long was left by hand or by a
// crash mid-write and is taken for stale.
constexpr time_t kInvalidLockAge = 5;
// A wait for a lock longer than this is logged (once per wait).
constexpr unsigned kLongWait = 60;

// True when the file at path exists, has no valid owner and was last
// changed kInvalidLockAge seconds ago or earlier.
bool oldInvalid(const char *path) {
  struct stat st;
  return readOwner(path) == -1 && lstat(path, &st) == 0 && time(nullptr) - st.st_mtime >= kInvalidLockAge;
}

// True when signal 0 reaches the process; an id that no process can have
// counts as gone.
bool alive(long pid) { return pid > 0 && pid <= INT_MAX && kill(static_cast<pid_t>(pid), 0) == 0; }

// Removes the lock file at path when its owner is gone or it has stayed
// without a valid owner, checking again under an exclusive flock on the lock
// directory: of several processes that found the same stale lock, one
// removes it and the others then see it gone or see the new owner. Returns 1
// when the lock is held after all, else 0.
int removeStale(const char *path) {
  int dir = open(lockDir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return 0;
  while (flock(dir, LOCK_EX) != 0) {
    if (errno != EINTR) {
      close(dir);
      return 0;
    }
  }
  int held = 0;
  long owner = readOwner(path);
  if (alive(owner))
    held = 1;
  else if (owner != -1 || oldInvalid(path))
    unlink(path);
  close(dir);  // releases the flock
  return held;
}

}  // namespace

char *lockName(const char *name) {
  buildPath(name);
  return pathBuf;
}

long lockPid(const char *name) {
  if (!buildPath(name)) return -1;
  return readOwner(pathBuf);
}

int isLocked(const char *name) {
  if (!buildPath(name)) return 0;
  long owner = readOwner(pathBuf);
  if (owner == -1) {
    if (oldInvalid(pathBuf)) removeStale(pathBuf);
    return 0;
  }
  if (alive(owner)) return 1;
  return removeStale(pathBuf);
}

int lock(const char *name) {
  if (!buildPath(name)) return 0;
  if (isLocked(name)) return 0;
  unsigned long self = static_cast<unsigned long>(getpid());
  char path[sizeof pathBuf];
  char temp[sizeof pathBuf];
  snprintf(path, sizeof path, "%s", pathBuf);
  int n = snprintf(temp, sizeof temp, "%s%lu", path, self);
  if (n < 0 || static_cast<size_t>(n) >= sizeof temp) return 0;

  int fd = open(temp, O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return 0;
  char text[kLockBytes + 1];
  snprintf(text, sizeof text, "%10lu\n", self);
  if (write(fd, text, kLockBytes) != kLockBytes) {
    unlink(temp);
    close(fd);
    return 0;
  }
  close(fd);
  int linked = link(temp, path) == 0;
  unlink(temp);
  return linked;
}

int lockWait(const char *name, unsigned sleepSeconds, unsigned maxTries) {
  unsigned long waited = 0;  // seconds slept so far
  bool told = false;
  for (unsigned tries = 0;;) {
    if (lock(name)) return 1;
    if (!told && waited >= kLongWait) {
      // A lock that never comes must not make a run hang without a word.
      error("Waiting more than %u seconds for lock %s", kLongWait, lockName(name));
      told = true;
    }
    sleep(sleepSeconds);
    waited += sleepSeconds;
    if (maxTries != 0 && ++tries >= maxTries) return 0;
  }
}

int checkLockDir() {
  struct stat st;
  if (!lockDir || !*lockDir) return ENOENT;
  if (stat(lockDir, &st) != 0) return errno;
  if (!S_ISDIR(st.st_mode)) return ENOTDIR;
  if (access(lockDir, W_OK | X_OK) != 0) return errno;
  return 0;
}

int unlock(const char *name) {
  if (!buildPath(name)) return 0;
  return unlink(pathBuf) == 0 ? 1 : 0;
}
