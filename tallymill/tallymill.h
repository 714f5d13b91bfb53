// tallymill: prices a month of per-user counters into table `statistic`.
//
// convert: the command line and the run; calculate: counter files and the
// rows written; pricelist: the price lists and the service table.
#pragma once

#include <cstdio>

#include "userbase.h"

// Run settings, fixed once the options and the month are read.
extern const char *inname;   // -i file name inside the user's directory
extern FILE *infile;         // -i stream already open
extern const char *inlabel;  // -i argument as given, for messages
extern const char *outname;  // -o file name inside each user's directory
extern FILE *outfile;        // -o stream shared by all users
extern int runYear;
extern int runMonth;

// One service of the price lists; the text fields are fixed-size and cut.
struct Service {
  char group[17];     // short group name, "misc" by default
  char name[17];      // service name
  double price;       // price of one unit of the formula's value
  char currency[17];  // empty: the base currency
  char sname[17];     // unit name, "-" when none
  char formula[500];  // formula over the counters
  char descr[302];    // description
};

// The service table of the user whose price lists were read last, in order
// of first definition.
extern Service *services;
extern unsigned serviceCount;

// The users of the run: how many were priced, how many of them incompletely
// (a price list unopenable or none at all, a price line refused, a formula
// that failed, a counter file unreadable or a line of it refused, a foreign
// currency without a rate), and how many customers were not read at all
// (user.cf unreadable, or a folder the walk left out). Each problem was
// reported through error; such a run ends with status 2.
extern unsigned usersPriced;
extern unsigned usersIncomplete;
extern unsigned usersNotRead;
// Marks the month of the user being priced as incomplete.
void markIncomplete();

// Reads the user's price lists into the service table (replacing it).
void readPriceLists(const UserConf *user);

// Counter files: adds the counter lines of an open stream into the counter
// table; the caller closes the stream. name is the file's, for messages.
void readStatFile(FILE *stream, const char *name);
// Appends the wildcard counter "*" (every missing counter reads as 0).
void finishStatTable();
// Prices every service against the counters and writes the rows: into table
// `statistic` when out is null, else as text lines. Empties the counter table.
void storeStatistic(const UserConf *user, FILE *out, int year, int month);
// The per-user work of a run: false when the user's configuration cannot be
// read (already reported), and then nothing is done for the user. The
// counters come from the -i input when one was given, else from every file
// of the user's directory that matches *.st.
bool priceUser(const char *user);
// priceUser as the callback of the all-users walk: always true, so that the
// walk goes on past a user that failed.
bool convertUser(const char *user);

// The stream when given; null without a file name; else the user's file
// opened with mode, the process ending when that fails.
FILE *openFile(const char *user, const char *name, FILE *stream, const char *mode);

int tallymillMain(int argc, char **argv);
