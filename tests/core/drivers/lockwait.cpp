// Test driver: lockWait on a lock that this process holds, with sleep()
// replaced by a counter so that long waits take no time.
//
//   lockwait DIR NAME TRIES   prints "lockWait R slept S"
#include <cstdio>
#include <cstdlib>

#include "config.h"
#include "locks.h"

namespace {
unsigned long slept = 0;
}  // namespace

// Takes the place of the C library's sleep for this program.
extern "C" unsigned int sleep(unsigned int seconds) {
  slept += seconds;
  return 0;
}

int main(int argc, char **argv) {
  if (argc != 4) return 2;
  storeConfigString(&lockDir, argv[1], nullptr);
  if (lock(argv[2]) != 1) return 3;
  int taken = lockWait(argv[2], 1, static_cast<unsigned>(strtoul(argv[3], nullptr, 10)));
  printf("lockWait %d slept %lu\n", taken, slept);
  unlock(argv[2]);
  return 0;
}
