// The client against the stand-in server, over the UNIX socket and TCP.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "dbserver.h"
#include "msql.h"
#include "process.h"

namespace {

class MsqlClient : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.start());
    setenv("MSQL_UNIX_PORT", server_.socketPath().c_str(), 1);
    setenv("MSQL_TCP_PORT", std::to_string(server_.port()).c_str(), 1);
  }
  // A connection with the system's database selected.
  int connectLocal() {
    int sock = msqlConnect(nullptr);
    EXPECT_GE(sock, 0) << msqlErrMsg;
    if (sock >= 0) {
      EXPECT_EQ(msqlSelectDB(sock, "vovuvuza"), 0) << msqlErrMsg;
    }
    return sock;
  }
  // All rows of a select, NULL as "<null>", columns joined with '|'.
  std::vector<std::string> rows(int sock, const std::string &query) {
    std::vector<std::string> out;
    EXPECT_EQ(msqlQuery(sock, query.c_str()), 0) << query << ": " << msqlErrMsg;
    MsqlResult *r = msqlStoreResult();
    if (!r) return {"<no result>"};
    while (MsqlRow row = msqlFetchRow(r)) {
      std::string line;
      for (int i = 0; i < r->numFields; i++) line += (i ? "|" : "") + std::string(row[i] ? row[i] : "<null>");
      out.push_back(line);
    }
    msqlFreeResult(r);
    return out;
  }
  std::vector<std::string> names(MsqlResult *r) {
    std::vector<std::string> out;
    while (MsqlRow row = msqlFetchRow(r)) out.push_back(row[0]);
    msqlFreeResult(r);
    return out;
  }

  testsupport::TempDir tmp_{"msqlclient"};
  testsupport::DbServer server_{tmp_.sub("db")};
};

}  // namespace

TEST_F(MsqlClient, ConnectsOverTheUnixSocketAndTcp) {
  int sock = connectLocal();
  ASSERT_GE(sock, 0);
  EXPECT_STREQ(msqlGetHostInfo(), "Localhost via UNIX socket");
  EXPECT_STREQ(msqlGetServerInfo(), "dbserver, a stand-in on SQLite");
  EXPECT_EQ(msqlGetProtoInfo(), 6);
  EXPECT_EQ(rows(sock, "SELECT * FROM ids LIMIT 1"), std::vector<std::string>{});
  msqlClose(sock);

  for (const char *host : {"127.0.0.1", "localhost"}) {
    sock = msqlConnect(host);
    ASSERT_GE(sock, 0) << host << ": " << msqlErrMsg;
    EXPECT_EQ(std::string(msqlGetHostInfo()), std::string(host) + " via TCP/IP");
    ASSERT_EQ(msqlSelectDB(sock, "vovuvuza"), 0) << msqlErrMsg;
    EXPECT_EQ(msqlQuery(sock, "INSERT INTO ids (tabname,tabid) VALUES ('rates',1)"), 0) << msqlErrMsg;
    msqlClose(sock);
  }
  sock = connectLocal();
  EXPECT_EQ(rows(sock, "SELECT tabname,tabid FROM ids"), (std::vector<std::string>{"rates|1", "rates|1"}));
  msqlClose(sock);
}

TEST_F(MsqlClient, ConnectFailuresSayWhy) {
  server_.stop();
  EXPECT_EQ(msqlConnect(nullptr), -1);
  EXPECT_STREQ(msqlErrMsg, "Can't connect to local MSQL server");
  testing::internal::CaptureStderr();
  EXPECT_EQ(msqlConnect("127.0.0.1"), -1);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_STREQ(msqlErrMsg, "Can't connect to MSQL server on 127.0.0.1");
  EXPECT_EQ(err.rfind("Connect: ", 0), 0u) << err;
  unsetenv("MSQL_UNIX_PORT");
  EXPECT_EQ(msqlConnect(nullptr), -1);  // /dev/msql
  EXPECT_STREQ(msqlErrMsg, "Can't connect to local MSQL server");
}

TEST_F(MsqlClient, RowsKeepNullsQuotesAndEightBitBytes) {
  int sock = connectLocal();
  ASSERT_GE(sock, 0);
  // KOI8-R text, a quote and a backslash, escaped as the data layer does.
  const std::string descr = "\xf4\xc5\xcc\xc5\xc6\xcf\xce 'quoted' \\ back";
  ASSERT_EQ(msqlQuery(sock, "INSERT INTO snames (id,lang,name,descr) VALUES (1,'ru','phone',"
                            "'\xf4\xc5\xcc\xc5\xc6\xcf\xce \\'quoted\\' \\\\ back')"), 0) << msqlErrMsg;
  ASSERT_EQ(msqlQuery(sock, "INSERT INTO snames (id,name) VALUES (2,'mail')"), 0) << msqlErrMsg;
  EXPECT_EQ(rows(sock, "SELECT id,lang,name,descr FROM snames ORDER BY id"),
            (std::vector<std::string>{"1|ru|phone|" + descr, "2|<null>|mail|<null>"}));
  EXPECT_EQ(rows(sock, "SELECT name FROM snames WHERE descr='\xf4\xc5\xcc\xc5\xc6\xcf\xce \\'quoted\\' \\\\ back'"),
            std::vector<std::string>{"phone"});

  ASSERT_EQ(msqlQuery(sock, "SELECT id,descr FROM snames"), 0);
  MsqlResult *r = msqlStoreResult();
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->numRows, 2);
  MsqlField *f = msqlFetchField(r);
  ASSERT_NE(f, nullptr);
  EXPECT_STREQ(f->table, "snames");
  EXPECT_STREQ(f->name, "id");
  EXPECT_EQ(f->type, 1);
  f = msqlFetchField(r);
  EXPECT_STREQ(f->name, "descr");
  EXPECT_EQ(f->type, 2);
  EXPECT_EQ(f->length, 301);
  msqlFreeResult(r);
  msqlClose(sock);
}

TEST_F(MsqlClient, ServerErrorsComeBackAsText) {
  int sock = msqlConnect(nullptr);
  ASSERT_GE(sock, 0) << msqlErrMsg;
  EXPECT_EQ(msqlQuery(sock, "SELECT * FROM ids"), -1);
  EXPECT_STREQ(msqlErrMsg, "No database selected");
  EXPECT_EQ(msqlSelectDB(sock, "nosuch"), -1);
  EXPECT_STREQ(msqlErrMsg, "Unknown database \"nosuch\"");
  ASSERT_EQ(msqlSelectDB(sock, "vovuvuza"), 0) << msqlErrMsg;
  EXPECT_STREQ(msqlErrMsg, "");
  EXPECT_EQ(msqlQuery(sock, "SELECT nosuch FROM ids"), -1);
  EXPECT_NE(std::string(msqlErrMsg).find("nosuch"), std::string::npos) << msqlErrMsg;
  EXPECT_EQ(msqlQuery(sock, "SELECT * FROM ids WHERE tabname='open"), -1);
  EXPECT_NE(std::string(msqlErrMsg), "");
  // Still connected.
  EXPECT_EQ(rows(sock, "SELECT * FROM ids"), std::vector<std::string>{});
  msqlClose(sock);
}

TEST_F(MsqlClient, ListingsAndAdministration) {
  int sock = connectLocal();
  ASSERT_GE(sock, 0);
  MsqlResult *r = msqlListDBs(sock);
  ASSERT_NE(r, nullptr);
  ASSERT_EQ(r->numFields, 1);
  EXPECT_STREQ(r->fieldData->name, "Database");
  EXPECT_STREQ(r->fieldData->table, "mSQL Catalog");
  EXPECT_EQ(r->fieldData->type, 2);
  EXPECT_EQ(r->fieldData->length, 19);
  EXPECT_EQ(names(r), std::vector<std::string>{"vovuvuza"});

  ASSERT_EQ(msqlCreateDB(sock, "scratch"), 0) << msqlErrMsg;
  EXPECT_EQ(msqlCreateDB(sock, "scratch"), -1);
  EXPECT_STREQ(msqlErrMsg, "Database \"scratch\" exists");
  EXPECT_EQ(names(msqlListDBs(sock)), (std::vector<std::string>{"scratch", "vovuvuza"}));

  r = msqlListTables(sock);
  ASSERT_NE(r, nullptr);
  EXPECT_STREQ(r->fieldData->name, "Table");
  EXPECT_EQ(names(r), (std::vector<std::string>{"accounts", "ids", "rates", "sgroups", "snames", "statistic"}));

  r = msqlListFields(sock, "statistic");
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->numRows, 0);
  EXPECT_EQ(msqlFetchRow(r), nullptr);
  std::vector<std::string> fields;
  while (MsqlField *f = msqlFetchField(r))
    fields.push_back(std::string(f->table) + "." + f->name + ":" + std::to_string(f->type) + ":" +
                     std::to_string(f->length));
  EXPECT_EQ(fields, (std::vector<std::string>{"statistic.id:1:4", "statistic.user:2:15", "statistic.date:1:4",
                                              "statistic.name:2:16", "statistic.group:2:16", "statistic.lang:2:2",
                                              "statistic.amount:3:8", "statistic.sname:2:16", "statistic.sum:3:8"}));
  EXPECT_EQ(r->numFields, 9);
  msqlFreeResult(r);
  EXPECT_EQ(msqlListFields(sock, "nosuch"), nullptr);
  EXPECT_STREQ(msqlErrMsg, "Unknown table \"nosuch\"");

  // A new database takes tables; dropping it removes it.
  ASSERT_EQ(msqlSelectDB(sock, "scratch"), 0) << msqlErrMsg;
  EXPECT_EQ(names(msqlListTables(sock)), std::vector<std::string>{});
  ASSERT_EQ(msqlQuery(sock, "CREATE TABLE notes (id int not null primary key, txt char(20))"), 0) << msqlErrMsg;
  r = msqlListFields(sock, "notes");
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->fieldData->flags, kMsqlNotNull | kMsqlPrimaryKey);
  EXPECT_EQ(r->fieldData->next->flags, 0);
  EXPECT_EQ(r->fieldData->next->length, 20);
  msqlFreeResult(r);
  ASSERT_EQ(msqlQuery(sock, "DROP TABLE notes"), 0) << msqlErrMsg;
  EXPECT_EQ(msqlListFields(sock, "notes"), nullptr);
  ASSERT_EQ(msqlDropDB(sock, "scratch"), 0) << msqlErrMsg;
  EXPECT_FALSE(testsupport::fileExists(server_.dataDir() + "/scratch.db"));
  EXPECT_EQ(msqlDropDB(sock, "scratch"), -1);
  EXPECT_EQ(msqlQuery(sock, "SELECT * FROM notes"), -1);
  EXPECT_STREQ(msqlErrMsg, "Unknown database \"scratch\"");
  EXPECT_EQ(names(msqlListDBs(sock)), std::vector<std::string>{"vovuvuza"});
  EXPECT_EQ(msqlReloadAcl(sock), 0);
  msqlClose(sock);
}

TEST_F(MsqlClient, QueryFillingAWholeFrameIsServed) {
  int sock = connectLocal();
  ASSERT_GE(sock, 0);
  // "3:" + query + "\n" is exactly 32768 bytes.
  std::string head = "SELECT tabid FROM ids WHERE tabname='";
  std::string query = head + std::string(32765 - head.size() - 1, 'n') + "'";
  ASSERT_EQ(query.size(), 32765u);
  EXPECT_EQ(rows(sock, query), std::vector<std::string>{});
  EXPECT_EQ(msqlQuery(sock, (query + " ").c_str()), -1);
  EXPECT_EQ(rows(sock, "SELECT tabid FROM ids"), std::vector<std::string>{});
  msqlClose(sock);
}

TEST_F(MsqlClient, ShutdownStopsTheServer) {
  int sock = connectLocal();
  ASSERT_GE(sock, 0);
  EXPECT_EQ(msqlShutdown(sock), 0) << msqlErrMsg;
  msqlClose(sock);
  EXPECT_TRUE(server_.stop());
  EXPECT_EQ(msqlConnect(nullptr), -1);
}

TEST(MsqlDebug, TracesFollowTheEnvironment) {
  testsupport::TempDir tmp("msqldebug");
  testsupport::DbServer server(tmp.sub("db"));
  ASSERT_TRUE(server.start());
  const std::string rule = "\n-------------------------------------------------------\n";
  testsupport::RunSpec spec;
  spec.program = "msqlprobe";
  spec.overlay = false;
  spec.args = {"-", "vovuvuza", "SELECT tabid FROM ids"};
  spec.env = {{"MSQL_UNIX_PORT", server.socketPath()}, {"ROVIVED_DEBUG", "msql_api:bogus"}};
  testsupport::RunResult r = testsupport::run(spec);
  EXPECT_EQ(r.status, 0) << r.err;
  std::string banner = rule + "ROVIVED_DEBUG found. libmsql started with the following:-\n\n" +
                       "Debug level : api\n" + rule + "\n";
  EXPECT_EQ(r.out.substr(0, banner.size()), banner);
  EXPECT_NE(r.out.find("[libmsql] Server name = NULL.  Using UNIX sock(" + server.socketPath() + ")\n"),
            std::string::npos) << r.out;
  EXPECT_NE(r.out.find("[libmsql] Select Database = \"vovuvuza\"\n"), std::string::npos);
  EXPECT_EQ(r.out.find("Query ="), std::string::npos);
  EXPECT_EQ(r.out.find("malloc"), std::string::npos);

  // Query traces only; a query line longer than the debug buffer is cut.
  std::string longQuery = "SELECT tabid FROM ids WHERE tabname='" + std::string(3000, 'z') + "'";
  spec.args = {"-", "vovuvuza", longQuery};
  spec.env = {{"MSQL_UNIX_PORT", server.socketPath()}, {"ROVIVED_DEBUG", "msql_query"}};
  r = testsupport::run(spec);
  EXPECT_EQ(r.status, 0) << r.err;
  size_t at = r.out.find("[libmsql] Query = \"SELECT tabid");
  ASSERT_NE(at, std::string::npos) << r.out;
  std::string line = r.out.substr(at, r.out.find("host:") - at);
  EXPECT_EQ(line.size(), std::string("[libmsql] ").size() + 1023);
  EXPECT_EQ(r.out.find("Server name"), std::string::npos);

  // Without the variable: no banner, no traces.
  spec.env = {{"MSQL_UNIX_PORT", server.socketPath()}};
  r = testsupport::run(spec);
  EXPECT_EQ(r.out.find("libmsql"), std::string::npos);
  EXPECT_EQ(r.out.find("ROVIVED_DEBUG"), std::string::npos);
}

TEST(MsqlPorts, ServicesEntryAndEnvironmentChooseTheTcpPort) {
  testsupport::TempDir tmp("msqlports");
  testsupport::DbServer server(tmp.sub("db"));
  ASSERT_TRUE(server.start());
  std::string port = std::to_string(server.port());
  testsupport::RunSpec spec;
  spec.program = "msqlprobe";
  spec.args = {"127.0.0.1", "vovuvuza"};
  // Only files are consulted, so no lookup leaves the machine.
  spec.etc = {{"nsswitch.conf", "hosts: files\nservices: files\npasswd: files\ngroup: files\n"},
              {"services", "msql " + port + "/tcp\n"}};
  testsupport::RunResult r = testsupport::run(spec);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("host: 127.0.0.1 via TCP/IP"), std::string::npos) << r.out;

  // The environment wins over the services entry.
  spec.env = {{"MSQL_TCP_PORT", std::to_string(server.port() == 1 ? 2 : 1)}};
  r = testsupport::run(spec);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("error: Can't connect to MSQL server on 127.0.0.1"), std::string::npos) << r.out;

  // An unknown host; its long name is cut in the texts, never overruns them.
  spec.env = {};
  spec.args = {"no-such-host-" + std::string(150, 'h')};
  r = testsupport::run(spec);
  EXPECT_EQ(r.status, 1);
  std::string expected = "error: " + std::string("Unknown MSQL Server Host (no-such-host-" + std::string(150, 'h'))
                                         .substr(0, 159) + "\n";
  EXPECT_EQ(r.out, expected);
}
