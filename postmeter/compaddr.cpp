// Class patterns compiled and matched against normalised addresses.
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

#include "address.h"
#include "core.h"
#include "mailcf.h"
#include "matchset.h"

namespace {

// Why a pattern is refused before regcomp sees it. The C library's regcomp
// takes time and memory that grow exponentially with repeated duplication
// symbols ("a++++"), which POSIX leaves undefined, and quadratically with the
// size of the expression once bounded repetitions are written out, so both
// are limited here. Back-references are no part of POSIX extended
// expressions either and make matching exponential.
class PatternCheck {
 public:
  explicit PatternCheck(const char *pattern) : p_(pattern) {}

  // 0 for a pattern that may be compiled, else the regcomp code to refuse
  // it with.
  int verdict() {
    if (strlen(p_) > kPatternMax) return REG_ESIZE;
    size_t weight = alternation(0);
    if (code_ == 0 && weight > kPatternMax) code_ = REG_ESIZE;
    return code_;
  }

 private:
  // The size of an expression written out, capped so that it cannot
  // overflow: anything above kPatternMax is refused anyway.
  static size_t cap(size_t n) { return n > kPatternMax ? kPatternMax + 1 : n; }

  // Branches separated by '|', up to a ')' at depth > 0 or the end.
  size_t alternation(int depth) {
    size_t weight = branch(depth);
    while (*p_ == '|') {
      ++p_;
      weight = cap(weight + 1 + branch(depth));
    }
    return weight;
  }

  size_t branch(int depth) {
    size_t weight = 0;
    while (*p_ && *p_ != '|' && !(*p_ == ')' && depth > 0)) weight = cap(weight + piece(depth));
    return weight;
  }

  // An atom and the duplication symbols after it.
  size_t piece(int depth) {
    size_t weight = atom(depth);
    bool duplicated = false;
    for (;;) {
      size_t times;
      const char *start = p_;
      if (*p_ == '*' || *p_ == '?') {
        ++p_;
        times = 1;
      } else if (*p_ == '+') {
        ++p_;
        times = 2;  // x+ is compiled as x x*
      } else if (!interval(&times)) {
        return weight;
      }
      if (duplicated) code_ = REG_BADRPT;
      duplicated = true;
      weight = cap(weight * times + static_cast<size_t>(p_ - start));
    }
  }

  // A bounded repetition {m}, {m,} or {m,n} at p_: true with the number of
  // copies it writes out; anything else is left to regcomp as it is.
  bool interval(size_t *times) {
    if (*p_ != '{' || !isdigit(static_cast<unsigned char>(p_[1]))) return false;
    char *end;
    unsigned long low = strtoul(p_ + 1, &end, 10), high = low;
    if (*end == ',') {
      ++end;
      high = isdigit(static_cast<unsigned char>(*end)) ? strtoul(end, &end, 10) : low + 1;
    }
    if (*end != '}') return false;
    p_ = end + 1;
    unsigned long most = high > low ? high : low;
    *times = most == 0 ? 1 : (most > kPatternMax ? kPatternMax + 1 : most);
    return true;
  }

  size_t atom(int depth) {
    const char *start = p_;
    switch (*p_) {
      case '(': {
        ++p_;
        size_t inner = alternation(depth + 1);
        if (*p_ == ')') ++p_;
        return cap(inner + 2);
      }
      case '[':
        bracket();
        return static_cast<size_t>(p_ - start);
      case '\\':
        ++p_;
        if (*p_ >= '1' && *p_ <= '9') code_ = REG_ESUBREG;
        if (*p_) ++p_;
        return 2;
      default:
        ++p_;  // an ordinary character, or a ')' without its '('
        return 1;
    }
  }

  // Skips a bracket expression: "[", an optional "^", a "]" taken as a
  // character when first, classes such as "[:alpha:]", up to the closing
  // "]" (or the end, which regcomp refuses).
  void bracket() {
    ++p_;
    if (*p_ == '^') ++p_;
    if (*p_ == ']') ++p_;
    while (*p_ && *p_ != ']') {
      if (*p_ == '[' && (p_[1] == ':' || p_[1] == '=' || p_[1] == '.')) {
        char kind = p_[1];
        p_ += 2;
        while (*p_ && !(*p_ == kind && p_[1] == ']')) ++p_;
        if (*p_) p_ += 2;
      } else {
        ++p_;
      }
    }
    if (*p_) ++p_;
  }

  const char *p_;
  int code_ = 0;
};

// A heap copy of text.
char *copyText(const std::string &text) {
  char *copy = static_cast<char *>(memRealloc(nullptr, text.size() + 1));
  memcpy(copy, text.c_str(), text.size() + 1);
  return copy;
}

// regcomp of the entry's text into its pattern: 0, or regcomp's code after
// the warning (anchored only) and with the text dropped, so that the entry
// matches nothing.
int compileText(MailClassEntry *entry, bool anchored) {
  regex_t *pattern = static_cast<regex_t *>(memRealloc(nullptr, sizeof *pattern));
  int rc = regcomp(pattern, entry->text, REG_EXTENDED | REG_NOSUB);
  if (rc == 0) {
    entry->pattern = pattern;
    return 0;
  }
  memRealloc(pattern, 0);
  if (anchored) error("Can't compile regex `%s'", entry->text);
  memRealloc(entry->text, 0);
  entry->text = nullptr;
  return rc;
}

}  // namespace

int compileRegex(MailClassEntry *entry, const char *pattern, bool anchored) {
  freeEntryPattern(entry);
  std::string text = anchored ? std::string("^") + pattern + "$" : std::string(pattern);
  int rc = PatternCheck(pattern).verdict();
  if (rc != 0) {
    if (anchored) error("Can't compile regex `%s'", text.c_str());
    return rc;
  }
  entry->text = copyText(text);
  // A text that the set matcher takes is one that regcomp takes too; regcomp
  // is left until regexec needs it, which for most patterns is never.
  std::string re2;
  if (!posixToRe2(text.c_str(), &re2)) return compileText(entry, anchored);
  entry->re2 = copyText(re2);
  return 0;
}

bool regexMatch(const MailClassEntry *entry, const char *address) {
  // Compiled on first use; the entries live in the run's sets, which are
  // never const objects.
  if (!entry->pattern && (!entry->text || compileText(const_cast<MailClassEntry *>(entry), true) != 0))
    return false;
  return regexec(entry->pattern, address, 0, nullptr, 0) == 0;
}

void freeEntryPattern(MailClassEntry *entry) {
  if (entry->pattern) regfree(entry->pattern);
  memRealloc(entry->pattern, 0);
  entry->pattern = nullptr;
  memRealloc(entry->text, 0);
  memRealloc(entry->re2, 0);
  entry->text = entry->re2 = nullptr;
}
