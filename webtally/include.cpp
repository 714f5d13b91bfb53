#include "webtally.h"

namespace {

// Forms and files included by one request at most: within the depth bound a
// form that includes itself twice would still run 2^15 forms.
constexpr unsigned kMaxIncludes = 256;
unsigned includes = 0;  // forms and files opened so far
bool includesRefused = false;

// The user name of a record, null when none is bound.
const char *userOf(const UserConf *user) { return user->name[0] ? user->name : nullptr; }

// Opens the form or file (kind) that an include names, counted against the
// request's share; null, after a warning, when nothing opens, when it may not
// open (too deep) or when the request has had its share.
FILE *openIncluded(const UserConf *user, const char *name, const char *kind, bool tooDeep) {
  if (includes >= kMaxIncludes) {
    if (!includesRefused)
      error("More than %u includes in one page, `%s' and the rest left out", kMaxIncludes, name);
    includesRefused = true;
    return nullptr;
  }
  FILE *f = tooDeep ? nullptr : openLangForm(name, userOf(user), user->lang);
  if (!f) {
    error("No %s to include - `%s'", kind, name);
    return nullptr;
  }
  ++includes;
  return f;
}

void includeForm(FILE *out, UserConf *user, const char *name) {
  // The depth is checked before anything is opened, so a form that includes
  // itself stops here.
  FILE *f = openIncluded(user, name, "form", formDepth() >= kMaxFormDepth);
  if (!f) return;
  interpretForm(out, userOf(user), f);
  setLanguage(user->lang);
  bindUser(user->name, user->accname);
}

void includeFile(FILE *out, UserConf *user, const char *name) {
  FILE *f = openIncluded(user, name, "file", false);
  if (!f) return;
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
