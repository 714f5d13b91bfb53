// Fuzz entry point: a price list and a counter file, priced into text lines
// as tallymill -o does. The input is the price list, then, after a line
// "%%", the counter file. No database answers: every statement fails at
// once (retries off), as group names, descriptions and rates then do.
#include <cstdint>
#include <cstdio>
#include <string>

#include "core.h"
#include "fuzz_support.h"
#include "sqldata.h"
#include "tallymill.h"

namespace {

UserConf *fuzzUser() {
  static UserConf user;
  fuzzsupport::setUpNode();
  storeConfigString(&sqlServerSocket, (fuzzsupport::dir() + "/no.sock").c_str(), nullptr);
  sqlRetry(0);
  const std::string userCf = "prices fuzz.lst\nlanguage en\npostmaster pm@node.example\n";
  fuzzsupport::writeBytes("home/userbase/fuzz/user.cf", reinterpret_cast<const uint8_t *>(userCf.data()),
                          userCf.size());
  userInit(&user);
  if (!getUserConf(&user, "fuzz")) abort();
  return &user;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static UserConf *user = fuzzUser();
  static FILE *sink = fopen("/dev/null", "w");
  std::string prices, counters;
  fuzzsupport::split(data, size, &prices, &counters);
  fuzzsupport::writeBytes("home/prices/fuzz.lst", reinterpret_cast<const uint8_t *>(prices.data()), prices.size());
  readPriceLists(user);
  FILE *in = counters.empty() ? nullptr : fmemopen(counters.data(), counters.size(), "r");
  if (in) {
    readStatFile(in, "counters");
    fclose(in);
  }
  finishStatTable();
  storeStatistic(user, sink, 2024, 3);
  return 0;
}
