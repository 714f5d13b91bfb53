// The user information commands: each prints one of the user's data items
// through print, its own field name given last so that it wins over an
// `extension` of the directive.
#include "webtally.h"

void printUserField(FILE *out, UserConf *user, const char *args, const char *field) {
  char *text = strprintf("%s extension=%s", args, field);
  cmdPrint(out, user, text);
  memRealloc(text, 0);
}

void cmdUsername(FILE *out, UserConf *user, char *args) { printUserField(out, user, args, "username"); }
void cmdOrganization(FILE *out, UserConf *user, char *args) { printUserField(out, user, args, "organization"); }
void cmdRealname(FILE *out, UserConf *user, char *args) { printUserField(out, user, args, "realname"); }
void cmdLocation(FILE *out, UserConf *user, char *args) { printUserField(out, user, args, "location"); }
void cmdContract(FILE *out, UserConf *user, char *args) { printUserField(out, user, args, "contract"); }
void cmdPhones(FILE *out, UserConf *user, char *args) { printUserField(out, user, args, "phones"); }
void cmdDomain(FILE *out, UserConf *user, char *args) { printUserField(out, user, args, "domain"); }
void cmdUsersystem(FILE *out, UserConf *user, char *args) { printUserField(out, user, args, "system"); }
void cmdWhowhen(FILE *out, UserConf *user, char *args) { printUserField(out, user, args, "whowhen"); }
void cmdPostmaster(FILE *out, UserConf *user, char *args) { printUserField(out, user, args, "postmaster"); }
