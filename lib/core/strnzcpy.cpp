#include <cstring>

#include "memory.h"

char *strnzcpy(char *dest, const char *src, size_t size) {
  if (size == 0) return dest;  // no room even for the zero byte
  size_t n = strnlen(src, size - 1);
  memcpy(dest, src, n);
  memset(dest + n, 0, size - n);
  return dest;
}
