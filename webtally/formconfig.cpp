#include <strings.h>

#include <cstring>

#include "webtally.h"

namespace {

// The arrays of the table grow by this many entries at a time.
constexpr unsigned kTableStep = 20;
// Line buffer of webtally.cf: a longer line continues as the next line.
constexpr int kLineSize = 2049;

void appendForm(FormTable *table, const char *key, const char *file) {
  if (table->count % kTableStep == 0) {
    size_t size = (table->count + kTableStep) * sizeof(char *);
    table->keys = static_cast<char **>(memRealloc(table->keys, size));
    table->files = static_cast<char **>(memRealloc(table->files, size));
  }
  table->keys[table->count] = strDup(key);
  table->files[table->count] = strDup(file);
  ++table->count;
}

}  // namespace

FormTable *loadForms(FormTable *table, const char *path) {
  freeForms(table);
  FILE *f = fopen(path ? path : homePath("webtally.cf"), "r");
  if (!f) return table;
  char line[kLineSize];
  char **words = nullptr;
  int count = 0;
  while (fgets(line, sizeof line, f)) {
    count = 0;
    sepwords(&words, &count, line, kQuotesOn);
    if (count < 2 || words[0][0] == '#') continue;
    appendForm(table, words[0], words[1]);
  }
  memRealloc(words, 0);
  fclose(f);
  return table;
}

void freeForms(FormTable *table) {
  for (unsigned i = table->count; i-- > 0;) {
    memRealloc(table->keys[i], 0);
    memRealloc(table->files[i], 0);
  }
  table->keys = static_cast<char **>(memRealloc(table->keys, 0));
  table->files = static_cast<char **>(memRealloc(table->files, 0));
  table->count = 0;
}

const char *formFor(const FormTable *table, const char *key) {
  for (unsigned i = 0; i < table->count; ++i)
    if (strcasecmp(table->keys[i], key) == 0) return table->files[i];
  if (strcasecmp(key, "default") != 0) return formFor(table, "default");
  // KOI8-R: "No initial form is set for the parameter ... Ask the server's
  // administrator!"
  printf("\xee\xc5 \xda\xc1\xc4\xc1\xce\xc1 \xc9\xd3\xc8\xcf\xc4\xce\xc1\xd1 \xc6\xcf\xd2\xcd\xc1 \xc4\xcc\xd1 "
         "\xd0\xc1\xd2\xc1\xcd\xc5\xd4\xd2\xc1 `<B>%s</B>'. \xef\xc2\xd2\xc1\xd4\xc9\xd4\xc5\xd3\xd8 "
         "\xcb\xc1\xc4\xcd\xc9\xce\xc9\xd3\xd4\xd2\xc1\xd4\xcf\xd2\xd5 \xd3\xc5\xd2\xd7\xc5\xd2\xc1!<P>\n",
         htmlEscape(key).c_str());
  return "/dev/null";
}
