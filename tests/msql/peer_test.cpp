// The client against a scripted peer: the replies a real server may send
// but the stand-in never does, and the malformed ones.
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "msql.h"
#include "process.h"
#include "scripted_peer.h"

using testpeer::ScriptedPeer;

namespace {

// A row packet of the given columns (no NULLs).
std::string rowOf(const std::vector<std::string> &columns) {
  std::string packet;
  for (const std::string &c : columns) packet += std::to_string(c.size()) + ":" + c;
  return packet;
}

class MsqlPeer : public testing::Test {
 protected:
  void SetUp() override {
    path_ = tmp_.sub("peer.sock");
    setenv("MSQL_UNIX_PORT", path_.c_str(), 1);
  }
  // A fresh peer on the test's socket (the previous one is finished first).
  ScriptedPeer &peer() {
    peer_.reset();
    peer_ = std::make_unique<ScriptedPeer>(path_);
    EXPECT_TRUE(peer_->listening());
    return *peer_;
  }
  // Plays the script and connects to it.
  int connectTo(ScriptedPeer &p) {
    p.start();
    return msqlConnect(nullptr);
  }

  testsupport::TempDir tmp_{"msqlpeer"};
  std::string path_;
  std::unique_ptr<ScriptedPeer> peer_;
};

}  // namespace

TEST_F(MsqlPeer, ConnectReadsTheGreetingAndSendsTheLoginName) {
  ScriptedPeer &p = peer().greet("0:6:ready\n").expect().expectClose();
  int sock = connectTo(p);
  ASSERT_GE(sock, 0) << msqlErrMsg;
  EXPECT_STREQ(msqlGetServerInfo(), "ready");
  EXPECT_STREQ(msqlGetHostInfo(), "Localhost via UNIX socket");
  EXPECT_EQ(msqlGetProtoInfo(), 6);
  EXPECT_STREQ(msqlErrMsg, "");
  msqlClose(sock);
  p.join();
  ASSERT_EQ(p.received().size(), 2u);
  EXPECT_EQ(p.received()[0], std::string(getpwuid(geteuid())->pw_name) + "\n");
  EXPECT_EQ(p.received()[1], "1:\n");
  EXPECT_TRUE(p.closedByClient());
}

TEST_F(MsqlPeer, BadGreetingsFailTheConnect) {
  struct Case {
    std::string reply;  // raw bytes of the greeting
    const char *error;
    bool waitsForClose = true;  // false: the peer hangs up at once
  } cases[] = {
      {testpeer::frameOf("0:5:x"), "Protocol mismatch. Server Version = 5 Client Version = 6"},
      {testpeer::frameOf("hello"), "Bad packet received from server"},
      {testpeer::frameOf("-1:Go away\n"), "Go away"},
      {testpeer::frameOf("-1"), "Unknown MSQL error"},
      {testpeer::frameOf(""), "MSQL server has gone away"},
      {std::string("\x01\x80\x00\x00", 4), "MSQL server has gone away"},
      {"", "MSQL server has gone away", false},
  };
  for (const Case &c : cases) {
    ScriptedPeer &p = peer().raw(c.reply);
    if (c.waitsForClose) p.expectClose();
    testing::internal::CaptureStderr();
    EXPECT_EQ(connectTo(p), -1) << c.error;
    testing::internal::GetCapturedStderr();
    EXPECT_STREQ(msqlErrMsg, c.error);
    p.join();
    EXPECT_EQ(p.closedByClient(), c.waitsForClose) << c.error;
    EXPECT_TRUE(p.received().empty()) << "login sent after " << c.error;
  }
  // A refused login name.
  ScriptedPeer &p = peer().frame("0:6:x\n").expect().frame("-1:Access denied\n").expectClose();
  EXPECT_EQ(connectTo(p), -1);
  EXPECT_STREQ(msqlErrMsg, "Access denied");
}

TEST_F(MsqlPeer, GreetingWithoutTextStillConnects) {
  ScriptedPeer &p = peer().greet("0:6");
  int sock = connectTo(p);
  ASSERT_GE(sock, 0) << msqlErrMsg;
  EXPECT_STREQ(msqlGetServerInfo(), "Error in server handshake!");
  msqlClose(sock);
}

TEST_F(MsqlPeer, LongServerTextsAreCutToTheirBuffers) {
  std::string greeting(200, 'g');
  ScriptedPeer &p = peer().greet("0:6:" + greeting + "\n").expect().frame("-1:" + std::string(300, 'e') + "\n");
  int sock = connectTo(p);
  ASSERT_GE(sock, 0) << msqlErrMsg;
  EXPECT_EQ(std::string(msqlGetServerInfo()), greeting.substr(0, 79));
  EXPECT_EQ(msqlSelectDB(sock, "x"), -1);
  EXPECT_EQ(std::string(msqlErrMsg), std::string(159, 'e'));
  msqlClose(sock);
}

TEST_F(MsqlPeer, SplitRepliesAreReassembled) {
  std::string greeting = testpeer::frameOf("0:6:split\n");
  std::string answer = testpeer::frameOf("1:1\n") + testpeer::frameOf("5:hello") + testpeer::frameOf("-100:\n") +
                       testpeer::frameOf(rowOf({"t", "c", "2", "5", "N", "N"})) + testpeer::frameOf("-100:\n");
  ScriptedPeer &p = peer()
                        .raw(greeting.substr(0, 2)).pause(30).raw(greeting.substr(2, 5)).pause(30)
                        .raw(greeting.substr(7)).expect().frame("0:\n").expect();
  for (size_t at = 0; at < answer.size(); at += 7) p.raw(answer.substr(at, 7)).pause(5);
  int sock = connectTo(p);
  ASSERT_GE(sock, 0) << msqlErrMsg;
  EXPECT_STREQ(msqlGetServerInfo(), "split");
  ASSERT_EQ(msqlQuery(sock, "SELECT c FROM t"), 0) << msqlErrMsg;
  MsqlResult *r = msqlStoreResult();
  ASSERT_NE(r, nullptr);
  MsqlRow row = msqlFetchRow(r);
  ASSERT_NE(row, nullptr);
  EXPECT_STREQ(row[0], "hello");
  msqlFreeResult(r);
  msqlClose(sock);
}

TEST_F(MsqlPeer, QueryAnswerBecomesRowsAndFields) {
  ScriptedPeer &p = peer()
                        .greet()
                        .expect()
                        .frame("1:3\n")
                        .frame("2:ab-2:5:hello")
                        .frame("0:0:3:x\xfey")
                        .frame("-100:\n")
                        .frame(rowOf({"t", "a", "2", "10", "Y", "N"}))
                        .frame(rowOf({"t", "b", "1", "4", "N", "Yes"}))
                        .frame(rowOf({"t", "c", "3", "8", "YN", "N"}))
                        .frame("-100:\n");
  int sock = connectTo(p);
  ASSERT_GE(sock, 0) << msqlErrMsg;
  ASSERT_EQ(msqlQuery(sock, "SELECT a,b,c FROM t"), 0) << msqlErrMsg;
  MsqlResult *r = msqlStoreResult();
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(msqlStoreResult(), nullptr);  // taken
  EXPECT_EQ(r->numRows, 2);
  EXPECT_EQ(r->numFields, 3);
  MsqlRow row = msqlFetchRow(r);
  ASSERT_NE(row, nullptr);
  EXPECT_STREQ(row[0], "ab");
  EXPECT_EQ(row[1], nullptr);
  EXPECT_STREQ(row[2], "hello");
  row = msqlFetchRow(r);
  ASSERT_NE(row, nullptr);
  EXPECT_STREQ(row[0], "");
  EXPECT_STREQ(row[1], "");
  EXPECT_STREQ(row[2], "x\xfey");
  EXPECT_EQ(msqlFetchRow(r), nullptr);
  msqlDataSeek(r, 1);
  EXPECT_STREQ(msqlFetchRow(r)[2], "x\xfey");
  msqlDataSeek(r, 5);
  EXPECT_EQ(msqlFetchRow(r), nullptr);

  MsqlField *f = msqlFetchField(r);
  ASSERT_NE(f, nullptr);
  EXPECT_STREQ(f->table, "t");
  EXPECT_STREQ(f->name, "a");
  EXPECT_EQ(f->type, 2);
  EXPECT_EQ(f->length, 10);
  EXPECT_EQ(f->flags, kMsqlNotNull);
  f = msqlFetchField(r);
  EXPECT_EQ(f->type, 1);
  EXPECT_EQ(f->flags, kMsqlPrimaryKey);
  f = msqlFetchField(r);
  EXPECT_STREQ(f->name, "c");
  EXPECT_EQ(f->flags, kMsqlNotNull);
  EXPECT_EQ(msqlFetchField(r), nullptr);
  msqlFieldSeek(r, 1);
  EXPECT_STREQ(msqlFetchField(r)->name, "b");
  msqlFieldSeek(r, 3);
  EXPECT_EQ(msqlFetchField(r), nullptr);
  msqlFreeResult(r);
  msqlClose(sock);
  p.join();
  EXPECT_EQ(p.received()[1], "3:SELECT a,b,c FROM t\n");
}

TEST_F(MsqlPeer, AnswersWithoutRowsOrColumns) {
  std::string field = rowOf({"t", "a", "2", "10", "N", "N"});
  ScriptedPeer &p = peer()
                        .greet()
                        // A select without rows: a handle, empty.
                        .expect().frame("1:1\n").frame("-100:\n").frame(field).frame("-100:\n")
                        // Statements without a column count: nothing further is read.
                        .expect().frame("1\n")
                        .expect().frame("0:0\n")
                        // Two selects; the second replaces the first's rows.
                        .expect().frame("1:1\n").frame("3:one").frame("-100:\n").frame(field).frame("-100:\n")
                        .expect().frame("1:1\n").frame("3:two").frame("-100:\n").frame(field).frame("-100:\n")
                        // An error in place of a row.
                        .expect().frame("1:1\n").frame("3:one").frame("-1:Broken down\n")
                        .expect().frame("2\n");
  int sock = connectTo(p);
  ASSERT_GE(sock, 0) << msqlErrMsg;
  ASSERT_EQ(msqlQuery(sock, "SELECT a FROM t WHERE 0"), 0);
  MsqlResult *r = msqlStoreResult();
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->numRows, 0);
  EXPECT_EQ(r->numFields, 1);
  EXPECT_EQ(msqlFetchRow(r), nullptr);
  msqlFreeResult(r);

  EXPECT_EQ(msqlQuery(sock, "DELETE FROM t"), 0);
  EXPECT_EQ(msqlStoreResult(), nullptr);
  EXPECT_EQ(msqlQuery(sock, "DELETE FROM t"), 0);
  EXPECT_EQ(msqlStoreResult(), nullptr);

  ASSERT_EQ(msqlQuery(sock, "SELECT a FROM t"), 0);
  ASSERT_EQ(msqlQuery(sock, "SELECT a FROM t"), 0);
  r = msqlStoreResult();
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->numRows, 1);
  EXPECT_STREQ(msqlFetchRow(r)[0], "two");
  msqlFreeResult(r);
  EXPECT_EQ(msqlStoreResult(), nullptr);

  EXPECT_EQ(msqlQuery(sock, "SELECT a FROM t"), -1);
  EXPECT_STREQ(msqlErrMsg, "Broken down");
  EXPECT_EQ(msqlStoreResult(), nullptr);
  // The connection stays usable after a server error.
  EXPECT_EQ(msqlQuery(sock, "DELETE FROM t"), 0);
  EXPECT_STREQ(msqlErrMsg, "");
  msqlClose(sock);
}

TEST_F(MsqlPeer, FramesAtThePacketLimit) {
  // A row packet of exactly 32768 bytes: "32762:" and 32762 bytes.
  std::string big(32762, 'b');
  std::string field = rowOf({"t", "a", "2", "40000", "N", "N"});
  ScriptedPeer &p = peer()
                        .greet()
                        .expect().frame("1:1\n").frame("32762:" + big).frame("-100:\n").frame(field).frame("-100:\n")
                        .expect().frame("1:1\n").frame("32763:" + big + "b")
                        .expectClose();
  int sock = connectTo(p);
  ASSERT_GE(sock, 0) << msqlErrMsg;
  ASSERT_EQ(msqlQuery(sock, "SELECT a FROM t"), 0) << msqlErrMsg;
  MsqlResult *r = msqlStoreResult();
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(std::string(msqlFetchRow(r)[0]), big);
  msqlFreeResult(r);

  testing::internal::CaptureStderr();
  EXPECT_EQ(msqlQuery(sock, "SELECT a FROM t"), -1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Packet too large (32769)\n");
  EXPECT_STREQ(msqlErrMsg, "MSQL server has gone away");
  EXPECT_EQ(msqlStoreResult(), nullptr);
  p.join();
  EXPECT_TRUE(p.closedByClient());
}

TEST_F(MsqlPeer, MalformedRowsAreFailedReads) {
  std::string nullField = "1:t1:a-2:2:10" + std::string("1:N1:N");
  struct Case {
    const char *what;
    std::string columns;  // column-count reply
    std::string row;      // the bad packet
    bool asField;         // sent in place of a field row
  } cases[] = {
      {"too few columns", "1:3\n", "2:ab", false},
      {"length past the end", "1:1\n", "5:ab", false},
      {"length without ':'", "1:1\n", "2ab", false},
      {"negative length", "1:1\n", "-3:abc", false},
      {"no length", "1:1\n", ":ab", false},
      {"null column in a field row", "1:1\n", nullField, true},
      {"more columns than a packet holds", "1:2000000000\n", "1:a", false},
  };
  for (const Case &c : cases) {
    ScriptedPeer &p = peer().greet().expect().frame(c.columns);
    if (c.asField) p.frame("1:a").frame("-100:\n");
    p.frame(c.row).frame("-100:\n").expectClose();
    int sock = connectTo(p);
    ASSERT_GE(sock, 0) << msqlErrMsg;
    EXPECT_EQ(msqlQuery(sock, "SELECT a FROM t"), -1) << c.what;
    EXPECT_STREQ(msqlErrMsg, "MSQL server has gone away") << c.what;
    EXPECT_EQ(msqlStoreResult(), nullptr) << c.what;
    p.join();
    EXPECT_TRUE(p.closedByClient()) << c.what;
  }
}

TEST_F(MsqlPeer, QueryTooLongForThePacketIsNotSent) {
  // "3:" + query + "\n" must fit into 32768 bytes.
  std::string fits(32765, 'f');
  ScriptedPeer &p = peer().greet().expect().frame("1\n").expect().frame("1\n");
  int sock = connectTo(p);
  ASSERT_GE(sock, 0) << msqlErrMsg;
  EXPECT_EQ(msqlQuery(sock, fits.c_str()), 0) << msqlErrMsg;
  EXPECT_EQ(msqlQuery(sock, (fits + "x").c_str()), -1);
  EXPECT_NE(std::string(msqlErrMsg).find("too long"), std::string::npos) << msqlErrMsg;
  EXPECT_EQ(msqlQuery(sock, "DELETE FROM t"), 0) << msqlErrMsg;
  msqlClose(sock);
  p.join();
  ASSERT_EQ(p.received().size(), 3u);
  EXPECT_EQ(p.received()[1], "3:" + fits + "\n");
  EXPECT_EQ(p.received()[2], "3:DELETE FROM t\n");
}

TEST_F(MsqlPeer, DroppedConnectionDoesNotEndTheProcess) {
  signal(SIGPIPE, SIG_DFL);
  ScriptedPeer &p = peer().greet();
  int sock = connectTo(p);
  ASSERT_GE(sock, 0) << msqlErrMsg;
  p.join();  // the peer has closed its end
  // The write meets a closed connection (SIGPIPE); the read then fails.
  EXPECT_EQ(msqlQuery(sock, "SELECT a FROM t"), -1);
  EXPECT_STREQ(msqlErrMsg, "MSQL server has gone away");
  struct sigaction now;
  sigaction(SIGPIPE, nullptr, &now);
  EXPECT_EQ(now.sa_handler, SIG_DFL);

  // Closing puts back the handler that was in force before the connect.
  signal(SIGPIPE, SIG_IGN);
  ScriptedPeer &q = peer().greet().expect();
  sock = connectTo(q);
  ASSERT_GE(sock, 0) << msqlErrMsg;
  sigaction(SIGPIPE, nullptr, &now);
  EXPECT_NE(now.sa_handler, SIG_IGN);
  msqlClose(sock);
  sigaction(SIGPIPE, nullptr, &now);
  EXPECT_EQ(now.sa_handler, SIG_IGN);
}

TEST_F(MsqlPeer, LongAnswersAreReadWhole) {
  struct Case {
    const char *what;
    int rows;
    size_t rowSize;  // bytes of the one column
    size_t piece;    // the peer sends the answer in pieces of this many bytes; 0: at once
    bool lost;       // the peer hangs up halfway through the answer
  } cases[] = {
      {"many small rows", 3000, 8, 0, false},
      {"rows across the ends of the read buffer, in pieces", 400, 250, 4099, false},
      {"lost halfway", 400, 250, 0, true},
      {"rows larger than the read buffer", 3, 20000, 5000, false},
  };
  const std::string field = testpeer::frameOf(rowOf({"t", "a", "2", "40000", "N", "N"}));
  // The column of every row the select answers, or its error; a result
  // handed out after an error shows as rows after it.
  auto column = [](int sock) {
    std::vector<std::string> got;
    if (msqlQuery(sock, "SELECT a FROM t") != 0) got.push_back(std::string("<error> ") + msqlErrMsg);
    if (MsqlResult *r = msqlStoreResult()) {
      while (MsqlRow row = msqlFetchRow(r)) got.push_back(row[0]);
      EXPECT_EQ(size_t(r->numRows), got.size());
      msqlFreeResult(r);
    }
    return got;
  };
  for (const Case &c : cases) {
    std::vector<std::string> texts;
    std::string answer = testpeer::frameOf("1:1\n");
    for (int i = 0; i < c.rows; ++i) {
      std::string text = std::to_string(i) + ":";
      text.resize(c.rowSize, static_cast<char>('a' + i % 26));
      texts.push_back(text);
      answer += testpeer::frameOf(rowOf({text}));
    }
    answer += testpeer::frameOf("-100:\n") + field + testpeer::frameOf("-100:\n");
    if (c.lost) answer.resize(answer.size() / 2);
    ScriptedPeer &p = peer().greet().expect();
    for (size_t at = 0; at < answer.size(); at += c.piece ? c.piece : answer.size())
      p.raw(answer.substr(at, c.piece ? c.piece : answer.size())).pause(1);
    // The next answer on the connection is read as it is.
    if (!c.lost) p.expect().frame("1:1\n").frame("4:next").frame("-100:\n").raw(field).frame("-100:\n");
    int sock = connectTo(p);
    ASSERT_GE(sock, 0) << c.what << ": " << msqlErrMsg;
    EXPECT_EQ(column(sock), c.lost ? std::vector<std::string>{"<error> MSQL server has gone away"} : texts) << c.what;
    if (!c.lost) {
      EXPECT_EQ(column(sock), std::vector<std::string>{"next"}) << c.what;
    }
    msqlClose(sock);
  }
}
