#include <strings.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "formula.h"
#include "webtally.h"

namespace {

// A decimal number as a 32-bit strtol reads it: leading white space and a
// sign allowed, digits up to the first other character, none gives 0, and a
// value beyond the range gives its end.
int32_t readInteger(const char *text) {
  long value = strtol(text, nullptr, 10);
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

bool validDate(const Date &d) {
  return d.year >= 1900 && d.year <= 9999 && d.month >= 1 && d.month <= 12 && d.day >= 1 &&
         d.day <= daysInMonth(d.year, d.month);
}

}  // namespace

bool moveReportDate(Date *date, const char *text) {
  Date moved = *date;
  parseDate(&moved, text);
  if (!validDate(moved)) {
    error("Bad date `%s' ignored", printable(text).c_str());
    return false;
  }
  *date = moved;
  return true;
}

bool argMatches(const CommandArg *slot, const char *name) {
  return strncasecmp(slot->name, name, strlen(name)) == 0;
}

void freeArgValue(CommandArg *slot) {
  if (slot->type == ARG_STRING) slot->value.text = static_cast<char *>(memRealloc(slot->value.text, 0));
  if (slot->type == ARG_DATE) slot->value.date = static_cast<Date *>(memRealloc(slot->value.date, 0));
}

void freeArgs(CommandArg *slots) {
  for (CommandArg *slot = slots; slot->name; ++slot) freeArgValue(slot);
}

bool setArgValue(CommandArg *slot, const char *value) {
  // A string without "=" carries no text: it counts as not given.
  if (slot->type == ARG_STRING && !value) return true;
  slot->set = true;
  if (!value) return true;
  switch (slot->type) {
    case ARG_FLAG:
      return true;
    case ARG_STRING:
      freeArgValue(slot);
      slot->value.text = strDup(value);
      return true;
    case ARG_EXPRESSION:
      if (evaluate(&slot->value.real, value) != 0) {
        error("Cannot set value due to bad expression - %s", value);
        slot->set = false;
        return false;
      }
      return true;
    case ARG_INTEGER:
      slot->value.integer = readInteger(value);
      return true;
    case ARG_DATE:
      freeArgValue(slot);
      slot->value.date = static_cast<Date *>(memRealloc(nullptr, sizeof(Date)));
      *slot->value.date = today;
      moveReportDate(slot->value.date, value);
      return true;
  }
  slot->set = false;
  return false;
}

void parseArgs(CommandArg *slots, char *text) {
  char **words = nullptr;
  int count = 0;
  sepwords(&words, &count, text, kQuotesOn);
  for (int i = 0; i < count; ++i) {
    char *name = words[i];
    char *value = strchr(name, '=');
    if (value) *value++ = '\0';
    CommandArg *match = nullptr;
    int matches = 0;
    for (CommandArg *slot = slots; slot->name; ++slot) {
      if (!argMatches(slot, name)) continue;
      match = slot;
      ++matches;
    }
    if (matches == 0) {
      error("Bad argument - %s", name);
    } else if (matches > 1) {
      error("Ambiguous argument - %s", name);
    } else if (!setArgValue(match, value)) {
      error("Something wrong with argument value - %s=\"%s\"", name, value ? value : "");
    }
  }
  memRealloc(words, 0);
}
