#include <strings.h>

#include <cctype>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core.h"
#include "formula.h"
#include "sqldata.h"
#include "tallymill.h"
#include "userbase.h"

Service *services;
unsigned serviceCount;

namespace {

// Paths of a price list, its language variants included, fit in this many
// bytes; a longer one is refused like a missing file.
constexpr size_t kPathMax = 2048;
constexpr size_t kLineMax = 2048;
constexpr size_t kDescrMax = 301;

enum class DescrState { None, Fresh, Appending };

// Per-file parse state.
struct ParseState {
  char group[17];
  unsigned last;
  DescrState descr;
};

// The path with ".L" inserted before the last "." of its file name (or
// appended when the file name has none); L is one or two characters.
std::string languageVariant(const std::string &path, const char *lang) {
  size_t slash = path.rfind('/');
  size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  size_t dot = path.rfind('.');
  std::string code = std::string(".") + std::string(lang).substr(0, 2);
  if (dot == std::string::npos || dot < nameStart) return path + code;
  return path.substr(0, dot) + code + path.substr(dot);
}

std::string listPath(const UserConf *user, const char *name) {
  if (name[0] == '/') return name;
  if (name[0] == '~') return userPath(user->name, name + 1);
  return std::string(homeDir) + "/prices/" + name;
}

FILE *openIfFits(const std::string &path) {
  if (path.size() >= kPathMax) return nullptr;
  return fopen(path.c_str(), "r");
}

// Opens the first of: the user's language variant, the plain path, the
// configured language's variant (when it differs from the user's code).
FILE *openPriceList(const UserConf *user, const char *name, std::string *opened) {
  std::string path = listPath(user, name);
  const char *userLang = user->lang[0] ? user->lang : language;
  std::string tried = languageVariant(path, userLang);
  FILE *f = openIfFits(tried);
  if (!f) {
    tried = path;
    f = openIfFits(tried);
  }
  if (!f && strcmp(language, user->lang) != 0) {
    tried = languageVariant(path, language);
    f = openIfFits(tried);
  }
  if (!f) {
    error("Can't open prices file for '%s' (%s)\n", user->name, tried.c_str());
    markIncomplete();
  }
  *opened = tried;
  return f;
}

void describe(ParseState &st, char *line) {
  char *text = strchop(line);
  if (st.descr == DescrState::None) {
    error("Misplaced price comment (%s)", text);
    return;
  }
  char *descr = services[st.last].descr;
  if (st.descr == DescrState::Fresh) {
    descr[0] = '\0';
    st.descr = DescrState::Appending;
  }
  size_t len = strlen(descr);
  if (len > 0 && len < kDescrMax) descr[len++] = ' ';
  descr[len] = '\0';
  strncat(descr, text, kDescrMax - len);
}

void setPrices(char **words, int count) {
  if (count < 2) {
    error("No formula given in `setprices' directive");
    return;
  }
  Symbol table[] = {{"price", SYM_VALUE, 0.0, nullptr, nullptr, nullptr},
                    {nullptr, SYM_VALUE, 0.0, nullptr, nullptr, nullptr}};
  setExprTables(table, nullptr);
  for (unsigned i = 0; i < serviceCount; ++i) {
    table[0].value = services[i].price;
    double price;
    if (evaluate(&price, words[1]) == 0)
      services[i].price = price;
    else {
      error("Bad formula - price for `%s' leaved as is", services[i].name);
      markIncomplete();
    }
  }
  setExprTables(nullptr);
}

// The description of a group line is the words after "group" or a lone
// ":", or all words with the ":" of a joined first word removed.
void groupDirective(ParseState &st, const UserConf *user, char **words, int count) {
  bool joined = strcmp(words[0], "group") != 0 && strcmp(words[0], ":") != 0;
  std::string descr = joined ? words[0] + 1 : "";
  for (int i = 1; i < count; ++i) {
    if (i > 1 || joined) descr += " ";
    descr += words[i];
  }
  strnzcpy(st.group, sgroupName(descr.c_str(), user->lang), sizeof st.group);
}

// A currency name is letters: ASCII ones and the bytes from 128 on (the
// KOI8-R letters). "0,45" would otherwise be the price 0 in a currency ",45".
bool isCurrencyName(const std::string &text) {
  for (unsigned char c : text)
    if (c < 128 && !isalpha(c)) return false;
  return true;
}

// The currency text after the price number into currency ("" for the base
// currency); false when the price word's own text is no currency name.
bool readCurrency(const char *rest, char *currency) {
  while (*rest == '(' || isspace(static_cast<unsigned char>(*rest))) ++rest;
  std::string text = rest;
  while (!text.empty() && isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
  while (!text.empty() && text.back() == ')') text.pop_back();
  const bool own = !text.empty();
  if (!own && priceCurrency) text = priceCurrency;
  if (text.empty() || text[0] == '@' || strcasecmp(text.c_str(), getMessage(currencyName)) == 0 ||
      strcasecmp(text.c_str(), currencyName) == 0) {
    currency[0] = '\0';
    return true;
  }
  if (own && !isCurrencyName(text)) return false;
  strnzcpy(currency, text.c_str(), 17);
  return true;
}

void serviceLine(ParseState &st, const char *path, char **words, int count) {
  // The price is read first: a refused line leaves the table as it was.
  const char *rest;
  const double price = decimalNumber(words[2], &rest);
  char currency[17];
  if (!readCurrency(rest, currency)) {
    error("Bad price `%s' for `%s' in price list %s, line ignored", words[2], words[0], path);
    markIncomplete();
    return;
  }
  unsigned i = 0;
  while (i < serviceCount && strcmp(services[i].name, words[0]) != 0) ++i;
  if (i == serviceCount) {
    if (serviceCount % 10 == 0)
      services = static_cast<Service *>(memRealloc(services, (serviceCount + 10) * sizeof(Service)));
    Service &s = services[serviceCount++];
    memset(&s, 0, sizeof s);
    strnzcpy(s.group, st.group, sizeof s.group);
    strnzcpy(s.descr, words[0], sizeof s.descr - 1);
  }
  Service &s = services[i];
  strnzcpy(s.name, words[0], sizeof s.name);
  if (strlen(words[0]) >= sizeof s.name) error("name truncated to `%s'", s.name);
  strnzcpy(s.formula, words[1], sizeof s.formula);
  if (strlen(words[1]) >= sizeof s.formula) error("formula truncated to `%s'", s.formula);
  strnzcpy(s.sname, count >= 4 ? words[3] : "-", sizeof s.sname);
  s.price = price;
  strnzcpy(s.currency, currency, sizeof s.currency);
  st.descr = DescrState::Fresh;
  st.last = i;
  debug(6,
        "services[%u]={name='%s', group='%s', formula='%s', sname='%s', price=%.3f, currency='%s'}\n",
        i, s.name, s.group, s.formula, s.sname, s.price, s.currency);
}

void readList(FILE *f, const char *path, const UserConf *user, char ***words) {
  ParseState st;
  strnzcpy(st.group, "misc", sizeof st.group);
  st.last = 0;
  st.descr = DescrState::None;
  char line[kLineMax];
  while (readstring(line, sizeof line, f)) {
    if (line[0] == ' ' || line[0] == '\t') {
      describe(st, line);
      continue;
    }
    int count = 0;
    sepwords(words, &count, line, 1);
    if (count == 0 || (*words)[0][0] == '#') continue;
    char **w = *words;
    if (strcmp(w[0], "setprices") == 0) {
      setPrices(w, count);
    } else if (strcmp(w[0], "group") == 0 || w[0][0] == ':') {
      groupDirective(st, user, w, count);
    } else if (strcmp(w[0], "gid") == 0) {
      // A gid line without a name changes nothing.
      if (count < 2)
        error("No group name in `gid' line of price list %s, line ignored", path);
      else
        strnzcpy(st.group, w[1], sizeof st.group);
    } else if (count < 3) {
      // A service left out of the bill, as with a price refused.
      error("Only %d fields in price list line %s", count, w[0]);
      markIncomplete();
    } else {
      serviceLine(st, path, w, count);
    }
  }
}

}  // namespace

void readPriceLists(const UserConf *user) {
  memRealloc(services, 0);
  services = nullptr;
  serviceCount = 0;
  // getUserConf has said that he has none.
  if (user->priceCount == 0) markIncomplete();
  char **words = nullptr;
  for (unsigned i = 0; i < user->priceCount; ++i) {
    std::string path;
    FILE *f = openPriceList(user, user->prices[i], &path);
    if (!f) continue;
    readList(f, path.c_str(), user, &words);
    fclose(f);
  }
  memRealloc(words, 0);
}
