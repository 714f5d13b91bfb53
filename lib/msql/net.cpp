// Packet layer: the one packet buffer of the process and the framing of
// every message to and from the server.

#include <signal.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "msql.h"

namespace {

// 4 bytes of length header, the payload, and a NUL after a full payload.
char packetBuffer[4 + kMsqlPacketSize + 1];

volatile sig_atomic_t readTimedOut = 0;

// Replies are read through this buffer: one read takes what the socket
// holds, often a whole answer of many frames, and frames are taken from it.
// The bytes held belong to readFd's connection. They are dropped when
// another socket is read, when a request is sent (a whole reply has been
// read by then), after a failed read and by initNet, so nothing of one
// connection is ever read as part of another.
char readBuffer[16384];
size_t readStart = 0, readEnd = 0;
int readFd = -1;

constexpr long kSpinNanoseconds = 50000;

void dropBuffered() {
  readStart = readEnd = 0;
  readFd = -1;
}

// Reads what the socket holds into buf. An answer usually comes within
// microseconds, and a process put to sleep on the socket and woken again
// costs several times that: the socket is asked without waiting for a
// short while before the read that waits. Not a socket: read at once.
ssize_t awaitAnswer(int fd, char *buf, size_t size) {
  timespec start, now;
  clock_gettime(CLOCK_MONOTONIC, &start);
  for (;;) {
    ssize_t n = recv(fd, buf, size, MSG_DONTWAIT);
    if (n >= 0) return n;
    if ((errno != EAGAIN && errno != EWOULDBLOCK) || readTimedOut) break;
    clock_gettime(CLOCK_MONOTONIC, &now);
    if ((now.tv_sec - start.tv_sec) * 1000000000L + now.tv_nsec - start.tv_nsec > kSpinNanoseconds) break;
  }
  return read(fd, buf, size);
}

// Reads exactly size bytes, first from the buffer; a rest at least as large
// as the buffer is read straight into place. false when a read returns 0 or
// less (an interrupted read is repeated unless the time-out flag is set).
bool readFully(int fd, char *to, size_t size) {
  if (fd != readFd) {
    dropBuffered();
    readFd = fd;
  }
  size_t got = 0;
  while (got < size) {
    if (readStart < readEnd) {
      size_t n = std::min(size - got, readEnd - readStart);
      memcpy(to + got, readBuffer + readStart, n);
      readStart += n;
      got += n;
      continue;
    }
    bool direct = size - got >= sizeof readBuffer;
    char *into = direct ? to + got : readBuffer;
    size_t room = direct ? size - got : sizeof readBuffer;
    ssize_t n = awaitAnswer(fd, into, room);
    if (readTimedOut) return false;
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    if (direct) {
      got += static_cast<size_t>(n);
    } else {
      readStart = 0;
      readEnd = static_cast<size_t>(n);
    }
  }
  return true;
}

// readPkt's failure: -1, with the alarm cancelled and nothing kept of the
// connection's bytes.
int readFailed() {
  alarm(0);
  dropBuffered();
  return -1;
}

}  // namespace

const char *const msqlCommandNames[11] = {
    "???",        "Quit",    "Init DB",   "Query",      "DB List",    "Table List",
    "Field List", "Create DB", "Drop DB", "Reload ACL", "Shutdown",
};

char *msqlPacket = packetBuffer + 4;

void initNet() {
  msqlPacket = packetBuffer + 4;
  dropBuffered();
}

void intToBuf(char *buf, int value) {
  uint32_t v = static_cast<uint32_t>(value);
  for (int i = 0; i < 4; i++) buf[i] = static_cast<char>((v >> (8 * i)) & 0xff);
}

int bufToInt(const char *buf) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; i--) v = (v << 8) | static_cast<unsigned char>(buf[i]);
  return static_cast<int>(v);
}

void alarmHandler(int) {
  signal(SIGALRM, alarmHandler);
  readTimedOut = 1;
}

int writePkt(int fd) {
  size_t length = strnlen(msqlPacket, kMsqlPacketSize + 1);
  if (length > static_cast<size_t>(kMsqlPacketSize)) return -1;
  dropBuffered();
  intToBuf(packetBuffer, static_cast<int>(length));
  size_t total = length + 4, done = 0;
  while (done < total) {
    ssize_t n = write(fd, packetBuffer + done, total - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    done += static_cast<size_t>(n);
  }
  return 0;
}

int readPkt(int fd) {
  readTimedOut = 0;
  char header[4];
  if (!readFully(fd, header, sizeof header)) return readFailed();
  int length = bufToInt(header);
  if (length > kMsqlPacketSize) {
    fprintf(stderr, "Packet too large (%d)\n", length);
    return readFailed();
  }
  if (length <= 0) {
    msqlPacket[0] = '\0';
    return length;
  }
  if (!readFully(fd, msqlPacket, static_cast<size_t>(length))) return readFailed();
  msqlPacket[length] = '\0';
  return length;
}
