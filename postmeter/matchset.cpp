// The set matcher (see matchset.h).
#include "matchset.h"

#include <re2/re2.h>
#include <re2/set.h>

#include <algorithm>
#include <bitset>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <unordered_map>

#include "address.h"

namespace {

// RE2 takes no interval count above this.
constexpr long kMaxRepeat = 1000;
// Memory the set matcher may take for its program and its cache of DFA
// states; the cache starts afresh when full, so this bounds the peak.
constexpr int64_t kMatcherMemory = 96 << 20;
// No user set: the pattern is not in the class `user` of a user set.
constexpr unsigned kNoUserSet = ~0u;

typedef std::bitset<256> ByteSet;

// The character classes of bracket expressions. The programs never change
// the locale, and regcomp builds a class in the C locale from these tests
// over the 256 byte values, so the same loop gives the same bytes.
struct CharClass {
  const char *name;
  int (*test)(int);
};
const CharClass kCharClasses[] = {
    {"alpha", [](int c) { return isalpha(c); }},  {"upper", [](int c) { return isupper(c); }},
    {"lower", [](int c) { return islower(c); }},  {"digit", [](int c) { return isdigit(c); }},
    {"xdigit", [](int c) { return isxdigit(c); }}, {"space", [](int c) { return isspace(c); }},
    {"print", [](int c) { return isprint(c); }},  {"punct", [](int c) { return ispunct(c); }},
    {"graph", [](int c) { return isgraph(c); }},  {"cntrl", [](int c) { return iscntrl(c); }},
    {"blank", [](int c) { return isblank(c); }},  {"alnum", [](int c) { return isalnum(c); }},
};

void appendHex(std::string &out, unsigned c) {
  static const char kDigits[] = "0123456789abcdef";
  out += "\\x";
  out += kDigits[(c >> 4) & 15];
  out += kDigits[c & 15];
}

// One byte as an RE2 literal: letters and digits as they are, any other
// byte as \xHH (RE2 reads the pattern as Latin-1, one byte a character).
void appendByte(std::string &out, unsigned char c) {
  // isalnum of the C locale, without a call per byte.
  if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) out += static_cast<char>(c);
  else appendHex(out, c);
}

// The position in the POSIX text.
struct Cursor {
  const char *p;
};

// What a translated piece of a branch (an atom and its repetition operators)
// is, as far as the ends of a pattern care.
enum class Piece { kOther, kStart, kEnd, kAnyByte, kAnyRun };  // ^ $ . .*

bool alternation(Cursor &c, bool nested, bool top, std::string *out, bool *anchors);

// A bracket expression after its '[', as regcomp reads it: a ']' first is a
// literal, a backslash is a literal, '-' is a literal only first or last,
// a range runs between two bytes in byte order.
bool bracket(Cursor &c, std::string *out) {
  ByteSet bytes;
  bool negate = *c.p == '^';
  if (negate) ++c.p;
  for (bool first = true;; first = false) {
    unsigned char ch = static_cast<unsigned char>(*c.p);
    if (ch == '\0') return false;
    if (ch == ']' && !first) {
      ++c.p;
      break;
    }
    if (ch == '[' && (c.p[1] == '.' || c.p[1] == '=')) return false;
    if (ch == '[' && c.p[1] == ':') {
      const char *name = c.p + 2;
      const char *close = strstr(name, ":]");
      if (!close) return false;
      const CharClass *cls = nullptr;
      for (const CharClass &k : kCharClasses)
        if (std::string(name, close) == k.name)
          cls = &k;
      if (!cls) return false;
      for (int b = 0; b < 256; ++b)
        if (cls->test(b)) bytes.set(b);
      c.p = close + 2;
      continue;  // a class never begins a range
    }
    if (ch == '-' && !first && c.p[1] != ']') return false;
    ++c.p;
    if (*c.p == '-' && c.p[1] != ']' && c.p[1] != '\0') {
      unsigned char last = static_cast<unsigned char>(c.p[1]);
      if (last == '[' && (c.p[2] == '.' || c.p[2] == '=' || c.p[2] == ':')) return false;
      // regcomp refuses a reversed range, and one past 7 bits in the C locale.
      if (last < ch || last >= 0x80) return false;
      c.p += 2;
      for (unsigned b = ch; b <= last; ++b) bytes.set(b);
    } else {
      bytes.set(ch);
    }
  }
  if (negate) bytes.flip();
  if (bytes.none()) return false;
  *out = "[";
  for (unsigned b = 0; b < 256;) {
    if (!bytes[b]) {
      ++b;
      continue;
    }
    unsigned end = b;
    while (end + 1 < 256 && bytes[end + 1]) ++end;
    appendHex(*out, b);
    if (end > b) {
      *out += '-';
      appendHex(*out, end);
    }
    b = end + 1;
  }
  *out += ']';
  return true;
}

// A number of an interval, or -1 when there are no digits.
long count(Cursor &c) {
  long n = -1;
  for (; *c.p >= '0' && *c.p <= '9'; ++c.p) n = std::min(kMaxRepeat + 1, (n < 0 ? 0 : n * 10) + (*c.p - '0'));
  return n;
}

// A repetition operator: *, +, ?, {n}, {n,}, {n,m} or {,m}.
bool repetition(Cursor &c, std::string *out) {
  char op = *c.p++;
  if (op != '{') {
    *out = op;
    return true;
  }
  long low = count(c), high = low;
  bool comma = *c.p == ',';
  if (comma) {
    ++c.p;
    high = count(c);
    if (low < 0) low = 0;
  }
  if (low < 0 || *c.p != '}') return false;
  ++c.p;
  if (low > kMaxRepeat || high > kMaxRepeat || (high >= 0 && high < low)) return false;
  *out = "{" + std::to_string(low) + "," + (high < 0 ? "" : std::to_string(high)) + "}";
  return true;
}

// One atom: *kind tells '^', '$' and '.', *anchors whether it is or holds
// an anchor.
bool atom(Cursor &c, std::string *out, Piece *kind, bool *anchors) {
  unsigned char ch = static_cast<unsigned char>(*c.p);
  *kind = Piece::kOther;
  *anchors = false;
  switch (ch) {
    case '(': {
      ++c.p;
      std::string inner;
      if (!alternation(c, true, false, &inner, anchors) || *c.p != ')') return false;
      ++c.p;
      *out = "(?:" + inner + ")";
      return true;
    }
    case '[':
      ++c.p;
      return bracket(c, out);
    case '.':
      ++c.p;
      *out = ".";  // any byte: the set matcher lets '.' match a newline
      *kind = Piece::kAnyByte;
      return true;
    case '^':
    case '$':
      ++c.p;
      *out = static_cast<char>(ch);
      *kind = ch == '^' ? Piece::kStart : Piece::kEnd;
      *anchors = true;
      return true;
    case '*':
    case '+':
    case '?':
    case '{':
      return false;  // nothing to repeat
    case '\\':
      ch = static_cast<unsigned char>(c.p[1]);
      // Back-references and the GNU operators; any other byte is literal.
      if (ch == '\0' || strchr("123456789<>bBwWsS`'", ch)) return false;
      c.p += 2;
      out->clear();
      appendByte(*out, ch);
      return true;
    default:
      ++c.p;
      out->clear();
      appendByte(*out, ch);
      return true;
  }
}

// Each piece of a branch (an atom and its repetition operators): its kind
// and where its translation begins in the output.
typedef std::vector<std::pair<Piece, size_t>> PieceList;

// A branch up to '|', ')' or the end, translated onto *out; its pieces go
// into *pieces when that is given. *anchors: some piece is or holds an
// anchor.
bool branch(Cursor &c, std::string *out, PieceList *pieces, bool *anchors) {
  std::string text, op;
  while (*c.p && *c.p != '|' && *c.p != ')') {
    Piece kind;
    bool inner;
    if (!atom(c, &text, &kind, &inner)) return false;
    for (bool first = true; *c.p == '*' || *c.p == '+' || *c.p == '?' || *c.p == '{'; first = false) {
      // regcomp refuses a repeated anchor, and regexec answers in a way of
      // its own for an anchor inside a repeated group ("(^a)+" matches "aa",
      // "(a$){2}" matches "aa"): both stay on regexec.
      if (inner || !repetition(c, &op)) return false;
      kind = first && kind == Piece::kAnyByte && op == "*" ? Piece::kAnyRun : Piece::kOther;
      text = "(?:" + text + ")" + op;
    }
    *anchors = *anchors || inner;
    if (pieces) pieces->emplace_back(kind, out->size());
    *out += text;
  }
  return true;
}

// Branches separated by '|', up to the ')' of a group (nested) or the end.
// At the top, regexec finds a branch anywhere in the address, and so does
// the set matcher's unanchored search: there ".*" or "^.*" in front of a
// branch and ".*" or ".*$" behind it change nothing, and they are left out.
// (Kept, each such pattern would put a loop of its own into every state of
// the set matcher, whose states would then grow with the number of users.)
bool alternation(Cursor &c, bool nested, bool top, std::string *out, bool *anchors) {
  PieceList pieces;
  for (;;) {
    size_t start = out->size();
    pieces.clear();
    if (!branch(c, out, top ? &pieces : nullptr, anchors)) return false;
    if (top) {
      size_t first = 0, end = pieces.size();
      auto is = [&](size_t i, Piece kind) { return i >= first && i < end && pieces[i].first == kind; };
      if (is(0, Piece::kStart) && is(1, Piece::kAnyRun)) first = 2;
      else if (is(0, Piece::kAnyRun)) first = 1;
      if (end >= 2 && is(end - 1, Piece::kEnd) && is(end - 2, Piece::kAnyRun)) end -= 2;
      else if (end >= 1 && is(end - 1, Piece::kAnyRun)) end -= 1;
      auto at = [&](size_t i) { return i < pieces.size() ? pieces[i].second : out->size(); };
      out->erase(at(end));
      out->erase(start, at(first) - start);
    }
    if (*c.p != '|') break;
    ++c.p;
    *out += '|';
  }
  // An unmatched ')' is a literal to regcomp; such patterns stay on regexec.
  return nested ? *c.p == ')' : *c.p == '\0';
}

// The value of a lower-case hexadecimal digit as appendHex writes it, -1
// for any other byte.
int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The bytes of a translation made only of letters, digits and \xHH (a
// literal text, as appendByte writes one); false for any other.
bool readByte(std::string_view re2, size_t *i, unsigned *value);

bool literalBytes(std::string_view re2, std::string *bytes) {
  bytes->clear();
  unsigned b;
  for (size_t i = 0; i < re2.size();) {
    if (!readByte(re2, &i, &b)) return false;
    *bytes += static_cast<char>(b);
  }
  return true;
}

// The byte at *i as appendByte writes one (a letter, a digit or \xHH) into
// *value, *i past it; false for anything else.
bool readByte(std::string_view re2, size_t *i, unsigned *value) {
  if (*i >= re2.size()) return false;
  unsigned char c = static_cast<unsigned char>(re2[*i]);
  if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) {
    *value = c;
    *i += 1;
    return true;
  }
  if (c != '\\' || *i + 3 >= re2.size() || re2[*i + 1] != 'x' || hexDigit(re2[*i + 2]) < 0 ||
      hexDigit(re2[*i + 3]) < 0)
    return false;
  *value = static_cast<unsigned>(hexDigit(re2[*i + 2]) * 16 + hexDigit(re2[*i + 3]));
  *i += 4;
  return true;
}

// Literal texts found anywhere in an address at once: an Aho-Corasick
// automaton, its transitions a full table over classes of bytes, so that
// each byte of the address costs one look-up however many texts there are.
// Patterns such as ".*partner12.*", one or more per user, take this path
// rather than the RE2 set, whose states (and the table it allocates per
// search) would grow with the number of users.
class LiteralFinder {
 public:
  // Adds a non-empty text whose finding means pattern number.
  void add(std::string bytes, int number) { texts_.emplace_back(std::move(bytes), number); }
  bool empty() const { return texts_.empty(); }
  // Builds the automaton; false, with nothing built (texts() as they were),
  // when its table would take more than kLiteralTableMax entries.
  bool build();
  // Calls found(number) for every text that occurs in address (a text
  // found at several places is reported at each).
  template <typename Found>
  void find(const char *address, Found found) const {
    if (next_.empty()) return;  // no texts, or not built
    uint32_t state = 0;
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(address);; ++p) {
      // Most bytes of most addresses begin no text: skipped without a
      // look-up that waits for the one before.
      if (state == 0)
        while (*p && !leavesStart_[*p]) ++p;
      if (!*p) break;
      state = next_[state * classes_ + byteClass_[*p]];
      for (uint32_t s = output_[state] >= 0 ? state : suffix_[state]; s != 0; s = suffix_[s]) found(output_[s]);
    }
  }
  const std::vector<std::pair<std::string, int>> &texts() const { return texts_; }

 private:
  static constexpr uint32_t kNone = ~0u;
  std::vector<std::pair<std::string, int>> texts_;
  uint8_t byteClass_[256] = {};   // 0: a byte of no text
  bool leavesStart_[256] = {};    // the byte begins a text
  unsigned classes_ = 1;
  std::vector<uint32_t> next_;    // state * classes_ + class: the next state; 0 is the start
  std::vector<int> output_;       // the number of the text that ends in the state, or -1
  std::vector<uint32_t> suffix_;  // the longest proper suffix state with an output, 0: none
};

// Entries of the finder's table at most (4 bytes each): past this the
// literal texts stay in the RE2 set.
constexpr size_t kLiteralTableMax = size_t(1) << 22;

bool LiteralFinder::build() {
  size_t states = 1;
  for (const auto &text : texts_) {
    states += text.first.size();
    for (unsigned char c : text.first)
      if (!byteClass_[c]) byteClass_[c] = static_cast<uint8_t>(classes_++);
  }
  if (states * classes_ > kLiteralTableMax) return false;  // the texts are kept for the RE2 set
  // The trie of the texts; kNone where it has no edge.
  next_.assign(classes_, kNone);
  output_.assign(1, -1);
  for (const auto &text : texts_) {
    uint32_t state = 0;
    for (unsigned char c : text.first) {
      uint32_t &edge = next_[state * classes_ + byteClass_[c]];
      if (edge == kNone) {
        edge = static_cast<uint32_t>(output_.size());
        output_.push_back(-1);
        next_.resize(next_.size() + classes_, kNone);
      }
      state = next_[state * classes_ + byteClass_[c]];
    }
    output_[state] = text.second;
  }
  for (const auto &text : texts_) leavesStart_[static_cast<unsigned char>(text.first[0])] = true;
  // Breadth first: each state's failure state is done before its children,
  // and a missing edge takes the failure state's.
  std::vector<uint32_t> failure(output_.size(), 0), queue;
  suffix_.assign(output_.size(), 0);
  for (unsigned c = 0; c < classes_; ++c) {
    uint32_t &edge = next_[c];
    if (edge == kNone) edge = 0;
    else queue.push_back(edge);
  }
  for (size_t head = 0; head < queue.size(); ++head) {
    uint32_t state = queue[head];
    for (unsigned c = 0; c < classes_; ++c) {
      uint32_t &edge = next_[state * classes_ + c];
      uint32_t fallback = next_[failure[state] * classes_ + c];
      if (edge == kNone) {
        edge = fallback;
        continue;
      }
      failure[edge] = fallback;
      suffix_[edge] = output_[fallback] >= 0 ? fallback : suffix_[fallback];
      queue.push_back(edge);
    }
  }
  return true;
}

// Patterns of single bytes, '.' and bracket expressions, each once or
// repeated by '*' or '+', with anchors only at their very ends
// ("^local!mail5\.example\.org!", "^[^!]*$", "^local![^!]*\.ru!"): matched
// by one bit per position of the pattern, every position at once per byte
// of the address, stopping at the first byte that leaves no position when
// the pattern is anchored at the start. Such patterns, the usual ones of
// service classes, then need no search of the address by the RE2 set, whose
// fixed cost per search is many times that of a few bytes here.
class ShortPattern {
 public:
  // Reads a translation (as posixToRe2 writes it); false when it is not of
  // this shape or has more than kMaxItems bytes and repeated bytes.
  bool parse(std::string_view re2) {
    size_t i = 0, n = re2.size();
    start_ = n > 0 && re2[0] == '^';
    if (start_) ++i;
    // A '$' of the text itself is written \x24: one here is the anchor.
    end_ = n > i && re2[n - 1] == '$';
    if (end_) --n;
    re2 = re2.substr(0, n);
    unsigned items = 0;
    while (i < n) {
      ByteSet bytes;
      bool group = re2.substr(i, 3) == "(?:";
      if (group) i += 3;
      if (!atom(re2, &i, &bytes)) return false;
      char op = '\0';
      if (group) {
        if (i >= n || re2[i] != ')') return false;
        ++i;
        if (i < n && (re2[i] == '*' || re2[i] == '+' || re2[i] == '?' || re2[i] == '{')) op = re2[i++];
      }
      if (op == '?' || op == '{') return false;
      if (op != '*' && !add(bytes, false, &items)) return false;
      if (op != '\0' && !add(bytes, true, &items)) return false;
    }
    accept_ = uint64_t(1) << items;
    // Whether a repeated position follows another, so that passing them
    // takes more than one step.
    chained_ = (stars_ & (stars_ << 1)) != 0;
    initial_ = closure(1);
    // Anchored, the single bytes in front are compared as one text.
    if (start_) {
      while (prefixLength_ < items && !(stars_ >> prefixLength_ & 1) && onlyByte(prefixLength_, &prefix_[prefixLength_]))
        ++prefixLength_;
      afterPrefix_ = closure(uint64_t(1) << prefixLength_);
    }
    return true;
  }
  bool matches(const char *address) const {
    uint64_t d = initial_;
    if (prefixLength_ > 0) {
      if (strncmp(address, prefix_, prefixLength_) != 0) return false;
      address += prefixLength_;
      d = afterPrefix_;
    }
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(address); *p; ++p) {
      if (!end_ && (d & accept_)) return true;
      uint64_t taken = bytes_[*p] & d;
      d = closure(((taken & ~stars_) << 1) | (taken & stars_));
      if (!start_) d |= initial_;
      else if (!d) return false;
    }
    return d & accept_;
  }

 private:
  static constexpr unsigned kMaxItems = 63;
  // One byte, '.' or a bracket expression of the translation at *i.
  static bool atom(std::string_view re2, size_t *i, ByteSet *bytes) {
    if (*i >= re2.size()) return false;
    char c = re2[*i];
    if (c == '.') {
      bytes->set();
      ++*i;
      return true;
    }
    unsigned first, last;
    if (c != '[') {
      if (!readByte(re2, i, &first)) return false;
      bytes->set(first);
      return true;
    }
    ++*i;
    while (*i < re2.size() && re2[*i] != ']') {
      if (!readByte(re2, i, &first)) return false;
      last = first;
      if (*i < re2.size() && re2[*i] == '-') {
        ++*i;
        if (!readByte(re2, i, &last) || last < first) return false;
      }
      for (unsigned b = first; b <= last; ++b) bytes->set(b);
    }
    if (*i >= re2.size()) return false;
    ++*i;
    return true;
  }
  // Appends a position that takes bytes, once or (star) any number of times.
  bool add(const ByteSet &bytes, bool star, unsigned *items) {
    if (*items == kMaxItems) return false;
    uint64_t bit = uint64_t(1) << *items;
    for (unsigned b = 0; b < 256; ++b)
      if (bytes[b]) bytes_[b] |= bit;
    if (star) stars_ |= bit;
    ++*items;
    return true;
  }
  // True when position is taken by one byte only, that byte into *c.
  bool onlyByte(unsigned position, char *c) const {
    int found = -1;
    for (unsigned b = 0; b < 256; ++b) {
      if (!(bytes_[b] >> position & 1)) continue;
      if (found >= 0 || b == 0) return false;
      found = static_cast<int>(b);
    }
    *c = static_cast<char>(found);
    return found >= 0;
  }
  // d with every position that repeated positions in d may be passed to.
  uint64_t closure(uint64_t d) const {
    if (!chained_) return d | ((d & stars_) << 1);
    for (;;) {
      uint64_t more = d | ((d & stars_) << 1);
      if (more == d) return d;
      d = more;
    }
  }
  bool start_ = false, end_ = false, chained_ = false;
  uint64_t stars_ = 0, initial_ = 0, accept_ = 0;
  unsigned prefixLength_ = 0;  // the single bytes in front, when anchored
  char prefix_[kMaxItems];
  uint64_t afterPrefix_ = 0;  // the positions reached by the prefix
  uint64_t bytes_[256] = {};  // per byte: the positions that take it
};

// Whole addresses that are literal texts, each with its pattern number: open
// addressing, each slot one cache line that holds the text's first bytes
// (the rest, if any, in one array of all texts' bytes). A byte of each
// slot's hash in an array of its own answers most look-ups of an address
// that is none of the texts without touching the slots, however many users
// there are.
class ExactTexts {
 public:
  // Adds text as pattern number; false when the text is there already.
  bool add(std::string_view text, int number) {
    if ((count_ + 1) * 8 > slots_.size() * 7) grow();
    size_t i = place(text, hashOf(text));
    if (tags_[i]) return false;
    Slot slot = {hashOf(text), static_cast<uint32_t>(bytes_.size()), static_cast<uint32_t>(text.size()), number, {}};
    memcpy(slot.head, text.data(), std::min(text.size(), sizeof slot.head));
    put(i, slot);
    bytes_ += text;
    ++count_;
    return true;
  }
  // The pattern number of text (hash: its hashOf), -1 when it is none of
  // the texts.
  int find(std::string_view text, uint32_t hash) const {
    if (!count_) return -1;
    size_t i = place(text, hash);
    return tags_[i] ? slots_[i].number : -1;
  }
  // Asks the processor for the place where find looks first, so that the
  // look-up of one address overlaps the work on another.
  void prefetch(uint32_t hash) const {
    if (!count_) return;
    size_t i = hash & (slots_.size() - 1);
    __builtin_prefetch(&tags_[i]);
    __builtin_prefetch(&slots_[i]);
  }
  static uint32_t hashOf(std::string_view text) {
    return static_cast<uint32_t>(std::hash<std::string_view>()(text));
  }

 private:
  struct alignas(64) Slot {
    uint32_t hash, offset, length;
    int number;
    char head[48];  // the text's first bytes
  };
  // True when the slot holds text.
  bool holds(const Slot &slot, uint32_t hash, std::string_view text) const {
    if (slot.hash != hash || slot.length != text.size()) return false;
    size_t inHead = std::min(text.size(), sizeof slot.head);
    return memcmp(slot.head, text.data(), inHead) == 0 &&
           bytes_.compare(slot.offset + inHead, slot.length - inHead, text.substr(inHead)) == 0;
  }
  // The tag of a hash: never 0, which marks an empty slot.
  static uint8_t tagOf(uint32_t hash) { return static_cast<uint8_t>(1 + (hash >> 24) % 255); }
  // The slot of text, or the empty slot where it would go.
  size_t place(std::string_view text, uint32_t hash) const {
    uint8_t tag = tagOf(hash);
    size_t mask = slots_.size() - 1;
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
      if (!tags_[i]) return i;
      if (tags_[i] == tag && holds(slots_[i], hash, text)) return i;
    }
  }
  void put(size_t i, const Slot &slot) {
    slots_[i] = slot;
    tags_[i] = tagOf(slot.hash);
  }
  void grow() {
    std::vector<Slot> old = std::move(slots_);
    std::vector<uint8_t> oldTags = std::move(tags_);
    slots_.assign(old.empty() ? 64 : old.size() * 2, Slot{});
    tags_.assign(slots_.size(), 0);
    for (size_t i = 0; i < old.size(); ++i)
      if (oldTags[i]) put(place(std::string_view(bytes_).substr(old[i].offset, old[i].length), old[i].hash), old[i]);
  }
  std::vector<Slot> slots_;     // a power of two of them, at most seven eighths in use
  std::vector<uint8_t> tags_;   // per slot: 0 when empty, else tagOf its hash
  std::string bytes_;           // the texts one after another
  size_t count_ = 0;
};

// The matcher's copy of a class set entry, with what the classification
// reads of every entry it passes; 16 bytes, so that a user set's entries
// take two or three adjacent cache lines.
struct PlannedEntry {
  int setIndex;         // entry->setIndex
  unsigned slot : 28;   // its class's slot
  unsigned kind : 4;    // entry->kind
  const char *name;     // its class's name
};

// The set matcher of the run. Entries of the same text (users' classes
// often share one) share one pattern in it, so that an address hits each
// text once, however many users wrote it. Patterns that are literal texts
// are matched without RE2: a whole address ("^u0001$") by one look-up in
// exact, a text anywhere in it (".*partner12.*") by literals.
struct Matcher {
  std::unique_ptr<RE2::Set> set;          // null when no pattern needs it
  bool built = false;                     // false until built (or when RE2 failed)
  std::vector<int> numbers;               // the pattern number of each of set's patterns
  std::vector<uint8_t> inSet;             // per pattern number: 1 when set holds it
  bool setHoldsUserPatterns = false;      // set holds a pattern of some class `user`
  ExactTexts exact;
  LiteralFinder literals;
  // Short patterns, and per pattern number its place there or -1.
  std::vector<ShortPattern> shorts;
  std::vector<int> shortOf;
  // The short patterns of some class `user`, tried on every address whose
  // owners are looked for; when they are many they go to set instead.
  std::vector<int> userShorts;
  // The patterns that match every address (the empty translation, as of
  // ".*"). They stay out of set: in it they would make every state of its
  // DFA a matching one, whose matches the search gathers at every byte.
  std::vector<int> everywhere;
  // The user sets whose class `user` holds pattern p: userSets[firstUserSet[p]]
  // up to userSets[firstUserSet[p + 1]], ascending (one array for all, as
  // most patterns have none).
  std::vector<unsigned> firstUserSet, userSets;
  std::vector<unsigned> regexecUserSets;  // user sets with a pattern of class `user` on regexec
  // Every entry of the user sets and then of the common set, each set's in
  // slot order in one run (set s: planStart[s] up to planStart[s + 1]), so
  // that classifying a mail reads a few adjacent cache lines per user set
  // rather than following its lists. Empty until built. The entries
  // themselves are read only by regexec, from an array of their own in the
  // same order.
  std::vector<PlannedEntry> plan;
  std::vector<const MailClassEntry *> planEntries;
  std::vector<unsigned> planStart;
} matcher;

// While the set matcher is built: the number of each text put in (-1: RE2
// refused it), and each pattern of a class `user` with its user set.
struct Numbering {
  int patterns = 0;
  std::unordered_map<std::string_view, int> numbers;
  std::vector<std::pair<int, unsigned>> owners;
  // Each short pattern's number and translation.
  std::vector<std::pair<int, std::string_view>> shorts;
};

// Short patterns of classes `user` tried one by one on every address at
// most; more go to the RE2 set.
constexpr size_t kUserShortMax = 16;
// Short patterns at most (each takes 2 KiB); more go to the RE2 set.
constexpr size_t kShortMax = 4096;

// Puts a translation that is a literal text into the matcher's exact map
// ("^TEXT$") or literal finder ("TEXT") as pattern number; false for any
// other translation.
bool placeLiteral(std::string_view re2, int number) {
  std::string bytes;
  if (re2.size() >= 2 && re2.front() == '^' && re2.back() == '$' && literalBytes(re2.substr(1, re2.size() - 2), &bytes))
    return matcher.exact.add(bytes, number);
  if (re2.empty() || !literalBytes(re2, &bytes)) return false;
  matcher.literals.add(std::move(bytes), number);
  return true;
}

// A short pattern of the translation, false when it is none or there are
// enough.
bool addShort(const char *re2) {
  if (matcher.shorts.size() >= kShortMax) return false;
  if (matcher.shorts.emplace_back().parse(re2)) return true;
  matcher.shorts.pop_back();
  return false;
}

// Each short pattern's place by number; those of classes `user` into the
// RE2 set when they are more than a few.
void placeShorts(RE2::Set *set, Numbering *numbering) {
  matcher.shortOf.assign(numbering->patterns, -1);
  std::vector<uint8_t> owned(numbering->patterns, 0);
  for (const auto &owner : numbering->owners) owned[owner.first] = 1;
  for (size_t k = 0; k < numbering->shorts.size(); ++k) {
    int number = numbering->shorts[k].first;
    matcher.shortOf[number] = static_cast<int>(k);
    if (owned[number]) matcher.userShorts.push_back(number);
  }
  if (matcher.userShorts.size() <= kUserShortMax) return;
  std::vector<int> kept;
  for (int number : matcher.userShorts) {
    std::string_view re2 = numbering->shorts[matcher.shortOf[number]].second;
    if (set->Add(re2, nullptr) >= 0) {
      matcher.numbers.push_back(number);
      matcher.shortOf[number] = -1;
    } else {
      kept.push_back(number);
    }
  }
  matcher.userShorts = std::move(kept);
}

// The literal finder built; when its table would be too large, its texts go
// into the RE2 set instead. False when RE2 refuses one.
bool buildLiterals(RE2::Set *set) {
  if (matcher.literals.empty() || matcher.literals.build()) return true;
  std::string re2;
  for (const auto &[bytes, number] : matcher.literals.texts()) {
    re2.clear();
    for (char c : bytes) appendByte(re2, static_cast<unsigned char>(c));
    if (set->Add(re2, nullptr) < 0) return false;
    matcher.numbers.push_back(number);
  }
  matcher.literals = LiteralFinder();
  return true;
}

// Adds the translated entries of the set's classes from slot first on.
void addEntries(RE2::Set *set, Numbering *numbering, MailClassSet *classes, unsigned first, unsigned userSet) {
  for (unsigned slot = first; slot < classes->classCount; ++slot) {
    for (MailClassEntry *entry = classes->heads[slot]; entry; entry = entry->next) {
      entry->setIndex = -1;
      if (entry->kind == KIND_NONE) continue;
      if (entry->re2) {
        auto [known, added] = numbering->numbers.try_emplace(entry->re2, -1);
        if (added && !entry->re2[0]) {
          known->second = numbering->patterns++;
          matcher.everywhere.push_back(known->second);
        } else if (added && placeLiteral(entry->re2, numbering->patterns)) {
          known->second = numbering->patterns++;
        } else if (added && addShort(entry->re2)) {
          numbering->shorts.emplace_back(numbering->patterns, entry->re2);
          known->second = numbering->patterns++;
        } else if (added && set->Add(entry->re2, nullptr) >= 0) {
          known->second = numbering->patterns++;
          matcher.numbers.push_back(known->second);
        }
        entry->setIndex = known->second;
      }
      if (slot != 0 || userSet == kNoUserSet) continue;
      if (entry->setIndex >= 0)
        numbering->owners.emplace_back(entry->setIndex, userSet);
      else if (matcher.regexecUserSets.empty() || matcher.regexecUserSets.back() != userSet)
        matcher.regexecUserSets.push_back(userSet);
    }
  }
}

// The user sets of each pattern, from the pairs of owners.
void indexUserSets(int patterns, std::vector<std::pair<int, unsigned>> *owners) {
  std::sort(owners->begin(), owners->end());
  owners->erase(std::unique(owners->begin(), owners->end()), owners->end());
  matcher.firstUserSet.assign(patterns + 1, 0);
  for (const auto &owner : *owners) {
    ++matcher.firstUserSet[owner.first + 1];
    matcher.userSets.push_back(owner.second);
  }
  for (int p = 0; p < patterns; ++p) matcher.firstUserSet[p + 1] += matcher.firstUserSet[p];
}

// Appends the set's entries to the plan.
void planEntries(const MailClassSet *classes) {
  for (unsigned slot = 0; slot < classes->classCount; ++slot) {
    for (const MailClassEntry *entry = classes->heads[slot]; entry; entry = entry->next) {
      matcher.plan.push_back({entry->setIndex, slot, static_cast<unsigned>(entry->kind), classes->names[slot]});
      matcher.planEntries.push_back(entry);
    }
  }
  matcher.planStart.push_back(static_cast<unsigned>(matcher.plan.size()));
}

// The plan of the user sets and the common set, with the entries' numbers
// as they are now.
void buildPlan() {
  matcher.planStart.assign(1, 0);
  for (unsigned i = 0; i < userClassSetCount; ++i) planEntries(&userClassSets[i]);
  planEntries(&commonClassSet);
}

// Every entry back on regexec.
void forgetEntries(MailClassSet *classes) {
  for (unsigned slot = 0; slot < classes->classCount; ++slot)
    for (MailClassEntry *entry = classes->heads[slot]; entry; entry = entry->next) entry->setIndex = -1;
}

}  // namespace

namespace {

bool isRepetition(char c) { return c == '*' || c == '+' || c == '?' || c == '{'; }

// A byte that atom takes as itself when it stands alone (not '\0').
bool isPlainByte(char c) {
  switch (c) {
    case '\0': case '(': case ')': case '[': case '.': case '^': case '$':
    case '*': case '+': case '?': case '{': case '\\': case '|':
      return false;
    default:
      return true;
  }
}

// ".*" not repeated further at p.
bool isAnyRun(const char *p) { return p[0] == '.' && p[1] == '*' && !isRepetition(p[2]); }

// The translation of the usual pattern, bytes in a row with ".*" or an
// anchor at either end ("^u0001$", "^.*partner12.*$", "^local!x\.org!.*$"),
// written as alternation writes it without its cost; false, with re2
// undefined, for any other pattern.
bool literalToRe2(const char *posix, std::string *re2) {
  const char *p = posix;
  bool start = *p == '^';
  if (start) ++p;
  bool leadingRun = isAnyRun(p);
  if (leadingRun) p += 2;
  re2->assign(start && !leadingRun ? "^" : "");
  re2->reserve(4 * strlen(p) + 2);
  size_t literals = 0;
  for (;; ++literals) {
    char c = *p;
    if (c == '\\') {
      // A back-reference or GNU operator is no literal.
      c = p[1];
      if (c == '\0' || strchr("123456789<>bBwWsS`'", c)) return false;
      p += 2;
    } else if (isPlainByte(c)) {
      ++p;
    } else {
      break;
    }
    if (isRepetition(*p)) return false;
    appendByte(*re2, static_cast<unsigned char>(c));
  }
  bool trailingRun = isAnyRun(p);
  if (trailingRun) p += 2;
  bool end = *p == '$';
  if (end) ++p;
  if (*p || literals == 0) return false;
  if (end && !trailingRun) *re2 += '$';
  return true;
}

}  // namespace

bool posixToRe2(const char *posix, std::string *re2) {
  if (literalToRe2(posix, re2)) return true;
  Cursor c = {posix};
  re2->clear();
  bool anchors = false;
  return alternation(c, false, true, re2, &anchors);
}

void matchSetBuild() {
  RE2::Options options;
  options.set_encoding(RE2::Options::EncodingLatin1);
  options.set_dot_nl(true);
  options.set_never_capture(true);
  options.set_log_errors(false);
  options.set_max_mem(kMatcherMemory);
  auto set = std::make_unique<RE2::Set>(options, RE2::UNANCHORED);
  matcher = Matcher();
  Numbering numbering;
  // The common class `user` is never consulted.
  addEntries(set.get(), &numbering, &commonClassSet, 1, kNoUserSet);
  for (unsigned i = 0; i < userClassSetCount; ++i) addEntries(set.get(), &numbering, &userClassSets[i], 0, i);
  placeShorts(set.get(), &numbering);
  if (numbering.patterns > 0 && buildLiterals(set.get()) && (matcher.numbers.empty() || set->Compile())) {
    if (!matcher.numbers.empty()) matcher.set = std::move(set);
    matcher.built = true;
    indexUserSets(numbering.patterns, &numbering.owners);
    matcher.inSet.assign(numbering.patterns, 0);
    for (int number : matcher.numbers) {
      matcher.inSet[number] = 1;
      if (matcher.firstUserSet[number] != matcher.firstUserSet[number + 1]) matcher.setHoldsUserPatterns = true;
    }
  } else {
    forgetEntries(&commonClassSet);
    for (unsigned i = 0; i < userClassSetCount; ++i) forgetEntries(&userClassSets[i]);
    matcher = Matcher();
  }
  buildPlan();
}

void AddressMatch::reset(const char *address) {
  address_ = address;
  length_ = strlen(address);
  hash_ = ExactTexts::hashOf(std::string_view(address, length_));
  matcher.exact.prefetch(hash_);
  found_ = false;
}

void AddressMatch::find() {
  if (found_) return;
  found_ = true;
  failed_ = false;
  for (int hit : hits_) bits_[hit / 64] &= ~(uint64_t(1) << (hit % 64));
  hits_.clear();
  searched_ = !matcher.set;
  if (!matcher.built) return;
  bits_.resize((matcher.firstUserSet.size() + 63) / 64);
  // regcomp's '^' after some other part of a pattern also matches right
  // after a newline, even without REG_NEWLINE; such addresses (never of the
  // usual address characters) are left to regexec whole.
  if (strchr(address_, '\n')) {
    failed_ = true;
    return;
  }
  for (int number : matcher.everywhere) hit(number);
  for (int number : matcher.userShorts)
    if (matcher.shorts[matcher.shortOf[number]].matches(address_)) hit(number);
  int exact = matcher.exact.find(std::string_view(address_, length_), hash_);
  if (exact >= 0) hit(exact);
  matcher.literals.find(address_, [this](int number) { hit(number); });
}

void AddressMatch::search() {
  find();
  if (searched_) return;
  searched_ = true;
  if (failed_) return;
  RE2::Set::ErrorInfo info = {RE2::Set::kNoError};
  if (!matcher.set->Match(address_, &setHits_, &info) && info.kind != RE2::Set::kNoError) failed_ = true;
  for (int number : setHits_) hit(matcher.numbers[number]);
}

void AddressMatch::hit(int number) {
  // Each pattern once, though a literal text may occur more than once.
  uint64_t &word = bits_[number / 64], bit = uint64_t(1) << (number % 64);
  if (word & bit) return;
  word |= bit;
  hits_.push_back(number);
}

bool AddressMatch::matches(const MailClassEntry *entry) { return matchesAs(entry->setIndex, entry); }

bool AddressMatch::matchesAs(int setIndex, const MailClassEntry *const &entry) {
  if (setIndex < 0) return regexMatch(entry, address_);
  find();
  if (failed_) return regexMatch(entry, address_);
  if (int s = matcher.shortOf[setIndex]; s >= 0) return matcher.shorts[s].matches(address_);
  if (!searched_ && matcher.inSet[setIndex]) search();
  if (failed_) return regexMatch(entry, address_);
  return (bits_[setIndex / 64] >> (setIndex % 64)) & 1;
}

namespace {

bool entryMatches(const MailClassEntry *entry, void *match) {
  return static_cast<AddressMatch *>(match)->matches(entry);
}

}  // namespace

const char *AddressMatch::firstClass(unsigned setNumber, bool userClass, int wanted) {
  // Without a plan of the sets as they are, the sets' own lists.
  if (matcher.planStart.size() != userClassSetCount + 2) {
    const MailClassSet *set = setNumber < userClassSetCount ? &userClassSets[setNumber] : &commonClassSet;
    return classMatchBy(set, userClass, wanted, entryMatches, this);
  }
  // classMatchBy over the plan: the first entry of the wanted kind that
  // matches and is not cancelled by an `except` entry of its class right
  // after it names the class.
  const PlannedEntry *plan = matcher.plan.data();
  const MailClassEntry *const *entries = matcher.planEntries.data();
  unsigned end = matcher.planStart[setNumber + 1];
  for (unsigned p = matcher.planStart[setNumber]; p < end; ++p) {
    const PlannedEntry &e = plan[p];
    if (e.slot != 0 && userClass) break;
    if ((e.slot == 0 && !userClass) || (e.kind != wanted && e.kind != KIND_ANY)) continue;
    if (!matchesAs(e.setIndex, entries[p])) continue;
    unsigned guard = p + 1;
    if (guard < end && plan[guard].slot == e.slot && plan[guard].kind == KIND_EXCEPT &&
        matchesAs(plan[guard].setIndex, entries[guard])) {
      p = guard;
      continue;
    }
    return e.name;
  }
  return nullptr;
}

void AddressMatch::prefetchSet(unsigned setNumber) {
  if (setNumber + 1 < matcher.planStart.size()) __builtin_prefetch(&matcher.plan[matcher.planStart[setNumber]]);
}

void AddressMatch::userSetCandidates(std::vector<unsigned> *sets) {
  sets->clear();
  find();
  if (matcher.setHoldsUserPatterns) search();
  if (!matcher.built || failed_) {
    for (unsigned i = 0; i < userClassSetCount; ++i) sets->push_back(i);
    return;
  }
  for (int hit : hits_)
    sets->insert(sets->end(), matcher.userSets.begin() + matcher.firstUserSet[hit],
                 matcher.userSets.begin() + matcher.firstUserSet[hit + 1]);
  sets->insert(sets->end(), matcher.regexecUserSets.begin(), matcher.regexecUserSets.end());
  std::sort(sets->begin(), sets->end());
  sets->erase(std::unique(sets->begin(), sets->end()), sets->end());
}
