// The set matcher: every pattern of the run's class sets matched against an
// address in one pass, instead of one regexec per pattern.
//
// Each pattern's text, as regcomp compiled it (POSIX extended syntax, the C
// locale, neither REG_ICASE nor REG_NEWLINE), is rewritten in RE2 syntax with
// the same meaning: bytes as bytes, '.' and negated bracket expressions
// matching any byte (newline too), character classes as the C locale's
// <ctype.h> tests define them, intervals, '^' and '$' anywhere outside a
// repeated group, empty branches, repeated repetition, a '}' outside an
// interval as a literal. The translations go into one RE2::Set, compiled
// once per run, which searches the address for them as regexec does
// (unanchored); those that are plain texts (a whole address, or a text
// anywhere in it) are instead looked up in a table of whole addresses and
// found by an automaton of all such texts, whose cost per address does not
// grow with their number as the RE2 set's does; and those of single bytes,
// '.' and bracket expressions, each once or repeated, anchored at most at
// their very ends, are tried one at a time when asked about. A pattern whose meaning the translation cannot keep
// (back-references, the GNU operators \w \W \s \S \b \B \< \> \` \',
// collating elements and equivalence classes, ranges past 7-bit bytes, an
// unmatched ')', intervals over 1000, an anchor inside a repeated group) or
// that RE2 refuses stays on regexec, and so does every pattern for an
// address that holds a newline. Either way an entry matches exactly the
// addresses that its compiled pattern matches, so the classification of a
// mail does not depend on which engine answered.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "mailcf.h"

// The RE2 text that an unanchored search finds in exactly the strings in
// which regcomp's compiled form of posix finds a match. False when the
// translation cannot promise that; regcomp takes every text that it
// translates.
bool posixToRe2(const char *posix, std::string *re2);

// Puts the translated patterns (MailClassEntry::re2) of the common set's
// service classes and of every user set into the run's set matcher; each entry it takes gets its
// number there (setIndex), the others keep -1 and are matched with regexec.
// Call after the last mail.cf is read and before the first address is
// matched; the sets must not change afterwards. Until it is called every
// entry is matched with regexec.
void matchSetBuild();

// What the patterns say about one address. The literal texts are looked up
// once, when the first entry of the set matcher is asked about; the RE2 set
// searches the address once, when an entry of its own is asked about (or,
// when it holds a pattern of some class `user`, the candidates), so an
// address that only the literal texts are asked about is never searched.
class AddressMatch {
 public:
  // Starts over for address, which must stay unchanged while this is used.
  void reset(const char *address);
  // True when the entry's compiled pattern matches the address.
  bool matches(const MailClassEntry *entry);
  // classMatch of the address in user set setNumber (userClassSetCount: the
  // common set), with what the set matcher found; read from a copy of the
  // sets made by matchSetBuild when it has run.
  const char *firstClass(unsigned setNumber, bool userClass, int wanted);
  // The user sets (indices into userClassSets, ascending) whose class `user`
  // can match the address: every set with a matching pattern there, or with
  // a pattern there on regexec. Any other set's class `user` does not match.
  void userSetCandidates(std::vector<unsigned> *sets);
  // Asks the processor for what firstClass reads of user set setNumber.
  static void prefetchSet(unsigned setNumber);

 private:
  void find();
  void search();
  void hit(int number);
  // entry is read only when regexec must answer.
  bool matchesAs(int setIndex, const MailClassEntry *const &entry);
  const char *address_ = "";
  size_t length_ = 0;
  uint32_t hash_ = 0;           // for the table of whole addresses
  bool found_ = false;          // hits_ holds the literal texts' answer
  bool searched_ = false;       // and the RE2 set's
  bool failed_ = false;         // regexec for everything
  std::vector<int> hits_;       // numbers of the matching patterns
  std::vector<int> setHits_;    // the RE2 set's answer, in its own numbering
  std::vector<uint64_t> bits_;  // the same as one bit per pattern
};
