#include "process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace testsupport {

TempDir::TempDir(const char *tag) {
  const char *base = getenv("TMPDIR");
  std::string templ = std::string(base && *base ? base : "/tmp") + "/" + tag + "-XXXXXX";
  std::vector<char> buf(templ.begin(), templ.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) abort();
  path_ = buf.data();
  chmod(path_.c_str(), 0755);
}

TempDir::~TempDir() {
  if (getenv("KORVIX_KEEP_TMP")) return;
  std::error_code ec;
  fs::remove_all(path_, ec);
}

std::string TempDir::sub(const std::string &name) const { return path_ + "/" + name; }

void makeDirs(const std::string &path) {
  std::error_code ec;
  fs::create_directories(path, ec);
}

void writeFile(const std::string &path, const std::string &text) {
  fs::path p(path);
  if (p.has_parent_path()) makeDirs(p.parent_path().string());
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f << text;
}

std::string readFile(const std::string &path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) return "";
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

bool fileExists(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

// The build and source trees, fixed when the tests are built; the
// environment may point elsewhere.
std::string binPath(const std::string &name) {
  const char *dir = getenv("KORVIX_BIN");
  return std::string(dir ? dir : KORVIX_BIN_DIR) + "/" + name;
}

std::string sourcePath(const std::string &rel) {
  const char *dir = getenv("KORVIX_SOURCE");
  return std::string(dir ? dir : KORVIX_SOURCE_DIR) + "/" + rel;
}

std::string configFor(const std::string &home, const std::string &extra) {
  std::string text = "home-dir " + home + "\n" + "domain @node.example\n";
  makeDirs(home + "/locks");
  makeDirs(home + "/userbase");
  return text + extra;
}

namespace {

// Mounts the overlay (upper dir in $1, work dir in $2) and runs the rest.
const char kOverlayScript[] =
    "mount -t overlay overlay -o lowerdir=/etc,upperdir=\"$1\",workdir=\"$2\" /etc"
    " || exit 125; shift 2; exec \"$@\"";

void setNonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

}  // namespace

std::vector<std::string> etcOverlayCommand(const std::string &upper, const std::string &work) {
  return {"unshare", geteuid() == 0 ? "-m" : "-rm", "sh", "-c", kOverlayScript, "sh", upper, work};
}

pid_t spawnChild(const std::vector<std::string> &args, int *out) {
  int fds[2] = {-1, -1};
  if (out && pipe(fds) != 0) return -1;
  pid_t pid = fork();
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (out) {
      dup2(fds[1], 1);
      close(fds[0]);
      close(fds[1]);
    }
    std::vector<char *> argv;
    for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  if (out) {
    close(fds[1]);
    if (pid < 0) close(fds[0]);
    else *out = fds[0];
  }
  return pid;
}

int waitChild(pid_t pid, int seconds) {
  time_t deadline = time(nullptr) + seconds;
  for (;;) {
    int status = 0;
    pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (r < 0 && errno != EINTR) return -1;
    if (time(nullptr) > deadline) return -1;
    usleep(10000);
  }
}

int stopChild(pid_t pid, int seconds) {
  kill(pid, SIGTERM);
  int status = waitChild(pid, seconds);
  if (status < 0) {
    kill(pid, SIGKILL);
    waitChild(pid, seconds);
  }
  return status;
}

RunResult run(const RunSpec &spec) {
  RunResult result;
  std::string program = spec.program.find('/') == std::string::npos ? binPath(spec.program)
                                                                      : spec.program;
  TempDir over("overlay");
  std::vector<std::string> argv;
  bool overlay = spec.overlay || !spec.etc.empty();
  if (overlay) {
    makeDirs(over.sub("upper"));
    makeDirs(over.sub("work"));
    for (const auto &[name, text] : spec.etc) writeFile(over.sub("upper/" + name), text);
    argv = etcOverlayCommand(over.sub("upper"), over.sub("work"));
  }
  argv.push_back(program);
  argv.insert(argv.end(), spec.args.begin(), spec.args.end());

  std::vector<std::string> envStore = {"TZ=UTC", "PATH=/usr/sbin:/usr/bin:/sbin:/bin"};
  for (const auto &[k, v] : spec.env) {
    // A variable given replaces the one set above.
    std::erase_if(envStore, [&](const std::string &e) { return e.starts_with(k + "="); });
    envStore.push_back(k + "=" + v);
  }
  if (const char *asan = getenv("ASAN_OPTIONS")) envStore.push_back(std::string("ASAN_OPTIONS=") + asan);
  if (const char *ub = getenv("UBSAN_OPTIONS")) envStore.push_back(std::string("UBSAN_OPTIONS=") + ub);

  int in[2], out[2], err[2];
  if (pipe(in) || pipe(out) || pipe(err)) return result;
  pid_t pid = fork();
  if (pid < 0) return result;
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) close(fd);
    if (!spec.cwd.empty() && chdir(spec.cwd.c_str()) != 0) _exit(126);
    std::vector<char *> av, ev;
    for (auto &a : argv) av.push_back(a.data());
    av.push_back(nullptr);
    for (auto &e : envStore) ev.push_back(e.data());
    ev.push_back(nullptr);
    execvpe(av[0], av.data(), ev.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  signal(SIGPIPE, SIG_IGN);
  setNonBlocking(in[1]);
  size_t written = 0;
  if (spec.input.empty()) {
    close(in[1]);
    in[1] = -1;
  }
  bool outOpen = true, errOpen = true;
  time_t deadline = time(nullptr) + spec.timeoutSeconds;
  bool killed = false;
  while (outOpen || errOpen) {
    pollfd fds[3];
    int n = 0;
    int outIdx = -1, errIdx = -1, inIdx = -1;
    if (outOpen) { fds[n] = {out[0], POLLIN, 0}; outIdx = n++; }
    if (errOpen) { fds[n] = {err[0], POLLIN, 0}; errIdx = n++; }
    if (in[1] >= 0) { fds[n] = {in[1], POLLOUT, 0}; inIdx = n++; }
    int r = poll(fds, n, 200);
    if (r < 0 && errno != EINTR) break;
    if (!killed && time(nullptr) > deadline) {
      kill(pid, SIGKILL);
      killed = true;
    }
    if (r <= 0) continue;
    char buf[65536];
    auto drain = [&](int idx, int fd, std::string &to, bool &open) {
      if (idx < 0 || !(fds[idx].revents & (POLLIN | POLLHUP | POLLERR))) return;
      ssize_t k = read(fd, buf, sizeof buf);
      if (k > 0) to.append(buf, k);
      else if (k == 0 || errno != EAGAIN) open = false;
    };
    drain(outIdx, out[0], result.out, outOpen);
    drain(errIdx, err[0], result.err, errOpen);
    if (inIdx >= 0 && (fds[inIdx].revents & (POLLOUT | POLLERR | POLLHUP))) {
      ssize_t k = write(in[1], spec.input.data() + written, spec.input.size() - written);
      if (k > 0) written += k;
      if (k < 0 && errno != EAGAIN) written = spec.input.size();
      if (written >= spec.input.size()) {
        close(in[1]);
        in[1] = -1;
      }
    }
  }
  if (in[1] >= 0) close(in[1]);
  close(out[0]);
  close(err[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
  else if (WIFSIGNALED(status)) result.status = 128 + WTERMSIG(status);
  return result;
}

}  // namespace testsupport
