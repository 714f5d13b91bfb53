// Lock files: exclusion between processes that share the lock directory.
//
// A lock is the file lock-dir + "/LCK.." + name, holding its owner's process
// id as exactly 11 bytes, "%10lu\n" (right-aligned in 10 characters, then a
// newline), mode 0600. It is created under a private temporary name (the lock
// path followed by the process id) and hard-linked to the lock path, the one
// atomic step. A lock file is valid when its first 10 bytes are blanks, tabs
// or digits spelling a process id above 0. A lock whose owner no longer runs,
// or a file without a valid owner that was last changed 5 seconds ago or
// earlier, is stale and is removed by the next process that looks at it; the
// check and the removal happen under an flock on the lock directory, so two
// processes that find the same stale lock cannot both remove it and take it.
//
// Every failure is a return value; only a long wait in lockWait is logged.
#pragma once

// The lock path of name in a static buffer of 200 bytes, overwritten by the
// next call of any function here. A path that does not fit is cut, and every
// other function refuses such a name (or any name while lock-dir is unset).
char *lockName(const char *name);
// One attempt to take the lock: 1 taken, 0 not (held by a living process,
// including this one, or the file cannot be made).
int lock(const char *name);
// Tries lock() until it succeeds, sleeping sleepSeconds after every failed
// try (the last one too); maxTries 0 tries without end. Once the sleeps add
// up to a minute, one warning names the lock. 1 taken, 0 not.
int lockWait(const char *name, unsigned sleepSeconds, unsigned maxTries);
// Removes the lock file whoever owns it: 1 removed, 0 not.
int unlock(const char *name);
// The owner's process id from the lock file; -1 when the file is missing or
// not valid.
long lockPid(const char *name);
// 1 when the lock is held by a living process (one that signal 0 reaches),
// else 0; removes a stale lock file on the way. An invalid file younger than
// 5 seconds stays.
int isLocked(const char *name);
// 0 when the lock directory exists and this process may make and remove
// files in it, else the errno value that tells why not. Programs that take
// locks check it before they change anything, since every lock would
// otherwise wait for ever.
int checkLockDir();
