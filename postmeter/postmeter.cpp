// Traffic lines in, one mail classified and counted (see mailstat.h).
#include <cctype>
#include <cinttypes>
#include <cstring>
#include <vector>

#include "address.h"
#include "core.h"
#include "mailcf.h"
#include "mailstat.h"

bool saveSpecials = false;

namespace {

// Traffic lines are read in pieces of at most 2047 characters.
constexpr int kLineSize = 2048;
// A traffic line has exactly this many fields.
constexpr int kTrafficFields = 5;

// The lower-case normal form of address in buffer; false when it has none.
bool normalForm(std::vector<char> &buffer, const char *address) {
  buffer.resize(strlen(address) + kNormalSlack);
  if (!normaliseAddress(buffer.data(), address)) return false;
  for (char *p = buffer.data(); *p; ++p) *p = static_cast<char>(tolower(static_cast<unsigned char>(*p)));
  return true;
}

// Adds the mail to the user's counter of the class and lists it under -s.
void countMail(StatTable *table, const char *user, const char *className, const MailLine *mail,
               const char *tag) {
  *statCounter(table, user, className) += mail->size;
  if (saveSpecials) saveSpecial(user, className, mail, tag);
}

}  // namespace

ByteCount parseSize(const char *text) {
  ByteCount size = 0;
  for (const char *p = text; *p >= '0' && *p <= '9'; ++p) {
    unsigned digit = static_cast<unsigned>(*p - '0');
    if (size > (UINT64_MAX - digit) / 10) return UINT64_MAX;
    size = size * 10 + digit;
  }
  return size;
}

void processLine(StatTable *table, const char *sender, const char *recipient, ByteCount size,
                 const char *field4, const char *field5) {
  std::vector<char> fromBuffer, toBuffer;
  if (!normalForm(fromBuffer, sender)) {
    error("Bad from address: %s", sender);
    return;
  }
  if (!normalForm(toBuffer, recipient)) {
    error("Bad to address: %s", recipient);
    return;
  }
  const char *from = fromBuffer.data();
  const char *to = toBuffer.data();
  MailLine mail = {from, to, size, field4, field5};
  debug(4, "from=%s to=%s size=%" PRIu64 "\n", from, to, size);

  // Users on one side of the mail whose own classes leave the other side open.
  std::vector<const char *> senders, receivers;
  for (unsigned i = 0; i < userClassSetCount; ++i) {
    const MailClassSet *set = &userClassSets[i];
    const char *user = set->owner;
    if (classMatch(set, from, true, KIND_FROM)) {
      debug(6, "user %s hit(from): %s\n", user, from);
      if (const char *cls = classMatch(set, to, false, KIND_TO)) {
        debug(7, "service %s(%s) hit(to): %s\n", cls, user, to);
        countMail(table, user, cls, &mail, "special to");
      } else {
        senders.push_back(user);
      }
    }
    if (classMatch(set, to, true, KIND_TO)) {
      debug(6, "user %s hit(to): %s\n", user, to);
      if (const char *cls = classMatch(set, from, false, KIND_FROM)) {
        debug(7, "service %s(%s) hit(from): %s\n", cls, user, from);
        countMail(table, user, cls, &mail, "special from");
      } else {
        receivers.push_back(user);
      }
    }
  }

  if (!receivers.empty()) {
    if (const char *cls = classMatch(&commonClassSet, from, false, KIND_FROM)) {
      for (const char *user : receivers) {
        debug(7, "service %s(%s/common) hit(from): %s\n", cls, user, from);
        countMail(table, user, cls, &mail, "common from");
      }
    }
  }
  if (!senders.empty()) {
    if (const char *cls = classMatch(&commonClassSet, to, false, KIND_TO)) {
      for (const char *user : senders) {
        debug(7, "service %s(%s/common) hit(to): %s\n", cls, user, to);
        countMail(table, user, cls, &mail, "common to");
      }
    }
  }
}

void readTraffic(StatTable *table, FILE *stream) {
  char line[kLineSize];
  char **words = nullptr;
  int count = 0;
  while (fgets(line, sizeof line, stream)) {
    count = 0;
    sepwords(&words, &count, line, 1);
    if (count == 0 || words[0][0] == '#') continue;
    if (count != kTrafficFields) {
      error("Mailstat line ignored due to bad field's number (%u)", static_cast<unsigned>(count));
      continue;
    }
    processLine(table, words[0], words[1], parseSize(words[2]), words[3], words[4]);
  }
  memRealloc(words, 0);
}
