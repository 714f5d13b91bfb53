// Test driver: starts like a program of the system, then lists the users of
// the base (no operand) or prints one user's record (operand: the name).
#include <cstdio>

#include "config.h"
#include "userbase.h"

namespace {

bool printName(const char *user) {
  printf("%s %s\n", user, userPath(user, nullptr));
  return true;
}

}  // namespace

int main(int argc, char **argv) {
  initConfig();
  if (argc < 2) return forEachUser(printName) ? 0 : 3;
  UserConf user;
  userInit(&user);
  if (!getUserConf(&user, argv[1])) return 2;
  printf("name=%s accname=%s lang=%s postmaster=%s prices=%u items=%u\n", user.name,
         user.accname, user.lang, user.postmaster, user.priceCount, user.dataCount);
  userClear(&user);
  return 0;
}
