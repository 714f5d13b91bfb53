#include "site.h"

const char kPageHeader[] = "Content-Type: text/html\nContent-Language: ru\n\n";

Site::Site() : home(tmp.sub("home")) {
  file("languages.cf", "en messages.en\nru messages.ru\n");
  file("messages.en", "currency roubles\ndate_mar March\ndate_apr April\n"
                      "db_unavailable \"The service is unavailable, try again later\"\n");
  // KOI8-R: "руб.", "апреля" and "Сервис недоступен, попробуйте позже".
  file("messages.ru", "currency \"\xd2\xd5\xc2.\"\ndate_apr \xc1\xd0\xd2\xc5\xcc\xd1\n"
                      "db_unavailable \"\xf3\xc5\xd2\xd7\xc9\xd3 \xce\xc5\xc4\xcf\xd3\xd4\xd5\xd0\xc5\xce, "
                      "\xd0\xcf\xd0\xd2\xcf\xc2\xd5\xca\xd4\xc5 \xd0\xcf\xda\xd6\xc5\"\n");
  file("webtally.cf",
       "# key  form\n"
       "total    =total.html\n"
       "nouser   =nouser.html\n"
       "baduser  =baduser.html\n"
       "default  =default.html\n");
  file("forms/nouser.html", "nouser form\n");
  file("forms/baduser.html", "baduser form\n");
  file("forms/default.html", "default form\n");
  file("userbase/ann/user.cf", "language en\nprices std\npostmaster ann@node.example\n");
  file("userbase/boris/user.cf", "language ru\nprices std\npostmaster boris@node.example\n");
}

void Site::file(const std::string &rel, const std::string &text) const {
  testsupport::writeFile(home + "/" + rel, text);
}

std::string Site::config() const {
  return testsupport::configFor(home, "language en\nadmin stat-adm@node.example\n" + settings);
}

testsupport::WebServer::Options Site::webOptions(const std::string &users) const {
  testsupport::WebServer::Options options;
  options.etc = {{"korvix-1.3.conf", config()}};
  options.users = users;
  return options;
}

testsupport::RunResult Site::run(const CgiRequest &request) const {
  testsupport::RunSpec spec;
  spec.program = "webtally";
  if (!request.reader.empty()) {
    spec.program = "/bin/bash";
    // With SIGPIPE as a shell gives it, not ignored as in the tests.
    spec.args = {"-c", "env --default-signal=PIPE \"$0\" | " + request.reader + "; exit ${PIPESTATUS[0]}",
                 testsupport::binPath("webtally")};
  }
  spec.etc = {{"korvix-1.3.conf", config()}};
  spec.env = {{"QUERY_STRING", request.query}};
  if (request.user) spec.env.push_back({"REMOTE_USER", request.user});
  if (request.authType) spec.env.push_back({"AUTH_TYPE", request.authType});
  if (request.method) spec.env.push_back({"REQUEST_METHOD", request.method});
  return testsupport::run(spec);
}

testsupport::RunResult Site::page(const std::string &form, CgiRequest request) const {
  file("forms/total.html", form);
  return run(request);
}
