// Fuzz entry point: a formula evaluated against a table of counters that
// ends in the wildcard entry, as tallymill registers it, and the built-ins.
#include <cstdint>
#include <string>

#include "formula.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const Symbol counters[] = {
      {"mail_in", SYM_VALUE, 1024.5, nullptr, nullptr, nullptr},
      {"dialup_min", SYM_VALUE, 90, nullptr, nullptr, nullptr},
      {"price", SYM_VALUE, 2.5, nullptr, nullptr, nullptr},
      {"*", SYM_VALUE, 0, nullptr, nullptr, nullptr},
  };
  std::string text(reinterpret_cast<const char *>(data), size);
  setExprTables(counters, nullptr);
  double result;
  evaluate(&result, text.c_str());
  setExprTables(nullptr);
  return 0;
}
