// Fuzz entry point: a user's user.cf read into the user record.
#include <cstdint>

#include "fuzz_support.h"
#include "userbase.h"

namespace {

UserConf *fuzzUser() {
  static UserConf user;
  fuzzsupport::setUpNode();
  userInit(&user);
  return &user;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static UserConf *user = fuzzUser();
  fuzzsupport::writeBytes("home/userbase/fuzz/user.cf", data, size);
  readUserConf(user, "fuzz");
  userClear(user);
  return 0;
}
