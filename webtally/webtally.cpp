#include <signal.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>

#include "sqldata.h"
#include "webtally.h"

namespace {

// The HTTP header: the first output of every request.
const char kHeader[] = "Content-Type: text/html\nContent-Language: ru\n\n";

// A page waits for the database two tries, 2 seconds apart, and no longer:
// each waiting page holds a slot of the web server, which would run out
// while the database is down.
constexpr unsigned kDatabaseTries = 2;
constexpr unsigned kDatabaseRetrySeconds = 2;
// What one connect, read or write of a try may take: a page's statements take
// milliseconds, a server that accepts and never answers would take for ever.
constexpr unsigned kDatabaseIoSeconds = 3;

// The database could not be reached in time: the page says so in its
// language where it stands, and the request ends.
[[noreturn]] void databaseUnavailable() {
  error("Database unavailable, page ended (%s)", msqlErrMsg);
  htmlBox("%s", getMessage("db_unavailable"));
  exit(0);
}

// REMOTE_USER names a directory of the user base, so only a name that the
// user base itself could hold is taken.
bool plainUserName(const char *user) { return strlen(user) <= kUserNameMax && isUserDirName(user); }

}  // namespace

void endIfOutputLost(FILE *out) {
  if (!ferror(out)) return;
  sqlClose();
  _exit(0);
}

void webtallyUsage() {
  fputs("Use only as a CGI module. See korvix docimentation..\n", stdout);
  exit(0);
}

void runForm(const char *form, const char *user) {
  UserConf record;
  userInit(&record);
  if (user) {
    if (!getUserConf(&record, user)) {
      printf("<H2>No configuration for you (%s)!</H2>\n", htmlEscape(user).c_str());
      userClear(&record);
      return;
    }
    setLanguage(record.lang);
  }
  FILE *f = openLangForm(form, user, record.lang);
  userClear(&record);
  if (!f) {
    error("No such form `%s'!", form);
    printf("<H2>Form not found - `%s'</H2>\n", htmlEscape(form).c_str());
    return;
  }
  interpretForm(stdout, user, f);
}

int webtallyMain() {
  // A reader that goes away (a browser that stops, `| head`) makes writes to
  // the page fail instead of raising SIGPIPE, which the database client takes
  // for its own connection lost; the form stops at the next line then.
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  sigprocmask(SIG_BLOCK, &pipe, nullptr);
  const char *moneyFault = initMoneyConfig();
  // Every directive of a form stands between two "@", whatever the
  // configuration says.
  storeConfigString(&cmdDelimiters, "@@", nullptr);
  sqlRetry(kDatabaseRetrySeconds);
  sqlTryLimit(kDatabaseTries, kDatabaseIoSeconds, databaseUnavailable);
  fputs(kHeader, stdout);
  if (moneyFault) {
    // No page shows a sum computed with a VAT rate or unit the node did not
    // mean: the request fails as when the database is away.
    error("%s", moneyFault);
    htmlBox("%s", getMessage("db_unavailable"));
    exit(1);
  }

  FormTable forms;
  loadForms(&forms, nullptr);
  const char *method = getenv("REQUEST_METHOD");
  const char *user = getenv("REMOTE_USER");
  const char *authType = getenv("AUTH_TYPE");
  QueryList query;
  parseQuery(&query, nullptr);
  if (const char *date = queryParam(&query, "date")) moveReportDate(&today, date);

  if (!method || strcmp(method, "GET") != 0) {
    freeQuery(&query);
    freeForms(&forms);
    webtallyUsage();
  }
  if (!user || !authType) {
    error("No user given!");
    runForm(formFor(&forms, "nouser"), nullptr);
  } else if (!plainUserName(user)) {
    error("Bad user name `%s'", printable(user).c_str());
    runForm(formFor(&forms, "baduser"), nullptr);
  } else {
    struct stat st;
    if (stat(userPath(user, "user.cf"), &st) != 0) {
      runForm(formFor(&forms, "baduser"), nullptr);
    } else {
      const char *what = queryParam(&query, "what");
      runForm(formFor(&forms, what ? what : "total"), user);
    }
  }
  freeQuery(&query);
  freeForms(&forms);
  return 0;
}
