// A tiny scripted server for the client's tests: it listens on a UNIX
// socket, takes one connection and plays a script of raw sends, frames,
// pauses and reads, so that tests can give the client replies the stand-in
// server never sends (split frames, over-long or empty frames, bad rows).
#pragma once

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace testpeer {

// A wire frame: 4-byte little-endian length and the payload.
inline std::string frameOf(const std::string &payload) {
  uint32_t n = static_cast<uint32_t>(payload.size());
  std::string f;
  for (int i = 0; i < 4; i++) f += static_cast<char>((n >> (8 * i)) & 0xff);
  return f + payload;
}

class ScriptedPeer {
 public:
  explicit ScriptedPeer(const std::string &path) : path_(path) {
    listener_ = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr;
    memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    memcpy(addr.sun_path, path.data(), path.size());
    unlink(path.c_str());
    if (bind(listener_, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 || listen(listener_, 4) != 0) {
      close(listener_);
      listener_ = -1;
    }
  }
  ~ScriptedPeer() {
    join();
    if (listener_ >= 0) close(listener_);
    unlink(path_.c_str());
  }
  ScriptedPeer(const ScriptedPeer &) = delete;
  ScriptedPeer &operator=(const ScriptedPeer &) = delete;

  bool listening() const { return listener_ >= 0; }

  // Script steps, played in order once start() is called.
  ScriptedPeer &raw(const std::string &bytes) { return add({Step::Send, bytes, 0}); }
  ScriptedPeer &frame(const std::string &payload) { return raw(frameOf(payload)); }
  ScriptedPeer &pause(int ms) { return add({Step::Pause, "", ms}); }
  // Reads one frame from the client into received().
  ScriptedPeer &expect() { return add({Step::Expect, "", 0}); }
  // Reads until the client closes; closedByClient() tells whether it did.
  ScriptedPeer &expectClose() { return add({Step::ExpectClose, "", 0}); }
  // The greeting with the given payload, the login line and its reply.
  ScriptedPeer &greet(const std::string &greeting = "0:6:scripted peer\n") {
    return frame(greeting).expect().frame("0:\n");
  }

  void start() {
    thread_ = std::thread([this] { play(); });
  }
  void join() {
    if (thread_.joinable()) thread_.join();
  }
  // Frames read from the client (payloads), and the raw bytes of them all.
  const std::vector<std::string> &received() const { return received_; }
  const std::string &rawReceived() const { return raw_; }
  bool closedByClient() const { return closedByClient_; }

 private:
  struct Step {
    enum Kind { Send, Pause, Expect, ExpectClose } kind;
    std::string bytes;
    int ms;
  };
  ScriptedPeer &add(Step s) {
    steps_.push_back(s);
    return *this;
  }
  // Waits up to 5 seconds for fd to become readable.
  static bool readable(int fd) {
    pollfd p = {fd, POLLIN, 0};
    return poll(&p, 1, 5000) == 1;
  }
  bool readBytes(int fd, char *to, size_t n) {
    size_t got = 0;
    while (got < n) {
      if (!readable(fd)) return false;
      ssize_t r = read(fd, to + got, n - got);
      if (r <= 0) return false;
      got += static_cast<size_t>(r);
    }
    raw_.append(to, n);
    return true;
  }
  void play() {
    if (listener_ < 0 || !readable(listener_)) return;
    int fd = accept(listener_, nullptr, nullptr);
    if (fd < 0) return;
    for (const Step &s : steps_) {
      if (s.kind == Step::Send) {
        if (send(fd, s.bytes.data(), s.bytes.size(), MSG_NOSIGNAL) < 0) {
          // The client hung up before the script was through.
          closedByClient_ = errno == EPIPE || errno == ECONNRESET;
          break;
        }
      } else if (s.kind == Step::Pause) {
        usleep(static_cast<useconds_t>(s.ms) * 1000);
      } else if (s.kind == Step::Expect) {
        unsigned char h[4];
        if (!readBytes(fd, reinterpret_cast<char *>(h), 4)) break;
        uint32_t n = h[0] | (h[1] << 8) | (h[2] << 16) | (static_cast<uint32_t>(h[3]) << 24);
        std::string payload(n, '\0');
        if (n > 1 << 20 || !readBytes(fd, payload.data(), n)) break;
        received_.push_back(payload);
      } else {
        char buf[4096];
        for (;;) {
          if (!readable(fd)) break;
          ssize_t r = read(fd, buf, sizeof buf);
          if (r <= 0) {
            closedByClient_ = true;
            break;
          }
        }
      }
    }
    close(fd);
  }

  std::string path_;
  int listener_ = -1;
  std::vector<Step> steps_;
  std::thread thread_;
  std::vector<std::string> received_;
  std::string raw_;
  bool closedByClient_ = false;
};

}  // namespace testpeer
