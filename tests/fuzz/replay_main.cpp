// Replays files through a fuzz entry point, for the test suite: every
// argument is a file or a folder of files (taken in name order), each file's
// bytes one input. Fails when an input makes the process grow beyond
// kRssLimitMb, as the fuzzer's memory limit would. Prints how many inputs ran.
#include <dirent.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace {

// The memory limit of `make fuzz`.
constexpr long kRssLimitMb = 512;

std::vector<std::string> inputsOf(const std::string &path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return {};
  if (!S_ISDIR(st.st_mode)) return {path};
  std::vector<std::string> files;
  if (DIR *dir = opendir(path.c_str())) {
    while (dirent *e = readdir(dir))
      if (e->d_name[0] != '.') files.push_back(path + "/" + e->d_name);
    closedir(dir);
  }
  std::sort(files.begin(), files.end());
  return files;
}

long peakRssMb() {
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss / 1024;
}

}  // namespace

int main(int argc, char **argv) {
  int count = 0;
  for (int i = 1; i < argc; ++i) {
    for (const std::string &file : inputsOf(argv[i])) {
      std::ifstream in(file, std::ios::binary);
      std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
      ++count;
      if (peakRssMb() > kRssLimitMb) {
        fprintf(stderr, "%s: the process grew to %ld MB (limit %ld MB)\n", file.c_str(), peakRssMb(), kRssLimitMb);
        return 1;
      }
    }
  }
  printf("%d inputs replayed\n", count);
  return count > 0 ? 0 : 1;
}
