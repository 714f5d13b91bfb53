// Test driver: many processes taking one lock at once.
//
//   lockstress count PROCS ROUNDS NAME FILE
//     PROCS children each take NAME ROUNDS times, add one to the number in
//     FILE and release it; exit status 0 when every child finished.
//   lockstress stale PROCS ROUNDS NAME
//     ROUNDS times: a lock file of an ended process is left, then PROCS
//     children started together each call lock() once and hold what they
//     got until all have tried; prints "winners N" per round.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core.h"

namespace {

int number(const char *text) { return static_cast<int>(strtol(text, nullptr, 10)); }

int waitAll(int procs) {
  int failed = 0;
  for (int i = 0; i < procs; ++i) {
    int status = 0;
    if (wait(&status) < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) ++failed;
  }
  return failed;
}

void addOne(const char *file) {
  long value = 0;
  if (FILE *in = fopen(file, "r")) {
    if (fscanf(in, "%ld", &value) != 1) value = 0;
    fclose(in);
  }
  FILE *out = fopen(file, "w");
  if (!out) _exit(3);
  fprintf(out, "%ld\n", value + 1);
  fclose(out);
}

int count(int procs, int rounds, const char *name, const char *file) {
  for (int p = 0; p < procs; ++p) {
    if (fork() == 0) {
      for (int r = 0; r < rounds; ++r) {
        while (!lock(name)) usleep(50);
        addOne(file);
        if (!unlock(name)) _exit(2);
      }
      _exit(0);
    }
  }
  return waitAll(procs) == 0 ? 0 : 1;
}

// A process id that has just ended.
pid_t deadPid() {
  pid_t pid = fork();
  if (pid == 0) _exit(0);
  waitpid(pid, nullptr, 0);
  return pid;
}

int stale(int procs, int rounds, const char *name) {
  int bad = 0;
  for (int r = 0; r < rounds; ++r) {
    FILE *f = fopen(lockName(name), "w");
    if (!f) return 4;
    fprintf(f, "%10lu\n", static_cast<unsigned long>(deadPid()));
    fclose(f);

    int start[2], result[2], release[2];
    if (pipe(start) || pipe(result) || pipe(release)) return 4;
    for (int p = 0; p < procs; ++p) {
      if (fork() == 0) {
        close(start[1]);
        close(release[1]);
        char c;
        while (read(start[0], &c, 1) > 0) {
        }
        c = lock(name) ? '1' : '0';
        if (write(result[1], &c, 1) != 1) _exit(5);
        while (read(release[0], &c, 1) > 0) {
        }
        _exit(0);
      }
    }
    close(start[0]);
    close(result[1]);
    close(release[0]);
    close(start[1]);  // all children go
    int winners = 0;
    for (int p = 0; p < procs; ++p) {
      char c = '0';
      if (read(result[0], &c, 1) != 1) break;
      winners += c == '1';
    }
    close(result[0]);
    close(release[1]);  // all children end
    waitAll(procs);
    unlock(name);
    printf("winners %d\n", winners);
    bad += winners != 1;
  }
  return bad == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv) {
  initConfig();
  if (argc == 6 && strcmp(argv[1], "count") == 0)
    return count(number(argv[2]), number(argv[3]), argv[4], argv[5]);
  if (argc == 5 && strcmp(argv[1], "stale") == 0)
    return stale(number(argv[2]), number(argv[3]), argv[4]);
  fprintf(stderr, "usage: lockstress count PROCS ROUNDS NAME FILE | stale PROCS ROUNDS NAME\n");
  return 2;
}
