// Mail class sets: the classes of address patterns from mail.cf files.
//
// One common set comes from mail.cf in the home directory; each user may have
// a set of his own from mail.cf in his directory. Every set has the class
// `user` in slot 0 (the user's own addresses) and any number of service
// classes in slots 1 and up (the other side of a mail), in the order in which
// each class got its first entry.
//
// mail.cf: text lines read in pieces of at most 2047 characters, split into
// words at white space without quoting (sepwords: the first 100 words of a
// line count, any further ones are dropped). A word beginning with '#' and every
// word after it are dropped; lines without words are skipped. Keywords:
//   class NAME               makes NAME (first 16 characters) the current class
//   from|to|any PATTERN...   entries of kind from, to or any in the current class
//   not|except PATTERN...    entries of kind except
// Patterns are POSIX extended regular expressions matched against the whole
// normalised address (lower case, '!' between parts, domains right to left;
// a local name john is local!john). A class name is used as a file name in
// the user's mail directory and as a counter name, so one with '/', or ".",
// ".." or "*", is refused.
#pragma once

#include <regex.h>

// Entry kinds, as stored in MailClassEntry::kind.
enum MailEntryKind {
  KIND_NONE = 0,    // matches nothing (pattern not compiled)
  KIND_FROM = 1,    // matches the sender
  KIND_TO = 2,      // matches the recipient
  KIND_ANY = 3,     // matches either side
  KIND_EXCEPT = 4,  // cancels a hit of the entry directly before it
};

// Longest class or owner name kept; the name fields hold one byte more.
constexpr int kClassNameMax = 16;

struct MailClassEntry {
  regex_t *pattern;      // regcomp's form of text (heap), made on first use; or null
  int kind;              // MailEntryKind
  MailClassEntry *next;  // next entry of the same class, null at the end
  char *text;            // the anchored pattern's text (heap copy), or null
  char *re2;             // text in the set matcher's syntax (heap copy), null if none
  int setIndex;          // the pattern's number in the run's set matcher, -1: regexec
};

struct MailClassSet {
  MailClassEntry **blocks;           // storage: blocks of 10 entries, never moved
  unsigned entryCount;               // entries allocated so far
  char (*names)[kClassNameMax + 1];  // class names; slot 0 is "user" or ""
  MailClassEntry **heads;            // first entry of each class, null for none
  unsigned classCount;               // classes in use, slot 0 included
  char owner[kClassNameMax + 1];     // the user name, or "common"
};

// The common set (owner "common"), set up before main and released at exit.
extern MailClassSet commonClassSet;
// The users' sets in the order their files were read; they live until the
// process ends.
extern MailClassSet *userClassSets;
extern unsigned userClassSetCount;

// Empties every field and copies owner (first 16 characters; null: "").
void classSetInit(MailClassSet *set, const char *owner);
// Releases the entries with their patterns (freeEntryPattern), names and
// heads; the set is empty afterwards.
void classSetFree(MailClassSet *set);
// The slot of the class of that name, added when missing.
unsigned registerClass(MailClassSet *set, const char *name);
// A new entry of kind KIND_NONE (no text, no set matcher number) appended to
// the class's list (the class is registered when missing). The entry stays where it is until classSetFree.
MailClassEntry *addClassEntry(MailClassSet *set, const char *name);
// Reads mail.cf of the user (null: the common file of the home directory)
// into the matching set, warning through error() about every bad line.
// False only when the common file is missing; a user without mail.cf gets no
// set. Has the shape of a UserCallback.
bool readMailCf(const char *user);
// The name of the first class that matches the normalised address: with
// userClass only the class `user`, otherwise the service classes in slot
// order. wanted is KIND_FROM for the sender, KIND_TO for the recipient. Null
// when none matches. The name lives as long as the set.
const char *classMatch(const MailClassSet *set, const char *address, bool userClass, int wanted);
// Decides whether the entry's pattern matches the address being classified.
typedef bool (*EntryTest)(const MailClassEntry *entry, void *context);
// classMatch with each entry's pattern decided by test(entry, context)
// instead of regexMatch against an address.
const char *classMatchBy(const MailClassSet *set, bool userClass, int wanted, EntryTest test, void *context);
