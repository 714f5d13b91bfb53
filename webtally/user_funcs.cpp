#include "formula.h"
#include "webtally.h"

const char *boundUserName;
const char *boundAccountName;

namespace {

// An empty default is the report date; "1.1.1" stands for a missing date.
const char *const kTwoDates[] = {"", "1.1.1"};
const char *const kOneDate[] = {""};

const Symbol userFunctions[] = {
    {"account", SYM_FUNCTION, 0, e_account, "DD", kTwoDates},
    {"statistic", SYM_FUNCTION, 0, requestStatistic, "DD", kTwoDates},
    {"total", SYM_FUNCTION, 0, e_total, "D", kOneDate},
    {nullptr, SYM_VALUE, 0, nullptr, nullptr, nullptr},
};

}  // namespace

void bindUser(const char *user, const char *account) {
  boundUserName = user;
  boundAccountName = account;
  setExprTables(userFunctions, nullptr);
}
