// The set matcher against regexec: random and hand-picked patterns, then
// whole classifications of a node shaped like a real one.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "address.h"
#include "mailcf.h"
#include "matchset.h"

namespace {

// Patterns whose reading by regcomp has corners: brackets, classes, ranges,
// intervals, anchors inside, empty branches, escapes, high bytes, and what
// must stay on regexec.
const char *const kCorners[] = {
    "[]a]", "[^]a]", "[a-]", "[--/]", "[!--]", "[[:alpha:]-]", "[[:digit:][:punct:]]", "[\\.]", "[\\]]",
    "[^!]*", "[[]", "[[-a]", "[^\x80-\xff]", "[\xe1-\xe3]b", "\xe1.", "[[:upper:][:space:]]", "[[:xdigit:]]+",
    "[[:cntrl:][:print:]]", "[[:foo:]]", "[[.a.]]", "[[=a=]]", "[a-c-e]", "[b-a]", "a{,2}", "a{2,}", "a{1}{2}",
    "a{0}", "a{0,0}b", "(ab){2,3}", "a{1001}", "a{3,2}", "a{x}", "x}", "(a|)", "()", "()*", "(|a)b", "a||b",
    "a**", "a+?", "(a*)*", "^*", "(*a)", "a^b", "a$|b", "(^a|b)c", "a$$", "^^a", "(a$)", "$a", "^", "a|", ")a",
    "a)", "\\.", "\\!", "\\{", "\\|", "\\a", "\\\\", "\\w+", "\\s", "\\bab", "\\<a", "a\\'", "(a)\\1", ".*",
    "local![^!]*\\.ru!.*", "(www|mail)\\.example\\.(com|org)", "[-a-c]+", ".*a.*", ".*a", "a.*", ".*.*",
    "^.*a", "a.*$", ".*^a", "a$.*", "a|.*", ".*|a", "(.*)a.*b", ".*a|b.*", ".*(a|b).*", ".*!a.*b.*", "(^a)+",
    "(a$){2}", "((^|!)[a-z]+){2}", "(^a)?b", "(b|^a)*", "((a$))+", "(a|b$){1,2}", "(^)*a", "(a|(^b)){2}",
};

// Random patterns over the bytes of the texts below.
struct PatternMaker {
  std::mt19937 rng;
  int pick(int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); }
  const char *oneOf(std::vector<const char *> choices) { return choices[pick(static_cast<int>(choices.size()))]; }
  std::string pattern(int depth = 0) {
    std::string out;
    for (int b = pick(4) ? 1 : 2 + pick(2); b > 0; --b) {
      for (int i = pick(5); i > 0; --i) {
        std::string atom = pick(10) > 2 ? std::string(1, "ab!.-"[pick(5)])
                           : pick(3) == 0 && depth < 2 ? "(" + pattern(depth + 1) + ")"
                           : pick(2) ? bracket()
                                     : oneOf({".", "^", "$", "\\.", "\\!", "\\a", "\\w", "\\1", "}", "\xe1"});
        while (pick(4) == 0) atom += oneOf({"*", "+", "?", "{2}", "{1,2}", "{,1}", "{0,}", "{0}"});
        out += atom;
      }
      if (b > 1) out += '|';
    }
    return out;
  }
  std::string bracket() {
    std::string out = pick(3) ? "[" : "[^";
    if (pick(6) == 0) out += ']';
    for (int i = 1 + pick(3); i > 0; --i)
      out += oneOf({"a", "b", "!", ".", "-", "a-b", "!-.", "[:alpha:]", "[:punct:]", "\\", "^", "[", "\xe1"});
    return out + (pick(6) ? "]" : "-]");
  }
};

// Random short texts over the patterns' bytes, and a few odd ones.
std::vector<std::string> texts(unsigned seed, size_t n) {
  std::mt19937 rng(seed);
  std::vector<std::string> out = {"", "\n", "a\nb", "A", "]", "\\", "}", ")", "^", "$", "\xe1\xe2",
                                  "aa", "aab", "ab!c", "a!b", "!ab!c", "ba"};
  const char bytes[] = "ab!.-ab!.-\\]}\xe1";
  while (out.size() < n) {
    std::string text;
    for (unsigned len = rng() % 7; len > 0; --len) text += bytes[rng() % (sizeof bytes - 1)];
    out.push_back(text);
  }
  return out;
}

// Entries of a class, each compiled as readMailCf compiles it.
void addPatterns(MailClassSet *set, const char *className, int kind, const std::vector<std::string> &patterns) {
  testing::internal::CaptureStderr();  // "Can't compile regex" warnings
  for (const std::string &p : patterns) {
    MailClassEntry *entry = addClassEntry(set, className);
    if (compileRegex(entry, p.c_str(), true) == 0) entry->kind = kind;
  }
  testing::internal::GetCapturedStderr();
}

bool matchesBy(const MailClassEntry *entry, void *match) {
  return static_cast<AddressMatch *>(match)->matches(entry);
}

// The test's class sets as the run's sets; released at the end.
struct RunSets {
  std::vector<MailClassSet> users;
  explicit RunSets(unsigned count) : users(count) {
    for (unsigned i = 0; i < count; ++i) classSetInit(&users[i], ("u" + std::to_string(i)).c_str());
    userClassSets = users.data();
    userClassSetCount = count;
  }
  ~RunSets() {
    userClassSets = nullptr;
    userClassSetCount = 0;
    for (MailClassSet &set : users) classSetFree(&set);
    classSetFree(&commonClassSet);
    classSetInit(&commonClassSet, "common");
    matchSetBuild();  // an empty matcher again
  }
};

}  // namespace

TEST(SetMatcher, EveryPatternMatchesWhatRegexecMatches) {
  RunSets run(0);
  std::vector<std::string> patterns(std::begin(kCorners), std::end(kCorners));
  PatternMaker maker{std::mt19937(18)};
  while (patterns.size() < 3000) patterns.push_back(maker.pattern());
  // Texts anywhere in the address too many for the literal automaton's
  // table, which then leaves them all to RE2.
  std::mt19937 rng(5);
  for (int i = 0; i < 1200; ++i) {
    std::string text = ".*";
    for (int k = 0; k < 64; ++k) text += "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZghijklmnopqrstuvwxyz"[rng() % 56];
    patterns.push_back(text + ".*");
  }
  addPatterns(&commonClassSet, "c", KIND_ANY, patterns);
  matchSetBuild();
  std::vector<const MailClassEntry *> entries;
  int inSet = 0, pairs = 0, hits = 0;
  for (unsigned i = 0; i < commonClassSet.entryCount; ++i) {
    const MailClassEntry *entry = &commonClassSet.blocks[i / 10][i % 10];
    if (entry->kind == KIND_NONE) continue;
    entries.push_back(entry);
    inSet += entry->setIndex >= 0;
    // What the set matcher takes, regcomp takes too (it is left to run on
    // first use only).
    regex_t compiled;
    if (!entry->re2) continue;
    EXPECT_EQ(regcomp(&compiled, entry->text, REG_EXTENDED | REG_NOSUB), 0) << entry->text;
    regfree(&compiled);
  }
  AddressMatch match;
  for (const std::string &text : texts(7, 300)) {
    match.reset(text.c_str());
    for (const MailClassEntry *entry : entries) {
      bool expected = regexMatch(entry, text.c_str());
      ASSERT_EQ(match.matches(entry), expected) << "pattern `" << entry->text << "' on `" << text << "'";
      ++pairs;
      hits += expected;
    }
  }
  // The comparison means something: most patterns are in the set matcher,
  // and matches are neither rare nor the rule.
  EXPECT_GT(inSet, static_cast<int>(entries.size()) * 3 / 5);
  EXPECT_GT(hits, pairs / 20);
  EXPECT_LT(hits, pairs / 2);
  // What stays on regexec, and what the set matcher takes.
  for (const char *onRegexec : {"(a)\\1", "\\w+", "[[.a.]]", "[[=a=]]", "a)", "a{1001}", "[^\x80-\xff]", "(^a)+",
                                "(a$){2}", "((^|!)[a-z]+){2}", "(b|^a)*"})
    EXPECT_FALSE(posixToRe2(("^" + std::string(onRegexec) + "$").c_str(), &patterns[0])) << onRegexec;
  // In the set, a ".*" at either end of a branch is left to the unanchored
  // search, so that it adds no loop per pattern.
  const struct {
    const char *posix, *re2;
  } inTheSet[] = {{"[]a]", "^[\\x5d\\x61]$"}, {"a{1}{2}", "^(?:(?:a){1,1}){2,2}$"}, {"(^a|b)c", "^(?:^a|b)c$"},
                  {"x}", "^x\\x7d$"}, {"a||b", "^a||b$"}, {".*x.*", "x"}, {".*x|y.*", "x|y"}, {"a|.*x", "^a|x$"},
                  {"(.*)x.*", "^(?:(?:.)*)x"}, {"x|.*", "^x|$"}, {".*", "$"}, {"x.*.*", "^x(?:.)*"},
                  {"u1!a\\.b.*", "^u1\\x21a\\x2eb"}, {".*x", "x$"}, {"x+y", "^(?:x)+y$"}};
  for (const auto &c : inTheSet) {
    EXPECT_TRUE(posixToRe2(("^" + std::string(c.posix) + "$").c_str(), &patterns[0])) << c.posix;
    EXPECT_EQ(patterns[0], c.re2) << c.posix;
  }
}

// Patterns of bytes, '.' and brackets, some repeated, with ".*" at either
// end or none (most service classes are such), on addresses of the usual
// length: every answer is regexec's, however long the pattern.
TEST(SetMatcher, PatternsOfRepeatedBytesMatchWhatRegexecMatches) {
  RunSets run(0);
  std::mt19937 rng(23);
  auto pick = [&](unsigned n) { return rng() % n; };
  const char *const atoms[] = {"a", "b", "!", "\\.", ".", "[^!]", "[a-b]", "[!.]"};
  std::vector<std::string> patterns;
  for (int i = 0; i < 600; ++i) {
    std::string p = pick(3) ? "" : ".*";
    for (unsigned k = 1 + pick(i < 500 ? 10 : 80); k > 0; --k)
      p += std::string(atoms[pick(8)]) + (pick(3) ? "" : pick(2) ? "*" : "+");
    patterns.push_back(pick(3) ? p : p + ".*");
  }
  addPatterns(&commonClassSet, "c", KIND_ANY, patterns);
  matchSetBuild();
  AddressMatch match;
  std::vector<std::string> addresses = {"", "a", "!", "local!a.b!ab"};
  while (addresses.size() < 300) {
    std::string a;
    for (unsigned len = pick(40); len > 0; --len) a += "ab!.-"[pick(5)];
    addresses.push_back(a);
  }
  int hits = 0;
  for (const std::string &a : addresses) {
    match.reset(a.c_str());
    for (unsigned i = 0; i < commonClassSet.entryCount; ++i) {
      const MailClassEntry *entry = &commonClassSet.blocks[i / 10][i % 10];
      bool expected = regexMatch(entry, a.c_str());
      ASSERT_EQ(match.matches(entry), expected) << "pattern `" << entry->text << "' on `" << a << "'";
      hits += expected;
    }
  }
  EXPECT_GT(hits, 3000);
}

// A node of users with classes as administrators write them (the user's own
// addresses, friends' domains, a work domain with an exception, mailing
// lists, a relay), some patterns only regexec can take, and random ones;
// every classification of every set equals regexec's.
TEST(SetMatcher, ClassifiesEveryAddressLikeRegexec) {
  // Few users' own patterns of bytes and repeated bytes, or many.
  for (bool manyOwnPatterns : {false, true}) {
    constexpr unsigned kUsers = 60;
    RunSets run(kUsers);
    PatternMaker maker{std::mt19937(99)};
    addPatterns(&commonClassSet, "local", KIND_ANY, {"[^!]*", "local!node\\.example!.*"});
    addPatterns(&commonClassSet, "domestic", KIND_ANY, {"local![^!]*\\.ru!.*"});
    addPatterns(&commonClassSet, "inet", KIND_ANY, {".*"});
    for (unsigned i = 0; i < kUsers; ++i) {
      MailClassSet *set = &userClassSets[i];
      std::string u = "u" + std::to_string(i), d = std::to_string(i % 7), corp = "local!corp" + d + "\\.example\\.com!";
      addPatterns(set, "user", KIND_ANY, {u, "local!node\\.example!" + u});
      if (i % 10 == 3) addPatterns(set, "user", KIND_FROM, {"local!node\\.example!\\w*" + d});
      if (i % 10 == 4) addPatterns(set, "user", KIND_TO, {"(" + u + ")\\1?"});
      if (i % 10 == 6) addPatterns(set, "user", KIND_ANY, {"((^|!)" + u + "){1,2}"});
      if (i % 10 == 7) addPatterns(set, "user", KIND_FROM, {"local!shared"});  // one text, several owners
      if (i % 20 == 8) addPatterns(set, "user", KIND_TO, {".*"});  // every address
      if (manyOwnPatterns && i % 3 == 2) addPatterns(set, "user", KIND_FROM, {"local!node\\.example!" + u + "-[a-z]*"});
      if (i % 5 == 1) addPatterns(set, "user", KIND_ANY, {maker.pattern()});
      addPatterns(set, "friends", KIND_ANY, {"local!mail" + d + "\\.example\\.org!.*"});
      addPatterns(set, "work", KIND_TO, {corp + ".*"});
      addPatterns(set, "work", KIND_FROM, {corp + ".*"});
      addPatterns(set, "work", KIND_EXCEPT, {corp + "p" + d});
      addPatterns(set, "lists", KIND_FROM, {"local!lists\\.example\\.net!.*"});
      if (i % 3 == 0) addPatterns(set, "relay", KIND_ANY, {"gw!relay" + d + "\\.example\\.de!.*"});
      if (i % 4 == 2) addPatterns(set, "partners", KIND_TO, {".*partner" + d + ".*", ".*!p" + d, "^.*x" + d + "$"});
      // Texts that end inside one another.
      if (i % 4 == 3) addPatterns(set, "partners", KIND_FROM, {".*artner" + d + ".*", ".*r" + d + "0\\.ex.*", ".*0.*"});
      if (i % 5 == 0) addPatterns(set, "odd", KIND_ANY, {maker.pattern(), maker.pattern()});
    }
    matchSetBuild();
    std::vector<std::string> addresses = texts(3, 200);
    for (unsigned k = 0; k < 3 * kUsers; ++k) {
      std::string d = std::to_string(k % 9), u = "u" + std::to_string(k % (kUsers + 5));
      addresses.insert(addresses.end(), {u, "local!node.example!" + u, "local!node.example!x" + d,
                                         "local!mail" + d + ".example.org!p", "local!corp" + d + ".example.com!p" + d,
                                         "local!corp" + d + ".example.com!q", "local!lists.example.net!l",
                                         "gw!relay" + d + ".example.de!r", "local!host" + d + ".example.ru!z",
                                         "local!partner" + d + "0.example.biz!q", "local!b.example!p" + d,
                                         u + "!" + u, "!" + u, "local!shared", "local!node.example!" + u + "-ab"});
    }
    AddressMatch match;
    std::vector<unsigned> candidates;
    int owned = 0, served = 0;
    for (const std::string &a : addresses) {
      match.reset(a.c_str());
      match.userSetCandidates(&candidates);
      for (int kind : {KIND_FROM, KIND_TO}) {
        std::vector<unsigned> expected, got;
        for (unsigned i = 0; i <= kUsers; ++i) {
          const MailClassSet *set = i < kUsers ? &userClassSets[i] : &commonClassSet;
          const char *service = classMatch(set, a.c_str(), false, kind);
          ASSERT_STREQ(classMatchBy(set, false, kind, matchesBy, &match), service) << "set " << i << " on " << a;
          ASSERT_STREQ(match.firstClass(i, false, kind), service) << "set " << i << " on " << a;
          served += service != nullptr;
          if (i < kUsers && classMatch(set, a.c_str(), true, kind)) expected.push_back(i);
        }
        for (unsigned i : candidates) {
          const char *own = classMatchBy(&userClassSets[i], true, kind, matchesBy, &match);
          ASSERT_STREQ(match.firstClass(i, true, kind), own) << "set " << i << " on " << a;
          if (own) got.push_back(i);
        }
        ASSERT_EQ(got, expected) << "owners of " << a;
        owned += !expected.empty();
      }
    }
    EXPECT_GT(owned, 100);
    EXPECT_GT(served, 1000);
  }
}
