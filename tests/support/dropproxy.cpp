#include "dropproxy.h"

#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace testsupport {

namespace {

int unixSocket(const std::string &path, bool listening) {
  sockaddr_un addr = {};
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path) return -1;
  memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  const sockaddr *sa = reinterpret_cast<const sockaddr *>(&addr);
  bool ok = listening ? (unlink(path.c_str()), bind(fd, sa, sizeof addr) == 0 && listen(fd, 64) == 0)
                      : connect(fd, sa, sizeof addr) == 0;
  if (!ok) {
    close(fd);
    return -1;
  }
  return fd;
}

bool writeAll(int fd, const char *data, size_t size) {
  while (size) {
    ssize_t n = write(fd, data, size);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// Length of the first whole frame in buf (header included), or 0.
size_t frameSize(const std::string &buf) {
  if (buf.size() < 4) return 0;
  const auto *b = reinterpret_cast<const unsigned char *>(buf.data());
  size_t size = 4 + (b[0] | b[1] << 8 | b[2] << 16 | static_cast<size_t>(b[3]) << 24);
  return buf.size() >= size ? size : 0;
}

// A query request ("3:...") whose statement changes rows.
bool isWrite(const std::string &frame) {
  if (frame.compare(4, 2, "3:") != 0) return false;
  size_t at = frame.find_first_not_of(" \t\n", 6);
  if (at == std::string::npos) return false;
  for (const char *verb : {"INSERT", "UPDATE", "DELETE"})
    if (strncasecmp(frame.c_str() + at, verb, 6) == 0) return true;
  return false;
}

}  // namespace

DropProxy::DropProxy(const std::string &socketPath, const std::string &serverSocket, int every, int limit)
    : path_(socketPath), server_(serverSocket), every_(every), limit_(limit) {}

DropProxy::~DropProxy() {
  if (stopPipe_[1] >= 0) {
    if (write(stopPipe_[1], "x", 1) != 1) perror("proxy stop");
  }
  if (acceptor_.joinable()) acceptor_.join();
  while (active_ > 0) usleep(1000);
  for (int fd : {listen_, stopPipe_[0], stopPipe_[1]})
    if (fd >= 0) close(fd);
  unlink(path_.c_str());
}

bool DropProxy::start() {
  if (pipe(stopPipe_) != 0) return false;
  listen_ = unixSocket(path_, true);
  if (listen_ < 0) {
    perror(("proxy on " + path_).c_str());
    return false;
  }
  acceptor_ = std::thread(&DropProxy::acceptLoop, this);
  return true;
}

void DropProxy::acceptLoop() {
  for (;;) {
    pollfd p[2] = {{listen_, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
    if (poll(p, 2, -1) < 0) continue;
    if (p[1].revents) return;
    int client = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    ++active_;
    std::thread(&DropProxy::relay, this, client).detach();
  }
}

void DropProxy::relay(int client) {
  // A server that is being started again is waited for, up to 10 s.
  int server = unixSocket(server_, false);
  for (int tries = 0; server < 0 && tries < 1000; ++tries) {
    usleep(10000);
    server = unixSocket(server_, false);
  }
  std::string fromClient, fromServer;
  bool dropAnswer = false;
  char buf[65536];
  while (server >= 0) {
    pollfd p[3] = {{client, POLLIN, 0}, {server, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
    if (poll(p, 3, -1) < 0) continue;
    if (p[2].revents) break;
    if (p[0].revents) {
      ssize_t n = read(client, buf, sizeof buf);
      if (n <= 0) break;
      fromClient.append(buf, static_cast<size_t>(n));
      while (size_t size = frameSize(fromClient)) {
        std::string frame = fromClient.substr(0, size);
        fromClient.erase(0, size);
        if (isWrite(frame)) {
          int nth = ++writes_;
          if (every_ > 0 && nth % every_ == 0 && (limit_ < 0 || dropped_ < limit_)) dropAnswer = true;
        }
        if (!writeAll(server, frame.data(), frame.size())) break;
      }
    }
    if (p[1].revents) {
      ssize_t n = read(server, buf, sizeof buf);
      if (n <= 0) break;
      if (!dropAnswer) {
        if (!writeAll(client, buf, static_cast<size_t>(n))) break;
        continue;
      }
      // The answer reached us whole: the statement is done. The program
      // never hears of it.
      fromServer.append(buf, static_cast<size_t>(n));
      if (frameSize(fromServer)) {
        ++dropped_;
        if (onDrop) onDrop();
        break;
      }
    }
  }
  if (server >= 0) close(server);
  close(client);
  --active_;
}

}  // namespace testsupport
