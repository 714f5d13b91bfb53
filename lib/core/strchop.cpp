#include "memory.h"

namespace {

// White space as the C locale's isspace has it, whatever the locale.
bool isWhite(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

char *strchop(char *text) {
  if (!text) return nullptr;
  char *end = text;
  while (*end) ++end;
  while (end > text && isWhite(end[-1])) --end;
  *end = '\0';
  while (isWhite(*text)) ++text;
  return text;
}
