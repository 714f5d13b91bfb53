#include "webtally.h"

namespace {

// The user name of a record, null when none is bound.
const char *userOf(const UserConf *user) { return user->name[0] ? user->name : nullptr; }

void includeForm(FILE *out, UserConf *user, const char *name) {
  // The depth is checked before anything is opened, so a form that includes
  // itself stops here.
  FILE *f = formDepth() < kMaxFormDepth ? openLangForm(name, userOf(user), user->lang) : nullptr;
  if (!f) {
    error("No form to include - `%s'", name);
    return;
  }
  interpretForm(out, userOf(user), f);
  setLanguage(user->lang);
  bindUser(user->name, user->accname);
}

void includeFile(FILE *out, UserConf *user, const char *name) {
  FILE *f = openLangForm(name, userOf(user), user->lang);
  if (!f) {
    error("No file to include - `%s'", name);
    return;
  }
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) fwrite(buf, 1, n, out);
  fflush(out);
  fclose(f);
}

}  // namespace

void cmdInclude(FILE *out, UserConf *user, char *args) {
  CommandArg slots[] = {{"form", ARG_STRING, false, {}}, {"file", ARG_STRING, false, {}}, {}};
  parseArgs(slots, args);
  if (slots[0].set) includeForm(out, user, slots[0].value.text);
  if (slots[1].set) includeFile(out, user, slots[1].value.text);
  freeArgs(slots);
}
