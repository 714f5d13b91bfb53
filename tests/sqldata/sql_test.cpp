// The connection module: quoting and the calls made while not connected in
// process; connecting, retrying and reconnecting end to end against the
// stand-in server.

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "config.h"
#include "dropproxy.h"
#include "sqldata.h"
#include "sqlnode.h"

using sqlnode::countOf;
using sqlnode::countPrefix;
using sqlnode::Node;
using sqlnode::occurrences;

TEST(SqlString, EscapesQuotesAndBackslashesOnly) {
  char buf[64];
  EXPECT_STREQ(sqlString("it's", buf), "it\\'s");
  EXPECT_STREQ(sqlString("a\\b", buf), "a\\\\b");
  EXPECT_STREQ(sqlString("'\\'", buf), "\\'\\\\\\'");
  EXPECT_STREQ(sqlString("", buf), "");
  EXPECT_STREQ(sqlString(nullptr, buf), "<null>");
  // Other bytes, KOI8-R letters and double quotes included, pass unchanged.
  EXPECT_STREQ(sqlString("\xf3\xc5 \"x\"%", buf), "\xf3\xc5 \"x\"%");
  EXPECT_EQ(sqlString("x", buf), buf);
}

TEST(SqlString, LibraryBufferServesOneResultAtATime) {
  char *first = sqlString("one'", nullptr);
  EXPECT_STREQ(first, "one\\'");
  std::string kept = first;
  char *second = sqlString("two", nullptr);
  EXPECT_STREQ(second, "two");
  EXPECT_EQ(kept, "one\\'");
  // Quoting the library's own previous result reads it before it is freed.
  char *twice = sqlString(sqlString("a'b", nullptr), nullptr);
  EXPECT_STREQ(twice, "a\\\\\\'b");
  std::string longText(5000, '\'');
  EXPECT_EQ(strlen(sqlString(longText.c_str(), nullptr)), 10000u);
}

TEST(SqlConnection, CallsWithoutConnectionFail) {
  EXPECT_EQ(sqlClose(), -1);
  EXPECT_EQ(sqlStoreResult(), nullptr);
}

TEST(SqlRetry, OneSecondMeansTheDefaultInterval) {
  EXPECT_EQ(sqlRetry(1), 60u);
  EXPECT_EQ(sqlRetry(0), 0u);
  EXPECT_EQ(sqlRetry(5), 5u);
  EXPECT_EQ(sqlRetry(60), 60u);
}

TEST(SqlCheckType, AcceptsOnlyMsql) {
  static char msql[] = "msql", other[] = "pgsql";
  char *saved = sqlServerType;
  sqlServerType = msql;
  EXPECT_EQ(sqlCheckType(), 0);
  sqlServerType = other;
  EXPECT_EQ(sqlCheckType(), 1);
  sqlServerType = saved;
}

namespace {

const char kInsert[] = "INSERT INTO ids (tabname,tabid) VALUES ('x',5)";
const char kUpdate[] = "UPDATE ids SET tabid=6 WHERE tabname='x'";

// Runs a script through Node::shell with two statements in INSERT and UPDATE
// and the function start_server, which starts the stand-in server in the
// background ($srv, also in the file srv.pid) and waits until it listens.
testsupport::RunResult runScript(const Node &node, const std::string &script) {
  const std::string startServer =
      "start_server() {\n"
      "  rm -f ready; \"$DBSERVER\" -D \"$DATA\" -s \"$SOCK\" -l \"$LOG\" > ready & srv=$!\n"
      "  echo $srv > srv.pid\n"
      "  while ! grep -q ready ready 2>/dev/null; do sleep 0.1; done\n"
      "}\n";
  return node.shell(startServer + script, {{"INSERT", kInsert}, {"UPDATE", kUpdate}});
}

// Makes the node's database and leaves its server stopped.
bool prepareDatabase(Node &node) { return node.db.start() && node.db.stop(); }

}  // namespace

TEST(SqlRetry, WaitsForAServerThatComesUpLater) {
  Node node;
  ASSERT_TRUE(prepareDatabase(node));
  auto r = runScript(node,
                     "(sleep 3; start_server; wait $srv) &\n"
                     "\"$DRIVER\" retry 2 query \"$INSERT\" select 'SELECT tabname,tabid FROM ids'"
                     " > out\n"
                     "st=$?; kill \"$(cat srv.pid)\"; wait; cat out; exit $st\n");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "query 0\nquery 0\nrow x|5\n");
  // Each failed try is logged; the statement reached the server once.
  EXPECT_GE(occurrences(r.err, "Can't connect to sql server local (Can't connect to local MSQL server) at " +
                                   node.db.socketPath() + ", retrying in 2 s\n"),
            1u);
  EXPECT_EQ(countOf(node.statements(), kInsert), 1u);
}

TEST(SqlRetry, LostConnectionIsOpenedAgainBeforeTheNextTry) {
  Node node;
  ASSERT_TRUE(prepareDatabase(node));
  // The server goes away while the driver pauses between two statements and
  // comes back after the second one found the connection dead.
  auto r = runScript(node,
                     "start_server\n"
                     "\"$DRIVER\" retry 2 query \"$INSERT\" pause 4 query \"$UPDATE\""
                     " select 'SELECT tabname,tabid FROM ids' > out & drv=$!\n"
                     "sleep 2; kill $srv; wait $srv\n"
                     "sleep 3; start_server\n"
                     "wait $drv; st=$?; kill $srv; wait $srv; cat out; exit $st\n");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "query 0\nquery 0\nquery 0\nrow x|6\n");
  EXPECT_EQ(occurrences(r.err, std::string("Cannot process query '") + kUpdate +
                                   "' (MSQL server has gone away)\n"),
            1u);
  auto log = node.statements();
  EXPECT_EQ(countOf(log, kInsert), 1u);
  EXPECT_EQ(countOf(log, kUpdate), 1u);
}

TEST(SqlConnection, FailuresReturnAtOnceWithRetriesOff) {
  Node node;
  // No server at all.
  auto r = node.drive({"retry", "0", "connect", "query", kInsert});
  EXPECT_EQ(r.out, "connect -1\nquery -1\n");
  EXPECT_EQ(occurrences(r.err, "Can't connect to sql server local (Can't connect to local MSQL server) at " +
                                   node.db.socketPath() + "\n"),
            2u);
  EXPECT_NE(testsupport::readFile(node.home() + "/Logfile").find(" W Can't connect to sql server"),
            std::string::npos);

  // A database the server does not have: the connection is not kept.
  ASSERT_TRUE(node.db.start());
  node.extra = "sql-database nosuch\n";
  r = node.drive({"retry", "0", "connect", "query", kInsert});
  EXPECT_EQ(r.out, "connect -1\nquery -1\n");
  EXPECT_EQ(occurrences(r.err, "Cannot select database ("), 2u);

  // A refused statement; the connection stays usable.
  node.extra = "";
  r = node.drive({"retry", "0", "query", "INSERT INTO nosuch (a) VALUES (1)", "query", kInsert});
  EXPECT_EQ(r.out, "query -1\nquery 0\n");
  EXPECT_NE(r.err.find("Cannot process query 'INSERT INTO nosuch (a) VALUES (1)' ("),
            std::string::npos);
  EXPECT_EQ(countOf(node.statements(), kInsert), 1u);
}

TEST(SqlConnection, ConnectsOnceAndAgainAfterClose) {
  Node node;
  node.tcp = true;
  ASSERT_TRUE(node.db.start());
  auto r = node.drive({"connect", "connect", "query", kInsert, "close", "close", "select",
                       "SELECT tabid FROM ids WHERE tabname='x'"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "connect 0\nconnect 0\nquery 0\nclose 0\nclose -1\nquery 0\nrow 5\n");
  EXPECT_EQ(countOf(node.statements(), kInsert), 1u);
}

TEST(SqlConnection, TracesTestQueryAndSendsLongStatementsWhole) {
  Node node;
  ASSERT_TRUE(node.db.start());
  // Above debug level 10 the connection reads `ids' once; an empty table is
  // reported and the connection stays.
  node.extra = "debug-level 11\n";
  std::string longSelect = "SELECT tabid FROM ids WHERE tabname='" + std::string(3000, 'a') + "'";
  auto r = node.drive({"connect", "query", longSelect});
  EXPECT_EQ(r.out, "connect 0\nquery 0\n");
  EXPECT_NE(r.err.find("SQL: doing test query"), std::string::npos);
  EXPECT_NE(r.err.find("No data in `ids' table\n"), std::string::npos);
  EXPECT_EQ(countOf(node.statements(), "SELECT * FROM ids LIMIT 1"), 1u);
  EXPECT_EQ(countOf(node.statements(), longSelect), 1u);
}

TEST(SqlConnection, StatementsTooLongForARequestAreRefusedAtOnce) {
  Node node;
  ASSERT_TRUE(node.db.start());
  // A group description of 2,000 characters: its statements fit and are
  // sent whole, so the second look-up finds the group the first one made.
  std::string descr(2000, 'd');
  auto r = node.drive({"sgname", descr, "en", "sgname", descr, "en"});
  EXPECT_EQ(r.out, "sgname s00000001\nsgname s00000001\n") << r.err;
  // The longest query a request carries goes; one more character is refused
  // without a retry (the retry interval is the default minute).
  std::string head = "SELECT tabid FROM ids WHERE tabname='";
  std::string fits = head + std::string(32765 - head.size() - 1, 'f') + "'";
  std::string over = head + std::string(32765 - head.size(), 'o') + "'";
  r = node.drive({"query", fits, "query", over});
  EXPECT_EQ(r.out, "query 0\nquery -1\n");
  const std::string refused = "Query of 32766 characters not sent, at most 32765 fit: '" + over.substr(0, 200) + "...'\n";
  EXPECT_NE(r.err.find(refused), std::string::npos) << r.err;
  EXPECT_EQ(countOf(node.statements(), fits), 1u);
}

// The answer to a writing statement lost after the server carried it out:
// an INSERT found stored is not sent again, UPDATE and DELETE are (sending
// them again changes nothing).
TEST(SqlRetry, LostAnswersOfWritingStatementsNeverDoThemTwice) {
  Node node;
  ASSERT_TRUE(node.db.start());
  const std::string income = "INSERT INTO accounts (id,user,date,sum,cmt,flag) VALUES (7,'ivan',19980301,100.00,'in',0)";
  const struct {
    std::string statement;
    size_t sent;
    std::string select, rows;
  } cases[] = {
      {kInsert, 1, "SELECT tabname,tabid FROM ids", "row x|5\n"},
      {income, 1, "SELECT sum FROM accounts WHERE user='ivan'", "row 100.0\n"},
      {kUpdate, 2, "SELECT tabname,tabid FROM ids", "row x|6\n"},
      {"DELETE FROM ids WHERE tabname='x'", 2, "SELECT tabname,tabid FROM ids", ""},
  };
  int n = 0;
  for (const auto &c : cases) {
    testsupport::DropProxy proxy(node.tmp.sub("proxy" + std::to_string(++n)), node.db.socketPath(), 1, 1);
    ASSERT_TRUE(proxy.start());
    node.extra = "sql-socket " + proxy.socketPath() + "\n";
    auto r = node.drive({"retry", "1", "query", c.statement, "select", c.select});
    EXPECT_EQ(r.out, "query 0\nquery 0\n" + c.rows) << c.statement;
    EXPECT_EQ(proxy.dropped(), 1) << c.statement;
    EXPECT_EQ(occurrences(r.err, "Cannot process query '" + c.statement + "' (MSQL server has gone away)\n"), 1u)
        << r.err;
    EXPECT_EQ(countOf(node.statements(), c.statement), c.sent) << c.statement;
  }
}
