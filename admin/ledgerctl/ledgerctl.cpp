// ledgerctl: books charges and payments into the accounts of users.
//
//   ledgerctl [-n] [-T date] {-a | -uuser} command arguments
//
// "statistic year month" (or "statistic yyyymm") charges each user the total
// of his rows of table `statistic' for that month as a negative entry whose
// comment is the month's "services_in" text. An account that already holds an
// entry with that very comment is not charged again, so a walk that was cut
// short can simply be run anew. "income sum cmt [vat]" books a sum (a formula)
// with the comment cmt (a message key, or the text itself) and, when a third
// argument begins with "v", a second entry that takes the VAT contained in the
// sum back out.
//
// Entries are dated today (moved by -T) and commented in the user's language
// under his account name; several users may share an account, and then the
// comment names the user. With -n each entry is printed instead of written
// (the database is still read).
#include <dirent.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core.h"
#include "formula.h"
#include "ledgerctl.h"
#include "readers.h"
#include "sqldata.h"
#include "userbase.h"

namespace {

// Sums of this magnitude or more, and sums that are no numbers, are never
// written: the server would refuse the statement and the data layer would
// retry it without end.
constexpr double kSumLimit = 1e13;
// The month's comment: "services_in" formatted, at most 99 characters.
constexpr size_t kMonthTextSize = 100;
// What stands for a "services_in" text that is no fit format.
constexpr char kMonthFallback[] = "%02u/%u";
// Digits that a width or a precision in that format may have.
constexpr size_t kFormatDigitsMax = 3;

bool doSql = true;              // -n turns it off: entries are printed
bool allUsers = false;          // -a
const char *oneUser = nullptr;  // -u
unsigned statYear, statMonth;   // the month of the statistic command
// The entry that the next booking writes: its sum and the message key (or
// the text) of its comment.
double entrySum;
const char *commentKey = "";
// statistic: an account that holds an entry with the very comment already is
// not charged again.
bool chargeOnce = false;
// Set when a user of the current pass was skipped or refused: his user.cf
// unreadable, his sum refused, his month or account unreadable.
bool userSkipped = false;
// Set when a user of an -a walk was skipped or refused: the run ends with 2.
bool walkIncomplete = false;
char monthText[kMonthTextSize];

// The user being booked; an empty name means that none is loaded.
UserConf user;
struct UserRecordInit {
  UserRecordInit() { userInit(&user); }
} userRecordInit;

[[noreturn]] void ledgerctlUsage() {
  initConfig();
  fputs(
      "Usage:\tledgerctl [-n] [-T date] {-a | -uuser} command arguments\n"
      "\t-a\tFor all users\n"
      "\t-uuser\tOnly for user `user'\n"
      "\t-n\tDon't actually do SQL queries\n"
      "\t-T\tSet today's date\n"
      "Commands:\n"
      "\tstatistic year month\n"
      "\t\tAdds monthly statistic for month/year to user's account\n"
      "\tincome sum cmt [vat]\n"
      "\t\tInserts sum to user's account with comment `cmt' and\n"
      "\t\tremoves VAT if requested\n",
      stderr);
  exit(1);
}

// The record holds no user any more, so that no later booking can take the
// name or the account of a user read before.
void forgetUser() {
  user.name[0] = '\0';
  user.accname[0] = '\0';
}

// Makes the record hold the user (read afresh unless it holds him already)
// and his language the current one. False, with the record emptied, when his
// user.cf cannot be read (getUserConf has said why).
bool loadUser(const char *name) {
  if (!*user.name || strcmp(user.name, name) != 0) {
    if (!getUserConf(&user, name)) {
      forgetUser();
      userSkipped = true;
      return false;
    }
  }
  setLanguage(user.lang);
  return true;
}

bool isBookableSum(double sum) { return std::isfinite(sum) && std::fabs(sum) < kSumLimit; }

// True when text is a format for the month and the year, two unsigned values:
// "%%" and at most two conversions o, u, x or X, with flags and a short width
// and precision. Anything else would read arguments that are not there.
bool isMonthFormat(const char *text) {
  int conversions = 0;
  for (const char *p = strchr(text, '%'); p; p = strchr(p, '%')) {
    ++p;
    if (*p == '%') {
      ++p;
      continue;
    }
    p += strspn(p, "-+ #0");
    size_t digits = strspn(p, "0123456789");
    if (digits > kFormatDigitsMax) return false;
    p += digits;
    if (*p == '.') {
      digits = strspn(++p, "0123456789");
      if (digits > kFormatDigitsMax) return false;
      p += digits;
    }
    if (*p == '\0' || !strchr("ouxX", *p) || ++conversions > 2) return false;
    ++p;
  }
  return true;
}

// The comment of the month's charge: "services_in" in the current language
// with the month and the year, cut at 99 characters.
const char *monthComment() {
  const char *format = getMessage("services_in");
  if (!isMonthFormat(format)) {
    error("Bad message services_in - `%s', `%s' used", format, kMonthFallback);
    format = kMonthFallback;
  }
  snprintf(monthText, sizeof monthText, format, statMonth, statYear);
  return monthText;
}

// True when the month may be charged to the account: it holds no entry with
// this comment yet. False, with a message, when it does or when that cannot
// be read.
bool mayCharge(const char *account, const char *comment) {
  char quotedAccount[2 * sizeof user.accname + 1];
  MsqlResult *result = nullptr;
  if (sqlQuery("SELECT id FROM accounts WHERE user='%s' AND cmt='%s'",
               sqlString(account, quotedAccount), sqlString(comment, nullptr)) == 0)
    result = sqlStoreResult();
  if (!result) {
    error("Can't read account `%s', `%s' not booked", account, comment);
    userSkipped = true;
    return false;
  }
  const bool held = sqlFetchRow(result) != nullptr;
  sqlFreeResult(result);
  if (held) error("Account `%s' already holds `%s', not charged again", account, comment);
  return !held;
}

// Books the current sum and comment for the user: loads him when needed,
// builds the entry and writes it or (-n) prints it.
void bookEntry(const char *name) {
  // Loaded first, so that a user named by -u who cannot be read is noticed
  // whatever the sum.
  if (!loadUser(name)) return;
  if (!isBookableSum(entrySum)) {
    error("Bad sum for `%s' - %g, nothing booked", name, entrySum);
    userSkipped = true;
    return;
  }
  // Tested as it would be written: a residue that rounds to 0 is no entry.
  if (roundTo(entrySum, currencyPrecision) == 0) {
    debug(1, "No statistic for `%s'", name);
    return;
  }
  AccountEntry entry = {};
  entry.day = static_cast<uint32_t>(today.day);
  entry.month = static_cast<uint32_t>(today.month);
  entry.year = static_cast<uint32_t>(today.year);
  entry.sum = entrySum;
  strnzcpy(entry.comment, getMessage(commentKey), sizeof entry.comment);
  // In a shared account the comment says whose entry it is, when that fits.
  const size_t length = strlen(entry.comment);
  if (strcmp(user.name, user.accname) != 0 &&
      length + strlen(user.name) + 4 <= sizeof entry.comment)
    snprintf(entry.comment + length, sizeof entry.comment - length, " (%s)", user.name);
  if (chargeOnce && !mayCharge(user.accname, entry.comment)) return;
  if (doSql) {
    insertAccount(user.accname, &entry, kEntryOrdinary);
  } else {
    printf(
        "---------------------------------------- %s (%s)\n"
        "date    = %u/%02u/%u\nsum     = %s\ncomment = %s\n",
        user.name, user.accname, entry.day, entry.month, entry.year,
        formatMoney(entrySum, currencyPrecision), entry.comment);
  }
}

// A UserCallback: books the current sum and comment for the user. Always
// true, so a walk goes on.
bool addAccountEntry(const char *name) {
  bookEntry(name);
  forgetUser();
  return true;
}

// A UserCallback: charges the user the total of his statistic of the chosen
// month. Always true, so a walk goes on.
bool statisticToAccount(const char *name) {
  if (!loadUser(name)) return true;
  MsqlResult *month = selectStat(name, statYear, statMonth);
  if (!month) {
    error("Can't read the statistic of `%s' for %02u/%u, not charged", name, statMonth, statYear);
    userSkipped = true;
    forgetUser();
    return true;
  }
  StatRow total;
  sumStat(&total, month);
  entrySum = -total.sum;
  commentKey = monthComment();
  return addAccountEntry(name);
}

// One pass of a booking. A user named by -u who is skipped or refused ends
// the run with status 1; in a walk such a user is only skipped, and the run
// ends with status 2.
void bookPass(UserCallback booking) {
  userSkipped = false;
  if (allUsers) {
    forEachUser(booking);
    walkIncomplete = walkIncomplete || userSkipped;
    return;
  }
  booking(oneUser);
  if (userSkipped) {
    sqlClose();
    exit(1);
  }
}

// A year or month operand: one to nine decimal digits, so that the value
// and a year with 1900 added fit.
bool readUnsigned(const char *text, unsigned *value) {
  const size_t digits = strspn(text, "0123456789");
  if (digits == 0 || digits > 9 || text[digits] != '\0') return false;
  *value = static_cast<unsigned>(strtoul(text, nullptr, 10));
  return true;
}

// statistic year month, or statistic yyyymm.
void readMonth(int count, char **operand) {
  bool given = false;
  if (count == 3) {
    given = readUnsigned(operand[1], &statYear) && readUnsigned(operand[2], &statMonth);
  } else if (count == 2 && strlen(operand[1]) == 6 && readUnsigned(operand[1], &statYear)) {
    statMonth = statYear % 100;
    statYear /= 100;
    given = true;
  }
  if (!given) {
    error("No year/month given");
    ledgerctlUsage();
  }
  if (statYear < 1900) statYear += 1900;
  if (statYear > 2100) fatal(1, "Bad year given - %u", statYear);
  if (statMonth == 0 || statMonth > 12) fatal(1, "Bad month given - %u", statMonth);
}

// income sum cmt [vat]: the sum.
double readIncome(int count, char **operand) {
  if (count <= 2) {
    error("No sum and comment given");
    ledgerctlUsage();
  }
  if (count > 4) {
    error("Extra parameters given");
    ledgerctlUsage();
  }
  setExprTables(nullptr);
  double sum = 0;
  if (evaluate(&sum, operand[1]) != 0 || !isBookableSum(sum)) {
    error("Bad expression for sum");
    ledgerctlUsage();
  }
  return sum;
}

// -T must leave a real date from 1970 to 9999; a year below 1900 is one of
// the 1900s, as insertAccount takes it.
void checkToday() {
  if (today.year >= 0 && today.year <= 1899) today.year += 1900;
  if (today.year < 1970 || today.year > 9999 || today.month < 1 || today.month > 12 ||
      today.day < 1 || today.day > daysInMonth(today.year, today.month))
    fatal(1, "Bad date given - %d/%02d/%d", today.day, today.month, today.year);
}

// The users of the run must be reachable: with -a a user base that opens (the
// walk would take one that does not for an empty one), with -u a plain name,
// since it becomes a path in the base.
void checkUsers() {
  if (allUsers) {
    DIR *base = opendir(userBase);
    if (!base) fatal(1, "Can't open user base `%s'", userBase);
    closedir(base);
  } else if (!isUserDirName(oneUser)) {
    fatal(1, "Bad user name '%s'", oneUser);
  }
}

int ledgerctlMain(int argc, char **argv) {
  bool dateGiven = false;
  int option;
  while ((option = getopt(argc, argv, "Hnau:T:")) != -1) {
    switch (option) {
      case 'n':
        doSql = false;
        break;
      case 'a':
        allUsers = true;
        break;
      case 'u':
        oneUser = optarg;
        break;
      case 'T':
        parseDate(&today, optarg);
        dateGiven = true;
        break;
      default:
        ledgerctlUsage();
    }
  }
  if (optind >= argc) ledgerctlUsage();
  if (!allUsers && !oneUser) {
    fputs("-a or -uuser must present\n\n", stderr);
    ledgerctlUsage();
  }
  initConfig();
  if (dateGiven) checkToday();

  // Every operand is checked before the database is reached.
  const int count = argc - optind;
  char **operand = argv + optind;
  const char command = operand[0][0];
  double income = 0;
  if (command == 's') {
    readMonth(count, operand);
  } else if (command == 'i') {
    income = readIncome(count, operand);
  } else {
    error("Unknown command `%s'", operand[0]);
    ledgerctlUsage();
  }
  checkUsers();
  // Every booking takes the id lock of `accounts'; without a usable lock
  // directory it would wait for ever without a word.
  if (doSql) {
    if (int problem = checkLockDir()) fatal(1, "Can't use lock directory `%s' (%s)\n", lockDir, strerror(problem));
  }
  sqlConnect();

  if (command == 's') {
    chargeOnce = true;
    bookPass(statisticToAccount);
  } else {
    entrySum = income;
    commentKey = operand[2];
    bookPass(addAccountEntry);
    if (count == 4 && operand[3][0] == 'v') {
      // The VAT contained in the gross sum: 120 at 0.2 gives -20.
      entrySum = income * (1 / (1 + *taxesValue) - 1);
      commentKey = "vat_remove";
      bookPass(addAccountEntry);
    }
  }
  sqlClose();
  // Entries printed with -n that did not all get out must not pass for done.
  if (fflush(stdout) != 0 || ferror(stdout)) fatal(1, "Can't write the entries");
  return walkIncomplete ? 2 : 0;
}

}  // namespace

int main(int argc, char **argv) { return ledgerctlMain(argc, argv); }
