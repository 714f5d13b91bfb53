// Message catalogue: every user-visible text is looked up by key.
//
// languages.cf in the home directory maps language names to message files in
// the home directory. A message file holds lines of key and text (split as
// sepwords does with quoting); a line beginning with white space continues the
// text of the last key. Languages are loaded on first use and kept until exit.
// A key without text yields the key itself.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The texts of one language: parallel arrays of keys and texts, in the order
// the keys first appeared; grown in steps of 20.
struct MessageTable {
  uint32_t count = 0;
  char **values = nullptr;
  char **keys = nullptr;

  MessageTable() = default;
  explicit MessageTable(const char *file);
  ~MessageTable();
  MessageTable(const MessageTable &) = delete;
  MessageTable &operator=(const MessageTable &) = delete;
};

// The process-wide catalogue: language names (as first asked for) with their
// tables, grown in steps of 10, and the current table. Several names may share
// one table (an undefined language uses the configured language's texts).
struct LanguageList {
  uint32_t count;
  char **names;
  MessageTable **tables;
  MessageTable *current;

  LanguageList();
  ~LanguageList();
  LanguageList(const LanguageList &) = delete;
  LanguageList &operator=(const LanguageList &) = delete;
  // Finds or loads the table of a language; null or "" is the configured one.
  MessageTable *loadLanguage(const char *name);
};

// Makes the table of name current (loaded on first use); null or "" is the
// configured language.
void setLanguage(const char *name);
// The text of key in the current table (lang null) or in lang's table; the key
// pointer itself when there is none. Valid until exit.
const char *getMessage(const char *key, const char *lang = nullptr);
// The language names of languages.cf in the order of its lines (none when it
// cannot be read); nothing is loaded.
std::vector<std::string> catalogueLanguages();
// The registered name of the current table, else the configured language.
const char *currentLanguage();

// Empties table and fills it from the message file in the home directory;
// 0 when read, 1 when the file cannot be opened.
int loadMessages(MessageTable *table, const char *file);
// Index of key in table, or table->count when absent.
uint32_t findMessage(const MessageTable *table, const char *key);
// The text of key in table, or key itself.
const char *lookupMessage(const MessageTable *table, const char *key);
// Frees every key and text and both arrays.
void clearMessages(MessageTable *table);
