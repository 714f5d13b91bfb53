// ledgerctl: books charges and payments into the accounts of users.
//
//   ledgerctl [-n] [-T date] {-a | -uuser} command arguments
//
// "statistic year month" (or "statistic yyyymm") charges each user the total
// of his rows of table `statistic' for that month, each row rounded as his
// services page shows it, as a negative entry whose comment is the month's
// "services_in" text and whose flag is the month as YYYYMM. An account that
// already holds the user's entry with that flag, or (entries booked before
// the flag was kept) with the month's comment in any language of the
// catalogue, is not charged again, so a walk that was cut short can simply be
// run anew, whatever the catalogue says by then. "income sum cmt [vat]"
// books a sum (a formula) with the comment cmt (a message key, or the text
// itself) and, when a third argument is "v" or "vat" (in either case), a
// second entry that takes the VAT contained in the sum back out.
//
// Entries are dated today (moved by -T) and commented in the user's language
// under his account name; several users may share an account, and then the
// comment names the user. With -n each entry is printed instead of written
// (the database is still read).
#include <dirent.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

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
// statistic: an account that holds the month's charge of the user already is
// not charged again; the charge carries the month (YYYYMM) as its flag.
bool chargeOnce = false;
int monthFlag = 0;
// Whether the month of the statistic is read under the id lock of
// `statistic': always when writing, with -n when the lock directory is
// usable.
bool lockStatistic = true;
// Set when, in the current pass, a user's user.cf could not be read or his
// entry was refused.
bool userRefused = false;
// Set when a user of an -a walk was skipped or refused: the run ends with 2.
bool walkIncomplete = false;
// The month's comments made so far, by the "services_in" text they come from
// (catalogue texts live until exit), so that each is made and judged once.
std::map<const char *, std::string> monthComments;
// The month's comment in every language of the catalogue, each once.
std::vector<std::string> everyMonthComment;

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
      userRefused = true;
      return false;
    }
  }
  setLanguage(user.lang);
  return true;
}

bool isBookableSum(double sum) { return std::isfinite(sum) && std::fabs(sum) < kSumLimit; }

// True when text is a format for the month and the year, two unsigned values:
// "%%" and exactly two conversions o, u, x or X, with flags and a short width
// and precision. Anything else would read arguments that are not there, or
// give one comment to several months.
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
  return conversions == 2;
}

// The comment of the month's charge made from a "services_in" text: the text
// with the month and the year. A text that is no such format, or that does
// not fit in 99 characters, gives way to the default format.
const std::string &monthComment(const char *format) {
  auto [made, isNew] = monthComments.try_emplace(format);
  if (isNew) {
    char text[kMonthTextSize];
    int length = isMonthFormat(format) ? snprintf(text, sizeof text, format, statMonth, statYear) : -1;
    if (length < 0 || static_cast<size_t>(length) >= sizeof text) {
      error("Bad message services_in - `%s', `%s' used", format, kMonthFallback);
      snprintf(text, sizeof text, kMonthFallback, statMonth, statYear);
    }
    made->second = text;
  }
  return made->second;
}

void addOnce(std::vector<std::string> *texts, const std::string &text) {
  if (std::find(texts->begin(), texts->end(), text) == texts->end()) texts->push_back(text);
}

// The comment of an entry of the loaded user: text cut to 299 characters, in
// a shared account followed by the user's name in parentheses when it fits.
std::string userComment(const char *text) {
  char comment[kAccountCommentSize];
  strnzcpy(comment, text, sizeof comment);
  const size_t length = strlen(comment);
  if (strcmp(user.name, user.accname) != 0 && length + strlen(user.name) + 4 <= sizeof comment)
    snprintf(comment + length, sizeof comment - length, " (%s)", user.name);
  return comment;
}

// The name in a trailing " (name)" of a comment, or "".
std::string namedUser(const char *comment) {
  const char *open = strrchr(comment, '(');
  const size_t length = strlen(comment);
  if (!open || open == comment || open[-1] != ' ' || length < 2 || comment[length - 1] != ')') return "";
  return std::string(open + 1, comment + length - 1);
}

// True when name is another user whose entries go to the account.
bool sharesAccount(const std::string &name, const char *account) {
  if (name == user.name || !isUserDirName(name.c_str()) || access(userPath(name.c_str(), "user.cf"), R_OK) != 0)
    return false;
  UserConf other;
  userInit(&other);
  const bool shares = getUserConf(&other, name.c_str()) && strcmp(other.accname, account) == 0;
  userClear(&other);
  return shares;
}

// True when an entry of the account with the month's flag is the loaded
// user's charge: in a shared account each user's comment ends in his name in
// parentheses; the owner's names nobody who shares the account.
bool isUsersCharge(const char *account, const char *comment) {
  const std::string named = namedUser(comment);
  if (strcmp(user.name, account) != 0) return named == user.name;
  return named.empty() || !sharesAccount(named, account);
}

// True when the month may be charged to the account: it holds no entry of
// the user with the month's flag, nor (booked before the flag was kept) with
// the comment or the month's comment of the user in another language (his
// language may have changed). False, with a message, when it does, or when
// that cannot be read.
bool mayCharge(const char *account, const char *comment) {
  std::vector<std::string> comments = {comment};
  for (const std::string &text : everyMonthComment) addOnce(&comments, userComment(text.c_str()));
  std::string statement = "SELECT sum,cmt,flag FROM accounts WHERE user='";
  statement += sqlString(account, nullptr);
  statement += "' AND (flag=" + std::to_string(monthFlag) + " OR ";
  for (size_t i = 0; i < comments.size(); ++i) {
    statement += i > 0 ? " OR cmt='" : "cmt='";
    statement += sqlString(comments[i].c_str(), nullptr);
    statement += "'";
  }
  statement += ")";
  MsqlResult *result = nullptr;
  if (sqlQuery("%s", statement.c_str()) == 0) result = sqlStoreResult();
  if (!result) {
    error("Can't read account `%s', `%s' not booked", account, comment);
    userRefused = true;
    return false;
  }
  bool held = false;
  double heldSum = 0;
  std::string heldComment;
  while (MsqlRow row = sqlFetchRow(result, 3)) {
    const char *text = row[1] ? row[1] : "";
    bool byComment = std::find(comments.begin(), comments.end(), text) != comments.end();
    if (!byComment && !(row[2] && atoi(row[2]) == monthFlag && isUsersCharge(account, text))) continue;
    if (!held) heldComment = text;
    held = true;
    if (row[0]) heldSum = roundTo(heldSum + strtod(row[0], nullptr), currencyPrecision);
  }
  sqlFreeResult(result);
  if (!held) return true;
  // Priced again since it was charged: both amounts, so that the difference
  // can be booked by hand.
  const double charge = roundTo(entrySum, currencyPrecision);
  if (std::fabs(heldSum - charge) < currencyPrecision / 2) {
    error("Account `%s' already holds `%s', not charged again", account, heldComment.c_str());
  } else {
    const std::string heldText = formatMoney(heldSum, currencyPrecision);
    error("Account `%s' already holds `%s' of %s, the month's charge is now %s: not charged again", account,
          heldComment.c_str(), heldText.c_str(), formatMoney(charge, currencyPrecision));
  }
  return false;
}

// The user's charges of the chosen month. They are read under the id lock of
// `statistic', which tallymill holds while it replaces a user's month, so the
// month is seen whole, before or after (with -n too, so that what it shows is
// what a run would book).
// False when the month could not be read.
bool monthCharges(const char *name, double *charges) {
  if (lockStatistic) lockIds("statistic");
  MsqlResult *month = selectStat(name, statYear, statMonth);
  StatRow total;
  if (month) sumStat(&total, month);
  if (lockStatistic) unlockIds("statistic");
  *charges = month ? total.sum : 0;
  return month != nullptr;
}

// Books the current sum and comment for the user: loads him when needed,
// builds the entry and writes it or (-n) prints it.
void bookEntry(const char *name) {
  // Loaded first, so that a user named by -u who cannot be read is noticed
  // whatever the sum.
  if (!loadUser(name)) return;
  if (!isBookableSum(entrySum)) {
    error("Bad sum for `%s' - %g, nothing booked", name, entrySum);
    userRefused = true;
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
  strnzcpy(entry.comment, userComment(getMessage(commentKey)).c_str(), sizeof entry.comment);
  if (chargeOnce && !mayCharge(user.accname, entry.comment)) return;
  if (doSql) {
    if (insertAccount(user.accname, &entry, chargeOnce ? monthFlag : kEntryOrdinary) != 0) {
      error("The entry for `%s' was not stored (see above), nothing booked", name);
      userRefused = true;
    }
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
  double charges;
  if (!monthCharges(name, &charges)) {
    error("Can't read the statistic of `%s' for %02u/%u, not charged", name, statMonth, statYear);
    userRefused = true;
    forgetUser();
    return true;
  }
  entrySum = -charges;
  commentKey = monthComment(getMessage("services_in")).c_str();
  return addAccountEntry(name);
}

// One pass of a booking. A user named by -u who is skipped or refused ends
// the run with status 1; in a walk such a user is only skipped, and the run
// ends with status 2.
void bookPass(UserCallback booking) {
  userRefused = false;
  // The pass is one lock period of `accounts': for every user the test
  // whether his account holds the month and the booking are one step, and
  // the id counter is read once.
  if (doSql) lockIds("accounts");
  if (allUsers) forEachUser(booking);
  else booking(oneUser);
  if (doSql) unlockIds("accounts");
  // A customer folder the walk left out is a customer not booked.
  walkIncomplete = walkIncomplete || (allUsers && (userRefused || leftOutUserDirs() > 0));
  if (!allUsers && userRefused) {
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

// income sum cmt [vat]: the sum. The third operand, when given, must be the
// VAT word, "v" or "vat" in either case: any other word would book the sum
// with its VAT left in, without a word.
double readIncome(int count, char **operand) {
  if (count <= 2) {
    error("No sum and comment given");
    ledgerctlUsage();
  }
  if (count > 4 || (count == 4 && strcasecmp(operand[3], "v") != 0 && strcasecmp(operand[3], "vat") != 0)) {
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
  if (const char *fault = initMoneyConfig()) fatal(1, "%s", fault);
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
  } else {
    lockStatistic = checkLockDir() == 0;
  }
  sqlConnect();

  if (command == 's') {
    chargeOnce = true;
    monthFlag = static_cast<int>(statYear * 100 + statMonth);
    for (const std::string &name : catalogueLanguages())
      addOnce(&everyMonthComment, monthComment(getMessage("services_in", name.c_str())));
    bookPass(statisticToAccount);
  } else {
    entrySum = income;
    commentKey = operand[2];
    bookPass(addAccountEntry);
    if (count == 4) {
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
