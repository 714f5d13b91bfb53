// Service group and service descriptions end to end: tables `sgroups' and
// `snames', the catalogue texts that win over them, and quoting.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sqlnode.h"

using sqlnode::countOf;
using sqlnode::countPrefix;
using sqlnode::Node;

namespace {

// A node whose catalogue (English, the configured language) knows the misc
// group, one other group and one service.
void writeCatalogue(const Node &node) {
  testsupport::writeFile(node.home() + "/languages.cf", "en en.msg\n");
  testsupport::writeFile(node.home() + "/en.msg",
                         "sgrp_misc \"Other services\"\n"
                         "sgrp_s00000042 \"Catalogue group\"\n"
                         "serv_web \"Web traffic\"\n");
}

}  // namespace

TEST(ServiceGroups, NamesComeFromTheTableOrAreMadeOnFirstUse) {
  Node node;
  node.extra = "language en\n";
  writeCatalogue(node);
  ASSERT_TRUE(node.db.start());
  ASSERT_EQ(node.drive({"query", "INSERT INTO ids (tabname,tabid) VALUES ('sgroups',6)"}).status, 0);
  auto r = node.drive({"sgname", "Dial-up access", "en", "sgname", "Dial-up access", "en",
                       "sgname", "Other services", "", "sgname", "Dial-up access", "ru",
                       "sgdescr", "s00000009", "ru"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "sgname s00000007\nsgname s00000007\nsgname misc\nsgname s00000009\n"
            "sgdescr Dial-up access\n");
  auto log = node.statements();
  // Each description is asked once; a group made here is known by its name.
  EXPECT_EQ(countPrefix(log, "SELECT name FROM sgroups"), 3u);
  EXPECT_EQ(countPrefix(log, "SELECT descr FROM sgroups"), 0u);
  EXPECT_EQ(countOf(log, "INSERT INTO sgroups (id,lang,name,descr) VALUES "
                         "(7,'en','s00000007','Dial-up access')"),
            1u);
  // The empty language stands for the configured one; misc takes an id too.
  EXPECT_EQ(countOf(log, "INSERT INTO sgroups (id,lang,name,descr) VALUES "
                         "(8,'en','misc','Other services')"),
            1u);
  EXPECT_EQ(countPrefix(log, "INSERT INTO sgroups"), 3u);
  EXPECT_TRUE(node.locks().empty());
}

TEST(ServiceGroups, CatalogueTextWinsOverTheTable) {
  Node node;
  node.extra = "language en\n";
  writeCatalogue(node);
  ASSERT_TRUE(node.db.start());
  ASSERT_EQ(node.drive({"query",
                        "INSERT INTO sgroups (id,lang,name,descr) VALUES (42,'en','s00000042','Table "
                        "group')",
                        "query",
                        "INSERT INTO sgroups (id,lang,name,descr) VALUES (43,'en','s00000043','Dial-up "
                        "access')"})
                .status,
            0);
  auto r = node.drive({"sgdescr", "misc", "", "sgdescr", "s00000042", "en", "sgdescr",
                       "s00000043", "en", "sgdescr", "s00000099", "en", "sgdescr", "s00000043",
                       "en", "sgdescr", "s00000099", "en"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "sgdescr Other services\nsgdescr Catalogue group\nsgdescr Dial-up access\n"
            "sgdescr Other services\nsgdescr Dial-up access\nsgdescr Other services\n");
  auto log = node.statements();
  EXPECT_EQ(countPrefix(log, "SELECT descr FROM sgroups WHERE name='misc'"), 0u);
  EXPECT_EQ(countPrefix(log, "SELECT descr FROM sgroups WHERE name='s00000042'"), 0u);
  EXPECT_EQ(countOf(log, "SELECT descr FROM sgroups WHERE name='s00000043' AND lang='en'"), 1u);
  EXPECT_EQ(countOf(log, "SELECT descr FROM sgroups WHERE name='s00000099' AND lang='en'"), 1u);

  // A service with a catalogue text leaves `snames' alone.
  r = node.drive({"sndescr", "web", "Web from the price list", "en", "sndescr", "web", "@null",
                  "en"});
  EXPECT_EQ(r.out, "sndescr Web traffic\nsndescr Web traffic\n");
  EXPECT_EQ(countPrefix(node.statements(), "SELECT descr FROM snames"), 0u);
  EXPECT_TRUE(node.rows("SELECT name FROM snames").empty());
}

TEST(ServiceNames, DescriptionsFollowThePriceList) {
  Node node;
  node.extra = "language en\n";
  ASSERT_TRUE(node.db.start());
  auto r = node.drive({"sndescr", "mail", "Mail traffic", "en",     // new: inserted
                       "sndescr", "mail", "Mail traffic", "en",     // same: nothing written
                       "sndescr", "mail", "@null", "en",            // stored copy
                       "sndescr", "mail", "Mail volume", "",        // changed: updated
                       "sndescr", "mail", "@null", "en",
                       "sndescr", "ftp", "@null", "en"});           // unknown: its name
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "sndescr Mail traffic\nsndescr Mail traffic\nsndescr Mail traffic\n"
            "sndescr Mail volume\nsndescr Mail volume\nsndescr ftp\n");
  auto log = node.statements();
  // Asked once per service; what was written answers afterwards.
  EXPECT_EQ(countPrefix(log, "SELECT descr FROM snames"), 2u);
  EXPECT_EQ(countOf(log, "INSERT INTO snames (id,lang,name,descr) VALUES "
                         "(1,'en','mail','Mail traffic')"),
            1u);
  EXPECT_EQ(countPrefix(log, "INSERT INTO snames"), 1u);
  EXPECT_EQ(countOf(log, "UPDATE snames SET descr='Mail volume' WHERE name='mail' AND lang='en'"),
            1u);
  EXPECT_EQ(countPrefix(log, "UPDATE snames"), 1u);
  EXPECT_EQ(node.rows("SELECT id,lang,name,descr FROM snames"),
            std::vector<std::string>{"1|en|mail|Mail volume"});
}

TEST(ServiceNames, QuotesInDescriptionsAndLanguagesRoundTrip) {
  Node node;
  node.extra = "language en\n";
  ASSERT_TRUE(node.db.start());
  // With retries off a broken statement would show as a failure at once.
  auto r = node.drive({"retry", "0", "sgname", "Bob's \\ group", "en", "sgname", "Bob's \\ group",
                       "en", "sgdescr", "s00000001", "en", "sndescr", "it's", "Joe's line", "e'",
                       "sndescr", "it's", "Joe's line", "e'", "sndescr", "it's", "@null", "e'"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "sgname s00000001\nsgname s00000001\nsgdescr Bob's \\ group\n"
            "sndescr Joe's line\nsndescr Joe's line\nsndescr Joe's line\n");
  EXPECT_EQ(r.err.find("Cannot process query"), std::string::npos) << r.err;
  auto log = node.statements();
  EXPECT_EQ(countOf(log, "INSERT INTO sgroups (id,lang,name,descr) VALUES "
                         "(1,'en','s00000001','Bob\\'s \\\\ group')"),
            1u);
  EXPECT_EQ(countOf(log, "INSERT INTO snames (id,lang,name,descr) VALUES "
                         "(1,'e\\'','it\\'s','Joe\\'s line')"),
            1u);
  EXPECT_EQ(countPrefix(log, "INSERT INTO s"), 2u);
  EXPECT_EQ(countPrefix(log, "UPDATE snames"), 0u);
}
