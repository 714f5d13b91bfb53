// Commands and formula functions that are not built yet: each says so in the
// log and does nothing else.
#include "webtally.h"

namespace {

bool notBuilt(const char *name) {
  error("%s - not built", name);
  return false;
}

}  // namespace

void cmdAccount(FILE *, UserConf *, char *) { notBuilt("account"); }
void cmdStatistic(FILE *, UserConf *, char *) { notBuilt("statistic"); }
void cmdTotal(FILE *, UserConf *, char *) { notBuilt("total"); }
bool e_account(double *, ArgSlot *) { return notBuilt("account()"); }
bool e_statistic(double *, ArgSlot *) { return notBuilt("statistic()"); }
bool e_total(double *, ArgSlot *) { return notBuilt("total()"); }
