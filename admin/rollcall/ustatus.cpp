// The per-user status file (see ustatus.h).
#include "ustatus.h"

#include <cstdio>

#include "userbase.h"

namespace {

// The name of the status file in the user's directory.
constexpr char kStatusFile[] = "status";

}  // namespace

int readUserStatus(const char *user) {
  int flags = kStatusOfficial;
  FILE *file = fopen(userPath(user, kStatusFile), "r");
  if (!file) return flags;
  int c;
  while ((c = getc(file)) != EOF) {
    if (c == 'C') flags |= kStatusClosed;
    if (c == 'N') flags &= ~kStatusOfficial;
  }
  fclose(file);
  return flags;
}

int writeUserStatus(const char *user, int flags) {
  FILE *file = fopen(userPath(user, kStatusFile), "w");
  if (!file) return ~flags;
  bool failed = (flags & kStatusClosed) && fputs("Closed", file) == EOF;
  // A full disk shows only when the buffer is written out at the close.
  if (fclose(file) != 0) failed = true;
  return failed ? ~flags : flags;
}
