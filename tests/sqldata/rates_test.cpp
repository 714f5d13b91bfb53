// Currency rates end to end: the lookup before the day asked for, the cache,
// stale and missing rates with their log lines and mails, and storing.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../msql/scripted_peer.h"
#include "sqlnode.h"

using sqlnode::countOf;
using sqlnode::countPrefix;
using sqlnode::Node;
using sqlnode::occurrences;

namespace {

const char kSelectUsd[] =
    "SELECT rate,date FROM rates WHERE name='usd' AND date<19980431 ORDER BY date DESC LIMIT 1";

// KOI8-R texts of the mails.
const char kMissingSubject[] =
    "Subject: \xee\xc5 \xd5\xd3\xd4\xc1\xce\xcf\xd7\xcc\xc5\xce \xcb\xd5\xd2\xd3 usd!!\n";
const char kMissingBody[] =
    "\xee\xc5\xd4 \xd3\xd7\xc5\xc4\xc5\xce\xc9\xca \xcf \xcb\xd5\xd2\xd3\xc5 usd \xd0\xcf "
    "\xcf\xd4\xce\xcf\xdb\xc5\xce\xc9\xc0 \xcb \xcf\xd3\xce\xcf\xd7\xce\xcf\xca "
    "\xd7\xc1\xcc\xc0\xd4\xc5!\n";
const char kStaleSubject[] = "Subject: \xf5\xd3\xd4\xc1\xd2\xc5\xcc \xcb\xd5\xd2\xd3 usd!\n";
const char kStaleBodyStart[] =
    "\xf0\xcf\xd3\xcc\xc5\xc4\xce\xc9\xca \xc9\xcd\xc5\xc0\xdd\xc9\xca\xd3\xd1 \xd7 "
    "\xd2\xc1\xd3\xd0\xcf\xd2\xd1\xd6\xc5\xce\xc9\xc9 \xd3\xc5\xd2\xd7\xc5\xd2\xc1 "
    "\xd3\xd4\xc1\xd4\xc9\xd3\xd4\xc9\xcb\xc9 \xcb\xd5\xd2\xd3 usd:\n ";
const char kFooterStart[] =
    "\n\xe4\xcc\xd1 \xd4\xcf\xc7\xcf, \xde\xd4\xcf\xc2\xd9 \xd7\xd7\xc5\xd3\xd4\xc9 "
    "\xce\xcf\xd7\xd9\xca \xcb\xd5\xd2\xd3 \xcd\xcf\xd6\xce\xcf "
    "\xd7\xcf\xd3\xd0\xcf\xcc\xd8\xda\xcf\xd7\xc1\xd4\xd8\xd3\xd1\n\xcd\xcf\xc4\xd5\xcc\xc5\xcd ";
const char kFooterEnd[] =
    "/fxpost\n\n\xe9\xd3\xcb\xd2\xc5\xce\xce\xc5 \xf7\xc1\xdb,\n\xf3\xc5\xd2\xd7\xc5\xd2 "
    "\xd3\xd4\xc1\xd4\xc9\xd3\xd4\xc9\xcb\xc9\n";

std::string insertRate(int id, const char *date, const char *name, const char *rate) {
  return std::string("INSERT INTO rates (id,date,name,rate) VALUES (") + std::to_string(id) + "," +
         date + ",'" + name + "'," + rate + ")";
}

// The body of a captured mail: what follows the header's empty line.
std::string bodyOf(const std::string &mail) {
  size_t pos = mail.find("\n\n");
  return pos == std::string::npos ? "" : mail.substr(pos + 2);
}

std::string footer(const Node &node) {
  return std::string(kFooterStart) + node.home() + "/bin" + kFooterEnd;
}

}  // namespace

TEST(Rates, FindsTheNewestRateBeforeTheDayAndCachesIt) {
  Node node;
  ASSERT_TRUE(node.db.start());
  ASSERT_EQ(node.drive({"query", insertRate(101, "19980310", "usd", "5.000"), "query",
                        insertRate(102, "19980430", "usd", "6.250"), "query",
                        insertRate(103, "19980431", "usd", "9.000")})
                .status,
            0);
  // Day 31 of April finds the rate of day 30, not one dated the 31st; the
  // second request is answered from the cache.
  auto r = node.drive({"rate", "usd", "19980431", "rate", "usd", "19980431"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "rate usd 6.250000\nrate usd 6.250000\n");
  EXPECT_EQ(countOf(node.statements(), kSelectUsd), 1u);
  EXPECT_EQ(r.err.find("Rate for"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("No rate"), std::string::npos) << r.err;
  EXPECT_TRUE(node.mails().empty());
}

TEST(Rates, StaleRateIsReturnedLoggedEachTimeAndMailedOnce) {
  Node node;
  ASSERT_TRUE(node.db.start());
  // The found rate is dated on the 1st: the mail goes out all the same.
  ASSERT_EQ(node.drive({"query", insertRate(101, "19980301", "usd", "5.125"), "query",
                        insertRate(102, "19970415", "eur", "7.000")})
                .status,
            0);
  auto r = node.drive({"rate", "usd", "19980431", "rate", "usd", "19980431", "rate", "eur",
                       "19980420"});
  ASSERT_EQ(r.status, 0) << r.err;
  // The same month of the year before is out of date too.
  EXPECT_EQ(r.out, "rate usd 5.125000\nrate usd 5.125000\nrate eur 7.000000\n");
  const std::string line = "Rate for `usd' out of date. Requested 19980431, last known 19980301\n";
  EXPECT_EQ(occurrences(r.err, line), 2u);
  EXPECT_EQ(occurrences(r.err, "Rate for `eur' out of date. Requested 19980420, last known 19970415\n"),
            1u);
  EXPECT_EQ(occurrences(testsupport::readFile(node.home() + "/Logfile"), line), 2u);
  // Not cached: every request asks the table again.
  EXPECT_EQ(countOf(node.statements(), kSelectUsd), 2u);

  auto mails = node.mails();
  ASSERT_EQ(mails.size(), 1u) << r.err;
  EXPECT_NE(mails[0].find("[stat-adm@node.example]\n"), std::string::npos) << mails[0];
  EXPECT_NE(mails[0].find("To: stat-adm@node.example\n"), std::string::npos);
  EXPECT_NE(mails[0].find(kStaleSubject), std::string::npos) << mails[0];
  EXPECT_EQ(bodyOf(mails[0]), std::string(kStaleBodyStart) + "5.125000 \xce\xc1 1998/03/1\n" +
                                  footer(node));
}

TEST(Rates, MissingRateGivesZeroAndOneMailPerProcess) {
  Node node;
  ASSERT_TRUE(node.db.start());
  // A stored 0.000001 counts as no rate.
  ASSERT_EQ(node.drive({"query", insertRate(101, "19980401", "usd", "0.000001")}).status, 0);
  auto r = node.drive({"rate", "usd", "19980431", "rate", "eur", "19980431"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "rate usd 0.000000\nrate eur 0.000000\n");
  EXPECT_EQ(occurrences(r.err, "No rate for `usd' (at least before 19980431)!\n"), 1u);
  EXPECT_EQ(occurrences(r.err, "No rate for `eur' (at least before 19980431)!\n"), 1u);
  auto mails = node.mails();
  ASSERT_EQ(mails.size(), 1u) << r.err;
  EXPECT_NE(mails[0].find(kMissingSubject), std::string::npos) << mails[0];
  EXPECT_EQ(bodyOf(mails[0]), std::string(kMissingBody) + footer(node));

  // The next process mails again.
  r = node.drive({"rate", "usd", "19980431"});
  EXPECT_EQ(node.mails().size(), 2u);
}

TEST(Rates, StoreWritesTheRateAsGivenUnderTheIdLockAndUpdatesTheCache) {
  Node node;
  ASSERT_TRUE(node.db.start());
  ASSERT_EQ(node.drive({"query", insertRate(101, "19980401", "usd", "5.000")}).status, 0);
  auto r = node.drive({"rate", "usd", "19980420", "store", "usd", "6.12345", "19980420", "rate",
                       "usd", "19980420", "store", "it's", "5.8", "19980401"});
  ASSERT_EQ(r.status, 0) << r.err;
  // The cached value becomes the stored one, as the table holds it.
  EXPECT_EQ(r.out, "rate usd 5.000000\nrate usd 6.123450\n");
  auto log = node.statements();
  EXPECT_EQ(countOf(log, "SELECT rate,date FROM rates WHERE name='usd' AND date<19980420 ORDER BY "
                         "date DESC LIMIT 1"),
            1u);
  EXPECT_EQ(countOf(log, "INSERT INTO rates (id,date,name,rate) VALUES (1,19980420,'usd',6.12345)"),
            1u);
  EXPECT_EQ(countOf(log, "INSERT INTO rates (id,date,name,rate) VALUES (2,19980401,'it\\'s',5.8)"),
            1u);
  EXPECT_EQ(countPrefix(log, "UPDATE ids SET tabid="), 2u);
  auto stored = node.rows("SELECT rate FROM rates WHERE name='it\\'s'");
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_DOUBLE_EQ(std::stod(stored[0]), 5.8);
  EXPECT_TRUE(node.locks().empty());

  // A fresh process reads the stored rate for a later day of the month.
  r = node.drive({"rate", "it's", "19980402"});
  EXPECT_EQ(r.out, "rate it's 5.800000\n");
}

TEST(Rates, AnswerWithTooFewColumnsIsNoRate) {
  // A server that answers the rate query with one column: the row is not
  // read past its end, and the rate counts as missing.
  Node node;
  const std::string socket = node.tmp.sub("peer.sock");
  testpeer::ScriptedPeer peer(socket);
  ASSERT_TRUE(peer.listening());
  peer.greet().expect().frame("0:\n").expect()
      .frame("1:1\n").frame("5:1.500").frame("-100:\n")
      .frame("5:rates4:rate1:31:81:N1:N").frame("-100:\n").expectClose();
  peer.start();
  node.extra = "sql-socket " + socket + "\n";
  auto r = node.drive({"rate", "usd", "19980431"});
  peer.join();
  EXPECT_EQ(r.out, "rate usd 0.000000\n");
  const std::string want =
      "Short row from the database: 1 columns where 2 are read\n"
      "No rate for `usd' (at least before 19980431)!\n";
  EXPECT_NE(r.err.find(want), std::string::npos) << r.err;
  ASSERT_EQ(peer.received().size(), 3u);
  EXPECT_EQ(peer.received()[2], std::string("3:") + kSelectUsd + "\n");
  EXPECT_EQ(node.mails().size(), 1u);
}
