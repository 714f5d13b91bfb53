#include "webtally.h"

void cmdCurrency(FILE *out, UserConf *, char *) { fputs(getMessage(currencyName), out); }
