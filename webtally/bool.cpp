#include "webtally.h"

bool formOutput = true;
int ifDepth = 0;
int ifActive = 0;

void cmdIf(FILE *, UserConf *, char *args) {
  ++ifDepth;
  // Inside a suppressed branch an `if` only counts depth.
  if (!formOutput) return;
  CommandArg slots[] = {{"value", ARG_EXPRESSION, false, {}}, {}};
  parseArgs(slots, args);
  ifActive = ifDepth;
  if (slots[0].set && slots[0].value.real == 0) formOutput = false;
  freeArgs(slots);
}

void cmdElse(FILE *, UserConf *, char *) {
  // Also with no `if` open (both 0): a stray `else` switches the output.
  if (ifDepth == ifActive) formOutput = !formOutput;
}

void cmdFi(FILE *, UserConf *, char *) {
  if (ifDepth == 0 || ifActive == 0) {
    error("<else> without <if ..>");
    ifDepth = 0;
    ifActive = 0;
    return;
  }
  if (ifDepth == ifActive) {
    formOutput = true;
    --ifActive;
  }
  --ifDepth;
}
