// benchtime REPORT PROGRAM [ARG...]: runs PROGRAM with its arguments (its
// standard streams are this program's), waits for it and writes one line to
// the file REPORT: "seconds S cpu C maxrss_kb K status X": the wall time from
// fork to exit, the processor time the program used (user and system), its
// peak resident set as the kernel counts it (the rusage of the waited child)
// and its exit status (128 + signal when a signal ended it). Ends with the
// program's exit status.

#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>

namespace {

double now() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

double secondsOf(const timeval &t) {
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 3) {
    fputs("usage: benchtime REPORT PROGRAM [ARG...]\n", stderr);
    return 1;
  }
  FILE *report = fopen(argv[1], "w");
  if (!report) {
    perror(argv[1]);
    return 1;
  }
  double start = now();
  pid_t child = fork();
  if (child < 0) {
    perror("fork");
    return 1;
  }
  if (child == 0) {
    fclose(report);
    execv(argv[2], argv + 2);
    perror(argv[2]);
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (wait4(child, &status, 0, &usage) != child) {
    perror("wait4");
    return 1;
  }
  double seconds = now() - start;
  int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  double cpu = secondsOf(usage.ru_utime) + secondsOf(usage.ru_stime);
  fprintf(report, "seconds %.3f cpu %.3f maxrss_kb %ld status %d\n", seconds, cpu, usage.ru_maxrss, code);
  if (fclose(report) != 0) {
    perror(argv[1]);
    return 1;
  }
  return code;
}
