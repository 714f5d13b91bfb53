// Normal form of mail addresses (see address.h).
#include <cctype>
#include <cstring>
#include <string>

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

// The address characters as one flag per byte, made again whenever
// legal-chars has changed since: every character of every address is tested.
class AddressChars {
 public:
  const bool *table() {
    const char *legal = legalAddrChars ? legalAddrChars : "";
    if (made_ && (legalAddrChars != nullptr) == legalSet_ && legal_ == legal) return flags_;
    made_ = true;
    legalSet_ = legalAddrChars != nullptr;
    legal_ = legal;
    for (int u = 0; u < 256; ++u) {
      if (legalSet_)
        flags_[u] = strchr(legal, tolower(u)) != nullptr;
      else
        flags_[u] = isalnum(u) || strchr("-._[]/=", u) != nullptr;
    }
    flags_[0] = false;
    return flags_;
  }

 private:
  bool made_ = false;
  bool legalSet_ = false;
  std::string legal_;  // the legal-chars text the table was made for
  bool flags_[256];
} addressChars;

}  // namespace

bool isAddressChar(char c) { return addressChars.table()[static_cast<unsigned char>(c)]; }

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
  const bool *isAddress = addressChars.table();

  // Scan the route parts up to the first '@' or '%'.
  const char *partStart = address;
  const char *p = address;
  for (; *p; ++p) {
    if (isRouteSeparator(*p)) {
      partStart = p + 1;
    } else if (isAddressSeparator(*p)) {
      break;
    } else if (!isAddress[static_cast<unsigned char>(*p)]) {
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
    while (q > address && isAddress[static_cast<unsigned char>(q[-1])] && !isAddressSeparator(q[-1]) &&
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
