#include "webtally.h"

void cmdVersion(FILE *out, UserConf *, char *args) {
  // `short` asks for exactly the text written anyway.
  CommandArg slots[] = {{"short", ARG_FLAG, false, {}}, {}};
  parseArgs(slots, args);
  fputs("1.3.11", out);
  freeArgs(slots);
}
