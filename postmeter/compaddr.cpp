// Class patterns compiled and matched against normalised addresses.
#include <cstring>
#include <string>

#include "address.h"
#include "core.h"
#include "mailcf.h"

int compileRegex(MailClassEntry *entry, const char *pattern, bool anchored) {
  std::string text = anchored ? std::string("^") + pattern + "$" : std::string(pattern);
  int rc = regcomp(&entry->pattern, text.c_str(), REG_EXTENDED | REG_NOSUB);
  if (rc != 0 && anchored) error("Can't compile regex `%s'", text.c_str());
  // The run's set matcher compiles the same text once more.
  if (rc == 0) {
    entry->text = static_cast<char *>(memRealloc(entry->text, text.size() + 1));
    memcpy(entry->text, text.c_str(), text.size() + 1);
  }
  return rc;
}

bool regexMatch(const MailClassEntry *entry, const char *address) {
  return regexec(&entry->pattern, address, 0, nullptr, 0) == 0;
}
