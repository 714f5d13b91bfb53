#include <cstring>

#include "layout.h"

const char *userField(const UserConf *user, const char *name, const char *dflt, bool native,
                      bool english) {
  if (!name) name = "";
  size_t len = strlen(name);
  // Both flags, like neither, take items of either language.
  bool anyLanguage = native == english;
  const UserData *choice = nullptr;
  unsigned matches = 0;
  for (unsigned i = 0; i < user->dataCount; ++i) {
    const UserData *item = &user->data[i];
    if (strncmp(item->name, name, len) != 0) continue;
    if (!anyLanguage && (item->native != 0) != native) continue;
    if (!choice || strcmp(item->name, choice->name) != 0) {
      choice = item;
      ++matches;
    } else if (item->native) {
      choice = item;  // the native variant of a name wins
    }
  }
  if (matches == 1) return choice->value;
  if (matches > 1) error("Ambiguous extension name for `%s' - `%s'", user->name, name);
  return dflt;
}
