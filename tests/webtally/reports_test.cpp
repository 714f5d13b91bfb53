// The account, statistic and total reports and the formula functions of the
// forms, end to end: webtally run as a CGI against a stand-in database server
// of the test's own, and one whole page through a real web server.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "dbserver.h"
#include "site.h"
#include "webserver.h"

namespace {

// The report date of every request: 10 May 1998.
const char kOn[] = "date=1998.5.10";
// What the reader says of the row of May without a sum.
const char kNoSum[] = "No sum in statistic row of `mailin', counted as 0\n";

// The head and a row of an HTML statistic table.
const std::string kStatHead =
    "<TR><TH>Comment</TH><TH>Unit</TH><TH>Quantity</TH><TH>Price</TH><TH>Sum</TH></TR>\n";
std::string statRow(const std::string &descr, const std::string &unit, const std::string &amount,
                    const std::string &price, const std::string &sum) {
  return "<TR><TD>" + descr + "</TD>\n<TD ALIGN=RIGHT>" + unit + "</TD><TD ALIGN=RIGHT><TT>" + amount +
         "</TT></TD><TD ALIGN=RIGHT><TT>" + price + "</TT></TD><TD ALIGN=RIGHT><TT>" + sum + "</TT></TD></TR>\n";
}

// ann's account up to the report date: 100.00, 80.00 and 49.50 after the two
// charges of 15 March (listed by comment), 49.50 after the entries of 0 (one
// dated day 00), 39.25, then 92.24; the entry of 11 May lies after the report
// date. The comments hold markup and a text longer than a line.
const std::vector<std::string> kRows = {
    "accounts VALUES (1,'ann',19980301,100.00,'Payment',0)",
    "accounts VALUES (2,'ann',19980315,-30.50,'Charge b',0)",
    "accounts VALUES (3,'ann',19980315,-20.00,'Charge a',0)",
    "accounts VALUES (4,'ann',19980401,0,'Correction <b>&',0)",
    "accounts VALUES (5,'ann',19980420,-10.25,'Mail for April: the traffic of the whole month, "
    "priced by the megabyte and rounded',0)",
    "accounts VALUES (6,'ann',19980501,52.99,'Payment 2',0)",
    "accounts VALUES (7,'ann',19980511,1000,'After the date',0)",
    "accounts VALUES (8,'boris',19980501,500,'Payment',0)",
    "accounts VALUES (9,'ann',19980400,0,'Day 00',0)",
    // April: group misc first; May: group lan before misc, a row below the
    // cut, one just at it, rows without a name and without a sum, and a unit
    // and descriptions with markup. March is empty.
    "statistic VALUES (1,'ann',19980400,'support','misc','en',1.5,'hour',450)",
    "statistic VALUES (2,'ann',19980400,'dialup','s00000001','en',1545.5,'min',772.75)",
    "statistic VALUES (3,'ann',19980400,'leased','s00000001','en',1,'month',1500)",
    "statistic VALUES (4,'ann',19980500,NULL,'s00000001','en',1,'min',5)",
    "statistic VALUES (5,'ann',19980500,'lanport','lan','en',2,'port',40)",
    "statistic VALUES (6,'ann',19980500,'support','misc','en',1,'hour',300)",
    "statistic VALUES (7,'ann',19980500,'dialup','s00000001','en',100,'min',50)",
    "statistic VALUES (8,'ann',19980500,'tiny','s00000001','en',0.0000005,'min',99)",
    "statistic VALUES (9,'ann',19980500,'edge','s00000001','en',0.000001,'<i>',0.001)",
    "statistic VALUES (10,'ann',19980500,'mailin','s00000001','en',3,'MB',NULL)",
    "statistic VALUES (11,'bob',19980500,'dialup','s00000001','en',1,'min',1000)",
    "statistic VALUES (12,'boris',19980500,'dialup','s00000001','ru',20,'min',10)",
    // Between December 1997 and January 1998 by number, in neither month.
    "statistic VALUES (13,'ann',19971300,'dialup','s00000001','en',7,'min',70)",
    "sgroups VALUES (1,'en','s00000001','Internet access')",
    "sgroups VALUES (2,'en','lan','Local <network> & more')",
    "sgroups VALUES (3,'ru','s00000001','\xc9\xce\xd4\xc5\xd2\xce\xc5\xd4')",  // KOI8-R
    "snames VALUES (1,'en','dialup','Dial-up access, minutes')",
    "snames VALUES (2,'en','support','Technical support beyond two free hours')",
    "snames VALUES (3,'en','lanport','Port <b>fast</b> & cheap')",
};

class Reports : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(db_.start());
    for (const std::string &row : kRows) ASSERT_EQ(db_.query("INSERT INTO " + row), "") << row;
    for (const char *name : {"languages.cf", "messages.en", "messages.ru"})
      site_.file(name, testsupport::readFile(testsupport::sourcePath("examples/node/") + name));
    site_.settings = db_.config() + "currency-precision 0.01\ncurrency-thousands \" \"\ntaxes 0.2\n";
  }

  struct Case {
    std::string form;
    std::string page;  // after the header
    std::string err;   // standard error, whole
  };
  // Runs each form for ann on the report date.
  void expectPages(const std::vector<Case> &cases, const char *user = "ann") {
    for (const Case &c : cases) {
      auto r = site_.page(c.form, {kOn, user});
      EXPECT_EQ(r.status, 0) << c.form;
      EXPECT_EQ(r.out, kPageHeader + c.page) << c.form;
      EXPECT_EQ(r.err, c.err) << c.form;
    }
  }

  Site site_;
  testsupport::DbServer db_{site_.tmp.sub("db"), [] {
                              testsupport::DbServer::Options o;
                              o.statementLog = true;
                              return o;
                            }()};
};

}  // namespace

TEST_F(Reports, AccountTextTable) {
  const std::string head = "      Date         IncomeExpense        Balance Comment\n";
  const std::string lastEntries =
      "01.04.1998           0.00                 49.50 Correction &lt;b&gt;&amp;\n"
      "20.04.1998                -10.25          39.25 Mail for April: the traffic of\n"
      "                                                the whole month, priced by the\n"
      "                                                megabyte and rounded\n"
      "01.05.1998          52.99                 92.24 Payment 2\n";
  expectPages({
      {"@account lines=3@",
       "================================ Your account =================================\n" + head +
           std::string(79, '-') + "\n"
           "01.04.1998                                49.50 Balance brought forward\n" +
           lastEntries + std::string(79, '='),
       ""},
      // The count asked for is shown, whatever it is; the balance of the
      // entries before `begin` comes in first.
      {"@account begin=1998.3.15 lines=99999999999 width=80@",
       "================================= Your account =================================\n" + head +
           std::string(80, '-') + "\n"
           "15.03.1998                               100.00 Balance brought forward\n"
           "15.03.1998                -20.00          80.00 Charge a\n"
           "15.03.1998                -30.50          49.50 Charge b\n"
           "00.04.1998           0.00                 49.50 Day 00\n" +
           lastEntries + std::string(80, '='),
       ""},
      {"@account lines=-1 width=30 end=1998.3.1@",
       "================== Your account ==================\n" + head + std::string(50, '-') + "\n" +
           "01.03.1998         100.00                100.00 Pa\n" + std::string(48, ' ') + "ym\n" +
           std::string(48, ' ') + "en\n" + std::string(48, ' ') + "t\n" + std::string(50, '='),
       ""},
      // Wider money columns; further comment lines still start at 48. A
      // heading is laid out as text, "%" and all.
      {"@account lines=2 width=100 withvat header=\"<100%s <b>\"@",
       "100%s <b> " + std::string(90, '=') + "\n" +
           "      Date           Income  Expense          Balance Comment\n" + std::string(100, '-') + "\n" +
           "20.04.1998                                      49.50 Balance brought forward\n"
           "20.04.1998                    -10.25            39.25 Mail for April: the traffic of the whole month,\n"
           "                                                priced by the megabyte and rounded\n"
           "01.05.1998            52.99                     92.24 Payment 2\n" +
           std::string(100, '-') + "\n" +
           "Balance:                                        92.24\n"
           "VAT (20%):                                      18.45\n"
           "Balance with VAT:                              110.69\n" +
           std::string(100, '='),
       ""},
  });
}

TEST_F(Reports, AccountHtmlTable) {
  const std::string head =
      "<TR><TH>Date</TH><TH>Income</TH><TH>Expense</TH><TH>Balance</TH><TH>Comment</TH></TR>\n";
  const std::string last =
      "<TR><TD ALIGN=RIGHT>01.05.1998</TD><TD ALIGN=RIGHT><TT><FONT COLOR=BLUE>52.99</FONT></TT></TD><TD></TD>"
      "<TD ALIGN=RIGHT><TT><FONT COLOR=BLUE>92.24</FONT></TT></TD><TD>Payment 2</TD></TR>\n";
  expectPages({
      {"@account html lines=3@",
       "<TABLE BORDER WIDTH=96%><CAPTION>Your account</CAPTION>\n" + head +
           "<TR><TD ALIGN=RIGHT>01.04.1998</TD><TD></TD><TD></TD>"
           "<TD ALIGN=RIGHT><TT><FONT COLOR=BLUE>49.50</FONT></TT></TD><TD>Balance brought forward</TD></TR>\n"
           "<TR><TD ALIGN=RIGHT>01.04.1998</TD><TD ALIGN=RIGHT><TT><FONT COLOR=BLUE>0.00</FONT></TT></TD><TD></TD>"
           "<TD ALIGN=RIGHT><TT><FONT COLOR=BLUE>49.50</FONT></TT></TD><TD>Correction &lt;b&gt;&amp;</TD></TR>\n"
           "<TR><TD ALIGN=RIGHT>20.04.1998</TD><TD></TD><TD ALIGN=RIGHT><TT><FONT COLOR=RED>-10.25</FONT></TT></TD>"
           "<TD ALIGN=RIGHT><TT><FONT COLOR=BLUE>39.25</FONT></TT></TD><TD>Mail for April: the traffic of the "
           "whole month, priced by the megabyte and rounded</TD></TR>\n" +
           last + "</TABLE>\n",
       ""},
      // The form's heading is the administrator's markup.
      {"@account html withvat width=50 lines=0 header=\"<I>100%s</I>\"@",
       "<TABLE BORDER WIDTH=50%><CAPTION><I>100%s</I></CAPTION>\n" + head +
           "<TR><TD ALIGN=RIGHT>01.05.1998</TD><TD></TD><TD></TD>"
           "<TD ALIGN=RIGHT><TT><FONT COLOR=BLUE>39.25</FONT></TT></TD><TD>Balance brought forward</TD></TR>\n" +
           last +
           "<TR><TH COLSPAN=3 ALIGN=LEFT>Balance:<BR>VAT (20%):<BR>Balance with VAT:</TH>\n"
           "<TD ALIGN=RIGHT><TT><FONT COLOR=BLUE>92.24</FONT></TT><BR><TT><FONT COLOR=BLUE>18.45</FONT></TT><BR>"
           "<TT><FONT COLOR=BLUE>110.69</FONT></TT></TD><TD></TD></TR>\n"
           "</TABLE>\n",
       ""},
  });
}

// total: the balance up to the date less the charges of its whole month as
// the services page totals them, 92.24 - 390.00 in May and 49.50 - 2722.75 in
// April.
TEST_F(Reports, BalancesAndTotals) {
  expectPages({
      {"@account total@|@account total end=1998.3.31@|@account total begin=1998.4.1 withvat@",
       "92.24|49.50|51.29", ""},
      {"@account bywords total@", "Ninety two roubles 24 kopecks92.24", ""},
      {"@account bywords width=20 shift=30 precision=1@", "Ninety two roubles", "Bad margin - 30, assumed 1\n"},
      {"@total@|@total withvat@|@total date=-0.1 precision=1@|@total precision=0@",
       "-297.76|-357.31|-2 673|-297.76", kNoSum},
      {"@total bywords width=2@",
       "M\nin\nus\ntw\no\nhu\nnd\nre\nd\nni\nne\nty\nse\nve\nn\nro\nub\nle\ns\n76\nko\npe\nck\ns", kNoSum},
      {"@total bywords width=30 shift=-1@", "Minus two hundred ninety\nseven roubles 76 kopecks",
       std::string(kNoSum) + "Bad margin - -1, assumed 1\n"},
  });
}

TEST_F(Reports, StatisticText) {
  const std::string head = " Comment                        Unit      Quantity         Price           Sum\n" +
                           std::string(79, '-') + "\n";
  const std::string end = std::string(79, '-') + "\n";
  const std::string april =
      " Technical support beyond       hour          1.50        300.00        450.00\n"
      " two free hours\n"
      "_______________________________ Internet access _______________________________\n"
      " Dial-up access, minutes         min       1545.50          0.50        772.75\n"
      " leased                        month          1.00      1 500.00      1 500.00\n";
  expectPages({
      // March is empty; group misc at the top has no group row, after
      // another group it has; rows below the cut, and without a name, are
      // left out.
      {"@statistic begin=-0.2@",
       "============================= Services in 03/1998 =============================\n" + head + end +
           " Total:                                                                   0.00\n" +
           std::string(79, '=') + "\n" +
           "============================= Services in 04/1998 =============================\n" + head + april +
           end + " Total:                                                               2 722.75\n" +
           std::string(79, '=') + "\n" +
           "============================= Services in 05/1998 =============================\n" + head +
           "___________________________ Local &lt;network&gt; &amp; more ____________________________\n"
           " Port &lt;b&gt;fast&lt;/b&gt; &amp; cheap       port          2.00         20.00         40.00\n"
           "___________________________ Miscellaneous services ____________________________\n"
           " Technical support beyond       hour          1.00        300.00        300.00\n"
           " two free hours\n"
           "_______________________________ Internet access _______________________________\n"
           " Dial-up access, minutes         min        100.00          0.50         50.00\n"
           " edge                            &lt;i&gt;          0.00      1 000.00          0.00\n"
           " Incoming mail, MB                MB          3.00          0.00          0.00\n" +
           end + " Total:                                                                 390.00\n" +
           std::string(79, '='),
       kNoSum},
      {"@statistic begin=-0.1 end=-0.1 withvat width=100 header=\"=%d.%04u\"@",
       std::string(46, '=') + " 4.1998 " + std::string(46, '=') + "\n" +
           " Comment                                       Unit        Quantity           Price             Sum\n" +
           std::string(100, '-') + "\n" +
           " Technical support beyond two free hours       hour            1.50          300.00          450.00\n" +
           std::string(41, '_') + " Internet access " + std::string(42, '_') + "\n" +
           " Dial-up access, minutes                        min         1545.50            0.50          772.75\n"
           " leased                                       month            1.00        1 500.00        1 500.00\n" +
           std::string(100, '-') + "\n" + " Total:" + std::string(84, ' ') + "2 722.75\n" +
           " VAT (20%):" + std::string(82, ' ') + "544.55\n" + " Total with VAT:" + std::string(75, ' ') +
           "3 267.30\n" + std::string(100, '='),
       ""},
      {"@statistic begin=-0.2 end=-0.2 width=500@",
       std::string(189, '=') + " Services in 03/1998 " + std::string(190, '=') + "\n" + " Comment" +
           std::string(249, ' ') + "Unit" + std::string(38, ' ') + "Quantity" + std::string(41, ' ') + "Price" +
           std::string(43, ' ') + "Sum\n" + std::string(400, '-') + "\n" + std::string(400, '-') + "\n" +
           " Total:" + std::string(388, ' ') + "0.00\n" + std::string(400, '='),
       ""},
      {"@statistic begin=+0.1@", "", ""},
      {"@statistic begin=1997.12.1 end=1998.1.1@",
       "============================= Services in 12/1997 =============================\n" + head + end +
           " Total:                                                                   0.00\n" +
           std::string(79, '=') + "\n" +
           "============================= Services in 01/1998 =============================\n" + head + end +
           " Total:                                                                   0.00\n" + std::string(79, '='),
       ""},
  });
}

TEST_F(Reports, StatisticHtml) {
  auto group = [](const std::string &descr) {
    return "<TR><TH COLSPAN=5><FONT COLOR=#000080>" + descr + "</FONT></TH></TR>\n";
  };
  expectPages({
      {"@statistic html width=50@",
       "<TABLE BORDER WIDTH=50%>\n<CAPTION>Services in 05/1998</CAPTION>\n" + kStatHead +
           group("Local &lt;network&gt; &amp; more") +
           statRow("Port &lt;b&gt;fast&lt;/b&gt; &amp; cheap", "port", "2.00", "20.00", "40.00") +
           group("Miscellaneous services") +
           statRow("Technical support beyond two free hours", "hour", "1.00", "300.00", "300.00") +
           group("Internet access") + statRow("Dial-up access, minutes", "min", "100.00", "0.50", "50.00") +
           statRow("edge", "&lt;i&gt;", "0.00", "1 000.00", "0.00") +
           statRow("Incoming mail, MB", "MB", "3.00", "0.00", "0.00") +
           "<TR><TH COLSPAN=4 ALIGN=LEFT>Total:<BR></TH>\n<TD ALIGN=RIGHT><TT>390.00<BR></TD></TR>\n</TABLE>\n",
       kNoSum},
      // altvat wins over withvat: prices with VAT, and the VAT inside the
      // total. A heading with a conversion of another kind is plain text.
      {"@statistic html begin=-0.1 end=-0.1 altvat withvat header=\"%s\"@",
       "<TABLE BORDER WIDTH=96%>\n<CAPTION>%s</CAPTION>\n" + kStatHead +
           statRow("Technical support beyond two free hours", "hour", "1.50", "360.00", "540.00") +
           group("Internet access") + statRow("Dial-up access, minutes", "min", "1545.50", "0.60", "927.30") +
           statRow("leased", "month", "1.00", "1 800.00", "1 800.00") +
           "<TR><TH COLSPAN=4 ALIGN=LEFT>Total:<BR>VAT included:</TH>\n"
           "<TD ALIGN=RIGHT><TT>3 267.30<BR>544.55</TD></TR>\n</TABLE>\n",
       "Bad format - %s\n"},
  });
  // At most 240 months: the last ones, June 1978 to May 1998.
  auto r = site_.page("@statistic html begin=-30.0@", {kOn});
  size_t tables = 0;
  for (size_t at = r.out.find("<TABLE"); at != std::string::npos; at = r.out.find("<TABLE", at + 1)) ++tables;
  EXPECT_EQ(tables, 240u);
  EXPECT_NE(r.out.find("<TABLE BORDER WIDTH=96%>\n<CAPTION>Services in 06/1978</CAPTION>"), std::string::npos);
  EXPECT_EQ(r.err, std::string("Statistic of 361 months asked, the last 240 shown\n") + kNoSum);
}

TEST_F(Reports, FormulaFunctionsInConditions) {
  expectPages({
      {"@if value=account()==92.24@a@fi@@if value=account(1998.3.31)==49.5@b@fi@"
       "@if value=account(1998.4.30,1998.4.1)==-10.25@c@fi@@if value=statistic()==390@d@fi@"
       "@if value=statistic(-0.1)==2722.75@e@fi@@if value=statistic(1998.3.1,1998.5.31)==3112.75@f@fi@"
       "@if value=total()==-297.76@g@fi@@if value=total(-0.1)==-2673.25@h@fi@"
       "@if value=account()!=92.24@X@fi@",
       "abcdefgh", std::string(kNoSum) + kNoSum + kNoSum},
  });
  // Without a user the functions fail, and with them the condition.
  site_.file("forms/nouser.html", "@if value=total()@a@fi@@if value=account()@b@fi@@if value=statistic()@c@fi@");
  auto r = site_.run({kOn, nullptr});
  EXPECT_EQ(r.out, std::string(kPageHeader) + "abc");
  EXPECT_EQ(r.err,
            "No user given!\n"
            "e_total:No user or account name given\n"
            "Cannot set value due to bad expression - total()\n"
            "Something wrong with argument value - value=\"total()\"\n"
            "e_account:No account name given\n"
            "Cannot set value due to bad expression - account()\n"
            "Something wrong with argument value - value=\"account()\"\n"
            "e_statistic: No user name given\n"
            "Cannot set value due to bad expression - statistic()\n"
            "Something wrong with argument value - value=\"statistic()\"\n");
}

// carl's June of 350, 59.9 x 0.45 (26.955, shown 26.96) and 2 x 1.2, priced by
// tallymill and charged by ledgerctl: the services page, what he owes in June
// and his account after the charge all say 379.36. dora's entries 0.30, -0.10
// and -0.20 leave her account at 0, which is no debt.
TEST_F(Reports, ChargeEqualsTheBillAndASettledAccountIsZero) {
  site_.file("userbase/carl/user.cf", "language en\nprices half.lst\npostmaster carl@node.example\n");
  site_.file("userbase/dora/user.cf", "language en\nprices std\npostmaster dora@node.example\n");
  site_.file("prices/half.lst", "access 1 350\ntraffic 59.9 0.45\nports 2 1.2\n");
  for (const char *entry : {"19980301,0.30", "19980302,-0.10", "19980303,-0.20", "19980401,5"})
    db_.query("INSERT INTO accounts (user,date,sum,cmt) VALUES ('dora'," + std::string(entry) + ",'e')");
  for (std::vector<std::string> args : {std::vector<std::string>{"tallymill", "-u", "carl", "-Y", "1998", "-M", "6"},
                                        {"ledgerctl", "-T", "1998.7.1", "-u", "carl", "statistic", "1998", "6"}}) {
    testsupport::RunSpec spec;
    spec.program = args[0];
    spec.args.assign(args.begin() + 1, args.end());
    spec.etc = {{"korvix-1.3.conf", site_.config()}};
    auto r = testsupport::run(spec);
    EXPECT_EQ(r.status, 0) << r.err;
  }
  const std::string cell = "<TD ALIGN=RIGHT><TT><FONT COLOR=BLUE>";
  expectPages(
      {{"@statistic begin=+0.1 end=+0.1 html@|@total date=1998.6.30@|@account total end=1998.7.31@",
        "<TABLE BORDER WIDTH=96%>\n<CAPTION>Services in 06/1998</CAPTION>\n" + kStatHead +
            statRow("access", "-", "1.00", "350.00", "350.00") + statRow("traffic", "-", "59.90", "0.45", "26.96") +
            statRow("ports", "-", "2.00", "1.20", "2.40") +
            "<TR><TH COLSPAN=4 ALIGN=LEFT>Total:<BR></TH>\n<TD ALIGN=RIGHT><TT>379.36<BR></TD></TR>\n</TABLE>\n"
            "|-379.36|-379.36",
        ""}},
      "carl");
  const std::string head =
      "<TABLE BORDER WIDTH=96%><CAPTION>Your account</CAPTION>\n"
      "<TR><TH>Date</TH><TH>Income</TH><TH>Expense</TH><TH>Balance</TH><TH>Comment</TH></TR>\n";
  expectPages({{"@account html lines=1 end=1998.3.31@@account html begin=1998.4.1@"
                "@if value=account(1998.3.31)<0@debt@else@settled@fi@",
                head + "<TR><TD ALIGN=RIGHT>03.03.1998</TD><TD></TD><TD></TD>" + cell +
                    "0.20</FONT></TT></TD><TD>Balance brought forward</TD></TR>\n"
                    "<TR><TD ALIGN=RIGHT>03.03.1998</TD><TD></TD><TD ALIGN=RIGHT><TT><FONT COLOR=RED>-0.20</FONT></TT></TD>" +
                    cell + "0.00</FONT></TT></TD><TD>e</TD></TR>\n</TABLE>\n" + head +
                    "<TR><TD ALIGN=RIGHT>01.04.1998</TD>" + cell + "5.00</FONT></TT></TD><TD></TD>" + cell +
                    "5.00</FONT></TT></TD><TD>e</TD></TR>\n</TABLE>\nsettled",
                ""}},
              "dora");
}

// Within one request each description, balance and charge sum is read once:
// the statements of whole pages, counted in the server's log.
TEST_F(Reports, PagesReadEachDescriptionAndSumOnce) {
  struct Case {
    std::string form;
    size_t statements;
  } cases[] = {
      // A select per directive, for all its months; five services and two
      // groups described from the tables (the others by the catalogue).
      {"@statistic begin=-0.2@@statistic html begin=-0.1@", 2 + 5 + 2},
      // total() four times, as the sample node's page has it: the balance
      // and the month's charges.
      {"@if value=total()<0@@total@ @print value=0-total() bywords@@fi@@total withvat@", 2},
      // The same balance behind account and account(); another range is another read.
      {"@account total@@if value=account()==92.24@@fi@@if value=account(1998.5.10)@@fi@"
       "@account total end=1998.3.31@@if value=statistic()+statistic()@@fi@",
       3},
  };
  for (const Case &c : cases) {
    size_t before = db_.statements().size();
    auto r = site_.page(c.form, {kOn});
    EXPECT_EQ(r.status, 0) << c.form;
    std::string sent = db_.statements().substr(before);
    EXPECT_EQ(size_t(std::count(sent.begin(), sent.end(), '\n')), c.statements) << c.form << "\n" << sent;
  }
  // A reader that stops early (the page outgrows what the pipe holds) ends
  // the request quietly: status 0, no database complaint, and nothing more
  // is read for nobody.
  CgiRequest stopping = {kOn};
  stopping.reader = "head -c 100 >/dev/null";
  auto r = site_.page("@statistic html begin=-0.1@\n" + std::string(400000, 'x') +
                          "\n@statistic html begin=-3.0 end=-2.0@\n",
                      stopping);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, kNoSum);
  EXPECT_EQ(db_.statements().find("date>=19950500"), std::string::npos);
}

// boris reads Russian (KOI8-R): 500.00 paid, 10.00 charged in May.
TEST_F(Reports, RussianPageThroughTheWebServer) {
  site_.file("forms/total.ru.html", "<H1>@total bywords@</H1>\n@statistic html@");
  testsupport::WebServer web(site_.tmp.sub("web"), site_.webOptions("boris:secret\n"));
  ASSERT_TRUE(web.start());
  auto r = testsupport::httpGet(web.protectedUrl(kOn), "boris", "secret");
  EXPECT_EQ(r.status, 200) << web.serverLog();
  EXPECT_EQ(r.body,
            // "Четыреста девяносто руб. 00 коп."
            "<H1>\xfe\xc5\xd4\xd9\xd2\xc5\xd3\xd4\xc1 \xc4\xc5\xd7\xd1\xce\xcf\xd3\xd4\xcf \xd2\xd5\xc2. 00 "
            "\xcb\xcf\xd0.</H1>\n"
            // "Услуги за", "Ед.", "Количество", "Цена", "Сумма", "интернет", "мин", "Итого"
            "<TABLE BORDER WIDTH=96%>\n"
            "<CAPTION>\xf5\xd3\xcc\xd5\xc7\xc9 \xda\xc1 05/1998</CAPTION>\n"
            "<TR><TH>\xeb\xcf\xcd\xcd\xc5\xce\xd4\xc1\xd2\xc9\xca</TH><TH>\xe5\xc4.</TH>"
            "<TH>\xeb\xcf\xcc\xc9\xde\xc5\xd3\xd4\xd7\xcf</TH><TH>\xe3\xc5\xce\xc1</TH><TH>\xf3\xd5\xcd\xcd\xc1</TH></TR>\n"
            "<TR><TH COLSPAN=5><FONT COLOR=#000080>\xc9\xce\xd4\xc5\xd2\xce\xc5\xd4</FONT></TH></TR>\n"
            "<TR><TD>dialup</TD>\n"
            "<TD ALIGN=RIGHT>\xcd\xc9\xce</TD><TD ALIGN=RIGHT><TT>20.00</TT></TD><TD ALIGN=RIGHT><TT>0.50</TT></TD>"
            "<TD ALIGN=RIGHT><TT>10.00</TT></TD></TR>\n"
            "<TR><TH COLSPAN=4 ALIGN=LEFT>\xe9\xd4\xcf\xc7\xcf:<BR></TH>\n"
            "<TD ALIGN=RIGHT><TT>10.00<BR></TD></TR>\n"
            "</TABLE>\n");
  EXPECT_EQ(web.cgiErrors(), "");
}

// 100 requests at once, ann's and boris's in turn, through the web server:
// with the database up; killed while they run (the pages that find it gone
// get the error box in their user's language after the bounded wait);
// started again while they wait for it; stopped, so that it accepts and never
// answers. No CGI is left behind.
TEST_F(Reports, LoadWithTheDatabaseKilledAndRestarted) {
  site_.file("forms/total.html", "<p>@account total@</p>\n");
  testsupport::WebServer web(site_.tmp.sub("web"), site_.webOptions("ann:ann\nboris:boris\n"));
  ASSERT_TRUE(web.start());
  const char *users[] = {"ann", "boris"};
  const std::string pages[] = {"<p>92.24</p>\n", "<p>500.00</p>\n"};
  const std::string boxes[] = {
      "<p><center><table border=3><tr><th>\nThe service is unavailable, try again later</tr></table></center><p>\n",
      // "Сервис недоступен, попробуйте позже"
      "<p><center><table border=3><tr><th>\n\xf3\xc5\xd2\xd7\xc9\xd3 \xce\xc5\xc4\xcf\xd3\xd4\xd5\xd0\xc5\xce, "
      "\xd0\xcf\xd0\xd2\xcf\xc2\xd5\xca\xd4\xc5 \xd0\xcf\xda\xd6\xc5</tr></table></center><p>\n"};
  // One wave, with what the test does to the database meanwhile: how many
  // pages were right and how many the box.
  auto wave = [&](auto meanwhile) {
    std::vector<testsupport::HttpResponse> r(100);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < r.size(); ++i)
      threads.emplace_back([&, i] { r[i] = testsupport::httpGet(web.protectedUrl(kOn), users[i % 2], users[i % 2]); });
    meanwhile();
    for (std::thread &t : threads) t.join();
    std::pair<int, int> count;
    for (size_t i = 0; i < r.size(); ++i) {
      EXPECT_EQ(r[i].status, 200) << i;
      if (r[i].body == pages[i % 2]) ++count.first;
      else if (r[i].body == boxes[i % 2]) ++count.second;
      else ADD_FAILURE() << r[i].body;
    }
    return count;
  };
  EXPECT_EQ(wave([] {}), std::make_pair(100, 0));
  int boxed = wave([&] { db_.crash(); }).second;
  EXPECT_GT(boxed, 0);
  EXPECT_EQ(wave([&] { ASSERT_TRUE(db_.start()); }), std::make_pair(100, 0));
  // A server that accepts and never answers (stopped) bounds the wait too.
  kill(db_.pid(), SIGSTOP);
  EXPECT_EQ(wave([] {}), std::make_pair(0, 100));
  kill(db_.pid(), SIGCONT);
  boxed += 100;
  // Each box is logged with its reason.
  const std::string log = site_.log(), why = " W Database unavailable, page ended (";
  int logged = 0;
  for (size_t at = log.find(why); at != std::string::npos; at = log.find(why, at + 1)) ++logged;
  EXPECT_EQ(logged, boxed);
  for (int i = 0; i < 500 && web.children() > 0; ++i) usleep(10000);
  EXPECT_EQ(web.children(), 0);
}

// The sample node's page of what is owed (without its head and foot): the
// sum to pay with VAT, a balance of 0 as settled.
TEST_F(Reports, SampleOwePageAsksTheSumWithVatAndShowsZeroAsSettled) {
  const std::string form = testsupport::readFile(testsupport::sourcePath("examples/node/forms/total.en.html"));
  const std::string head = "\n<H2>What you owe</H2>\n<P>Your balance less this month's charges, without VAT: <B>";
  const struct {
    std::string date, shown, settings = "";
  } cases[] = {
      // 92.24 paid less 390.00 charged in May: 297.76, and 20 % on it.
      {"1998.5.10", head + "-297.76 roubles</B></P>\n\n<P CLASS=due>To pay, with VAT: <B>357.31 roubles</B><BR>\n"
                           "Three hundred fifty seven roubles 31 kopecks</P>\n\n\n"},
      {"1998.2.10", head + "0.00 roubles</B></P>\n\n\n<P CLASS=ok>Settled: nothing to pay.</P>\n\n\n\n"},
      // A VAT rate the node cannot have meant: no sum is shown, the request fails.
      {"1998.5.10", "<center><table border=3><tr><th>\nThe service is unavailable, try again later</tr></table></center><p>\n",
       "taxes 18\n"},
  };
  for (const auto &c : cases) {
    site_.settings += c.settings;
    auto r = site_.page(form, {"date=" + c.date});
    EXPECT_EQ(r.status, c.settings.empty() ? 0 : 1) << c.date;
    EXPECT_EQ(r.out, kPageHeader + c.shown) << c.date;
  }
}
