#include <cctype>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "language.h"
#include "memory.h"
#include "words.h"

namespace {

// Room of the static word buffers, with their zero byte.
constexpr size_t kHundredsSize = 100;
constexpr size_t kNumberSize = 2000;
// Room of a message key such as "num_1_9_0".
constexpr size_t kKeySize = 24;

// The lower-case Cyrillic letters of KOI8-R and, at the same places, their
// capitals.
const char kLowerCyrillic[] =
    "\xc1\xc2\xd7\xc7\xc4\xc5\xd6\xda\xc9\xca\xcb\xcc\xcd\xce\xcf\xd0"
    "\xd2\xd3\xd4\xd5\xc6\xc8\xc3\xde\xdb\xdd\xdf\xd9\xd8\xdc\xc0\xd1";
const char kUpperCyrillic[] =
    "\xe1\xe2\xf7\xe7\xe4\xe5\xf6\xfa\xe9\xea\xeb\xec\xed\xee\xef\xf0"
    "\xf2\xf3\xf4\xf5\xe6\xe8\xe3\xfe\xfb\xfd\xff\xf9\xf8\xfc\xe0\xf1";

// Groups of three digits from the largest, with the scale digit of their
// message keys.
struct Group {
  uint64_t divisor;
  unsigned scale;
};
constexpr Group kGroups[] = {{1000000000, 9}, {1000000, 6}, {1000, 3}, {1, 0}};

// Appends text to the zero-ended buf of size bytes, cut where buf ends.
void append(char *buf, size_t size, const char *text) {
  size_t len = strlen(buf);
  if (len + 1 >= size) return;
  size_t n = strlen(text);
  if (n > size - 1 - len) n = size - 1 - len;
  memcpy(buf + len, text, n);
  buf[len + n] = '\0';
}

// Appends the message of key and a blank.
void appendWord(char *buf, size_t size, const char *key) {
  append(buf, size, getMessage(key));
  append(buf, size, " ");
}

// The scale word of a group of value q, or "" when the catalogue has none: the
// one form num_1_K, else the form num_1_K_D by the group's last digit D (0 for
// 11 to 19).
const char *scaleWord(unsigned scale, unsigned q) {
  char key[kKeySize];
  snprintf(key, sizeof key, "num_1_%u", scale);
  const char *text = getMessage(key);
  if (strcmp(text, key) != 0) return text;
  unsigned d = q % 100 >= 11 && q % 100 <= 19 ? 0 : q % 10;
  snprintf(key, sizeof key, "num_1_%u_%u", scale, d);
  text = getMessage(key);
  return strcmp(text, key) != 0 ? text : "";
}

// Makes the first character a capital, Cyrillic letters of KOI8-R included.
void capitalise(char *text) {
  unsigned char c = static_cast<unsigned char>(text[0]);
  if (c == '\0') return;
  const char *at = strchr(kLowerCyrillic, c);
  text[0] = at ? kUpperCyrillic[at - kLowerCyrillic] : static_cast<char>(toupper(c));
}

}  // namespace

const char *hundredsWords(unsigned n, bool feminine) {
  static char words[kHundredsSize];
  char key[kKeySize];
  words[0] = '\0';
  if (n >= 100) {
    snprintf(key, sizeof key, "num_%u00", n / 100);
    appendWord(words, sizeof words, key);
  }
  unsigned r = n % 100;
  if (r >= 11 && r <= 19) {
    snprintf(key, sizeof key, "num_%u", r);
    appendWord(words, sizeof words, key);
    return words;
  }
  if (r / 10 != 0) {
    snprintf(key, sizeof key, "num_%u0", r / 10);
    appendWord(words, sizeof words, key);
  }
  if (r % 10 != 0) {
    snprintf(key, sizeof key, "num_%u%s", r % 10, feminine ? "a" : "");
    appendWord(words, sizeof words, key);
  }
  return words;
}

char *signedWords(bool negative, uint64_t magnitude) {
  static char words[kNumberSize];
  words[0] = '\0';
  if (magnitude >= kWordsLimit) {
    snprintf(words, sizeof words, "%s%" PRIu64, negative ? "-" : "", magnitude);
    return words;
  }
  if (negative) appendWord(words, sizeof words, "num_minus");
  if (magnitude == 0) appendWord(words, sizeof words, "num_0");
  for (const Group &group : kGroups) {
    if (magnitude < group.divisor) continue;
    unsigned q = static_cast<unsigned>(magnitude / group.divisor);
    const char *scale = scaleWord(group.scale, q);
    bool feminine = scale[0] == ':';
    if (feminine) ++scale;
    append(words, sizeof words, hundredsWords(q, feminine));
    if (*scale) {
      append(words, sizeof words, scale);
      append(words, sizeof words, " ");
    }
    magnitude %= group.divisor;
  }
  size_t len = strlen(words);
  if (len > 0 && words[len - 1] == ' ') words[len - 1] = '\0';
  capitalise(words);
  return words;
}

char *numberWords(char *out, size_t size, int64_t n) {
  // The magnitude in unsigned arithmetic: -2^63 has no positive int64.
  uint64_t magnitude = n < 0 ? 0 - static_cast<uint64_t>(n) : static_cast<uint64_t>(n);
  char *words = signedWords(n < 0, magnitude);
  if (!out) return words;
  if (size > 0) strnzcpy(out, words, size);
  return out;
}
