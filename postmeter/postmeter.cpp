// Traffic lines in, one mail classified and counted (see mailstat.h).
#include <cctype>
#include <cinttypes>
#include <cstring>
#include <string>
#include <vector>

#include "address.h"
#include "core.h"
#include "mailcf.h"
#include "mailstat.h"
#include "matchset.h"

bool saveSpecials = false;

namespace {

// Traffic lines are read in pieces of at most 2047 characters.
constexpr int kLineSize = 2048;
// A traffic line has exactly this many fields.
constexpr int kTrafficFields = 5;

// The lower-case normal form of address in out; false when it has none.
bool normalForm(std::string &out, const char *address) {
  out.resize(strlen(address) + kNormalSlack);
  if (!normaliseAddress(out.data(), address)) return false;
  // tolower of the C locale, without a call per character, up to the end.
  char *p = out.data();
  for (; *p; ++p)
    if (*p >= 'A' && *p <= 'Z') *p = static_cast<char>(*p - 'A' + 'a');
  out.resize(static_cast<size_t>(p - out.data()));
  return true;
}

// Adds the mail to the counter of the class of the owner of user set i and
// lists it under -s.
void countMail(StatTable *table, unsigned i, const char *className, const MailLine *mail,
               const char *tag) {
  const char *user = userClassSets[i].owner;
  *statCounterOfSet(table, i, user, className) += mail->size;
  if (saveSpecials) saveSpecial(user, className, mail, tag);
}

// Indices of the user sets whose class `user` matches an address.
using OwnerList = std::vector<unsigned>;

// The user sets whose class `user` the set matcher leaves in question, for
// each side.
std::vector<unsigned> fromCandidates, toCandidates;

// The users among candidates whose class `user` matches the address as kind
// (KIND_FROM or KIND_TO), in set order, into owners.
void findOwners(AddressMatch *match, int kind, const std::vector<unsigned> &candidates, OwnerList *owners) {
  owners->clear();
  for (unsigned i : candidates)
    if (match->firstClass(i, true, kind)) owners->push_back(i);
}

// The normal forms of the line being classified, what the patterns say
// about them and their owners; kept to reuse their room.
std::string fromForm, toForm;
AddressMatch fromMatch, toMatch;
OwnerList fromOwners, toOwners;
// The user sets left to the common classes, for each side.
std::vector<unsigned> senders, receivers;

}  // namespace

ByteCount parseSize(const char *text) {
  ByteCount size = 0;
  for (const char *p = text; *p >= '0' && *p <= '9'; ++p) {
    unsigned digit = static_cast<unsigned>(*p - '0');
    if (size > (UINT64_MAX - digit) / 10) return UINT64_MAX;
    size = size * 10 + digit;
  }
  return size;
}

namespace {

// The side of the mail an address is on: its entry kind, its word in the
// debug lines and the listing tags of the user's own and the common classes.
struct Side {
  const std::string &address;
  AddressMatch *match;
  int kind;
  const char *word;
  const char *specialTag;
  const char *commonTag;
};

// The user of set i is on the other side of the mail: the first of his own
// service classes that matches side's address counts the mail; without one
// the user is left to the common classes (added to undecided).
void ownClasses(StatTable *table, unsigned i, const MailLine *mail, const Side &side,
                std::vector<unsigned> &undecided) {
  const char *user = userClassSets[i].owner;
  if (const char *cls = side.match->firstClass(i, false, side.kind)) {
    debug(7, "service %s(%s) hit(%s): %s\n", cls, user, side.word, side.address.c_str());
    countMail(table, i, cls, mail, side.specialTag);
  } else {
    undecided.push_back(i);
  }
}

// The first common service class that matches side's address counts the mail
// for every user left undecided.
void commonClasses(StatTable *table, const std::vector<unsigned> &undecided,
                   const MailLine *mail, const Side &side) {
  if (undecided.empty()) return;
  const char *cls = side.match->firstClass(userClassSetCount, false, side.kind);
  if (!cls) return;
  for (unsigned i : undecided) {
    debug(7, "service %s(%s/common) hit(%s): %s\n", cls, userClassSets[i].owner, side.word,
          side.address.c_str());
    countMail(table, i, cls, mail, side.commonTag);
  }
}

}  // namespace

void processLine(StatTable *table, const char *sender, const char *recipient, ByteCount size,
                 const char *field4, const char *field5) {
  if (!normalForm(fromForm, sender)) {
    error("Bad from address: %s", sender);
    return;
  }
  if (!normalForm(toForm, recipient)) {
    error("Bad to address: %s", recipient);
    return;
  }
  const char *from = fromForm.c_str();
  const char *to = toForm.c_str();
  MailLine mail = {from, to, size, field4, field5};
  debug(4, "from=%s to=%s size=%" PRIu64 "\n", from, to, size);

  fromMatch.reset(from);
  toMatch.reset(to);
  const Side fromSide = {fromForm, &fromMatch, KIND_FROM, "from", "special from", "common from"};
  const Side toSide = {toForm, &toMatch, KIND_TO, "to", "special to", "common to"};
  // Both sides' candidates first, so that fetching their sets from memory
  // overlaps.
  fromMatch.userSetCandidates(&fromCandidates);
  toMatch.userSetCandidates(&toCandidates);
  for (unsigned i : fromCandidates) AddressMatch::prefetchSet(i);
  for (unsigned i : toCandidates) AddressMatch::prefetchSet(i);
  findOwners(&fromMatch, KIND_FROM, fromCandidates, &fromOwners);
  findOwners(&toMatch, KIND_TO, toCandidates, &toOwners);
  for (unsigned i : fromOwners) statPrefetch(table, i);
  for (unsigned i : toOwners) statPrefetch(table, i);

  // Every user set in order, as far as its class `user` matches either side.
  senders.clear();
  receivers.clear();
  size_t a = 0, b = 0;
  while (a < fromOwners.size() || b < toOwners.size()) {
    unsigned i = a < fromOwners.size() ? fromOwners[a] : toOwners[b];
    if (b < toOwners.size() && toOwners[b] < i) i = toOwners[b];
    if (a < fromOwners.size() && fromOwners[a] == i) {
      ++a;
      debug(6, "user %s hit(from): %s\n", userClassSets[i].owner, from);
      ownClasses(table, i, &mail, toSide, senders);
    }
    if (b < toOwners.size() && toOwners[b] == i) {
      ++b;
      debug(6, "user %s hit(to): %s\n", userClassSets[i].owner, to);
      ownClasses(table, i, &mail, fromSide, receivers);
    }
  }
  commonClasses(table, receivers, &mail, fromSide);
  commonClasses(table, senders, &mail, toSide);
}

namespace {

// What splitting a traffic line looks for in each byte.
enum : unsigned char { kPlain, kWhite, kQuoting, kEnd };

// sepwords' white space, its quoting characters and the end of the line.
struct LineBytes {
  unsigned char kinds[256] = {};
  constexpr LineBytes() {
    for (unsigned char c : {' ', '\t', '\n', '\v', '\f', '\r'}) kinds[c] = kWhite;
    kinds[static_cast<unsigned char>('"')] = kinds[static_cast<unsigned char>('\\')] = kQuoting;
    kinds[0] = kEnd;
  }
};
constexpr LineBytes kLineBytes;

// Splits line into words as sepwords with quoting does, for the usual line
// of at most kTrafficFields words without quoting characters; false, with
// line untouched, for any other, which sepwords then splits.
bool splitPlain(char *line, char **words, int *count) {
  char *ends[kTrafficFields];
  int n = 0;
  const unsigned char *p = reinterpret_cast<unsigned char *>(line);
  for (;;) {
    while (kLineBytes.kinds[*p] == kWhite) ++p;
    if (kLineBytes.kinds[*p] == kEnd) break;
    if (n == kTrafficFields) return false;
    words[n] = reinterpret_cast<char *>(const_cast<unsigned char *>(p));
    while (kLineBytes.kinds[*p] == kPlain) ++p;
    if (kLineBytes.kinds[*p] == kQuoting) return false;
    ends[n++] = reinterpret_cast<char *>(const_cast<unsigned char *>(p));
  }
  for (int i = 0; i < n; ++i) *ends[i] = '\0';
  *count = n;
  return true;
}

}  // namespace

void readTraffic(StatTable *table, FILE *stream) {
  // Traffic files are large: read them in large pieces.
  static char buffer[1 << 16];
  setvbuf(stream, buffer, _IOFBF, sizeof buffer);
  char line[kLineSize];
  char *plain[kTrafficFields];
  char **words = nullptr;
  int count = 0;
  while (fgets(line, sizeof line, stream)) {
    char **fields = plain;
    if (!splitPlain(line, plain, &count)) {
      count = 0;
      sepwords(&words, &count, line, 1);
      fields = words;
    }
    if (count == 0 || fields[0][0] == '#') continue;
    if (count != kTrafficFields) {
      error("Mailstat line ignored due to bad field's number (%u)", static_cast<unsigned>(count));
      continue;
    }
    processLine(table, fields[0], fields[1], parseSize(fields[2]), fields[3], fields[4]);
  }
  memRealloc(words, 0);
}
