// benchnode HOME USERS: writes a node for the tallymill benchmark into the
// directory HOME (which must not exist yet): the month file, an English
// message catalogue, one price list of ten services (formulas over counters,
// two group directives, a gid line, a service priced in USD, description
// lines and a setprices line) and a user base of USERS users under two index
// levels, each user with a user.cf naming the list and two counter files.
//
// Counter values differ from user to user but are fixed by the user's number,
// so two nodes of the same size are identical, and every service of every
// user gets a row (no amount is below the cut of 1e-6).

#include <sys/stat.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const char kPriceList[] =
    "# Price list of the benchmark node: ten services.\n"
    "# name    formula                               price   unit\n"
    ": Internet access\n"
    "dialup    dialup_min                            0.5     min\n"
    "\tDial-up access, minutes\n"
    "leased    one                                   1500    month\n"
    "\tLeased line, monthly fee\n"
    "night     night_min/2                           0.5     min\n"
    "traffic   in_mb+out_mb>100?in_mb+out_mb-100:0   2       MB\n"
    "\tTraffic beyond 100 MB\n"
    "ip        max(ip_n,1)                           100     address\n"
    "group Mail\n"
    "mailin    mail_in/1048576                       2       MB\n"
    "mailout   mail_out/1048576                      1.5     MB\n"
    "spam      spam_n/1000                           1       thousand\n"
    "hosting   one                                   20USD   month\n"
    "\tVirtual hosting\n"
    "\t(priced in US dollars)\n"
    "gid misc\n"
    "support   support_h>2?support_h-2:0             300     hour\n"
    "\tTechnical support beyond two free hours\n"
    "setprices price*0.9\n";

[[noreturn]] void fail(const std::string &what) {
  fprintf(stderr, "benchnode: %s: %s\n", what.c_str(), strerror(errno));
  exit(1);
}

// True when the directory was made, false when it was there already.
bool makeDir(const std::string &path) {
  if (mkdir(path.c_str(), 0755) == 0) return true;
  if (errno != EEXIST) fail("cannot create " + path);
  return false;
}

void writeFile(const std::string &path, const std::string &text) {
  FILE *f = fopen(path.c_str(), "w");
  if (!f) fail("cannot create " + path);
  if (fwrite(text.data(), 1, text.size(), f) != text.size() || fclose(f) != 0)
    fail("cannot write " + path);
}

// A fixed pseudo-random sequence per user (a 64-bit LCG).
struct Dice {
  unsigned long long state;
  unsigned next(unsigned range) {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<unsigned>((state >> 33) % range);
  }
};

__attribute__((format(printf, 1, 2))) std::string format(const char *fmt, ...) {
  char buf[128];
  va_list args;
  va_start(args, fmt);
  vsnprintf(buf, sizeof buf, fmt, args);
  va_end(args);
  return buf;
}

void writeUser(const std::string &base, unsigned number) {
  // Names like q200042: a letter and a digit that spread the users over the
  // index levels, then the number.
  char name[16];
  snprintf(name, sizeof name, "%c%u%05u", 'a' + number % 26, number % 10, number);
  std::string dir = base + "/" + std::string(name, 1);
  // An index level by the first letter, then a leaf level by two characters.
  if (makeDir(dir)) writeFile(dir + "/.alpha", "");
  dir += "/" + std::string(name, 2);
  makeDir(dir);
  dir += std::string("/") + name;
  makeDir(dir);
  writeFile(dir + "/user.cf",
            format("# benchmark user %u\nnamee   Bench user %u\nlanguage en\nprices  bench.lst\n"
                   "postmaster noc@%s.example\n",
                   number, number, name));

  // The draws are taken one statement at a time: the order in which a
  // call's arguments are evaluated is unspecified.
  Dice dice{number * 2654435761ULL + 1};
  auto draw = [&dice](unsigned low, unsigned range) { return low + dice.next(range); };
  std::string traffic = "# traffic of the month\n";
  unsigned whole = draw(100, 2000);
  traffic += format("dialup_min  %u.%u\n", whole, draw(0, 10));
  whole = draw(1, 500);
  traffic += format("dialup_min  %u.%u\n", whole, draw(0, 10));
  traffic += format("night_min   %u\n", draw(10, 900));
  whole = draw(80, 3000);
  traffic += format("in_mb       %u.%02u\n", whole, draw(0, 100));
  whole = draw(30, 800);
  traffic += format("out_mb      %u.%02u\n", whole, draw(0, 100));
  traffic += format("ip_n        %u\n", draw(1, 4));
  writeFile(dir + "/traffic.st", traffic);

  std::string mail;
  whole = draw(1, 200);
  mail += format("mail_in     %u%06u\n", whole, draw(0, 1000000));
  whole = draw(1, 50);
  mail += format("mail_in     %u%06u\n", whole, draw(0, 1000000));
  whole = draw(1, 100);
  mail += format("mail_out    %u%06u\n", whole, draw(0, 1000000));
  mail += format("spam_n      %u\n", draw(1, 20000));
  whole = draw(3, 6);
  mail += format("support_h   %u.%u\n", whole, draw(0, 10));
  writeFile(dir + "/mail.st", mail);
}

}  // namespace

int main(int argc, char **argv) {
  char *end = nullptr;
  unsigned long users = argc == 3 ? strtoul(argv[2], &end, 10) : 0;
  if (argc != 3 || !end || *end || users == 0 || users > 99999) {
    fputs("usage: benchnode HOME USERS (1 to 99999 users)\n", stderr);
    return 1;
  }
  std::string home = argv[1];
  if (mkdir(home.c_str(), 0755) != 0) fail("cannot create " + home);
  makeDir(home + "/locks");
  makeDir(home + "/prices");
  writeFile(home + "/.month", "202403\n");
  writeFile(home + "/languages.cf", "en messages.en\n");
  writeFile(home + "/messages.en", "currency \"roubles\"\nsgrp_misc \"Other services\"\n");
  writeFile(home + "/prices/bench.lst", kPriceList);
  std::string base = home + "/userbase";
  makeDir(base);
  writeFile(base + "/.alpha", "");
  for (unsigned n = 0; n < users; ++n) writeUser(base, n);
  return 0;
}
