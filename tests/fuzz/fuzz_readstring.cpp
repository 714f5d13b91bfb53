// Fuzz entry point: the line reader and the main configuration reader.
//
// The input is a file. It is read into lines with the library-owned buffer
// and with callers' buffers of 2048 and 8 bytes; where no logical line comes
// near 2048 bytes, the first two must give the same lines. Then the same
// bytes are read as a main configuration file and the defaults derived.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "config.h"
#include "memory.h"

namespace {

// Every logical line of the bytes, read with a buffer of size bytes (0: the
// library's own).
std::vector<std::string> linesOf(const uint8_t *data, size_t size, size_t bufferSize) {
  std::vector<std::string> lines;
  FILE *f = fmemopen(const_cast<uint8_t *>(data), size, "r");
  if (!f) return lines;
  std::vector<char> buffer(bufferSize ? bufferSize : 1);
  while (char *line = readstring(bufferSize ? buffer.data() : nullptr, bufferSize, f)) lines.push_back(line);
  fclose(f);
  return lines;
}

// Every string setting back to unset, so that each input starts afresh.
void forgetSettings() {
  for (ConfigKey *row = configKeys; row->key; ++row) {
    if (row->type == CF_BOOLEAN || row->type == CF_INTEGER || row->type == CF_REAL) continue;
    char **setting = static_cast<char **>(row->target);
    *setting = static_cast<char *>(memRealloc(*setting, 0));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  std::vector<std::string> own = linesOf(data, size, 0);
  std::vector<std::string> cut = linesOf(data, size, 2048);
  linesOf(data, size, 8);
  size_t longest = 0;
  for (const std::string &line : own) {
    if (line.empty() || line.back() != '\n') abort();
    longest = std::max(longest, line.size());
  }
  if (longest < 2040 && own != cut) abort();

  forgetSettings();
  FILE *f = fmemopen(const_cast<uint8_t *>(data), size, "r");
  if (!f) return 0;
  std::string badLine;
  readConfigLines(f, &badLine);
  fclose(f);
  localeDefaults();
  checkConfig();
  return 0;
}
