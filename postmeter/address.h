// Mail addresses in one normal form, and the patterns matched against them.
//
// Traffic lines carry addresses in every form mail systems write: local
// names, '!' paths, '@' addresses and '%' relays. The normal form is a
// '!'-separated path: the route first (':' written as '!', runs of
// separators collapsed, "LOCAL!" for an empty or rooted route), then the
// parts of an '@'/'%' address from right to left, so that the domain comes
// before the local name:
//   user@host        -> LOCAL!host!user
//   user%relay@host  -> LOCAL!host!relay!user
//   gw!user@host     -> gw!host!user
// Case is left alone here; the caller lower-cases the result.
#pragma once

#include <cstddef>

struct MailClassEntry;

// Room a caller gives normaliseAddress beyond the address's length: the
// normal form is at most 7 characters longer than the address.
constexpr unsigned kNormalSlack = 8;

// True for an address character: with the setting legal-chars, a character
// whose lower-case form is listed there; otherwise letters, digits and
// "-._[]/=".
bool isAddressChar(char c);
// Writes [start, end) into dest as a route ("LOCAL!" first when the piece is
// empty or begins with '!' or ':'; ':' as '!'; no '!' after a '!') and a zero
// byte. dest holds at least end - start + 7 bytes. Returns dest.
char *copyRoute(char *dest, const char *start, const char *end);
// The normal form of address in dest, which holds at least
// strlen(address) + kNormalSlack bytes; null (dest undefined) when the
// address holds a character that is neither an address character nor a
// separator where one is read.
char *normaliseAddress(char *dest, const char *address);
// Longest pattern accepted, also once its bounded repetitions ("x{3}") are
// written out, so that compiling and matching it take bounded memory.
constexpr size_t kPatternMax = 512;
// Compiles pattern for entry (replacing what it held) as a POSIX extended
// expression without sub-matches; anchored, "^" + pattern + "$" is compiled,
// and a failure is logged as "Can't compile regex `...'". Patterns longer
// than kPatternMax, with a duplication symbol right after another ("a+*",
// "a{2}{3}") or with back-references, are refused the same way before
// regcomp sees them. The entry keeps the text and, when the set matcher can
// take it, its translation (re2); regcomp runs now only for a text without
// one, and for the others on first use by regexMatch. Returns 0 or the
// regcomp error code; after an error the entry holds no text.
int compileRegex(MailClassEntry *entry, const char *pattern, bool anchored);
// True when the entry's pattern matches address under regexec.
bool regexMatch(const MailClassEntry *entry, const char *address);
// Releases what compileRegex put into the entry.
void freeEntryPattern(MailClassEntry *entry);
