#include <dirent.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core.h"
#include "sqldata.h"
#include "tallymill.h"
#include "userbase.h"

const char *inname;
FILE *infile;
const char *inlabel;
const char *outname;
FILE *outfile;
int runYear;
int runMonth;

namespace {

const char kUsage[] =
    "Usage: tallymill [switches]\n"
    "\t-xdebug\tSet debug level to 'debug'\n"
    "\t-uuser\tConvert stat for user 'user'\n"
    "\t-a\tConvert for ALL users\n"
    "\t-ofile\tWrite results to file (by default results stored in SQL\n"
    "\t\ttable `statistic'). Where file is one of:\n"
    "\t\t\t-\tstdout\n"
    "\t\t\t~file\tfile in user's home directory\n"
    "\t\t\tfile\tfile as it named\n"
    "\t-ifile\tSet input file to 'file'. Where file is one of:\n"
    "\t\t\t~file\tfile in user's home directory\n"
    "\t\t\tfile\tfile as it named\n"
    "\t\tBy default *.st files in homedirs will be converted\n"
    "\t-Yyear\tUse year as current year\n"
    "\t-Mmonth\tUse month as current month\n";

[[noreturn]] void usage() {
  fputs(kUsage, stderr);
  exit(1);
}

// A decimal number from the command line, read as strtol does.
int number(const char *text) { return static_cast<int>(strtol(text, nullptr, 10)); }

// Year and month from the first six bytes of .month, for those not given.
void readMonthFile() {
  const char *path = homePath(".month");
  FILE *f = fopen(path, "r");
  char buf[7] = {0};
  if (!f || fread(buf, 1, 6, f) < 6) {
    error("Can't read %s to read month/year", path);
    fputs("\nSet date with -M/-Y or edit .month file\n", stderr);
    if (f) fclose(f);
    exit(1);
  }
  fclose(f);
  if (runMonth == 0) runMonth = static_cast<int>(strtol(buf + 4, nullptr, 10));
  buf[4] = '\0';
  if (runYear == 0) runYear = static_cast<int>(strtol(buf, nullptr, 10));
  if (runMonth < 1 || runMonth > 12 || runYear < 1970 || runYear > 9999)
    fatal(1, "Bad date in %s file. Correct it!", path);
}

}  // namespace

FILE *openFile(const char *user, const char *name, FILE *stream, const char *mode) {
  if (stream) return stream;
  if (!name) return nullptr;
  FILE *f = fopen(userPath(user, name), mode);
  if (!f) fatal(1, "openFile: can't open '%s':'%s'\n", user, name);
  return f;
}

int tallymillMain(int argc, char **argv) {
  const char *user = nullptr;
  bool allUsers = false;
  int c;
  while ((c = getopt(argc, argv, "Hax:u:o:i:Y:M:")) != -1) {
    switch (c) {
      case 'x':
        debugLevel = number(optarg);
        break;
      case 'u':
        user = optarg;
        break;
      case 'a':
        allUsers = true;
        break;
      case 'o':
        if (strcmp(optarg, "-") == 0) {
          outfile = stdout;
          outname = nullptr;
        } else if (optarg[0] == '~') {
          outname = optarg + 1;
          outfile = nullptr;
        } else {
          outname = nullptr;
          outfile = fopen(optarg, "w");
          if (!outfile) fatal(1, "Can't open output file `%s'\n", optarg);
        }
        break;
      case 'i':
        inlabel = optarg;
        if (strcmp(optarg, "-") == 0) {
          infile = stdin;
          inname = nullptr;
          inlabel = "standard input";
        } else if (optarg[0] == '~') {
          inname = optarg + 1;
          infile = nullptr;
        } else {
          inname = nullptr;
          infile = fopen(optarg, "r");
          if (!infile) fatal(1, "Can't open input file `%s'\n", optarg);
        }
        debug(1, "inname=%s, infile=%p\n", inname ? inname : "(null)", static_cast<void *>(infile));
        break;
      case 'Y':
        runYear = number(optarg);
        if (runYear < 1900) fatal(1, "Year (%d) must be more than 1900\n", runYear);
        break;
      case 'M':
        runMonth = number(optarg);
        if (runMonth < 1 || runMonth > 12) fatal(1, "Month (%d) must be in range 1..12\n", runMonth);
        break;
      default:
        usage();
    }
  }
  if ((inname || infile) && !user) {
    fputs("'-i' must be used in pair with '-u'", stderr);
    usage();
  }
  if (!user && !allUsers) {
    fputs("One of '-u' or '-a' must be used.\n\n", stderr);
    usage();
  }
  if (const char *fault = initMoneyConfig()) fatal(1, "%s", fault);
  // The name becomes a path in the user base: only a plain user name passes.
  if (user && !isUserDirName(user)) fatal(1, "Bad user name '%s'\n", user);
  if (runYear == 0 || runMonth == 0) readMonthFile();
  debug(1, "Date set as %02d/%04d\n", runMonth, runYear);
  // Both modes take id locks; without a usable lock directory every one of
  // them would wait for ever, after the month's rows were deleted.
  if (int problem = checkLockDir()) fatal(1, "Can't use lock directory `%s' (%s)\n", lockDir, strerror(problem));
  if (allUsers && !user) {
    DIR *base = opendir(userBase);
    if (!base) fatal(1, "Can't open user base `%s' (%s)\n", userBase, strerror(errno));
    closedir(base);
  }
  sqlConnect();
  // The -i input takes the place of the -u user's counter files.
  if (user) {
    if (!priceUser(user)) fatal(1, "Can't get user configuration for '%s'\n", user);
  } else {
    forEachUser(convertUser);
    usersNotRead += leftOutUserDirs();
  }
  sqlClose();
  if (usersIncomplete == 0 && usersNotRead == 0) return 0;
  error("%u %s priced, %u with problems, %u not read (see Logfile)", usersPriced,
        usersPriced == 1 ? "user" : "users", usersIncomplete, usersNotRead);
  return 2;
}
