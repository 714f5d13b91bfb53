// Fuzz entry point: mail.cf, addresses and traffic lines. The input is a
// mail.cf text (read as the common file and as a user's file), then, after
// a line "%%", traffic lines; each line of five fields has its addresses
// normalised and matched against every class of both sets, as postmeter
// classifies a mail.
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "address.h"
#include "core.h"
#include "fuzz_support.h"
#include "mailcf.h"
#include "mailstat.h"

namespace {

// Matches the address against every class of the set, both ways.
void matchAll(const MailClassSet *set, const char *address) {
  for (int kind : {KIND_FROM, KIND_TO}) {
    classMatch(set, address, true, kind);
    classMatch(set, address, false, kind);
  }
}

void classify(const char *sender, const char *recipient) {
  for (const char *address : {sender, recipient}) {
    std::string normal(strlen(address) + kNormalSlack, '\0');
    if (!normaliseAddress(normal.data(), address)) continue;
    for (char *p = normal.data(); *p; ++p) *p = static_cast<char>(tolower(static_cast<unsigned char>(*p)));
    matchAll(&commonClassSet, normal.c_str());
    for (unsigned i = 0; i < userClassSetCount; ++i) matchAll(&userClassSets[i], normal.c_str());
  }
}

// Every set back to empty, as at the start of a run.
void forgetSets() {
  classSetFree(&commonClassSet);
  classSetInit(&commonClassSet, "common");
  for (unsigned i = 0; i < userClassSetCount; ++i) classSetFree(&userClassSets[i]);
  userClassSets = static_cast<MailClassSet *>(memRealloc(userClassSets, 0));
  userClassSetCount = 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static bool ready = (fuzzsupport::setUpNode(), true);
  (void)ready;
  std::string mailCf, traffic;
  fuzzsupport::split(data, size, &mailCf, &traffic);
  const uint8_t *text = reinterpret_cast<const uint8_t *>(mailCf.data());
  fuzzsupport::writeBytes("home/mail.cf", text, mailCf.size());
  fuzzsupport::writeBytes("home/userbase/fuzz/mail.cf", text, mailCf.size());
  readMailCf(nullptr);
  readMailCf("fuzz");

  char **words = nullptr;
  size_t start = 0;
  while (start < traffic.size()) {
    size_t end = traffic.find('\n', start);
    if (end == std::string::npos) end = traffic.size();
    std::string line = traffic.substr(start, end - start);
    start = end + 1;
    int count = 0;
    sepwords(&words, &count, line.data(), kQuotesOn);
    if (count != 5 || words[0][0] == '#') continue;
    parseSize(words[2]);
    classify(words[0], words[1]);
  }
  memRealloc(words, 0);
  forgetSets();
  return 0;
}
