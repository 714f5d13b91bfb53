#include "memory.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "misc.h"

void *memRealloc(void *block, size_t size) {
  if (size == 0) {
    free(block);
    return nullptr;
  }
  for (unsigned wait = 1;; ++wait) {
    void *p = realloc(block, size);
    if (p) return p;
    error("No memory! Sleeping..");
    sleep(wait);
  }
}

char *strDup(const char *text) {
  if (!text) return nullptr;
  size_t n = strlen(text) + 1;
  char *copy = static_cast<char *>(memRealloc(nullptr, n));
  memcpy(copy, text, n);
  return copy;
}
