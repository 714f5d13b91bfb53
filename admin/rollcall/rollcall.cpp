// rollcall: lists users of the user base, one a line.
//
//   rollcall [-p] [-o] [-O] [user ...]
//
// Every user in the order of the user walk, or the users named, each shown
// by name or (-p) by the path of his directory; -o leaves out closed users,
// -O lists only official ones, both by the user's status file (ustatus.h).
// A user named on the command line is shown even when the base lacks him.
#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "core.h"
#include "userbase.h"
#include "ustatus.h"

namespace {

bool showPath = false;      // -p
bool hideClosed = false;    // -o
bool onlyOfficial = false;  // -O

[[noreturn]] void rollcallUsage() {
  initConfig();
  fputs(
      "Usage: rollcall [-p] [-o] [user user ...]\n"
      "\t-p\tshow path to user's home instead of user name\n"
      "\t-o\tdon't show closed users\n"
      "\t-O\tshow only ``official'' users\n"
      "\n"
      "By default all user names showed\n",
      stderr);
  exit(1);
}

// A UserCallback: one line for the user unless the filters leave him out.
// Always true, so a walk goes on.
bool showUser(const char *user) {
  if (hideClosed || onlyOfficial) {
    int flags = readUserStatus(user);
    if (hideClosed && (flags & kStatusClosed)) return true;
    if (onlyOfficial && !(flags & kStatusOfficial)) return true;
  }
  puts(showPath ? userPath(user, nullptr) : user);
  return true;
}

int rollcallMain(int argc, char **argv) {
  int option;
  while ((option = getopt(argc, argv, "HpoO")) != -1) {
    switch (option) {
      case 'p':
        showPath = true;
        break;
      case 'o':
        hideClosed = true;
        break;
      case 'O':
        onlyOfficial = true;
        break;
      default:
        rollcallUsage();
    }
  }
  initConfig();
  if (optind < argc) {
    // A name becomes a path in the user base: only plain user names pass.
    for (int i = optind; i < argc; ++i)
      if (!isUserDirName(argv[i])) fatal(1, "Bad user name '%s'", argv[i]);
    for (int i = optind; i < argc; ++i) showUser(argv[i]);
  } else {
    // The walk says nothing of a base it cannot read: it looks empty.
    DIR *base = opendir(userBase);
    if (!base) fatal(1, "Can't open user base `%s'", userBase);
    closedir(base);
    forEachUser(showUser);
  }
  // A list cut short by a full disk or a closed pipe must not pass for whole.
  if (fflush(stdout) != 0 || ferror(stdout)) fatal(1, "Can't write the user list");
  return 0;
}

}  // namespace

int main(int argc, char **argv) { return rollcallMain(argc, argv); }
