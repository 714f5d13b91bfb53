#include "language.h"

#include <strings.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "config.h"
#include "memory.h"
#include "misc.h"

namespace {

LanguageList catalogue;

const char *configuredLanguage() { return language ? language : ""; }

// Reads a line the way fgets does into buf and splits it with quoting on.
// Returns false at end of file.
bool readWords(FILE *f, char *buf, int size, char ***words, int *count) {
  if (!fgets(buf, size, f)) return false;
  *count = 0;
  sepwords(words, count, buf, kQuotesOn);
  return true;
}

bool isWhite(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

MessageTable::MessageTable(const char *file) { loadMessages(this, file); }

MessageTable::~MessageTable() { clearMessages(this); }

void clearMessages(MessageTable *table) {
  for (uint32_t i = 0; i < table->count; ++i) {
    memRealloc(table->keys[i], 0);
    memRealloc(table->values[i], 0);
  }
  memRealloc(table->keys, 0);
  memRealloc(table->values, 0);
  table->keys = table->values = nullptr;
  table->count = 0;
}

uint32_t findMessage(const MessageTable *table, const char *key) {
  uint32_t i = 0;
  while (i < table->count && strcmp(table->keys[i], key) != 0) ++i;
  return i;
}

const char *lookupMessage(const MessageTable *table, const char *key) {
  uint32_t i = findMessage(table, key);
  return i < table->count ? table->values[i] : key;
}

int loadMessages(MessageTable *table, const char *file) {
  clearMessages(table);
  FILE *f = fopen(homePath(file), "r");
  if (!f) {
    error("Can't read `%s'", file);
    return 1;
  }
  char buf[2048];
  char **words = nullptr;
  int count = 0;
  char *lastText = nullptr;  // text of the last key line
  uint32_t lastIndex = 0;
  bool haveLast = false;
  while (true) {
    if (!fgets(buf, sizeof buf, f)) break;
    bool continuation = isWhite(buf[0]);
    count = 0;
    sepwords(&words, &count, buf, kQuotesOn);
    if (count == 0 || words[0][0] == '#') continue;
    if (continuation) {
      if (!haveLast) {
        error("Continuation of unknown field `%s'", words[0]);
        continue;
      }
      size_t a = strlen(lastText), b = strlen(words[0]);
      lastText = static_cast<char *>(memRealloc(lastText, a + b + 1));
      memcpy(lastText + a, words[0], b + 1);
      table->values[lastIndex] = lastText;
      continue;
    }
    // A key line without a text word gives the key an empty text.
    const char *text = count > 1 ? words[1] : "";
    uint32_t i = findMessage(table, words[0]);
    if (i < table->count) {
      memRealloc(table->values[i], 0);
      table->values[i] = strDup(text);
    } else {
      if (table->count % 20 == 0) {
        size_t n = (table->count + 20) * sizeof(char *);
        table->keys = static_cast<char **>(memRealloc(table->keys, n));
        table->values = static_cast<char **>(memRealloc(table->values, n));
      }
      table->keys[table->count] = strDup(words[0]);
      table->values[table->count] = strDup(text);
      ++table->count;
    }
    lastIndex = i;
    lastText = table->values[i];
    haveLast = true;
  }
  memRealloc(words, 0);
  fclose(f);
  return 0;
}

LanguageList::LanguageList() : count(0), names(nullptr), tables(nullptr), current(nullptr) {}

LanguageList::~LanguageList() {
  for (uint32_t i = 0; i < count; ++i) {
    // A table shared by several names is deleted with its first name only.
    bool seen = false;
    for (uint32_t j = 0; j < i && !seen; ++j) seen = tables[j] == tables[i];
    if (!seen) delete tables[i];
    memRealloc(names[i], 0);
  }
  memRealloc(names, 0);
  memRealloc(tables, 0);
}

MessageTable *LanguageList::loadLanguage(const char *name) {
  if (!name || !*name) name = configuredLanguage();
  for (uint32_t i = 0; i < count; ++i)
    if (strcasecmp(names[i], name) == 0) return tables[i];
  if (count % 10 == 0) {
    names = static_cast<char **>(memRealloc(names, (count + 10) * sizeof(char *)));
    tables = static_cast<MessageTable **>(memRealloc(tables, (count + 10) * sizeof(MessageTable *)));
  }
  uint32_t slot = count++;
  names[slot] = strDup(name);
  MessageTable *table = new MessageTable();
  tables[slot] = table;

  FILE *f = fopen(homePath("languages.cf"), "r");
  if (!f) {
    error("No languages.cf file!! I'll speak my weird internal language!\n");
    return table;
  }
  char buf[2049];
  char **words = nullptr;
  int n = 0;
  while (readWords(f, buf, sizeof buf, &words, &n)) {
    if (n == 0 || words[0][0] == '#') continue;
    if (strcasecmp(words[0], name) == 0) {
      // A line naming the language but no message file: an empty table.
      char *file = n > 1 ? strDup(words[1]) : nullptr;
      memRealloc(words, 0);
      fclose(f);
      if (file) loadMessages(table, file);
      memRealloc(file, 0);
      return table;
    }
  }
  memRealloc(words, 0);
  fclose(f);
  error("No definition for language `%s' found in `languages.cf'\n", name);
  if (strcasecmp(name, configuredLanguage()) == 0) return table;
  // Bind the name to the configured language's table for good.
  MessageTable *configured = loadLanguage(nullptr);
  delete table;
  tables[slot] = configured;
  return configured;
}

void setLanguage(const char *name) { catalogue.current = catalogue.loadLanguage(name); }

const char *getMessage(const char *key, const char *lang) {
  const MessageTable *table = lang ? catalogue.loadLanguage(lang) : catalogue.current;
  if (!table) return key;
  return lookupMessage(table, key);
}

std::vector<std::string> catalogueLanguages() {
  std::vector<std::string> names;
  FILE *f = fopen(homePath("languages.cf"), "r");
  if (!f) return names;
  char buf[2049];
  char **words = nullptr;
  int n = 0;
  while (readWords(f, buf, sizeof buf, &words, &n))
    if (n > 0 && words[0][0] != '#') names.push_back(words[0]);
  memRealloc(words, 0);
  fclose(f);
  return names;
}

const char *currentLanguage() {
  for (uint32_t i = 0; i < catalogue.count; ++i)
    if (catalogue.tables[i] == catalogue.current) return catalogue.names[i];
  return configuredLanguage();
}
