// webtally: the CGI report program.
//
// The web server starts webtally once per request for the user it has
// authenticated. The program writes the HTTP header, chooses a form by the
// query parameter `what` through the form table webtally.cf, and interprets
// the form to standard output.
//
// webtally.cf (home directory): lines of a form key and a form file name,
// split into words with quoting (double quotes group, a backslash takes the
// next character); a line whose first word begins with "#" is a comment.
// Keys are matched whole and without regard to case; the first entry wins.
// Fixed keys: "nouser", "baduser", "default" and "total".
//
// Form language: text copied to the output, with directives between the two
// characters of the setting report-delimiters (webtally forces "@@"). A
// directive is a command word, matched by unambiguous abbreviation in the
// command table, and an argument text of name=value words that the command
// parses with parseArgs. "@@" writes one "@"; a backslash makes the next
// character literal; /* ... */ is a comment everywhere; `if`/`else`/`fi`
// switch the output; `include` runs another form or copies a file; `end`
// ends the form.
//
// Modules: webtally (entry, runForm), cgi (query decoding, output helpers),
// formconfig (the form table), forms (the interpreter, the form openers and
// the command table), bool (conditionals), include, args (command
// arguments), user_funcs (binding of the formula functions), sumcache (the
// sums of the reports, read once per request) and one file per group of
// commands.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "core.h"
#include "symbols.h"
#include "userbase.h"

// ---- The program (webtally) ----

// The program's main: one CGI request; returns 0.
int webtallyMain();
// Writes the usage line to standard output and ends the process with status 0.
[[noreturn]] void webtallyUsage();
// Ends the request quietly (status 0, the database connection closed) when a
// write to out has failed: nobody reads the page any more.
void endIfOutputLost(FILE *out);
// Shows the form file form for user (null: no user) on standard output.
void runForm(const char *form, const char *user);

// ---- The query and the page (cgi) ----

// The decoded query string: one heap string per non-empty item, in query
// order, each of the form name=value or a bare name. The list owns its
// strings; the array grows in steps of 20 entries.
struct QueryList {
  char **items = nullptr;
  unsigned count = 0;
};

// Empties list (freeing what it holds) and fills it from text; null text
// means the environment variable QUERY_STRING (unset: the list stays empty).
// In each item "+" becomes a blank and then %XX its byte. Returns list.
QueryList *parseQuery(QueryList *list, const char *text);
// Frees the items and the array; the list is empty afterwards.
void freeQuery(QueryList *list);
// The value of the first item named name (case-sensitive): the text after
// "=", "On" for a bare name, null when there is none. Points into the list.
const char *queryParam(const QueryList *list, const char *name);
// A new heap string (memRealloc) with every "%" and the two characters after
// it replaced by their byte; a "%" without two hexadecimal digits (also at
// the end of the text) ends the result there. Null gives null.
char *urlDecode(const char *text);
// The byte of the two hexadecimal digits at s (either case); 0 when either is
// not one. Never reads past the end of the text.
int hexPair(const char *s);
// Replaces every "+" of text by a blank, in place; returns text.
char *plusToSpace(char *text);
// Writes a bordered, centred one-cell table holding the formatted text to
// standard output.
void htmlBox(const char *fmt, ...) KX_PRINTF(1, 2);
// text with & < > and " written as HTML entities, for every name a page
// echoes. Null gives "".
std::string htmlEscape(const char *text);
// htmlEscape(text) padded with blanks as "%*s" pads text itself: to width
// characters on the left, or to -width on the right when width is negative.
// For fixed-width text in a page, whose columns count the characters shown.
std::string htmlField(const char *text, int width);
// text with every control byte shown as "?", for log lines that name
// something taken from the request. Null gives "".
std::string printable(const char *text);

// ---- The form table (formconfig) ----

// Parallel arrays of heap strings: form keys and form file names, in file
// order; grown in steps of 20 entries. The table owns its strings.
struct FormTable {
  char **keys = nullptr;
  char **files = nullptr;
  unsigned count = 0;
};

// Empties table and fills it from the file path (null: webtally.cf in the
// home directory). A file that does not open leaves the table empty. A line
// with a key but no file name is skipped. Returns table.
FormTable *loadForms(FormTable *table, const char *path);
// Frees the entries and both arrays; the table is empty afterwards.
void freeForms(FormTable *table);
// The form file name for key (without regard to case), else that of
// "default"; when "default" has no entry either, a message goes to the page
// and the result is "/dev/null". Never null; points into the table or is a
// constant.
const char *formFor(const FormTable *table, const char *key);

// ---- The interpreter (forms, bool, include) ----

// A form command: called with the form's output, the interpreter's user
// record (empty when no user is bound) and the directive's argument text,
// which the handler may split in place.
using CommandHandler = void (*)(FILE *out, UserConf *user, char *args);

// One row of the command table.
struct FormCommand {
  const char *name;  // the full command word
  CommandHandler handler;
  bool needsUser;    // the directive is skipped when no user can be bound
};

// The command table in match order, ended by a row without a name.
extern const FormCommand formCommands[];

// Forms nest through `include` at most this deep (the outermost form counts):
// a form that includes itself would otherwise run until the stack or the
// open-file limit breaks.
constexpr unsigned kMaxFormDepth = 16;

// Interprets form to out for the user name user (null or "": no user) and
// closes form; always 0.
int interpretForm(FILE *out, const char *user, FILE *form);
// Forms being interpreted right now (0 outside interpretForm).
unsigned formDepth();
// Opens a form or file for reading: "-" standard input; "=x" x in the user's
// directory (with a user), else home-dir/forms/x, else home-dir/x; "~x" x in
// the user's directory (with a user only); anything else the path itself.
// Null or "" opens nothing; so does a home-dir path of 200 or more
// characters. Null when nothing opens.
FILE *openForm(const char *name, const char *user);
// openForm of the language variant of name first ("." and the first two
// letters of lang, null or "": the current language, inserted before the
// last "." of the file part, else appended), then of the configured
// language's variant, then of name itself.
FILE *openLangForm(const char *name, const char *user, const char *lang);

// State of the conditionals, shared by a form and every form it includes
// and kept for the whole request: whether text and directives take effect,
// the count of open `if` directives, and the depth of the innermost `if`
// opened while the output was on.
extern bool formOutput;
extern int ifDepth;
extern int ifActive;

// ---- Command arguments (args) ----

// Type of an argument slot; the codes are fixed.
enum ArgType {
  ARG_FLAG = 0,        // no value, only whether given
  ARG_STRING = 1,      // a heap copy of the text
  ARG_EXPRESSION = 2,  // the text evaluated as a formula
  ARG_INTEGER = 3,     // the text read as a decimal number, 32 bits
  ARG_DATE = 4,        // a heap Date: the report date moved by the text
};

// The value of a slot, by its type; zero or null until set.
union ArgValue {
  char *text;       // ARG_STRING
  double real;      // ARG_EXPRESSION
  int32_t integer;  // ARG_INTEGER
  Date *date;       // ARG_DATE
};

// One slot of an argument template. A template is an array of slots ended
// by a slot without a name. Commands keep their template as constant data
// and copy it at each call, so every directive starts with all slots unset;
// the copy owns its string and date values until freeArgs.
struct CommandArg {
  const char *name;  // the full argument name
  ArgType type;
  bool set;          // given, and its value accepted
  ArgValue value;
};

// Fills the template from text (split in place; unusable afterwards): each
// word name=value or a bare name; names matched by abbreviation; problems
// are logged and the parse goes on. The last value of a name stands.
void parseArgs(CommandArg *slots, char *text);
// Frees the string and date values of the template's slots.
void freeArgs(CommandArg *slots);
// True when the slot's name begins with name, without regard to case.
bool argMatches(const CommandArg *slot, const char *name);
// Converts and stores value (null: no value given); false when refused.
// A string slot given without a value counts as not given.
bool setArgValue(CommandArg *slot, const char *value);
// Frees the value of a string or date slot.
void freeArgValue(CommandArg *slot);
// Applies the date expression text to a copy of *date and stores the result
// when it is a calendar date with a year from 1900 to 9999; otherwise logs
// and leaves *date as it was. True when stored.
bool moveReportDate(Date *date, const char *text);

// ---- The user's formula functions (user_funcs) ----

// The user name and account name of the form being interpreted, read by the
// formula functions at call time; they point into the interpreter's user
// record (empty until a directive loads the user) or are null.
extern const char *boundUserName;
extern const char *boundAccountName;
// Binds the two names and registers the formula functions `account`,
// `statistic` and `total` as the evaluator's only program table.
void bindUser(const char *user, const char *account);
// The formula functions: total(date), statistic(from, to), account(to, from).
bool e_account(double *out, ArgSlot *args);
bool e_statistic(double *out, ArgSlot *args);
bool e_total(double *out, ArgSlot *args);

// ---- Sums read once per request (sumcache) ----

// accountBalance(account, to, from), read once per request for each account
// and date range (to null is the report date).
double requestBalance(const char *account, const Date *to, const Date *from);
// e_statistic(out, args), read once per request for each bound user and pair
// of dates; a failed read is not remembered.
bool requestStatistic(double *out, ArgSlot *args);

// ---- Command handlers ----

// Text commands.
void cmdVersion(FILE *out, UserConf *user, char *args);
void cmdStatAdmin(FILE *out, UserConf *user, char *args);
void cmdCurrency(FILE *out, UserConf *user, char *args);
void cmdDate(FILE *out, UserConf *user, char *args);
void cmdCdate(FILE *out, UserConf *user, char *args);
void cmdPrint(FILE *out, UserConf *user, char *args);
void cmdLine(FILE *out, UserConf *user, char *args);
// User information (both spellings of organization share cmdOrganization):
// each runs print with the argument text and "extension=" its field name.
void printUserField(FILE *out, UserConf *user, const char *args, const char *field);
void cmdUsername(FILE *out, UserConf *user, char *args);
void cmdOrganization(FILE *out, UserConf *user, char *args);
void cmdRealname(FILE *out, UserConf *user, char *args);
void cmdLocation(FILE *out, UserConf *user, char *args);
void cmdContract(FILE *out, UserConf *user, char *args);
void cmdPhones(FILE *out, UserConf *user, char *args);
void cmdDomain(FILE *out, UserConf *user, char *args);
void cmdUsersystem(FILE *out, UserConf *user, char *args);
void cmdWhowhen(FILE *out, UserConf *user, char *args);
void cmdPostmaster(FILE *out, UserConf *user, char *args);
// Reports: the user's account (account), his priced usage per month
// (statistic) and what he owes now (total). Texts of the database in their
// HTML tables (comments, descriptions, unit names) go through htmlEscape;
// the form's own texts and the catalogue's are written as they stand.
// Default widths of the reports: characters of a text line, percent of the
// page for an HTML table; a text line holds at most kReportMaxWidth.
constexpr int32_t kReportTextWidth = 79;
constexpr int32_t kReportHtmlWidth = 96;
constexpr int32_t kReportMaxWidth = 400;
void cmdAccount(FILE *out, UserConf *user, char *args);
void cmdStatistic(FILE *out, UserConf *user, char *args);
void cmdTotal(FILE *out, UserConf *user, char *args);
// The money cell of the HTML tables: the amount as money text in red when
// below 0, else in blue. A new string of at most 99 characters; the caller
// frees it with memRealloc(cell, 0).
char *moneyCell(double amount, double unit);
// The rounding unit of a report: its `precision` argument when given and
// above 0, else the setting currency-precision.
double reportUnit(const CommandArg &precision);
// roundTo(amount, unit) in words, cut at blanks into lines of width - 1
// characters (width below 3 counts as 3), the first shift characters shorter;
// a shift that is not below the width logs "Bad margin" and counts as 1. No
// newline after the last line.
void writeWords(FILE *out, double amount, double unit, int32_t width, int32_t shift);
// A label of a text table's footer: the message of key and ":", or with
// kVatLabel the message, " (", the VAT in percent ("%g") and "%):"; at most
// 99 characters.
constexpr bool kPlainLabel = false;
constexpr bool kVatLabel = true;
std::string footerLabel(const char *key, bool vat);
// Form control.
void cmdInclude(FILE *out, UserConf *user, char *args);
void cmdIf(FILE *out, UserConf *user, char *args);
void cmdElse(FILE *out, UserConf *user, char *args);
void cmdFi(FILE *out, UserConf *user, char *args);
