#include "webtally.h"

void cmdStatAdmin(FILE *out, UserConf *, char *) { fputs(addrAdmin ? addrAdmin : "", out); }
