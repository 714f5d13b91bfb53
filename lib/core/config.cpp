#include "config.h"

#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "language.h"
#include "memory.h"
#include "misc.h"
#include "symbols.h"

char *sqlServerType, *sqlServerHost, *sqlServerPort, *sqlServerSocket, *sqlDatabase;
char *homeDir, *binDir, *serverDir, *userBase, *lockDir;
char *organization, *addrDomain, *addrMaster, *addrFrom, *addrAdmin, *nameAdmin;
char *addrSender, *addrCarbon, *mailer, *openUser, *closeUser;
char *currencyThousands, *currencyName, *currencyHundredth, *cmdDelimiters;
char *priceCurrency, *debugAllMail, *language, *legalAddrChars;
char forkServer = 1;
char keepJobs = 0;
int32_t uidSendmail = -1;
int32_t gidSendmail = -1;
int32_t debugLevel = 0;
int32_t uidVovuVuza = -1;
int32_t gidVovuVuza = -1;
double currencyPrecision = 1.0;
double transientPrecision = 0.01;

ConfigKey configKeys[] = {
    {"sql-type", "sqlServerType", &sqlServerType, CF_STRING},
    {"sql-server", "sqlServerHost", &sqlServerHost, CF_STRING},
    {"sql-port", "sqlServerPort", &sqlServerPort, CF_STRING},
    {"sql-socket", "sqlServerSocket", &sqlServerSocket, CF_STRING},
    {"sql-database", "sqlDatabase", &sqlDatabase, CF_STRING},
    {"home-dir", "homeDir", &homeDir, CF_PATH},
    {"bin-dir", "binDir", &binDir, CF_PATH},
    {"server-dir", "serverDir", &serverDir, CF_PATH},
    {"server-run", "forkServer", &forkServer, CF_BOOLEAN},
    {"server-keep-jobs", "keepJobs", &keepJobs, CF_BOOLEAN},
    {"userbase-dir", "userBase", &userBase, CF_PATH},
    {"lock-dir", "lockDir", &lockDir, CF_PATH},
    {"organization", "organization", &organization, CF_STRING},
    {"domain", "addrDomain", &addrDomain, CF_ADDRESS},
    {"postmaster", "addrMaster", &addrMaster, CF_ADDRESS},
    {"from", "addrFrom", &addrFrom, CF_ADDRESS},
    {"admin", "addrAdmin", &addrAdmin, CF_ADDRESS},
    {"admin-name", "nameAdmin", &nameAdmin, CF_STRING},
    {"sender", "addrSender", &addrSender, CF_ADDRESS},
    {"carbon-copy", "addrCarbon", &addrCarbon, CF_ADDRESS},
    {"mailer", "mailer", &mailer, CF_COMMAND},
    {"user-open", "openUser", &openUser, CF_COMMAND},
    {"user-close", "closeUser", &closeUser, CF_COMMAND},
    {"taxes", "taxes", taxesValue, CF_REAL},
    {"listener-uid", "uidSendmail", &uidSendmail, CF_INTEGER},
    {"listener-gid", "gidSendmail", &gidSendmail, CF_INTEGER},
    {"currency-precision", "currencyPrecision", &currencyPrecision, CF_REAL},
    {"transient-precision", "transientPrecision", &transientPrecision, CF_REAL},
    {"currency-thousands", "currencyThousands", &currencyThousands, CF_STRING},
    {"currency-name", "currencyName", &currencyName, CF_STRING},
    {"currency-hundredth", "currencyHundredth", &currencyHundredth, CF_STRING},
    {"report-delimiters", "cmdDelimiters", &cmdDelimiters, CF_STRING},
    {"price-currency", "priceCurrency", &priceCurrency, CF_STRING},
    {"debug-level", "debugLevel", &debugLevel, CF_INTEGER},
    {"debug-allmail", "debugAllMail", &debugAllMail, CF_STRING},
    {"uid", "uidVovuVuza", &uidVovuVuza, CF_INTEGER},
    {"gid", "gidVovuVuza", &gidVovuVuza, CF_INTEGER},
    {"language", "language", &language, CF_STRING},
    {"legal-chars", "legalAddrChars", &legalAddrChars, CF_STRING},
    {nullptr, nullptr, nullptr, CF_STRING},
};

namespace {

const char kMainConfig[] = "/etc/korvix-1.3.conf";
const char kOldConfig[] = "/etc/korvix.conf";
// The file the settings come from, named in the warnings about its values.
const char *configPath = kMainConfig;

bool initDone = false;

// The line of the configuration file being read (1 for the first), named in
// the faults of the money settings.
int configLine = 0;

// A money setting that could not be read or lies outside sense: the text
// saying so (empty when the setting is sound) and what replaces it in a
// program that computes no money. The last line of a key decides.
struct MoneyFault {
  std::string text;
  double fallback;
};
MoneyFault taxesFault{"", 0.2};
MoneyFault precisionFault{"", 1.0};
// Set by initMoneyConfig: the faults are the caller's to report, not warned.
bool moneyRequired = false;

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// Sets the soft limit from the hard one: 90 % of it (tenthOff) or the smaller
// of it and ceiling. The trace prints the values signed or unsigned as its
// format asks.
void lowerLimit(int resource, const char *trace, bool unsignedTrace, const char *failure,
                rlim_t ceiling, bool tenthOff) {
  struct rlimit rl;
  if (getrlimit(resource, &rl) != 0) return;
  long long cur = static_cast<long long>(rl.rlim_cur);
  long long max = static_cast<long long>(rl.rlim_max);
  auto trace2 = [&]() {
    if (unsignedTrace)
      debug(10, trace, static_cast<unsigned long long>(cur), static_cast<unsigned long long>(max));
    else
      debug(10, trace, cur, max);
  };
  trace2();
  rlim_t newCur;
  if (tenthOff) {
    // An unlimited hard limit counts as its numeric value (the largest one);
    // 90 % of it stays far above anything the programs use.
    newCur = rl.rlim_max - rl.rlim_max / 10;
  } else {
    newCur = rl.rlim_max < ceiling ? rl.rlim_max : ceiling;
  }
  rl.rlim_cur = newCur;
  cur = static_cast<long long>(newCur);
  trace2();
  if (setrlimit(resource, &rl) != 0) error(failure, cur, max);
}

// The value of a configuration line: after the key, blanks and tabs skipped
// at both ends; a leading double quote runs to the last double quote.
char *lineValue(char *p) {
  while (isBlank(*p)) ++p;
  char *end = p + strlen(p);
  while (end > p && isBlank(end[-1])) --end;
  *end = '\0';
  if (*p == '"') {
    ++p;
    char *last = strrchr(p, '"');
    if (last) *last = '\0';
  }
  return p;
}

// A number value that the number does not use up (or that is none) is read
// as far as it goes, with a warning naming the file: "0,01" reads as 0.
void warnLooseNumber(const ConfigKey &row, const char *value, const char *end, const char *used) {
  if (*value && *end) error("Bad number `%s' for `%s' in %s, read as %s", value, row.key, configPath, used);
}

// Checks a value of `taxes` or `currency-precision` as read (v, with end after
// the number): a sum computed with a value that is not what the node meant is
// wrong, so such a value is a fault of its own rather than a loose number.
void checkMoneyValue(const ConfigKey &row, const char *value, const char *end, double v) {
  const bool taxes = row.target == taxesValue;
  MoneyFault &fault = taxes ? taxesFault : precisionFault;
  const char *why = nullptr;
  if (!*value || *end || !std::isfinite(v))
    why = "is not a number";
  else if (taxes && (v < 0 || v >= 1))
    why = "is not a fraction from 0 to below 1";
  else if (!taxes && (v <= 0 || v > kMaxCurrencyPrecision))
    why = "is not a step above 0 and at most 1000";
  fault.text.clear();
  if (!why) return;
  char *text = strprintf("Bad `%s' in %s line %d: `%s' %s", row.key, configPath, configLine, value, why);
  fault.text = text;
  memRealloc(text, 0);
}

bool isMoneyKey(const ConfigKey &row) { return row.target == taxesValue || row.target == &currencyPrecision; }

// A money fault of a program that computes no money: warned, and the
// setting replaced.
void replaceFaulty(const MoneyFault &fault, double *setting) {
  if (fault.text.empty()) return;
  *setting = fault.fallback;
  if (!moneyRequired) error("%s; %g used", fault.text.c_str(), fault.fallback);
}

void storeValue(const ConfigKey &row, const char *value) {
  char used[32];
  char *end;
  switch (row.type) {
    case CF_PATH:
    case CF_COMMAND:
    case CF_ADDRESS:
    case CF_STRING:
      storeConfigString(static_cast<char **>(row.target), value, nullptr);
      break;
    case CF_BOOLEAN: {
      char c = static_cast<char>(tolower(static_cast<unsigned char>(*value)));
      *static_cast<char *>(row.target) = (c == 'y' || c == '1') ? 1 : 0;
      break;
    }
    case CF_INTEGER: {
      // Saturate at the 32-bit range as strtol does with a 32-bit long, so a
      // large value never wraps round to -1 ("keep the id") or another id.
      long v = strtol(value, &end, 10);
      if (v > INT32_MAX) v = INT32_MAX;
      if (v < INT32_MIN) v = INT32_MIN;
      *static_cast<int32_t *>(row.target) = static_cast<int32_t>(v);
      snprintf(used, sizeof used, "%ld", v);
      warnLooseNumber(row, value, end, used);
      break;
    }
    case CF_REAL: {
      double v = strtod(value, &end);
      // inf and nan would pass the range rules of checkConfig.
      if (!std::isfinite(v)) {
        v = 0;
        end = const_cast<char *>(value);
      }
      *static_cast<double *>(row.target) = v;
      if (isMoneyKey(row)) {
        checkMoneyValue(row, value, end, v);
        break;
      }
      snprintf(used, sizeof used, "%g", v);
      warnLooseNumber(row, value, end, used);
      break;
    }
  }
}

// Copies of settings made before they are extended, since storeConfigString
// must not read the setting it writes.
std::string copyOf(const char *text) { return text ? text : ""; }

// An unset setting becomes base + leaf; a relative value base + "/" + value.
void pathRule(char **setting, const char *base, const char *leaf) {
  std::string b = copyOf(base);
  if (!*setting) {
    storeConfigString(setting, b.c_str(), leaf);
  } else if (**setting != '/') {
    std::string v = "/" + copyOf(*setting);
    storeConfigString(setting, b.c_str(), v.c_str());
  }
}

// A value without "@" gets the domain appended.
void addressRule(char **setting) {
  if (*setting && !strchr(*setting, '@')) {
    std::string v = copyOf(*setting);
    storeConfigString(setting, v.c_str(), addrDomain);
  }
}

void defaultTo(char **setting, const char *text, const char *suffix = nullptr) {
  if (!*setting) storeConfigString(setting, text, suffix);
}

}  // namespace

void storeConfigString(char **setting, const char *text, const char *suffix) {
  if (!text) text = "";
  size_t a = strlen(text);
  size_t b = suffix ? strlen(suffix) : 0;
  char *s = static_cast<char *>(memRealloc(*setting, a + b + 1));
  memcpy(s, text, a);
  if (b) memcpy(s + a, suffix, b);
  s[a + b] = '\0';
  *setting = s;
}

bool readConfigLines(FILE *file, std::string *badLine) {
  char buf[2048];
  bool lineEnded = true;
  while (fgets(buf, sizeof buf, file)) {
    // A piece of an overlong line is read as a line of its own but keeps the
    // number of the line it is part of.
    if (lineEnded) ++configLine;
    lineEnded = strchr(buf, '\n') != nullptr;
    char *line = buf;
    while (isBlank(*line)) ++line;
    if (!*line || *line == '\n' || *line == '#') continue;
    size_t n = strlen(line);
    if (line[n - 1] == '\n') line[--n] = '\0';
    // A file saved with CRLF line ends: the carriage return is no part of
    // the value (a path or address with it would name nothing).
    if (n > 0 && line[n - 1] == '\r') line[--n] = '\0';
    const ConfigKey *row = configKeys;
    for (; row->key; ++row) {
      size_t k = strlen(row->key);
      if (strncmp(line, row->key, k) == 0 && (line[k] == '\0' || isBlank(line[k]))) break;
    }
    if (!row->key) {
      *badLine = line;
      return false;
    }
    char *rest = line + strlen(row->key);
    if (!*rest) continue;  // nothing after the key: the setting is kept
    storeValue(*row, lineValue(rest));
  }
  return true;
}

// A main configuration file open for reading; null, with the reason in
// *reason, when it cannot be read (a directory opens, but reads nothing).
FILE *openConfig(const char *path, int *reason) {
  FILE *f = fopen(path, "r");
  struct stat st;
  if (f && fstat(fileno(f), &st) == 0 && S_ISDIR(st.st_mode)) {
    fclose(f);
    f = nullptr;
    errno = EISDIR;
  }
  if (!f) *reason = errno;
  return f;
}

void readConfig() {
  int mainReason = 0, oldReason = 0;
  configPath = kMainConfig;
  configLine = 0;
  FILE *f = openConfig(kMainConfig, &mainReason);
  if (!f) {
    configPath = kOldConfig;
    f = openConfig(kOldConfig, &oldReason);
    if (f && mainReason != ENOENT)
      error("Can't read %s (%s), %s read instead", kMainConfig, strerror(mainReason), kOldConfig);
  }
  if (!f) {
    // The file that is there but cannot be read is the one to name.
    const char *named = mainReason != ENOENT ? kMainConfig : kOldConfig;
    const int reason = mainReason != ENOENT ? mainReason : oldReason;
    fputs("**\n", stderr);
    if (reason == ENOENT)
      error("** Cannot open main config (%s)!", named);
    else
      error("** Cannot open main config (%s: %s)!", named, strerror(reason));
    fputs("**\n", stderr);
    sleep(5);
    exit(1);
  }
  std::string badLine;
  if (!readConfigLines(f, &badLine)) fatal(1, "Wrong config line ('%s')", badLine.c_str());
  fclose(f);
}

void localeDefaults() {
  const struct lconv *lc = localeconv();
  if (currencyPrecision <= 0) {
    currencyPrecision = 1.0;
    if (lc && lc->frac_digits != CHAR_MAX) {
      for (int n = lc->frac_digits; n > 0; --n) currencyPrecision /= 10;
    }
  }
  if (transientPrecision <= 0) transientPrecision = currencyPrecision / 100;
  if (!currencyThousands) {
    if (lc && lc->mon_thousands_sep) {
      storeConfigString(&currencyThousands, lc->mon_thousands_sep, nullptr);
    } else {
      storeConfigString(&currencyThousands, "'", nullptr);
    }
  }
}

int checkConfig() {
  defaultTo(&sqlServerType, "msql");
  defaultTo(&homeDir, "/var/local/stat");
  pathRule(&binDir, homeDir, "/bin");
  pathRule(&serverDir, homeDir, "/server");
  pathRule(&userBase, homeDir, "/userbase");
  pathRule(&lockDir, homeDir, "/locks");
  pathRule(&openUser, binDir, "/user-open");
  pathRule(&closeUser, binDir, "/user-close");
  if (!addrDomain) {
    char host[2048];
    if (gethostname(host, sizeof host - 1) != 0) fatal(1, "Can't get host name");
    host[sizeof host - 1] = '\0';
    storeConfigString(&addrDomain, "@", host);
  }
  if (*addrDomain != '@') {
    std::string d = copyOf(addrDomain);
    storeConfigString(&addrDomain, "@", d.c_str());
  }
  defaultTo(&organization, "Norvek Node at ", addrDomain);
  defaultTo(&addrMaster, "postmaster", addrDomain);
  addressRule(&addrMaster);
  defaultTo(&addrFrom, "vovuvuza", addrDomain);
  addressRule(&addrFrom);
  defaultTo(&addrAdmin, "stat-adm", addrDomain);
  defaultTo(&nameAdmin, "Administrator");
  addressRule(&addrAdmin);
  if (!addrSender) {
    std::string from = copyOf(addrFrom);
    storeConfigString(&addrSender, from.c_str(), nullptr);
  }
  addressRule(&addrSender);
  addressRule(&addrCarbon);
  defaultTo(&mailer, "/usr/sbin/sendmail -f%s ");
  size_t m = strlen(mailer);
  if (m == 0 || mailer[m - 1] != ' ') {
    std::string v = copyOf(mailer);
    storeConfigString(&mailer, v.c_str(), " ");
  }
  // Values outside sense were found where they were read (checkMoneyValue).
  replaceFaulty(taxesFault, taxesValue);
  replaceFaulty(precisionFault, &currencyPrecision);
  if (transientPrecision > currencyPrecision) transientPrecision = currencyPrecision / 100;
  defaultTo(&currencyName, "currency");
  defaultTo(&currencyHundredth, "currency_h");
  if (!cmdDelimiters || strlen(cmdDelimiters) < 2) {
    // A heap copy, so that a program may store its own delimiters later.
    storeConfigString(&cmdDelimiters, "<>", nullptr);
  } else {
    cmdDelimiters[2] = '\0';
  }
  if (!language || !*language) {
    const char *dot = strrchr(addrDomain, '.');
    const char *tail = dot ? dot : addrDomain;
    storeConfigString(&language, strcmp(tail, ".ru") == 0 || strcmp(tail, ".su") == 0 ? "ru" : "en",
                      nullptr);
  }
  if (strlen(language) > 2) language[2] = '\0';
  if (legalAddrChars) {
    for (const char *p = legalAddrChars; *p; ++p) {
      if (strchr("<>!:@%,", *p)) {
        error("Bad character `%c' in `legal-chars' - addresses may become unparsable", *p);
        break;
      }
    }
  }
  return 0;
}

const char *initMoneyConfig() {
  moneyRequired = true;
  initConfig();
  if (!taxesFault.text.empty()) return taxesFault.text.c_str();
  if (!precisionFault.text.empty()) return precisionFault.text.c_str();
  return nullptr;
}

void initConfig() {
  if (initDone) return;
  initDone = true;
  lowerLimit(RLIMIT_DATA, "DATA: cur=%lld max=%lld\n", false,
             "setrlimit(RLIMIT_DATA,&{%lld,%lld}) failed (ignored)", 0, true);
  lowerLimit(RLIMIT_STACK, "STAC: cur=%llu max=%llu\n", true,
             "setrlimit(RLIMIT_STACK,&{%lld,%lld}) failed (ignored)", 1024000, false);
  lowerLimit(RLIMIT_NOFILE, "NFIL: cur=%llu max=%llu\n", true,
             "setrlimit(RLIMIT_NOFILE,&{%lld,%lld}) failed (ignored)", 50, false);
  readConfig();
  localeDefaults();
  checkConfig();
  setLanguage(nullptr);
  debug(5, "before config: euid/egid=%d/%d, uid/gid=%d/%d\n", static_cast<int>(geteuid()),
        static_cast<int>(getegid()), static_cast<int>(getuid()), static_cast<int>(getgid()));
  if (getegid() != getgid()) (void)!setgid(getegid());
  if (gidVovuVuza != -1) {
    (void)!setgid(static_cast<gid_t>(gidVovuVuza));
    if (getgid() != static_cast<gid_t>(gidVovuVuza))
      fatal(1, "Can't set group id to %d, getgid()=%d", gidVovuVuza, static_cast<int>(getgid()));
  }
  if (geteuid() != getuid()) (void)!setuid(geteuid());
  if (uidVovuVuza != -1) {
    (void)!setuid(static_cast<uid_t>(uidVovuVuza));
    if (getuid() != static_cast<uid_t>(uidVovuVuza))
      fatal(1, "Can't set user id to %d, getuid()=%d", uidVovuVuza, static_cast<int>(getuid()));
  }
  debug(4, "after config: euid/egid=%d/%d, uid/gid=%d/%d\n", static_cast<int>(geteuid()),
        static_cast<int>(getegid()), static_cast<int>(getuid()), static_cast<int>(getgid()));
}
