// The stand-in database server: the statements the system sends, several
// clients, restarts, hostile clients and its bounds, the statement log, the
// command line and the modes of its files.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <sqlite3.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "dbserver.h"
#include "msql.h"
#include "process.h"

namespace {

typedef std::vector<std::string> Rows;

// A wire frame: 4-byte little-endian length and the payload.
std::string frameOf(const std::string &payload) {
  uint32_t n = static_cast<uint32_t>(payload.size());
  std::string f;
  for (int i = 0; i < 4; i++) f += static_cast<char>((n >> (8 * i)) & 0xff);
  return f + payload;
}

// A client speaking raw bytes, for what the client library never sends.
class RawClient {
 public:
  explicit RawClient(const std::string &unixPath) {
    fd_ = socket(AF_UNIX, SOCK_STREAM, 0);
    // A server that takes no more clients or reads no more never hangs the
    // test: connect and send give up after 5 seconds.
    timeval limit = {5, 0};
    setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    sockaddr_un addr;
    memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    memcpy(addr.sun_path, unixPath.data(), unixPath.size());
    if (connect(fd_, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) closeFd();
  }
  explicit RawClient(int port) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr;
    memset(&addr, 0, sizeof addr);
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (connect(fd_, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) closeFd();
  }
  ~RawClient() { closeFd(); }
  bool connected() const { return fd_ >= 0; }
  void send(const std::string &bytes) { ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL); }
  // The next frame's payload, or "<closed>" / "<timeout>" (no byte for
  // that many milliseconds).
  std::string frame(int timeoutMs = 5000) {
    std::string h = readBytes(4, timeoutMs);
    if (h.size() < 4) return h;
    const unsigned char *u = reinterpret_cast<const unsigned char *>(h.data());
    uint32_t n = u[0] | (u[1] << 8) | (u[2] << 16) | (static_cast<uint32_t>(u[3]) << 24);
    return readBytes(n, timeoutMs);
  }
  // The greeting, then the login line and its reply.
  bool login() { return frame().rfind("0:6:", 0) == 0 && (send(frameOf("tester\n")), frame() == "0:\n"); }
  // True when the server closes the connection (within 5 seconds); what it
  // sends before is skipped.
  bool closedByServer() {
    for (;;) {
      char buf[4096];
      pollfd p = {fd_, POLLIN, 0};
      if (poll(&p, 1, 5000) != 1) return false;
      ssize_t r = read(fd_, buf, sizeof buf);
      if (r <= 0) return r == 0 || errno == ECONNRESET;
    }
  }

 private:
  std::string readBytes(size_t n, int timeoutMs) {
    std::string out;
    while (out.size() < n) {
      pollfd p = {fd_, POLLIN, 0};
      if (poll(&p, 1, timeoutMs) != 1) return "<timeout>";
      char buf[4096];
      ssize_t r = read(fd_, buf, std::min(sizeof buf, n - out.size()));
      if (r <= 0) return "<closed>";
      out.append(buf, static_cast<size_t>(r));
    }
    return out;
  }
  void closeFd() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }
  int fd_ = -1;
};

// The sanitizers' shadow memory and quarantine hide what the server holds.
#ifdef __SANITIZE_ADDRESS__
constexpr bool kMemoryTells = false;
#else
constexpr bool kMemoryTells = true;
#endif

class DbServerTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.start());
    setenv("MSQL_UNIX_PORT", server_.socketPath().c_str(), 1);
  }
  int connectDb() {
    int sock = msqlConnect(nullptr);
    EXPECT_GE(sock, 0) << msqlErrMsg;
    if (sock >= 0) {
      EXPECT_EQ(msqlSelectDB(sock, "vovuvuza"), 0) << msqlErrMsg;
    }
    return sock;
  }
  void exec(int sock, const std::string &statement) {
    EXPECT_EQ(msqlQuery(sock, statement.c_str()), 0) << statement << ": " << msqlErrMsg;
  }
  // Rows of a select, columns joined with '|', NULL as "<null>".
  std::vector<std::string> rows(int sock, const std::string &query) {
    std::vector<std::string> out;
    if (msqlQuery(sock, query.c_str()) != 0) return {std::string("<error> ") + msqlErrMsg};
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
  // Rows 1..count of accounts, user u0..u49 and a comment of 100 bytes.
  void fillAccounts(int sock, int count) {
    for (int first = 1; first <= count; first += 50) {
      std::string q = "INSERT INTO accounts (id,user,date,sum,cmt,flag) VALUES ";
      for (int id = first; id < first + 50 && id <= count; id++)
        q += (id == first ? "(" : ",(") + std::to_string(id) + ",'u" + std::to_string(id % 50) + "',19980301,1.00,'" +
             std::string(100, 'c') + "',0)";
      exec(sock, q);
    }
  }

  testsupport::TempDir tmp_{"dbserver"};
  testsupport::DbServer::Options options_ = [] {
    testsupport::DbServer::Options o;
    o.statementLog = true;
    return o;
  }();
  testsupport::DbServer server_{tmp_.sub("db"), options_};
};

// A number of a process from /proc: its CPU time in clock ticks (field
// "cpu"), or a line of its status such as "VmHWM" (in kB).
long procNumber(pid_t pid, const std::string &field) {
  std::string dir = "/proc/" + std::to_string(pid);
  if (field == "cpu") {
    std::string stat = testsupport::readFile(dir + "/stat");
    std::istringstream rest(stat.substr(stat.rfind(')') + 2));
    std::string skip;
    long user = 0, system = 0;
    for (int i = 0; i < 11; i++) rest >> skip;  // state .. cmajflt
    rest >> user >> system;
    return user + system;
  }
  std::string status = testsupport::readFile(dir + "/status");
  size_t at = status.find("\n" + field + ":");
  return at == std::string::npos ? -1 : strtol(status.c_str() + at + field.size() + 2, nullptr, 10);
}

// Runs statements on a database file with the engine itself, past the
// server: rows of the last one, columns joined with '|'.
Rows engine(const std::string &file, const std::string &sql) {
  sqlite3 *db = nullptr;
  Rows out;
  EXPECT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
  char *error = nullptr;
  auto add = [](void *rows, int n, char **values, char **) {
    std::string line;
    for (int i = 0; i < n; i++) line += (i ? "|" : "") + std::string(values[i] ? values[i] : "<null>");
    static_cast<Rows *>(rows)->push_back(line);
    return 0;
  };
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), add, &out, &error), SQLITE_OK) << (error ? error : "");
  sqlite3_free(error);
  sqlite3_close(db);
  return out;
}

}  // namespace

TEST_F(DbServerTest, ExecutesEveryStatementTheSystemSends) {
  int sock = connectDb();
  ASSERT_GE(sock, 0);
  // ids
  exec(sock, "INSERT INTO ids (tabname,tabid) VALUES ('statistic',0)");
  EXPECT_EQ(rows(sock, "SELECT tabid FROM ids WHERE tabname='statistic'"), Rows{"0"});
  exec(sock, "UPDATE ids SET tabid=3 WHERE tabname='statistic'");
  EXPECT_EQ(rows(sock, "SELECT * FROM ids LIMIT 1"), Rows{"statistic|3"});

  // statistic: a month is YYYYMM00 and found by YYYYMM00..YYYYMM99.
  exec(sock, "DELETE FROM statistic WHERE user='ivan' AND date=19980500");
  exec(sock, "INSERT INTO statistic (id,user,date,name,group,lang,amount,sname,sum) VALUES "
             "(1,'ivan',19980500,'mail','s00000001','ru',12.500000,'mb',125.000000)");
  exec(sock, "INSERT INTO statistic (id,user,date,name,group,lang,amount,sname,sum) VALUES "
             "(2,'ivan',19980500,'fee','misc','ru',1.000000,'-',300.000000)");
  exec(sock, "INSERT INTO statistic (id,user,date,name,group,lang,amount,sname,sum) VALUES "
             "(3,'ivan',19980600,'fee','misc','ru',1.000000,'-',300.000000)");
  EXPECT_EQ(rows(sock, "SELECT name,group,amount,sum,sname FROM statistic WHERE user='ivan' AND "
                       "date>=19980500 AND date<=19980599 ORDER BY group"),
            (Rows{"fee|misc|1.0|300.0|-", "mail|s00000001|12.5|125.0|mb"}));
  EXPECT_EQ(rows(sock, "SELECT sum FROM statistic WHERE user='ivan' AND date>=19980500 AND date<=19980699").size(),
            3u);
  exec(sock, "DELETE FROM statistic WHERE user='ivan' AND date=19980500");
  EXPECT_EQ(rows(sock, "SELECT id FROM statistic"), Rows{"3"});

  // accounts, with the final blank of its insert and a KOI8-R comment.
  const std::string cmt = "\xf5\xd3\xcc\xd5\xc7\xc9 05.1998";
  exec(sock, "INSERT INTO accounts (id,user,date,sum,cmt,flag) VALUES (1,'ivan',19980305,-425.00,'" + cmt + "',0) ");
  exec(sock, "INSERT INTO accounts (id,user,date,sum,cmt,flag) VALUES (2,'ivan',19980301,500.00,'b',0) ");
  exec(sock, "INSERT INTO accounts (id,user,date,sum,cmt,flag) VALUES (3,'ivan',19980301,10.00,'a',0) ");
  EXPECT_EQ(rows(sock, "SELECT date,sum,cmt FROM accounts WHERE user='ivan' AND date>=19980301 AND "
                       "date<=19980331 ORDER BY date,cmt"),
            (Rows{"19980301|10.0|a", "19980301|500.0|b", "19980305|-425.0|" + cmt}));
  EXPECT_EQ(rows(sock, "SELECT date,sum,cmt FROM accounts WHERE user='ivan' AND date<=19980304").size(), 2u);

  // rates: the newest strictly before the day asked for.
  exec(sock, "INSERT INTO rates (id,date,name,rate) VALUES (1,19980415,'USD',5.800)");
  exec(sock, "INSERT INTO rates (id,date,name,rate) VALUES (2,19980310,'USD',5.500)");
  EXPECT_EQ(rows(sock, "SELECT rate,date FROM rates WHERE name='USD' AND date<19980431 ORDER BY date DESC LIMIT 1"),
            Rows{"5.8|19980415"});
  EXPECT_EQ(rows(sock, "SELECT rate,date FROM rates WHERE name='USD' AND date<19980415 ORDER BY date DESC LIMIT 1"),
            Rows{"5.5|19980310"});

  // sgroups and snames; descriptions of 300 characters with quotes.
  const std::string descr = "Mail \\'service\\' " + std::string(282, 'd');
  const std::string stored = "Mail 'service' " + std::string(282, 'd');
  ASSERT_EQ(stored.size(), 297u);
  exec(sock, "INSERT INTO sgroups (id,lang,name,descr) VALUES (1,'ru','s00000001','" + descr + "xyz')");
  EXPECT_EQ(rows(sock, "SELECT name FROM sgroups WHERE descr='" + descr + "xyz' AND lang='ru'"), Rows{"s00000001"});
  EXPECT_EQ(rows(sock, "SELECT name FROM sgroups WHERE descr='" + descr + "xyz' AND lang='en'"), Rows{});
  EXPECT_EQ(rows(sock, "SELECT descr FROM sgroups WHERE name='s00000001' AND lang='ru'"), Rows{stored + "xyz"});
  exec(sock, "INSERT INTO snames (id,lang,name,descr) VALUES (1,'ru','mail','old')");
  EXPECT_EQ(rows(sock, "SELECT descr FROM snames WHERE name='mail' AND lang='ru'"), Rows{"old"});
  exec(sock, "UPDATE snames SET descr='new \\\\ one' WHERE name='mail' AND lang='ru'");
  EXPECT_EQ(rows(sock, "SELECT descr FROM snames WHERE name='mail' AND lang='ru'"), Rows{"new \\ one"});
  msqlClose(sock);
}

TEST_F(DbServerTest, LiteralsNeverBecomeStatements) {
  int sock = connectDb();
  ASSERT_GE(sock, 0);
  const char *evil[] = {"x'; DROP TABLE ids; --", "x\" OR \"1\"=\"1", "x?", "x\\", "'", "%_"};
  int id = 1;
  for (const char *text : evil) {
    std::string quoted;  // as the data layer quotes
    for (const char *p = text; *p; p++) {
      if (*p == '\'' || *p == '\\') quoted += '\\';
      quoted += *p;
    }
    exec(sock, "INSERT INTO snames (id,lang,name,descr) VALUES (" + std::to_string(id++) + ",'ru','n','" + quoted +
                   "')");
    EXPECT_EQ(rows(sock, "SELECT descr FROM snames WHERE descr='" + quoted + "'"), Rows{text});
  }
  EXPECT_EQ(rows(sock, "SELECT tabid FROM ids"), Rows{});  // still there
  // Statements outside the dialect are refused.
  for (const char *bad : {"SELECT * FROM ids; DELETE FROM ids", "ATTACH DATABASE 'x' AS y",
                          "PRAGMA table_info(ids)", "SELECT * FROM ids -- comment", "SELECT `tabid` FROM ids"}) {
    EXPECT_EQ(msqlQuery(sock, bad), -1) << bad;
    EXPECT_NE(std::string(msqlErrMsg), "") << bad;
  }
  EXPECT_FALSE(testsupport::fileExists(server_.dataDir() + "/x"));
  // Names of databases never leave the data directory.
  EXPECT_EQ(msqlCreateDB(sock, "../evil"), -1);
  EXPECT_EQ(msqlSelectDB(sock, "../db/data/vovuvuza"), -1);
  EXPECT_EQ(msqlDropDB(sock, "../data/vovuvuza"), -1);
  EXPECT_FALSE(testsupport::fileExists(server_.dir() + "/evil.db"));
  msqlClose(sock);
}

TEST_F(DbServerTest, FunctionCallsAreRefused) {
  int sock = connectDb();
  ASSERT_GE(sock, 0);
  // zeroblob(999999999) alone would take the server a gigabyte.
  for (const char *call : {"SELECT zeroblob(999999999) FROM ids", "SELECT tabid FROM ids WHERE length(tabname) > 1",
                           "SELECT tabid FROM ids ORDER BY random()", "UPDATE ids SET tabid=abs (1)"}) {
    EXPECT_EQ(msqlQuery(sock, call), -1) << call;
    EXPECT_EQ(std::string(msqlErrMsg).rfind("Function calls are not supported", 0), 0u) << msqlErrMsg;
  }
  exec(sock, "INSERT INTO ids (tabname,tabid) VALUES ('f',1)");
  EXPECT_EQ(rows(sock, "SELECT tabid FROM ids WHERE tabname='f' AND (tabid=1 OR tabid=2)"), Rows{"1"});
  msqlClose(sock);
}

TEST_F(DbServerTest, ServesSeveralClientsAtOnce) {
  // An idle client and one stuck in the middle of a frame block nobody.
  RawClient stuck(server_.socketPath());
  ASSERT_TRUE(stuck.login());
  stuck.send(std::string("\x64\x00\x00\x00", 4) + "3:SELECT");
  int idle = connectDb();
  ASSERT_GE(idle, 0);

  constexpr int kClients = 4, kRows = 40;
  std::vector<pid_t> children;
  for (int c = 0; c < kClients; c++) {
    pid_t pid = fork();
    if (pid == 0) {
      int sock = msqlConnect(nullptr);
      if (sock < 0 || msqlSelectDB(sock, "vovuvuza") < 0) _exit(1);
      for (int i = 0; i < kRows; i++) {
        std::string q = "INSERT INTO accounts (id,user,date,sum,cmt,flag) VALUES (" + std::to_string(c * 1000 + i) +
                        ",'u" + std::to_string(c) + "',19980301,1.00,'c',0) ";
        if (msqlQuery(sock, q.c_str()) < 0) _exit(2);
        if (msqlQuery(sock, "SELECT id FROM accounts") < 0) _exit(3);
        msqlFreeResult(msqlStoreResult());
      }
      msqlClose(sock);
      _exit(0);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = -1;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
  Rows ids = rows(idle, "SELECT id FROM accounts");
  EXPECT_EQ(ids.size(), size_t(kClients * kRows));
  EXPECT_EQ(std::set<std::string>(ids.begin(), ids.end()).size(), size_t(kClients * kRows));
  for (int c = 0; c < kClients; c++)
    EXPECT_EQ(rows(idle, "SELECT id FROM accounts WHERE user='u" + std::to_string(c) + "'").size(), size_t(kRows));
  msqlClose(idle);
}

TEST_F(DbServerTest, RestartKeepsTheData) {
  int sock = connectDb();
  ASSERT_GE(sock, 0);
  exec(sock, "INSERT INTO rates (id,date,name,rate) VALUES (1,19980415,'USD',5.800)");
  exec(sock, "INSERT INTO ids (tabname,tabid) VALUES ('rates',1)");
  // Stopped with a client still connected.
  ASSERT_TRUE(server_.stop());
  EXPECT_EQ(msqlQuery(sock, "SELECT * FROM rates"), -1);
  EXPECT_STREQ(msqlErrMsg, "MSQL server has gone away");
  ASSERT_TRUE(server_.start());
  sock = connectDb();
  ASSERT_GE(sock, 0);
  EXPECT_EQ(rows(sock, "SELECT id,date,name,rate FROM rates"), Rows{"1|19980415|USD|5.8"});
  EXPECT_EQ(rows(sock, "SELECT tabname,tabid FROM ids"), Rows{"rates|1"});
  msqlClose(sock);
}

TEST_F(DbServerTest, IndexedTablesAnswerInTheOrderOfPlainOnes) {
  int sock = connectDb();
  ASSERT_GE(sock, 0);
  ASSERT_EQ(engine(server_.dataDir() + "/vovuvuza.db", "SELECT name FROM sqlite_master WHERE type='index' ORDER BY name"),
            (Rows{"accounts_user", "rates_name", "sgroups_name", "snames_name", "statistic_user"}));
  // The same tables without indexes in a second database.
  ASSERT_EQ(msqlCreateDB(sock, "plain"), 0) << msqlErrMsg;
  int plain = msqlConnect(nullptr);
  ASSERT_GE(plain, 0);
  ASSERT_EQ(msqlSelectDB(plain, "plain"), 0) << msqlErrMsg;
  exec(plain, "CREATE TABLE statistic (id int, user char(15), date int, name char(16), group char(16), "
              "lang char(2), amount real, sname char(16), sum real)");
  exec(plain, "CREATE TABLE accounts (id int, user char(15), date int, sum real, cmt char(299), flag int)");
  exec(plain, "CREATE TABLE rates (id int, date int, name char(16), rate real)");
  for (const char *bad : {"CREATE INDEX i ON rates ()", "CREATE UNIQUE INDEX i ON rates (name)"})
    EXPECT_EQ(msqlQuery(plain, bad), -1) << bad;

  // Months and account days stored out of order, ties on the sort keys, two
  // rates of one day.
  const int months[] = {19980700, 19980500, 19980600, 19980500};
  for (int i = 0; i < 12; i++) {
    std::string id = std::to_string(i + 1), date = std::to_string(months[i % 4]);
    for (int db : {sock, plain}) {
      exec(db, "INSERT INTO statistic (id,user,date,name,group,lang,amount,sname,sum) VALUES (" + id + ",'" +
                   (i % 3 ? "ivan" : "olga") + "'," + date + ",'n" + id + "','" + (i % 2 ? "misc" : "s1") +
                   "','ru',1.0,'-'," + id + ".0)");
      exec(db, "INSERT INTO accounts (id,user,date,sum,cmt,flag) VALUES (" + id + ",'ivan'," +
                   std::to_string(months[i % 4] + 12 - i) + "," + id + ".00,'" + (i % 2 ? "a" : "b") + "',0) ");
      exec(db, "INSERT INTO rates (id,date,name,rate) VALUES (" + id + "," + std::to_string(months[i % 4] + 1) +
                   ",'USD'," + id + ".000)");
    }
  }
  for (int db : {sock, plain}) exec(db, "INSERT INTO accounts (id,user,date,sum,cmt,flag) VALUES (13,'ivan',19980501,1.5,'1.50',0)");
  for (const char *query : {
           "SELECT name,group,amount,sum,sname FROM statistic WHERE user='ivan' AND date>=19980500 AND "
           "date<=19980799 ORDER BY group",
           "SELECT sum FROM statistic WHERE user='ivan' AND date>=19980500 AND date<=19980699",
           "SELECT date,sum,cmt FROM accounts WHERE user='ivan' AND date>=19980500",
           "SELECT date,sum,cmt FROM accounts WHERE user='ivan' AND date<=19980610 ORDER BY date,cmt",
           "SELECT rate,date FROM rates WHERE name='USD' AND date<19980699 ORDER BY date DESC LIMIT 1",
           // Numbers as the engine reads them: a text column against a
           // real, a column's position, a limit, integers past 64 bits.
           "SELECT id,1.50,sum FROM accounts WHERE cmt=1.50 OR sum=1.5 OR 2>10 OR id=-3 OR sum>9e0 ORDER BY 3 LIMIT 4",
           "SELECT id FROM accounts WHERE id<99999999999999999999 AND id>-9223372036854775808 AND cmt<>1.5"}) {
    Rows answer = rows(sock, query);
    EXPECT_GT(answer.size(), 0u) << query;
    EXPECT_EQ(answer, rows(plain, query)) << query;
    // The engine's own reading, where a query names no column it reserves.
    if (!strstr(query, "group")) {
      EXPECT_EQ(answer, engine(server_.dataDir() + "/plain.db", query)) << query;
    }
  }
  // A kept statement on a table made anew with its columns in another order.
  const char *all = "SELECT * FROM rates WHERE name='USD' AND date<19980699 ORDER BY date DESC LIMIT 1";
  EXPECT_EQ(rows(plain, all), Rows{"3|19980601|USD|3.0"});
  exec(plain, "DROP TABLE rates");
  exec(plain, "CREATE TABLE rates (name char(16), rate real, date int, id int)");
  exec(plain, "INSERT INTO rates (id,date,name,rate) VALUES (1,19980601,'USD',7.5)");
  EXPECT_EQ(rows(plain, all), Rows{"USD|7.5|19980601|1"});
  ASSERT_EQ(msqlQuery(plain, all), 0) << msqlErrMsg;
  MsqlResult *r = msqlStoreResult();
  std::string fields;
  for (MsqlField *f = r->fieldData; f; f = f->next)
    fields += std::string(f->table) + "." + f->name + ":" + std::to_string(f->type) + ":" +
              std::to_string(f->length) + " ";
  msqlFreeResult(r);
  EXPECT_EQ(fields, "rates.name:2:16 rates.rate:3:8 rates.date:1:4 rates.id:1:4 ");
  // More shapes than are kept, then the first ones again; a refused
  // statement leaves its shape usable.
  for (int round = 0; round < 2; round++)
    for (int n = 1; n <= 70; n++) {
      std::string q = "SELECT id FROM accounts WHERE id=" + std::to_string(n);
      for (int k = 1; k < n; k++) q += " OR id=" + std::to_string(n + k);
      EXPECT_EQ(rows(plain, q).size(), static_cast<size_t>(std::max(0, std::min(n, 14 - n)))) << n;
    }
  EXPECT_EQ(msqlQuery(plain, "UPDATE accounts SET cmt='sixteen-letters-and-far-more' WHERE id=2"), 0);
  const std::string tooLong = "UPDATE accounts SET cmt='" + std::string(300, 'x') + "' WHERE id=2";
  EXPECT_EQ(msqlQuery(plain, tooLong.c_str()), -1);
  EXPECT_EQ(rows(plain, "SELECT cmt FROM accounts WHERE id=2"), Rows{"sixteen-letters-and-far-more"});
  // A database dropped and made again under its name, with its kept
  // statements gone with it.
  msqlClose(plain);
  ASSERT_EQ(msqlDropDB(sock, "plain"), 0) << msqlErrMsg;
  ASSERT_EQ(msqlCreateDB(sock, "plain"), 0) << msqlErrMsg;
  plain = msqlConnect(nullptr);
  ASSERT_EQ(msqlSelectDB(plain, "plain"), 0) << msqlErrMsg;
  exec(plain, "CREATE TABLE rates (id int, date int, name char(16), rate real)");
  exec(plain, "INSERT INTO rates (id,date,name,rate) VALUES (9,19980602,'USD',2.5)");
  EXPECT_EQ(rows(plain, all), Rows{"9|19980602|USD|2.5"});
  EXPECT_EQ(rows(sock, "SELECT rate,date FROM rates WHERE name='USD' AND date<19980699 ORDER BY date DESC LIMIT 1"),
            Rows{"3.0|19980601"});
  msqlClose(plain);
  msqlClose(sock);
}

TEST_F(DbServerTest, HostileClientsLoseOnlyTheirOwnConnection) {
  int sock = connectDb();
  ASSERT_GE(sock, 0);
  {
    RawClient c(server_.socketPath());
    ASSERT_TRUE(c.connected());
    c.send(std::string("\xff\xff\xff\x7f") + std::string(60, '\x9c'));  // over-long frame
    EXPECT_TRUE(c.closedByServer());
  }
  {
    RawClient c(server_.socketPath());
    c.send(frameOf(std::string(32768, 'x')));  // a full frame is a fine login name
    EXPECT_EQ(c.frame().substr(0, 4), "0:6:");
    EXPECT_EQ(c.frame(), "0:\n");
    c.send(std::string("\x01\x80\x00\x00", 4));  // 32769 bytes announced
    EXPECT_TRUE(c.closedByServer());
  }
  {
    RawClient c(server_.socketPath());
    ASSERT_TRUE(c.login());
    c.send(frameOf("42:\n"));
    EXPECT_EQ(c.frame(), "-1:Unknown command 42\n");
    c.send(std::string(4, '\0'));  // an empty frame
    EXPECT_TRUE(c.closedByServer());
  }
  {
    RawClient c(server_.socketPath());
    ASSERT_TRUE(c.login());
    c.send(frameOf("no request"));
    EXPECT_TRUE(c.closedByServer());
  }
  {
    RawClient c(server_.port());
    ASSERT_TRUE(c.connected());
    std::string noise;
    for (int i = 0; i < 5000; i++) noise += static_cast<char>((i * 7919) & 0xff);
    c.send(noise);
    EXPECT_TRUE(c.closedByServer());
  }
  {
    RawClient c(server_.port());
    ASSERT_TRUE(c.login());
    c.send(frameOf("2:vovuvuza\n") + frameOf("3:SELECT tabid FROM ids\n") + frameOf("1:\n"));
    EXPECT_EQ(c.frame(), "0:\n");
    EXPECT_EQ(c.frame(), "1:1\n");
    EXPECT_EQ(c.frame(), "-100:\n");
    EXPECT_EQ(c.frame(), "3:ids5:tabid1:11:41:N1:N");
    EXPECT_EQ(c.frame(), "-100:\n");
    EXPECT_TRUE(c.closedByServer());  // after Quit
  }
  exec(sock, "INSERT INTO ids (tabname,tabid) VALUES ('accounts',7)");
  EXPECT_EQ(rows(sock, "SELECT tabid FROM ids"), Rows{"7"});
  msqlClose(sock);
}

// 1,100 clients that stay connected: past the client limit they are told so;
// past the server's descriptors they wait, the server not spinning, until
// some leave. Either way a new client is served once some have left.
TEST_F(DbServerTest, ManyIdleClientsNeitherSpinNorLockOthersOut) {
  rlimit own;
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &own), 0);
  if (own.rlim_max < 1200) GTEST_SKIP() << "needs 1200 file descriptors";
  own.rlim_cur = std::min<rlim_t>(own.rlim_max, 4096);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &own), 0);
  testsupport::DbServer unlimited(tmp_.sub("unlimited"), {.args = {"-c", "5000"}});
  ASSERT_TRUE(unlimited.start());
  struct {
    testsupport::DbServer *server;
    size_t minGreeted, maxGreeted, refused;
  } cases[] = {{&server_, 500, 500, 600}, {&unlimited, 1000, 1023, 0}};
  for (const auto &k : cases) {
    const rlimit fds = {1024, 1024};
    ASSERT_EQ(prlimit(k.server->pid(), RLIMIT_NOFILE, &fds, nullptr), 0);
    std::deque<RawClient> clients;
    for (int i = 0; i < 1100; i++) {
      clients.emplace_back(k.server->socketPath());
      ASSERT_TRUE(clients.back().connected()) << i;
    }
    size_t greeted = 0, refused = 0;
    for (RawClient &c : clients) {
      std::string first = c.frame(300);
      if (first.rfind("0:6:", 0) == 0) greeted++;
      else if (first == "-1:Too many clients\n" && c.closedByServer()) refused++;
      else break;  // waits to be accepted, as do all after it
    }
    EXPECT_GE(greeted, k.minGreeted);
    EXPECT_LE(greeted, k.maxGreeted);
    EXPECT_EQ(refused, k.refused);
    if (k.refused) {
      EXPECT_EQ(k.server->query("SELECT * FROM ids"), "connect failed: Too many clients");
    }
    long cpu = procNumber(k.server->pid(), "cpu");
    usleep(500000);
    EXPECT_LT(procNumber(k.server->pid(), "cpu") - cpu, sysconf(_SC_CLK_TCK) / 4) << "the server spins";

    for (int i = 0; i < 100; i++) clients.pop_front();
    for (size_t i = greeted + refused - 100; i < clients.size(); i++)
      EXPECT_EQ(clients[i].frame().substr(0, 4), "0:6:") << i;
    EXPECT_EQ(k.server->query("SELECT * FROM ids"), "");
  }
}

// A client that sends 5,000 selects and reads no answer: the server stops
// reading it at its bound of unsent answers, stays small and serves others.
TEST_F(DbServerTest, PipeliningClientIsHeldAtItsBound) {
  int sock = connectDb();
  ASSERT_GE(sock, 0);
  fillAccounts(sock, 2000);  // an answer of some 300 kB
  std::string log = server_.statements();
  const long before = std::count(log.begin(), log.end(), '\n');
  {
    RawClient greedy(server_.socketPath());
    ASSERT_TRUE(greedy.login());
    std::string frames = frameOf("2:vovuvuza\n");
    for (int i = 0; i < 5000; i++) frames += frameOf("3:SELECT * FROM accounts\n");
    greedy.send(frames);
    // Answered meanwhile; the second answer comes after the server has
    // taken what it takes from the greedy client.
    for (int i = 0; i < 2; i++) EXPECT_EQ(rows(sock, "SELECT id FROM accounts WHERE id=7"), Rows{"7"});
    // Some 10 MB; 1.5 GB without the bound.
    if (kMemoryTells) {
      EXPECT_LT(procNumber(server_.pid(), "VmHWM"), 256 * 1024);  // kB
    }
  }
  EXPECT_EQ(rows(sock, "SELECT id FROM accounts WHERE id=8"), Rows{"8"});
  log = server_.statements();
  EXPECT_LT(std::count(log.begin(), log.end(), '\n'), before + 100);  // few run while it stayed, none after
  msqlClose(sock);
}

// Statements outside the dialect or past the bounds are refused with an
// error answer and change nothing; the next statement is served at once.
TEST_F(DbServerTest, RefusesJoinsOverlongValuesAndStatementsPastTheBounds) {
  testsupport::DbServer bounded(tmp_.sub("bounded"), {.args = {"-t", "0.05", "-a", "200000"}});
  ASSERT_TRUE(bounded.start());
  setenv("MSQL_UNIX_PORT", bounded.socketPath().c_str(), 1);
  int sock = connectDb();
  ASSERT_GE(sock, 0);
  // Filled beside the server: under the sanitizers its inserts outlast the bound.
  const std::string file = bounded.dataDir() + "/vovuvuza.db";
  engine(file, "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x+1 FROM c WHERE x<4000) "
               "INSERT INTO accounts (id,user,date,sum,cmt,flag) SELECT x,'u'||(x%50),19980301,1.00,'" +
                   std::string(100, 'c') + "',0 FROM c");
  // Enough rows that removing them all takes longer than the bound.
  engine(file, "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x+1 FROM c WHERE x<400000) "
               "INSERT INTO rates (id,date,name,rate) SELECT x,19980301,'XX',1.0 FROM c");
  // 2,700 comparisons a row, in three groups (an expression nests at most
  // 1,000 deep): a second or so on 4,000 rows.
  std::string slow;
  for (int g = 0; g < 3; g++) {
    slow += g ? ") OR (" : "(";
    for (int i = 0; i < 900; i++) slow += (i ? " OR id=" : "id=") + std::to_string(5000 + g * 1000 + i);
  }
  slow += ")";
  const std::string oneTable = "Only one table per statement, without join, alias or nested select";
  const std::string slowError = "Statement took too long (more than 0.05 seconds)";
  const struct {
    std::string statement, error;
  } cases[] = {
      {"SELECT a.id FROM accounts a, accounts b, accounts c, accounts d", oneTable},
      {"SELECT id FROM accounts, ids", oneTable},
      {"SELECT id FROM accounts JOIN ids", oneTable},
      {"SELECT id FROM accounts WHERE id=(SELECT tabid FROM ids)", oneTable},
      {"DELETE FROM accounts WHERE id=(SELECT tabid FROM ids)", oneTable},
      {"INSERT INTO ids (tabname,tabid) SELECT user,id FROM accounts", oneTable},
      {"UPDATE accounts SET flag=1 FROM ids", oneTable},
      {"SELECT 1", oneTable},
      {"INSERT INTO ids (tabname,tabid) VALUES ('sixteen-letters!',1)",
       "Value too long for ids.tabname (at most 15 bytes)"},
      {"INSERT INTO accounts (id,user,date,sum,cmt,flag) VALUES (9999,'u',19980301,1.00,'" + std::string(300, '\xc1') +
           "',0)",
       "Value too long for accounts.cmt (at most 299 bytes)"},
      {"UPDATE accounts SET user=cmt WHERE id=1", "Value too long for accounts.user (at most 15 bytes)"},
      {"SELECT id FROM accounts WHERE " + slow, slowError},
      {"SELECT id FROM accounts WHERE " + slow, slowError},  // prepared before
      {"SELECT id FROM accounts WHERE id=5 6", "near \"6\": syntax error"},
      {"UPDATE accounts SET flag=1 WHERE " + slow + " OR id>0", slowError},
      {"SELECT * FROM accounts", "Answer too large (more than 200000 bytes)"},
      {"SELECT * FROM sqlite_master", oneTable},
      {"SELECT name FROM sqlite_temp_master", oneTable},
      {"SELECT file FROM pragma_database_list", oneTable},
      {"SELECT name FROM dbstat", oneTable},
      {"SELECT value FROM json_each", oneTable},
      {"INSERT INTO accounts (id,user,date,sum,cmt,flag) VALUES (9998,'u',19980301,'9x9x','c',0)",
       "Value for accounts.sum is not a number"},
      {"UPDATE accounts SET sum=cmt WHERE id=1", "Value for accounts.sum is not a number"},
      {"UPDATE accounts SET flag='' WHERE id=1", "Value for accounts.flag is not a number"},
      {"DELETE FROM rates", slowError},
      {"CREATE TABLE wide (id int, descr char(32760))", "Rows of table \"wide\" could outgrow a packet"},
  };
  for (const auto &k : cases) {
    EXPECT_EQ(msqlQuery(sock, k.statement.c_str()), -1) << k.statement.substr(0, 80);
    EXPECT_EQ(msqlErrMsg, k.error) << k.statement.substr(0, 80);
  }
  EXPECT_EQ(rows(sock, "SELECT id FROM accounts WHERE flag=1 OR id=9999 OR user='u1' AND id<100"), (Rows{"1", "51"}));
  EXPECT_EQ(rows(sock, "SELECT tabid FROM ids"), Rows{});
  EXPECT_EQ(engine(file, "SELECT count(*) FROM rates"), Rows{"400000"});
  // The widest row the schema allows is answered whole.
  const std::string wide = "1|ru|sixteen-letters!|" + std::string(2047, '\xc1');
  exec(sock, "INSERT INTO sgroups (id,lang,name,descr) VALUES (1,'ru','sixteen-letters!','" + std::string(2047, '\xc1') +
                 "')");
  EXPECT_EQ(rows(sock, "SELECT * FROM sgroups"), Rows{wide});
  msqlClose(sock);
}

// A pipelining client takes turns with a plain one; 60 clients that send
// and never read hold 64 MiB of answers in all at most, and the plain one is
// served meanwhile.
TEST_F(DbServerTest, ClientsTakeTurnsAndUnreadAnswersStayBounded) {
  testsupport::DbServer server(tmp_.sub("turns"), {.statementLog = true, .args = {"-t", "1"}});
  ASSERT_TRUE(server.start());
  setenv("MSQL_UNIX_PORT", server.socketPath().c_str(), 1);
  int sock = connectDb();
  ASSERT_GE(sock, 0);
  fillAccounts(sock, 2000);  // an answer of some 300 kB
  auto logged = [&](const std::string &line) {
    std::string log = server.statements();
    std::vector<std::string> lines;
    for (std::istringstream in(log); std::getline(in, lines.emplace_back());) {}
    return std::count(lines.begin(), lines.end(), line);
  };
  std::string slow = "SELECT id FROM accounts WHERE id=5000";
  for (int i = 1; i < 600; i++) slow += " OR id=" + std::to_string(5000 + i);
  const std::string plain = "SELECT id FROM accounts WHERE id=7";
  {
    RawClient greedy(server.socketPath());
    ASSERT_TRUE(greedy.login());
    std::string frames = frameOf("2:vovuvuza\n");
    for (int i = 0; i < 40; i++) frames += frameOf("3:" + slow + "\n");
    greedy.send(frames);
    for (int i = 0; i < 500 && logged(slow) == 0; i++) usleep(10000);
    EXPECT_EQ(rows(sock, plain), Rows{"7"});
    std::string log = server.statements();
    std::string before = log.substr(0, log.find(plain));
    size_t ahead = 0;
    for (size_t at = before.find(slow); at != std::string::npos; at = before.find(slow, at + 1)) ahead++;
    EXPECT_LE(ahead, 3u);  // 40 when a pipeline is answered whole first
  }
  {
    std::vector<std::unique_ptr<RawClient>> greedy;
    for (int i = 0; i < 60; i++) {
      greedy.push_back(std::make_unique<RawClient>(server.socketPath()));
      ASSERT_TRUE(greedy.back()->login());
      std::string frames = frameOf("2:vovuvuza\n");
      for (int j = 0; j < 100; j++) frames += frameOf("3:SELECT * FROM accounts\n");
      greedy.back()->send(frames);
    }
    for (int i = 0; i < 500 && logged("SELECT * FROM accounts") < 300; i++) usleep(10000);
    EXPECT_EQ(rows(sock, "SELECT id FROM accounts WHERE id=8"), Rows{"8"});
    // 64 MiB of answers and their rows being made; 280 MB without the bound.
    if (kMemoryTells) {
      EXPECT_LT(procNumber(server.pid(), "VmHWM"), 200 * 1024);  // kB
    }
  }
  msqlClose(sock);
}

// A database made by an older schema, with narrower descriptions, takes
// today's widths once opened; its rows stay.
TEST_F(DbServerTest, OldDatabasesAreBroughtUpToTheCurrentWidths) {
  const std::string file = server_.dataDir() + "/old.db";
  engine(file, "CREATE TABLE \"snames\" (\"id\" INT, \"lang\" CHAR(2), \"name\" CHAR(16), \"descr\" CHAR(300));"
               "CREATE TABLE \"sgroups\" (\"id\" INT, \"lang\" CHAR(2), \"name\" CHAR(16), \"descr\" CHAR(300));"
               "INSERT INTO snames VALUES (1,'ru','mail','old');");
  int sock = msqlConnect(nullptr);
  ASSERT_GE(sock, 0);
  ASSERT_EQ(msqlSelectDB(sock, "old"), 0) << msqlErrMsg;
  exec(sock, "INSERT INTO snames (id,lang,name,descr) VALUES (2,'ru','web','" + std::string(301, 'd') + "')");
  exec(sock, "INSERT INTO sgroups (id,lang,name,descr) VALUES (1,'ru','misc','" + std::string(2047, 'd') + "')");
  EXPECT_EQ(rows(sock, "SELECT id,descr FROM snames WHERE id=1"), Rows{"1|old"});
  EXPECT_EQ(msqlQuery(sock, ("INSERT INTO snames (id,lang,name,descr) VALUES (3,'ru','x','" + std::string(302, 'd') +
                             "')").c_str()),
            -1);
  msqlClose(sock);
  EXPECT_EQ(engine(file, "SELECT name FROM sqlite_master WHERE type='index' ORDER BY name"),
            (Rows{"sgroups_name", "snames_name"}));
}

TEST_F(DbServerTest, StatementLogHoldsEveryQueryAsReceived) {
  int sock = connectDb();
  ASSERT_GE(sock, 0);
  std::vector<std::string> sent = {
      "SELECT * FROM ids LIMIT 1",
      "INSERT INTO snames (id,lang,name,descr) VALUES (1,'ru','mail','\xf0\xcf\xde\xd4\xc1 \\'x\\'')",
      "SELECT nosuch FROM snames",
      "UPDATE snames SET descr='y' WHERE name='mail' AND lang='ru'",
  };
  std::string expected;
  for (const std::string &q : sent) {
    msqlQuery(sock, q.c_str());
    expected += q + "\n";
  }
  msqlClose(sock);
  EXPECT_EQ(server_.statements(), expected);
}

// A writer inserts rows one by one and reports each acknowledged id; the
// server is killed while it writes. After a restart every acknowledged row
// is there.
TEST_F(DbServerTest, AcknowledgedInsertsSurviveAKill) {
  int acks[2];
  ASSERT_EQ(pipe(acks), 0);
  pid_t writer = fork();
  if (writer == 0) {
    int sock = msqlConnect(nullptr);
    if (sock < 0 || msqlSelectDB(sock, "vovuvuza") < 0) _exit(1);
    for (int id = 1; id <= 100000; id++) {
      std::string q = "INSERT INTO accounts (id,user,date,sum,cmt,flag) VALUES (" + std::to_string(id) +
                      ",'ivan',19980301,1.00,'c',0) ";
      if (msqlQuery(sock, q.c_str()) < 0 || write(acks[1], &id, sizeof id) != sizeof id) _exit(0);
    }
    _exit(0);
  }
  close(acks[1]);
  std::set<std::string> acknowledged;
  int id;
  while (acknowledged.size() < 150 && read(acks[0], &id, sizeof id) == sizeof id)
    acknowledged.insert(std::to_string(id));
  server_.crash();
  while (read(acks[0], &id, sizeof id) == sizeof id) acknowledged.insert(std::to_string(id));
  close(acks[0]);
  waitpid(writer, nullptr, 0);
  ASSERT_GE(acknowledged.size(), 150u);

  ASSERT_TRUE(server_.start());
  int sock = connectDb();
  Rows stored = rows(sock, "SELECT id FROM accounts");
  for (const std::string &a : acknowledged) EXPECT_EQ(std::count(stored.begin(), stored.end(), a), 1) << a;
  EXPECT_LE(stored.size(), acknowledged.size() + 1);  // at most the one in flight besides
  msqlClose(sock);
}

TEST(DbServerCommandLine, InitOptionsAndFileModes) {
  testsupport::TempDir tmp("dbservercli");
  testsupport::writeFile(tmp.sub("badaccess"), "# the node\n127.0.0.1\nlocalhost\n");
  const mode_t umaskBefore = umask(022);
  testsupport::RunSpec spec;
  spec.program = "dbserver";
  spec.overlay = false;
  spec.timeoutSeconds = 20;

  spec.args = {"-D", tmp.sub("data"), "--init", "base"};
  EXPECT_EQ(testsupport::run(spec).status, 0);
  EXPECT_TRUE(testsupport::fileExists(tmp.sub("data/base.db")));
  testsupport::RunResult r = testsupport::run(spec);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "dbserver: Database \"base\" exists\n");
  spec.args = {"-D", tmp.sub("data"), "--init", "../base"};
  EXPECT_EQ(testsupport::run(spec).status, 1);

  for (std::vector<std::string> args : std::vector<std::vector<std::string>>{
           {}, {"-s", tmp.sub("s")}, {"-D", tmp.sub("data")}, {"-D", tmp.sub("data"), "-p", "70000"},
           {"-D", tmp.sub("data"), "-x"}, {"-D", tmp.sub("nodir"), "-s", tmp.sub("s")},
           {"-D", tmp.sub("data"), "-s", tmp.sub("s"), "-S", "off"}, {"-D", tmp.sub("data"), "-c", "0"},
           {"-D", tmp.sub("data"), "-t", "-1"}, {"-D", tmp.sub("data"), "-a", "1k"},
           {"-D", tmp.sub("data"), "-s", tmp.sub("s"), "-p", "0"},
           {"-D", tmp.sub("data"), "-s", tmp.sub("s"), "-p", "0", "-A", tmp.sub("badaccess")}}) {
    spec.args = args;
    r = testsupport::run(spec);
    EXPECT_EQ(r.status, 1) << testing::PrintToString(args);
    EXPECT_NE(r.err, "") << testing::PrintToString(args);
  }

  // A second server on a socket in use gives up; the first (syncing every
  // statement) serves on.
  testsupport::DbServer server(tmp.sub("db"), {.statementLog = true, .durability = "full"});
  ASSERT_TRUE(server.start());
  spec.args = {"-D", server.dataDir(), "-s", server.socketPath()};
  r = testsupport::run(spec);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("already listens"), std::string::npos) << r.err;
  setenv("MSQL_UNIX_PORT", server.socketPath().c_str(), 1);
  int sock = msqlConnect(nullptr);
  ASSERT_GE(sock, 0) << msqlErrMsg;
  EXPECT_EQ(msqlSelectDB(sock, "vovuvuza"), 0) << msqlErrMsg;
  EXPECT_EQ(msqlQuery(sock, "INSERT INTO ids (tabname,tabid) VALUES ('rates',1)"), 0) << msqlErrMsg;
  EXPECT_EQ(msqlCreateDB(sock, "made"), 0) << msqlErrMsg;
  msqlClose(sock);

  // The server's user's only, whatever the umask.
  const std::string db = server.dataDir() + "/vovuvuza.db";
  const struct {
    std::string path;
    mode_t mode;
  } modes[] = {{tmp.sub("data"), 0700}, {tmp.sub("data/base.db"), 0600}, {db, 0600},
               {db + "-wal", 0600},     {db + "-shm", 0600},               {server.dataDir() + "/made.db", 0600},
               {server.logPath(), 0600}, {server.socketPath(), 0700}};
  for (const auto &m : modes) {
    struct stat st;
    ASSERT_EQ(stat(m.path.c_str(), &st), 0) << m.path;
    EXPECT_EQ(st.st_mode & 07777, m.mode) << m.path;
  }
  umask(umaskBefore);
  EXPECT_TRUE(server.stop());
  EXPECT_FALSE(testsupport::fileExists(server.socketPath()));

  // TCP serves the hosts of the access list only.
  testsupport::writeFile(tmp.sub("access"), "127.0.0.2  # another host\n\n10.0.0.0/8\n");
  testsupport::DbServer tcp(tmp.sub("tcp"), {.tcp = false, .args = {"-p", "0", "-A", tmp.sub("access")}});
  ASSERT_TRUE(tcp.start());
  RawClient stranger(tcp.port());
  EXPECT_EQ(stranger.frame(), "-1:Access denied\n");
}
