// postmeter: mail traffic per user and service class.
//
//   postmeter [-x level] [-u user] [-o output] [-s] file...
//
// Reads the common mail.cf and the users' mail.cf files, classifies every
// traffic line of the files ("-" or any operand beginning with '-': standard
// input) and writes the bytes per user and class (see mailstat.h).
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "core.h"
#include "mailcf.h"
#include "mailstat.h"
#include "matchset.h"
#include "userbase.h"

namespace {

[[noreturn]] void usage() {
  fputs(
      "Usage: postmeter [-xdebuglevel] [-uuser] [-ofile] file..\n"
      "\t-xdebug\tSet debug level to 'debug'\n"
      "\t-uuser\tOnly calculate statistic for user (by default statistic\n"
      "\t\tcalculated for all users)\n"
      "\t-s\tsave statistic lines into user's homes on per class basis\n"
      "\t\t(very slowly!)\n"
      "\t-ofile\tSet output file to 'file'. Where file is one of:\n"
      "\t\t\t-\tstdout (default)\n"
      "\t\t\t~file\tfile in user's home directory\n"
      "\t\t\tfile\tfile as it named\n",
      stderr);
  exit(1);
}

}  // namespace

int main(int argc, char **argv) {
  const char *onlyUser = nullptr;
  const char *output = nullptr;
  int option;
  while ((option = getopt(argc, argv, "Hx:o:u:s")) != -1) {
    switch (option) {
      case 'x':
        // A debug-level line of the configuration, read later, replaces it.
        debugLevel = static_cast<int32_t>(strtol(optarg, nullptr, 10));
        break;
      case 'o':
        output = optarg;
        break;
      case 'u':
        onlyUser = optarg;
        break;
      case 's':
        saveSpecials = true;
        break;
      default:
        usage();
    }
  }
  if (optind >= argc) usage();

  initConfig();

  if (!readMailCf(nullptr)) fatal(1, "Can't get common mail services configuration");
  if (onlyUser)
    readMailCf(onlyUser);
  else
    forEachUser(readMailCf);
  matchSetBuild();

  StatTable table;
  statTableInit(&table);
  bool stdinClosed = false;
  for (int i = optind; i < argc; ++i) {
    const char *operand = argv[i];
    if (operand[0] == '-') {
      // Standard input is closed after it is read once; a second "-" is empty.
      if (stdinClosed) continue;
      readTraffic(&table, stdin);
      fclose(stdin);
      stdinClosed = true;
      continue;
    }
    FILE *input = fopen(operand, "r");
    if (!input) fatal(1, "Can't open file '%s'\n", operand);
    readTraffic(&table, input);
    fclose(input);
  }

  bool written = writeStat(&table, output);
  statTableFree(&table);
  return written ? 0 : 1;
}
