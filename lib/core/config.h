// Start-up and the main configuration file.
//
// Every program but wtmpview calls initConfig() before any other service of
// the library. It lowers the data, stack and open-file limits, reads
// /etc/korvix-1.3.conf (else /etc/korvix.conf) into the process-wide settings
// below, derives the defaults, selects the message language and switches to
// the configured group and user id. Only the first call in a process acts.
//
// File format: lines of "key value"; blanks and tabs before the key are
// skipped, a line beginning with "#" is a comment; the value is the rest of the
// line without surrounding blanks and tabs; a value beginning with a double
// quote runs to the last double quote of the line; a carriage return before
// the newline is dropped. The last occurrence of a key wins; an unknown key
// ends the process.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// Kinds of settings; path, command, mail address and string are all stored as
// heap strings and differ only in how checkConfig() completes them.
enum ConfigType {
  CF_PATH = 0,
  CF_COMMAND = 1,
  CF_ADDRESS = 2,
  CF_BOOLEAN = 3,
  CF_INTEGER = 4,
  CF_REAL = 5,
  CF_STRING = 6,
};

// One row of the key table; the table ends with a row whose key is null.
struct ConfigKey {
  const char *key;    // spelling matched in the file
  const char *alias;  // name of the setting's variable (documentation only)
  void *target;       // address of the setting
  ConfigType type;
};

// The key table, in match order (39 rows and the null row).
extern ConfigKey configKeys[];

// String-like settings: null while unset; owned by the configuration.
extern char *sqlServerType;      // sql-type
extern char *sqlServerHost;      // sql-server
extern char *sqlServerPort;      // sql-port
extern char *sqlServerSocket;    // sql-socket
extern char *sqlDatabase;        // sql-database
extern char *homeDir;            // home-dir
extern char *binDir;             // bin-dir
extern char *serverDir;          // server-dir
extern char *userBase;           // userbase-dir
extern char *lockDir;            // lock-dir
extern char *organization;       // organization
extern char *addrDomain;         // domain (always begins with "@")
extern char *addrMaster;         // postmaster
extern char *addrFrom;           // from
extern char *addrAdmin;          // admin
extern char *nameAdmin;          // admin-name
extern char *addrSender;         // sender
extern char *addrCarbon;         // carbon-copy (may stay null)
extern char *mailer;             // mailer (ends in a blank)
extern char *openUser;           // user-open
extern char *closeUser;          // user-close
extern char *currencyThousands;  // currency-thousands
extern char *currencyName;       // currency-name (a message key)
extern char *currencyHundredth;  // currency-hundredth (a message key)
extern char *cmdDelimiters;      // report-delimiters (two characters)
extern char *priceCurrency;      // price-currency
extern char *debugAllMail;       // debug-allmail
extern char *language;           // language (at most two characters)
extern char *legalAddrChars;     // legal-chars

// Boolean settings: 1 yes, 0 no.
extern char forkServer;  // server-run
extern char keepJobs;    // server-keep-jobs

// Integer settings.
extern int32_t uidSendmail;  // listener-uid
extern int32_t gidSendmail;  // listener-gid
extern int32_t debugLevel;   // debug-level
extern int32_t uidVovuVuza;  // uid (-1 keeps the user id)
extern int32_t gidVovuVuza;  // gid (-1 keeps the group id)

// Real settings. The `taxes` key writes the built-in formula symbol `taxes`.
extern double currencyPrecision;   // currency-precision
extern double transientPrecision;  // transient-precision

// The start-up routine; see the file comment.
void initConfig();
// A `currency-precision` above this is no unit of money but a typing error.
constexpr double kMaxCurrencyPrecision = 1000;
// initConfig for a program that computes money. A `taxes` that is not a
// fraction from 0 to below 1, or a `currency-precision` that is not above 0
// and at most kMaxCurrencyPrecision, or either that is not a number, is not
// replaced with a warning as in other programs: the text naming the file,
// the line and the value is returned (valid for the rest of the process) and
// the caller ends the run with it. Null when both are sound.
const char *initMoneyConfig();
// Reads the main configuration file into the settings; ends the process with
// status 1 (after the "**" lines and a pause of 5 seconds) when there is none.
void readConfig();
// Reads the lines of a main configuration file into the settings. False at
// the first line whose key is unknown, with that line (from its key on) in
// *badLine; nothing after it is read.
bool readConfigLines(FILE *file, std::string *badLine);
// Fills the money settings that depend on the locale's monetary conventions.
void localeDefaults();
// Derives the defaults and normalises the values; always 0.
int checkConfig();
// Makes *setting a heap string of text (null counts as empty) followed by
// suffix (when not null), reusing the previous heap string. Neither text nor
// suffix may point into the setting's current string.
void storeConfigString(char **setting, const char *text, const char *suffix);
