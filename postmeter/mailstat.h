// Mail traffic per user and class: the traffic line input, the
// classification of one mail, the byte table and its output.
//
// Traffic line: five fields split by sepwords with quoting: sender,
// recipient, size in bytes (leading decimal digits; none counts 0) and two
// text fields that only the per-class listing carries. A line whose first
// word begins with '#' is a comment.
//
// Totals output, per user with a non-zero class (date of `today`):
//   #============================= user=NAME, date=D/MM/YYYY
//   [NAME\t]CLASS\tBYTES
// The user-name column is written only to a single stream; the per-user form
// ("~" + file name, appended in each user's directory) is a counter file.
//
// Per-class listing (-s): one line per classified mail appended to the file
// named by the class in the user's directory "mail":
//   "%-25s %-25s %10lu %8s %8s %16s (%s)" sender, recipient (normal forms),
//   size, fields 4 and 5, class, tag.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string_view>
#include <unordered_map>
#include <vector>

// Byte counters are 64-bit so that no month of traffic wraps around.
using ByteCount = uint64_t;

// A class's counter with its name, side by side so that counting a mail
// reads one place of the table.
struct StatClass {
  const char *name;
  ByteCount bytes;
};

// The byte table of a run. Names point into the class sets, which outlive it.
struct StatTable {
  const char **users;     // users in the order of their first counted mail
  unsigned userCount;
  StatClass **classes;    // per user: classes in order of first count
  unsigned *classCounts;  // per user: number of classes
  std::unordered_map<std::string_view, unsigned> userIndex;  // user name -> place in users
  // Class set index -> place in users + 1 (0: not looked up yet), so that a
  // mail's counters are found without hashing the owner's name.
  std::vector<unsigned> setPlaces;
};

// One mail as the listing shows it: normalised, lower-case addresses and the
// two text fields of the traffic line.
struct MailLine {
  const char *sender;
  const char *recipient;
  ByteCount size;
  const char *field4;
  const char *field5;
};

// -s: list every classified mail in the user's per-class file.
extern bool saveSpecials;

// Empties the table; statTableFree releases what it holds and empties it.
void statTableInit(StatTable *table);
void statTableFree(StatTable *table);
// The counter of the user's class, appended with 0 when new.
ByteCount *statCounter(StatTable *table, const char *user, const char *className);
// statCounter of the owner of class set setIndex (any number that stands for
// that one user in every call on the table), user being its owner's name.
ByteCount *statCounterOfSet(StatTable *table, unsigned setIndex, const char *user, const char *className);
// Asks the processor for the counters of the owner of user set setIndex
// (as statCounterOfSet numbers them), which are about to be counted.
void statPrefetch(const StatTable *table, unsigned setIndex);
// Writes the totals: output null or beginning with '-': standard output;
// "~name": the file name in each user's directory, appended to; anything
// else: that file, appended to. A file that cannot be opened is fatal.
// False when some output could not be written completely (already reported).
bool writeStat(StatTable *table, const char *output);
// Appends one listing line to the user's file mail/CLASS (the directory is
// made with mode 0700 when missing); a warning when it cannot be appended to.
void saveSpecial(const char *user, const char *className, const MailLine *mail, const char *tag);

// Classifies one mail (addresses as given in the traffic line) for every user
// set and the common set, and adds its size to each counter it belongs to.
// The class sets must not change once the set matcher is built from them
// (matchSetBuild); without it every pattern is matched with regexec.
void processLine(StatTable *table, const char *sender, const char *recipient, ByteCount size,
                 const char *field4, const char *field5);
// The size field: its leading decimal digits (a sign is no digit), 0 when
// there are none; values past the counter's range stay at its maximum.
ByteCount parseSize(const char *text);
// Reads traffic lines from stream until its end and processes each.
void readTraffic(StatTable *table, FILE *stream);
