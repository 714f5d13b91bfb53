// The packet layer: byte order, framing, the payload limit.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <string>
#include <thread>

#include "msql.h"
#include "scripted_peer.h"

namespace {

struct SocketPair {
  int fd[2] = {-1, -1};
  SocketPair() { socketpair(AF_UNIX, SOCK_STREAM, 0, fd); }
  ~SocketPair() {
    for (int f : fd)
      if (f >= 0) close(f);
  }
  void send(const std::string &bytes) const { ASSERT_EQ(write(fd[1], bytes.data(), bytes.size()), (ssize_t)bytes.size()); }
};

}  // namespace

TEST(MsqlNet, IntegersTravelLeastSignificantByteFirst) {
  char buf[4];
  intToBuf(buf, 300);
  EXPECT_EQ(std::string(buf, 4), std::string("\x2c\x01\x00\x00", 4));
  EXPECT_EQ(bufToInt(buf), 300);
  intToBuf(buf, INT_MIN);
  EXPECT_EQ(std::string(buf, 4), std::string("\x00\x00\x00\x80", 4));
  EXPECT_EQ(bufToInt(buf), INT_MIN);
  EXPECT_EQ(bufToInt("\xff\xff\xff\xff"), -1);
  EXPECT_EQ(bufToInt("\x00\x80\x00\x00"), 32768);
}

TEST(MsqlNet, WritePktSendsTheTextAsOneFrame) {
  initNet();
  SocketPair p;
  std::string text(300, 'q');
  memcpy(msqlPacket, text.c_str(), text.size() + 1);
  ASSERT_EQ(writePkt(p.fd[0]), 0);
  std::string got(304, '\0');
  ASSERT_EQ(read(p.fd[1], got.data(), got.size()), 304);
  EXPECT_EQ(got, testpeer::frameOf(text));
  EXPECT_EQ(got.substr(0, 4), std::string("\x2c\x01\x00\x00", 4));
}

TEST(MsqlNet, ReadPktReassemblesSplitFrames) {
  initNet();
  SocketPair p;
  std::string frame = testpeer::frameOf("0:6:split greeting\n");
  std::thread writer([&] {
    size_t from = 0;
    for (size_t to : {size_t(1), size_t(3), size_t(6), size_t(12), frame.size()}) {
      p.send(frame.substr(from, to - from));
      from = to;
      usleep(20000);
    }
  });
  int n = readPkt(p.fd[0]);
  writer.join();
  EXPECT_EQ(n, 19);
  EXPECT_STREQ(msqlPacket, "0:6:split greeting\n");
}

TEST(MsqlNet, ReadPktAcceptsFramesUpToTheLimitOnly) {
  initNet();
  SocketPair p;
  std::string full(kMsqlPacketSize, 'x');
  std::thread writer([&] { p.send(testpeer::frameOf(full)); });
  EXPECT_EQ(readPkt(p.fd[0]), kMsqlPacketSize);
  writer.join();
  EXPECT_EQ(msqlPacket[kMsqlPacketSize], '\0');
  EXPECT_EQ(std::string(msqlPacket), full);

  p.send(std::string("\x01\x80\x00\x00", 4) + "some of it");
  testing::internal::CaptureStderr();
  EXPECT_EQ(readPkt(p.fd[0]), -1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Packet too large (32769)\n");
}

TEST(MsqlNet, ReadPktReportsEmptyFramesAndShortReads) {
  initNet();
  {
    SocketPair p;
    p.send(std::string(4, '\0'));
    EXPECT_EQ(readPkt(p.fd[0]), 0);
    EXPECT_STREQ(msqlPacket, "");
  }
  {
    SocketPair p;
    p.send(std::string("\x0a\x00\x00\x00", 4) + "short");
    close(p.fd[1]);
    p.fd[1] = -1;
    EXPECT_EQ(readPkt(p.fd[0]), -1);
  }
  {
    SocketPair p;
    p.send(std::string("\x0a\x00", 2));
    close(p.fd[1]);
    p.fd[1] = -1;
    EXPECT_EQ(readPkt(p.fd[0]), -1);
  }
}
