// A small node for end-to-end runs of webtally: a home directory with the
// form table, forms, a message catalogue (English and Russian in KOI8-R) and
// a user base, and runs of the built program as a CGI with its environment.
#pragma once

#include <string>

#include "process.h"
#include "webserver.h"

// The HTTP header that starts every page.
extern const char kPageHeader[];

// The CGI environment of one request; a null value leaves the variable unset.
struct CgiRequest {
  std::string query;
  const char *user = "ann";      // REMOTE_USER
  const char *authType = "Basic";  // AUTH_TYPE
  const char *method = "GET";    // REQUEST_METHOD
  std::string reader = "";       // a shell command that reads the page ("" the test)
};

class Site {
 public:
  // Users ann (language en) and boris (language ru); the form table maps
  // total, nouser, baduser and default to forms/KEY.html.
  Site();
  // Writes a file relative to the home directory.
  void file(const std::string &rel, const std::string &text) const;
  // Runs webtally for the request.
  testsupport::RunResult run(const CgiRequest &request) const;
  // Writes the form forms/total.html and runs it for the request.
  testsupport::RunResult page(const std::string &form, CgiRequest request = {}) const;
  // The main configuration file.
  std::string config() const;
  // Options of a web server running webtally on this site for the basic-auth
  // users given as "name:password" lines.
  testsupport::WebServer::Options webOptions(const std::string &users) const;
  std::string log() const { return testsupport::readFile(home + "/Logfile"); }

  testsupport::TempDir tmp{"webtally"};
  std::string home;
  std::string settings;  // further lines of the main configuration
};
