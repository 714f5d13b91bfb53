// Whole requests through a real web server that starts webtally as a CGI.
#include <gtest/gtest.h>

#include "site.h"
#include "webserver.h"

TEST(WebtallyServer, AuthenticatedUserGetsHisFormOthersTheNouserFormOr401) {
  Site site;
  site.file("forms/total.html", "<p>@version@ @currency@ @date@</p>\n");
  site.file("forms/nouser.html", "<p>guest @version@</p>\n");
  testsupport::WebServer web(site.tmp.sub("web"), site.webOptions("boris:secret\nann:pass\n"));
  ASSERT_TRUE(web.start());

  // boris's user.cf asks for Russian: "руб." in KOI8-R.
  auto r = testsupport::httpGet(web.protectedUrl("what=total&date=2005.3.5"), "boris", "secret");
  EXPECT_EQ(r.status, 200) << r.headers << web.serverLog();
  EXPECT_NE(r.headers.find("Content-Type: text/html\r\n"), std::string::npos) << r.headers;
  EXPECT_NE(r.headers.find("Content-Language: ru\r\n"), std::string::npos) << r.headers;
  EXPECT_EQ(r.body, "<p>1.3.11 \xd2\xd5\xc2. 5.03.2005</p>\n");

  for (const char *password : {"", "wrong"}) {
    r = testsupport::httpGet(web.protectedUrl(), password[0] ? "boris" : "", password);
    EXPECT_EQ(r.status, 401) << password;
    EXPECT_EQ(r.body.find("1.3.11"), std::string::npos);
  }

  r = testsupport::httpGet(web.openUrl("what=total"));
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.body, "<p>guest 1.3.11</p>\n");
  EXPECT_NE(site.log().find(" W No user given!\n"), std::string::npos) << site.log();
  EXPECT_NE(web.cgiErrors().find("No user given!"), std::string::npos) << web.cgiErrors();

  web.stop();
  EXPECT_FALSE(web.running());
  EXPECT_EQ(testsupport::httpGet(web.openUrl()).status, 0);
}
