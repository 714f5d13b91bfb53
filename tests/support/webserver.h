// Test support: a real web server (Debian's lighttpd) of its own for one
// test, on a free port of 127.0.0.1, that runs a built program as a CGI, and
// a small HTTP client.
//
// The server serves the program at two URLs: protectedUrl() behind basic
// authentication from the given user file (the CGI then sees REMOTE_USER and
// AUTH_TYPE), openUrl() without any. The server, and so every CGI it starts,
// runs in a private mount namespace with the test's files laid over /etc, as
// run() in process.h does for a program.
//
//   testsupport::WebServer::Options o;
//   o.etc = {{"korvix-1.3.conf", testsupport::configFor(home)}};
//   o.users = "ann:secret\n";
//   testsupport::WebServer web(tmp.sub("web"), o);
//   ASSERT_TRUE(web.start());
//   auto r = testsupport::httpGet(web.protectedUrl("what=total"), "ann", "secret");
#pragma once

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

namespace testsupport {

class WebServer {
 public:
  struct Options {
    std::string program = "webtally";  // the CGI: a path, or a name in $KORVIX_BIN
    // Files laid over /etc, by name relative to /etc (as RunSpec::etc).
    std::vector<std::pair<std::string, std::string>> etc;
    std::string users;  // the basic-auth user file: lines "name:password"
    // The CGI's environment beyond what the server sets (TZ=UTC and PATH
    // always, ASAN_OPTIONS and UBSAN_OPTIONS when the test has them).
    std::vector<std::pair<std::string, std::string>> env;
  };

  // dir: a directory of the test (created when missing) for the server's
  // configuration, user file and logs.
  WebServer(const std::string &dir, const Options &options);
  ~WebServer();  // stops the server
  WebServer(const WebServer &) = delete;
  WebServer &operator=(const WebServer &) = delete;

  // Starts the server and waits until it answers; false, with the reason on
  // standard error, when it did not come up.
  bool start();
  // Stops the server and waits for it to end.
  void stop();
  bool running() const { return pid_ > 0; }

  int port() const { return port_; }
  // "http://127.0.0.1:PORT"
  std::string base() const;
  // The CGI behind basic authentication, and without; query "" adds none.
  std::string protectedUrl(const std::string &query = "") const;
  std::string openUrl(const std::string &query = "") const;
  // What the CGI programs wrote to standard error, and the server's own log.
  std::string cgiErrors() const;
  std::string serverLog() const;
  // The processes the server started that are still there (CGIs running or
  // not yet reaped).
  int children() const;

 private:
  bool startOnce();
  std::string dir_;
  Options options_;
  pid_t pid_ = -1;
  int port_ = -1;
};

struct HttpResponse {
  int status = 0;       // 0 when no answer came
  std::string headers;  // the status line and header lines, "\r\n" kept
  std::string body;
};

// GET url ("http://127.0.0.1:PORT/path?query") over HTTP/1.0, with basic
// authentication when user is not empty.
HttpResponse httpGet(const std::string &url, const std::string &user = "",
                     const std::string &password = "");

}  // namespace testsupport
