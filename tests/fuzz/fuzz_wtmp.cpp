// Fuzz entry point: login records. The first byte chooses options (a line
// limit, a user and terminal operand, a host filter); the rest is the
// login-record file that wtmpview walks, printing to nowhere, when its first
// record is one of either layout.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "wtmpview.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static bool ready = freopen("/dev/null", "w", stdout) != nullptr;
  (void)ready;
  if (size == 0) return 0;
  // A file of neither record layout ends the program with a message.
  if (!wtmpview::layoutOf(data + 1, std::min(size - 1, wtmpview::kLayout384.size))) return 0;
  fuzzsupport::writeBytes("wtmp", data + 1, size - 1);
  std::string file = fuzzsupport::dir() + "/wtmp";
  std::vector<std::string> args = {"wtmpview", "-f", file, "-T", "1000000000"};
  if (data[0] & 1) args.push_back("-5");
  if (data[0] & 2) args.insert(args.end(), {"-h", "Host.Example"});
  if (data[0] & 4) args.push_back("p1");
  std::vector<char *> argv;
  for (std::string &a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  optind = 0;  // getopt starts afresh
  wtmpview::wtmpviewMain(static_cast<int>(args.size()), argv.data());
  return 0;
}
