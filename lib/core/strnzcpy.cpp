#include <cstring>

#include "memory.h"

char *strnzcpy(char *dest, const char *src, size_t size) {
  strncpy(dest, src, size - 1);
  dest[size - 1] = '\0';
  return dest;
}
