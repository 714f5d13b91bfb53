#include "memory.h"

namespace {

bool isWhite(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

void sepwords(char ***words, int *count, char *line, char quoting) {
  if (!*words) {
    *words = static_cast<char **>(memRealloc(nullptr, kSepWordsMax * sizeof(char *)));
    *count = 0;
  }
  char *p = line;
  while (isWhite(*p)) ++p;
  while (*p) {
    char *word = p;
    char *out = p;
    bool quoted = false;
    while (*p) {
      char c = *p;
      if (quoting && c == '"') {
        quoted = !quoted;
        ++p;
      } else if (quoting && c == '\\' && p[1]) {
        *out++ = p[1] == 'n' ? '\n' : p[1];
        p += 2;
      } else if (!quoted && isWhite(c)) {
        break;
      } else {
        *out++ = c;
        ++p;
      }
    }
    while (isWhite(*p)) ++p;
    *out = '\0';
    // The array has room for kSepWordsMax words; later words are dropped.
    if (*count < kSepWordsMax) (*words)[(*count)++] = word;
  }
}
