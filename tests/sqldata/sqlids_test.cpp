// Row ids end to end: the counter in `ids', its cache, the lock files and
// several processes drawing ids at once.

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "sqlnode.h"

using sqlnode::countOf;
using sqlnode::countPrefix;
using sqlnode::linesOf;
using sqlnode::Node;

TEST(SqlIds, CountsFromOneReadingTheCounterOncePerLockPeriod) {
  Node node;
  ASSERT_TRUE(node.db.start());
  auto r = node.drive({"lock", "rates", "next", "rates", "next", "rates", "next", "rates",
                       "unlock", "rates"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "lock 1\nnext rates 1\nnext rates 2\nnext rates 3\n");
  auto log = node.statements();
  EXPECT_EQ(countOf(log, "SELECT tabid FROM ids WHERE tabname='rates'"), 1u);
  EXPECT_EQ(countOf(log, "INSERT INTO ids (tabname,tabid) VALUES ('rates',0)"), 1u);
  for (int id = 1; id <= 3; ++id)
    EXPECT_EQ(countOf(log, "UPDATE ids SET tabid=" + std::to_string(id) + " WHERE tabname='rates'"),
              1u);
  EXPECT_TRUE(node.locks().empty());

  // A later run reads the counter written back and inserts no second row.
  r = node.drive({"lock", "rates", "next", "rates", "unlock", "rates"});
  EXPECT_EQ(r.out, "lock 1\nnext rates 4\n");
  EXPECT_EQ(countPrefix(node.statements(), "INSERT INTO ids"), 1u);
  EXPECT_EQ(node.rows("SELECT tabname,tabid FROM ids"), std::vector<std::string>{"rates|4"});
}

TEST(SqlIds, SwitchingTablesRereadsTheCounter) {
  Node node;
  ASSERT_TRUE(node.db.start());
  // snames drawn inside a statistic run, as the statistic writer does.
  auto r = node.drive({"lock", "statistic", "next", "statistic", "lock", "snames", "next", "snames",
                       "unlock", "snames", "next", "statistic", "next", "snames", "next",
                       "statistic", "unlock", "statistic", "lock", "statistic", "next",
                       "statistic", "unlock", "statistic"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "lock 1\nnext statistic 1\nlock 1\nnext snames 1\nnext statistic 2\n"
            "next snames 2\nnext statistic 3\nlock 1\nnext statistic 4\n");
  auto log = node.statements();
  EXPECT_EQ(countOf(log, "SELECT tabid FROM ids WHERE tabname='statistic'"), 4u);
  EXPECT_EQ(countOf(log, "SELECT tabid FROM ids WHERE tabname='snames'"), 2u);
  EXPECT_EQ(countOf(log, "INSERT INTO ids (tabname,tabid) VALUES ('statistic',0)"), 1u);
  EXPECT_EQ(countOf(log, "INSERT INTO ids (tabname,tabid) VALUES ('snames',0)"), 1u);
  EXPECT_TRUE(node.locks().empty());
}

TEST(SqlIds, ConcurrentWritersGetUniqueIdsAndTheCounterKeepsUp) {
  Node node;
  ASSERT_TRUE(node.db.start());
  // Five processes at once, each drawing ids of statistic in ten lock
  // periods, every period with a nested new service description (snames).
  const int processes = 5, rounds = 10;
  std::string script;
  for (int p = 0; p < processes; ++p)
    script += "\"$DRIVER\" burst statistic " + std::to_string(rounds) + " 1 > out" +
              std::to_string(p) + " &\n";
  script += "wait\ncat out*\n";
  auto r = node.shell(script);
  ASSERT_EQ(r.status, 0) << r.err;

  std::set<unsigned long> ids;
  size_t drawn = 0;
  for (const std::string &line : linesOf(r.out)) {
    ASSERT_EQ(line.compare(0, 13, "id statistic "), 0) << line;
    ids.insert(std::stoul(line.substr(13)));
    ++drawn;
  }
  const size_t expected = processes * rounds * 2;
  EXPECT_EQ(drawn, expected);
  EXPECT_EQ(ids.size(), expected);  // no id twice
  EXPECT_EQ(*ids.rbegin(), expected);
  EXPECT_EQ(node.rows("SELECT tabid FROM ids WHERE tabname='statistic'"),
            std::vector<std::string>{std::to_string(expected)});

  // Every row went in with its own id; the snames counter equals its largest id.
  EXPECT_EQ(node.rows("SELECT id FROM statistic").size(), expected);
  auto snames = node.rows("SELECT id FROM snames ORDER BY id");
  ASSERT_EQ(snames.size(), static_cast<size_t>(processes * rounds));
  EXPECT_EQ(std::set<std::string>(snames.begin(), snames.end()).size(), snames.size());
  EXPECT_EQ(node.rows("SELECT tabid FROM ids WHERE tabname='snames'"),
            std::vector<std::string>{std::to_string(processes * rounds)});
  EXPECT_EQ(node.rows("SELECT id FROM snames ORDER BY id DESC LIMIT 1"),
            std::vector<std::string>{std::to_string(processes * rounds)});
  EXPECT_EQ(countOf(node.statements(), "INSERT INTO ids (tabname,tabid) VALUES ('statistic',0)"),
            1u);
  EXPECT_TRUE(node.locks().empty());
}
