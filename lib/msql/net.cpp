// Packet layer: the one packet buffer of the process and the framing of
// every message to and from the server.

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "msql.h"

namespace {

// 4 bytes of length header, the payload, and a NUL after a full payload.
char packetBuffer[4 + kMsqlPacketSize + 1];

volatile sig_atomic_t readTimedOut = 0;

// Reads exactly size bytes. false when a read returns 0 or less (an
// interrupted read is repeated unless the time-out flag is set).
bool readFully(int fd, char *to, size_t size) {
  size_t got = 0;
  while (got < size) {
    ssize_t n = read(fd, to + got, size - got);
    if (readTimedOut) return false;
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    got += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

const char *const msqlCommandNames[11] = {
    "???",        "Quit",    "Init DB",   "Query",      "DB List",    "Table List",
    "Field List", "Create DB", "Drop DB", "Reload ACL", "Shutdown",
};

char *msqlPacket = packetBuffer + 4;

void initNet() { msqlPacket = packetBuffer + 4; }

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
  if (!readFully(fd, header, sizeof header)) {
    alarm(0);
    return -1;
  }
  int length = bufToInt(header);
  if (length > kMsqlPacketSize) {
    fprintf(stderr, "Packet too large (%d)\n", length);
    alarm(0);
    return -1;
  }
  if (length <= 0) {
    msqlPacket[0] = '\0';
    return length;
  }
  if (!readFully(fd, msqlPacket, static_cast<size_t>(length))) {
    alarm(0);
    return -1;
  }
  msqlPacket[length] = '\0';
  return length;
}
