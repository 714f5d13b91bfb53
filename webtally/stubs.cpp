// Commands and formula functions that are not built yet: each says so in the
// log and does nothing else.
#include "webtally.h"

namespace {

bool notBuilt(const char *name) {
  error("%s - not built", name);
  return false;
}

}  // namespace

void cmdPrint(FILE *, UserConf *, char *) { notBuilt("print"); }
void cmdLine(FILE *, UserConf *, char *) { notBuilt("line"); }
void cmdUsername(FILE *, UserConf *, char *) { notBuilt("username"); }
void cmdOrganization(FILE *, UserConf *, char *) { notBuilt("organization"); }
void cmdRealname(FILE *, UserConf *, char *) { notBuilt("realname"); }
void cmdLocation(FILE *, UserConf *, char *) { notBuilt("location"); }
void cmdContract(FILE *, UserConf *, char *) { notBuilt("contract"); }
void cmdPhones(FILE *, UserConf *, char *) { notBuilt("phones"); }
void cmdDomain(FILE *, UserConf *, char *) { notBuilt("domain"); }
void cmdUsersystem(FILE *, UserConf *, char *) { notBuilt("usersystem"); }
void cmdWhowhen(FILE *, UserConf *, char *) { notBuilt("whowhen"); }
void cmdPostmaster(FILE *, UserConf *, char *) { notBuilt("postmaster"); }
void cmdAccount(FILE *, UserConf *, char *) { notBuilt("account"); }
void cmdStatistic(FILE *, UserConf *, char *) { notBuilt("statistic"); }
void cmdTotal(FILE *, UserConf *, char *) { notBuilt("total"); }
bool e_account(double *, ArgSlot *) { return notBuilt("account()"); }
bool e_statistic(double *, ArgSlot *) { return notBuilt("statistic()"); }
bool e_total(double *, ArgSlot *) { return notBuilt("total()"); }
