// webtally run as a CGI: the choice of the form, the report date and the
// form language, each case one run of the program.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "site.h"

namespace {

const char kUsage[] = "Use only as a CGI module. See korvix docimentation..\n";

// The first line a shell command writes, without its newline.
std::string firstLine(const std::string &command) {
  FILE *p = popen(command.c_str(), "r");
  char buf[200] = "";
  if (!fgets(buf, sizeof buf, p)) buf[0] = '\0';
  pclose(p);
  std::string s = buf;
  if (!s.empty() && s.back() == '\n') s.pop_back();
  return s;
}

// GNU date's rendering of a date expression, as @date@ writes it.
std::string gnuDate(const std::string &expr) {
  return firstLine("LC_ALL=C TZ=UTC date -d '" + expr + "' +%-d.%m.%Y");
}

struct PageCase {
  std::string form;
  std::string page;  // after the header
  std::string err;   // standard error: whole
};

void expectPages(const Site &site, const std::vector<PageCase> &cases, const CgiRequest &request) {
  for (const PageCase &c : cases) {
    auto r = site.page(c.form, request);
    EXPECT_EQ(r.status, 0) << c.form;
    EXPECT_EQ(r.out, kPageHeader + c.page) << c.form;
    EXPECT_EQ(r.err, c.err) << c.form;
  }
}

}  // namespace

TEST(Webtally, RequestChoosesTheFormByMethodUserAndWhat) {
  Site site;
  site.file("forms/total.html", "total form\n");
  site.file("forms/acc page.html", "account page\n");
  site.file("webtally.cf", "Account \"" + site.home + "/forms/acc page.html\" ignored\n" +
                               "strange \"<b>&.html\"\n" + testsupport::readFile(site.home + "/webtally.cf"));
  testsupport::makeDirs(site.home + "/userbase/dora/user.cf");
  struct Case {
    CgiRequest request;
    std::string page;
    std::string err;
  } cases[] = {
      {{"", "ann"}, "total form\n", ""},
      {{"what=ACCOUNT", "ann"}, "account page\n", ""},
      {{"what=nosuch&what=ACCOUNT", "ann"}, "default form\n", ""},
      {{"what=strange", "ann"}, "<H2>Form not found - `&lt;b&gt;&amp;.html'</H2>\n", "No such form `<b>&.html'!\n"},
      {{"", "ann", "Basic", "get"}, kUsage, ""},
      {{"", "ann", "Basic", "GETX"}, kUsage, ""},
      {{"", "ann", "Basic", nullptr}, kUsage, ""},
      {{"", "ann", nullptr}, "nouser form\n", "No user given!\n"},
      {{"", nullptr}, "nouser form\n", "No user given!\n"},
      {{"", "carl"}, "baduser form\n", ""},
      // Names the user base cannot hold never reach a path.
      {{"", "ann/."}, "baduser form\n", "Bad user name `ann/.'\n"},
      {{"", "../userbase/ann"}, "baduser form\n", "Bad user name `../userbase/ann'\n"},
      {{"", ""}, "baduser form\n", "Bad user name `'\n"},
      {{"", "abcdefghijklmnop"}, "baduser form\n", "Bad user name `abcdefghijklmnop'\n"},
      {{"", ".ann"}, "baduser form\n", "Bad user name `.ann'\n"},
      {{"", "an\nn"}, "baduser form\n", "Bad user name `an?n'\n"},
      {{"", "ann\xd2"}, "baduser form\n", "Bad user name `ann\xd2'\n"},
      {{"", "dora"}, "<H2>No configuration for you (dora)!</H2>\n",
       "Can't get configuration for 'dora', error #21\nError reading configuration for `dora'\n"},
  };
  for (const Case &c : cases) {
    auto r = site.run(c.request);
    std::string label = c.request.query + " user=" + (c.request.user ? c.request.user : "(unset)");
    EXPECT_EQ(r.status, 0) << label;
    EXPECT_EQ(r.out, kPageHeader + c.page) << label;
    EXPECT_EQ(r.err, c.err) << label;
  }
  EXPECT_NE(site.log().find(" W No user given!\n"), std::string::npos);
}

TEST(Webtally, DateParameterMovesTheReportDateOnlyToARealDate) {
  Site site;
  site.file("forms/total.html", "@date@");
  struct Case {
    std::string query;
    std::string date;  // "": the report date stays today
    std::string err;
  } cases[] = {
      {"date=2005.3.5", "5.03.2005", ""},
      {"date=2005.3.31-0.1", gnuDate("2005-03-31 -1 month"), ""},
      {"date=2005.1.31%2B0.1", gnuDate("2005-01-31 +1 month"), ""},
      // The plus of a query is a blank, which ends the expression.
      {"date=2005.1.31+0.1", "31.01.2005", ""},
      {"date=2004.2.29&what=total", gnuDate("2004-02-29"), ""},
      {"date=2005.13.1", "", "Bad date `2005.13.1' ignored\n"},
      {"date=2005.2.30", "", "Bad date `2005.2.30' ignored\n"},
      {"date=1899.12.31", "", "Bad date `1899.12.31' ignored\n"},
      {"date=10000.1.1", "", "Bad date `10000.1.1' ignored\n"},
      {"date=-0.0.99999999", "", "Bad date `-0.0.99999999' ignored\n"},
      {"date=2005.13.1%0Ax", "", "Bad date `2005.13.1?x' ignored\n"},
  };
  for (const Case &c : cases) {
    std::string before = gnuDate("today");
    auto r = site.run({c.query});
    std::string after = gnuDate("today");
    std::string page = r.out.substr(std::string(kPageHeader).size());
    if (c.date.empty()) EXPECT_TRUE(page == before || page == after) << c.query << ": " << page;
    else EXPECT_EQ(page, c.date) << c.query;
    EXPECT_EQ(r.err, c.err) << c.query;
  }
}

TEST(Webtally, FormLanguageCopiesTextAndRunsDirectives) {
  Site site;
  site.file("messages.en", "currency roubles\ndate_mar March\ndate_apr April\ndate_cdate \"" +
                               std::string(250, 'x') + " %e %B %Y\"\n");
  site.file("raw.txt", "@version@ /* \\ */");
  const std::string longArgs(2992, 'a');  // "version " and these: 3000 characters
  expectPages(site,
              {
                  {"a@@b a\\@b x\\\ny", "a@b a@b xy", ""},
                  {"@ver@|@v@|@VERSION@|@ version short @|@version,short@", "1.3.11|1.3.11|1.3.11|1.3.11|1.3.11", ""},
                  {"@vers/* @date@ */ion@", "1.3.11", ""},
                  {"@d@@p@@ =5@", "", "Ambiguous command - `d'\nAmbiguous command - `p'\nAmbiguous command - `'\n"},
                  {"@org default=ORG@@en@", "ORG", "Bad command `en', skipping..\n"},
                  {"@version short=1 long@", "1.3.11", "Bad argument - long\n"},
                  {"a/* b @version@ */c \\/*x*/ /* \\*/ still */y", "ac /*x*/ y", ""},
                  {"A@ end @B", "A", ""},
                  {"A@END@B", "A", ""},
                  {"A@end of page@B", "A", ""},
                  {"@date@ @date format=\"%Y@%m\"@ @date format=\"%d/%m/%y\"@", "5.03.2005 2005@03 05/03/5", ""},
                  {"@date format=\"%B %Y\" value=+0.1@ @date format=\"%e %B|%%|%q|%\"@", "April 2005 5 March|%|q|", ""},
                  {"@date value=2005.13.1@", "5.03.2005", "Bad date `2005.13.1' ignored\n"},
                  {"@cdate@|@cdate format=%Y@", std::string(250, 'x') + " 5 March 2005|2005", ""},
                  {"@date format=\"%A %d %b %Y, day %j\" strftime@",
                   firstLine("LC_ALL=C date -u -d 2005-03-05 '+%A %d %b %Y, day %j'"),
                   ""},
                  {"@date format=\"" + std::string(120, 'y') + "\" strftime@", "", ""},
                  {"@statadmin@ @currency@", "stat-adm@node.example roubles", ""},
                  {"@print value=2@@username@", "2ann", ""},
                  {"@include file=" + site.home + "/raw.txt@", "@version@ /* \\ */", ""},
                  {"@version " + longArgs + "@", std::string(953, 'a') + "1.3.11",
                   "Bad argument - " + std::string(2039, 'a') + "\n"},
              },
              {"date=2005.3.5"});
}

TEST(Webtally, ConditionalsNestAndAStrayElseSwitchesTheOutput) {
  Site site;
  expectPages(site,
              {
                  {"@if value=0@A@else@B@fi@", "B", ""},
                  {"@if value=1@A@else@B@fi@", "A", ""},
                  {"@if@A@fi@|@if value=2>1@C@fi@", "A|C", ""},
                  {"@if value=0@ @if value=1@X@fi@ Y @else@ Z @fi@", " Z ", ""},
                  {"@if value=0@@bogus@@fi@", "", "Bad command `bogus', skipping..\n"},
                  {"@else@A@fi@B@else@C", "C", "<else> without <if ..>\n"},
                  {"@fi@A", "A", "<else> without <if ..>\n"},
              },
              {});
}

TEST(Webtally, UserIsBoundOnFirstNeedAndBringsHisLanguage) {
  Site site;
  site.file("forms/nouser.html", "@username@|@version@");
  auto r = site.run({"", nullptr});
  EXPECT_EQ(r.out, kPageHeader + std::string("|1.3.11"));
  EXPECT_EQ(r.err, "No user given!\nusername - command needs user name!\n");

  // boris speaks Russian: "руб." and "апреля" in KOI8-R.
  expectPages(site, {{"@currency@ @date format=%B value=2005.4.1@", "\xd2\xd5\xc2. \xc1\xd0\xd2\xc5\xcc\xd1", ""}},
              {"", "boris"});
}

TEST(Webtally, IncludeRunsLanguageVariantsAndStopsAtSixteenFormsAnd256Includes) {
  Site site;
  site.file("forms/x.html", "PLAIN");
  site.file("forms/x.en.html", "EN");
  site.file("forms/inner.html", "I@if value=0@@end@J");
  site.file("forms/loop.html", "x@include form==loop.html@");
  // Run whole, it would be 2^15 forms; the 256 opened hold 124 forms 16 deep,
  // each refusing its two includes.
  site.file("forms/twice.html", "y@include form==twice.html@@include form==twice.html@");
  std::string twiceErr;
  for (int i = 0; i < 248; ++i) twiceErr += "No form to include - `=twice.html'\n";
  twiceErr += "More than 256 includes in one page, `=twice.html' and the rest left out\n";
  site.file("userbase/ann/mine.html", "ANN'S");
  site.file("forms/mine.html", "COMMON");
  const CgiRequest boris = {"", "boris"};
  // boris's language is ru, the configured one en.
  expectPages(site, {{"@include form==x.html@", "EN", ""}}, boris);
  site.file("forms/x.ru.html", "RU");
  expectPages(site, {{"@include form==x.html@", "RU", ""}}, boris);
  expectPages(site,
              {
                  {"@include form==x.html@", "EN", ""},
                  {"A@include form==inner.html@B@fi@C", "AIC", ""},
                  {"@include form==mine.html@ @include form=~mine.html@", "ANN'S ANN'S", ""},
                  {"@include form==loop.html@", std::string(15, 'x'), "No form to include - `=loop.html'\n"},
                  {"@include form==twice.html@", std::string(256, 'y'), twiceErr},
                  {"@include form=nosuch file=nofile form@", "",
                   "No form to include - `nosuch'\nNo file to include - `nofile'\n"},
              },
              {});
  // Without a user "=" skips the user's directory and "~" opens nothing.
  site.file("forms/nouser.html", "@include form==mine.html@ @include form=~mine.html@");
  auto r = site.run({"", nullptr});
  EXPECT_EQ(r.out, kPageHeader + std::string("COMMON "));
  EXPECT_EQ(r.err, "No user given!\nNo form to include - `~mine.html'\n");
}

TEST(Webtally, PrintAndUserCommandsFillAPageInTheUsersLanguage) {
  Site site;
  for (const char *file : {"messages.en", "messages.ru"}) {
    site.file(file, testsupport::readFile(testsupport::sourcePath("examples/node/") + file));
  }
  site.file("userbase/ann/user.cf",
            "language en\nprices std\npostmaster ann@node.example\nnamee Ann Smith\nphones 123-45-67\n");
  // His native name in KOI8-R: "Борис".
  site.file("userbase/boris/user.cf",
            "language ru\nprices std\npostmaster boris@node.example\nnamee Boris\nnamer \xe2\xcf\xd2\xc9\xd3\n");
  const std::string form =
      "<pre>\n@line width=20@\n@realname symbol=. width=20 format=\"<%s\"@\n"
      "@print value=1234.5 precision=0.01 format=\"Due: %$ %@\"@\n"
      "@print value=1234.5 precision=0.01 bywords@\n"
      "@phones format=\"tel. %s\" default=-@ @organization default=none@@print value=1 format=%n@\n"
      "@line width=20 symbol=-@\n</pre>\n";
  const std::string equals(20, '='), dashes(20, '-');
  expectPages(site,
              {{form,
                "<pre>\n" + equals + "\nAnn Smith ..........\nDue: 1234.50 roubles\n"
                "One thousand two hundred thirty four roubles 50 kopecks\n"
                "tel. 123-45-67 none\n" + dashes + "\n</pre>\n",
                "Bad format - %n\n"}},
              {});
  // Одна тысяча двести тридцать четыре руб. 50 коп.
  expectPages(site,
              {{form,
                "<pre>\n" + equals + "\n\xe2\xcf\xd2\xc9\xd3 ..............\nDue: 1234.50 \xd2\xd5\xc2.\n"
                "\xef\xc4\xce\xc1 \xd4\xd9\xd3\xd1\xde\xc1 \xc4\xd7\xc5\xd3\xd4\xc9 "
                "\xd4\xd2\xc9\xc4\xc3\xc1\xd4\xd8 \xde\xc5\xd4\xd9\xd2\xc5 \xd2\xd5\xc2. 50 \xcb\xcf\xd0.\n"
                "tel. - none\n" + dashes + "\n</pre>\n",
                "Bad format - %n\n"}},
              {"", "boris"});
}
