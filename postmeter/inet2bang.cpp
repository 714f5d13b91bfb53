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

// What a byte is to the normal form, the separators first.
enum ByteKind : unsigned char { kOther, kAddressChar, kRouteSeparator, kAddressSeparator };

// The address characters as one flag per byte, made again whenever
// legal-chars has changed since: every character of every address is tested.
class AddressChars {
 public:
  // Each byte's ByteKind, as of table().
  const ByteKind *kinds() {
    table();
    return kinds_;
  }
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
    for (int u = 0; u < 256; ++u) {
      char c = static_cast<char>(u);
      kinds_[u] = isRouteSeparator(c) ? kRouteSeparator
                  : isAddressSeparator(c) ? kAddressSeparator
                  : flags_[u] ? kAddressChar : kOther;
    }
    return flags_;
  }

 private:
  bool made_ = false;
  bool legalSet_ = false;
  std::string legal_;  // the legal-chars text the table was made for
  bool flags_[256];
  ByteKind kinds_[256];
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
  const ByteKind *kind = addressChars.kinds();
  auto kindOf = [kind](char c) { return kind[static_cast<unsigned char>(c)]; };

  // Scan the route parts up to the first '@' or '%'.
  const char *partStart = address;
  const char *p = address;
  for (; *p; ++p) {
    ByteKind k = kindOf(*p);
    if (k == kRouteSeparator) {
      partStart = p + 1;
    } else if (k == kAddressSeparator) {
      break;
    } else if (k != kAddressChar) {
      return nullptr;
    }
  }
  if (!*p) return copyRoute(dest, address, p);

  // The route in front of the last part, then the pieces of the address from
  // its right end leftwards, each followed by '!'.
  copyRoute(dest, address, partStart);
  char *out = dest + strlen(dest);
  const char *pieceEnd = p + strlen(p);
  for (;;) {
    const char *q = pieceEnd;
    while (q > address && kindOf(q[-1]) == kAddressChar) --q;
    out = appendPiece(out, q, pieceEnd);
    if (q == address || kindOf(q[-1]) == kRouteSeparator) break;
    if (kindOf(q[-1]) != kAddressSeparator) return nullptr;
    pieceEnd = q - 1;
  }
  out[-1] = '\0';  // the last '!'
  return dest;
}
