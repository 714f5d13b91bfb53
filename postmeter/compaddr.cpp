// Class patterns compiled and matched against normalised addresses.
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

#include "address.h"
#include "core.h"
#include "mailcf.h"

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

}  // namespace

int compileRegex(MailClassEntry *entry, const char *pattern, bool anchored) {
  std::string text = anchored ? std::string("^") + pattern + "$" : std::string(pattern);
  int rc = PatternCheck(pattern).verdict();
  if (rc == 0) rc = regcomp(&entry->pattern, text.c_str(), REG_EXTENDED | REG_NOSUB);
  if (rc != 0 && anchored) error("Can't compile regex `%s'", text.c_str());
  // The run's set matcher compiles the same text once more.
  if (rc == 0) {
    entry->text = static_cast<char *>(memRealloc(entry->text, text.size() + 1));
    memcpy(entry->text, text.c_str(), text.size() + 1);
  }
  return rc;
}

bool regexMatch(const MailClassEntry *entry, const char *address) {
  return regexec(&entry->pattern, address, 0, nullptr, 0) == 0;
}
