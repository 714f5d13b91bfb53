// Normal form of mail addresses (see address.h).
#include <cctype>
#include <cstring>

#include "address.h"
#include "core.h"

namespace {

const char kLocalRoute[] = "LOCAL!";

bool isRouteSeparator(char c) { return c == '!' || c == ':'; }
bool isAddressSeparator(char c) { return c == '@' || c == '%'; }

// Appends [start, end) and a '!' at out; returns the new end.
char *appendPiece(char *out, const char *start, const char *end) {
  size_t n = static_cast<size_t>(end - start);
  memcpy(out, start, n);
  out += n;
  *out++ = '!';
  return out;
}

}  // namespace

bool isAddressChar(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  if (u == '\0') return false;
  if (legalAddrChars) return strchr(legalAddrChars, tolower(u)) != nullptr;
  return isalnum(u) || strchr("-._[]/=", u) != nullptr;
}

char *copyRoute(char *dest, const char *start, const char *end) {
  char *out = dest;
  if (start == end || isRouteSeparator(*start)) {
    memcpy(out, kLocalRoute, sizeof kLocalRoute - 1);
    out += sizeof kLocalRoute - 1;
  }
  for (const char *p = start; p < end; ++p) {
    char c = *p == ':' ? '!' : *p;
    if (c == '!' && out > dest && out[-1] == '!') continue;
    *out++ = c;
  }
  *out = '\0';
  return dest;
}

char *normaliseAddress(char *dest, const char *address) {
  if (!*address) return copyRoute(dest, address, address);

  // Scan the route parts up to the first '@' or '%'.
  const char *partStart = address;
  const char *p = address;
  for (; *p; ++p) {
    if (isRouteSeparator(*p)) {
      partStart = p + 1;
    } else if (isAddressSeparator(*p)) {
      break;
    } else if (!isAddressChar(*p)) {
      return nullptr;
    }
  }
  if (!*p) return copyRoute(dest, address, p);

  // The route in front of the last part, then the pieces of the address from
  // its right end leftwards, each followed by '!'.
  copyRoute(dest, address, partStart);
  char *out = dest + strlen(dest);
  const char *pieceEnd = address + strlen(address);
  for (;;) {
    const char *q = pieceEnd;
    while (q > address && isAddressChar(q[-1]) && !isAddressSeparator(q[-1]) &&
           !isRouteSeparator(q[-1]))
      --q;
    out = appendPiece(out, q, pieceEnd);
    if (q == address || isRouteSeparator(q[-1])) break;
    if (!isAddressSeparator(q[-1])) return nullptr;
    pieceEnd = q - 1;
  }
  out[-1] = '\0';  // the last '!'
  return dest;
}
