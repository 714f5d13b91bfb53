#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "config.h"
#include "date.h"
#include "memory.h"
#include "misc.h"
#include "userbase.h"

namespace {

// White space as the C locale has it, whatever the locale.
bool isWhite(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

const char *flagName(bool native) { return native ? "native" : "english"; }

// Appends a heap copy of each white-space separated word of text to the list.
void appendWords(char ***list, unsigned *count, const char *text) {
  for (;;) {
    while (isWhite(*text)) ++text;
    if (!*text) return;
    const char *start = text;
    while (*text && !isWhite(*text)) ++text;
    if (*count % 10 == 0) {
      *list = static_cast<char **>(memRealloc(*list, (*count + 10) * sizeof(char *)));
    }
    const size_t n = static_cast<size_t>(text - start);
    char *word = static_cast<char *>(memRealloc(nullptr, n + 1));
    memcpy(word, start, n);
    word[n] = '\0';
    (*list)[(*count)++] = word;
  }
}

void freeWords(char ***list, unsigned *count) {
  for (unsigned i = 0; i < *count; ++i) memRealloc((*list)[i], 0);
  *list = static_cast<char **>(memRealloc(*list, 0));
  *count = 0;
}

// *field becomes a heap copy of value; a previous copy is freed.
void replaceString(char **field, const char *value) {
  memRealloc(*field, 0);
  *field = strDup(value);
}

// The whowhen rule: a word, blanks, then a date written YYMMDD (years 70 to
// 99) or YYYYMMDD. A number outside 700001..99989999 keeps the date; a date
// that is not a real one from 1970 on becomes 1 January 1970.
void setWhowhen(Date *date, const char *value) {
  while (*value && !isBlank(*value)) ++value;
  while (isBlank(*value)) ++value;
  unsigned long v = 0;
  for (; *value >= '0' && *value <= '9'; ++value) {
    v = v * 10 + static_cast<unsigned long>(*value - '0');
    if (v > 99989999) break;  // out of range already; no overflow
  }
  if (v >= 700001 && v <= 99989999) {
    int year = static_cast<int>(v / 10000);
    if (year <= 99) year += 1900;
    date->year = year;
    date->month = static_cast<int>(v / 100 % 100);
    date->day = static_cast<int>(v % 100);
  }
  if (date->year < 1970 || date->year > 9999 || date->month < 1 || date->month > 12 ||
      date->day < 1 || date->day > daysInMonth(date->year, date->month)) {
    *date = Date{1, 1, 1970};
  }
}

// One line of user.cf: key and value, both cut out of the line.
void storeLine(UserConf *user, const char *key, char *value) {
  if (strcmp(key, "username") == 0) {
    if (strcmp(value, user->name) != 0)
      error("Bad user name (%s) set in `user.cf' of `%s'", value, user->name);
  } else if (strcmp(key, "accname") == 0) {
    strnzcpy(user->accname, value, sizeof user->accname);
    if (strlen(value) > kUserNameMax)
      error("Account name `%s' truncated to `%s', user `%s'", value, user->accname, user->name);
    setUserData(user, user->accname, "accname");
  } else if (strcmp(key, "prices") == 0) {
    appendWords(&user->prices, &user->priceCount, value);
  } else if (strcmp(key, "addresses") == 0) {
    error("obsolete `addresses' field in user.cf of `%s'", user->name);
  } else if (strcmp(key, "legal") == 0) {
    appendWords(&user->legal, &user->legalCount, value);
  } else if (strcmp(key, "copyto") == 0) {
    replaceString(&user->copyto, value);
    setUserData(user, value, "copyto");
  } else if (strcmp(key, "postmaster") == 0) {
    replaceString(&user->postmaster, value);
    setUserData(user, value, "postmaster");
  } else if (strcmp(key, "contract") == 0 || strcmp(key, "degree") == 0) {
    setUserData(user, value, "contract");
  } else if (strcmp(key, "orgr") == 0) {
    setUserData(user, value, "organization/n");
  } else if (strcmp(key, "orge") == 0) {
    setUserData(user, value, "organization/e");
  } else if (strcmp(key, "namer") == 0 || strcmp(key, "realr") == 0) {
    setUserData(user, value, "realname/n");
  } else if (strcmp(key, "namee") == 0 || strcmp(key, "reale") == 0) {
    setUserData(user, value, "realname/e");
  } else if (strcmp(key, "locationr") == 0 || strcmp(key, "addrr") == 0) {
    setUserData(user, value, "location/n");
  } else if (strcmp(key, "locatione") == 0 || strcmp(key, "addre") == 0) {
    setUserData(user, value, "location/e");
  } else if (strcmp(key, "whowhen") == 0) {
    setUserData(user, value, "whowhen");
    setWhowhen(&user->whowhen, value);
  } else if (strcmp(key, "language") == 0 || strcmp(key, "lang") == 0) {
    setUserData(user, value, "language");
    strnzcpy(user->lang, value, sizeof user->lang);
  } else if (strcmp(key, "ext") == 0) {
    setUserData(user, value, nullptr);
  } else {
    // domain, system, phones and every other key name their own item.
    setUserData(user, value, key);
  }
}

}  // namespace

UserConf *userInit(UserConf *user) {
  *user = UserConf{};
  setDate(&user->whowhen, 0);
  userClear(user);
  return user;
}

void userClear(UserConf *user) {
  freeWords(&user->prices, &user->priceCount);
  freeWords(&user->legal, &user->legalCount);
  user->data = static_cast<UserData *>(memRealloc(user->data, 0));
  user->dataCount = 0;
  user->copyto = static_cast<char *>(memRealloc(user->copyto, 0));
  user->postmaster = static_cast<char *>(memRealloc(user->postmaster, 0));
  user->name[0] = '\0';
  user->lang[0] = '\0';
}

bool getUserConf(UserConf *user, const char *name) {
  if (!name) name = "";
  if (!user) {
    error("System error: no place to fit userconf for `%s'", name);
    return false;
  }
  if (!readUserConf(user, name)) {
    error("Error reading configuration for `%s'", name);
    return false;
  }
  return true;
}

bool readUserConf(UserConf *user, const char *name) {
  if (!name || !*name) return false;
  userClear(user);
  // Refused before anything is copied: the name field holds 15 characters.
  if (strlen(name) > kUserNameMax) {
    error("Too long user name - %s", name);
    user->accname[0] = '\0';
    return false;
  }
  strnzcpy(user->name, name, sizeof user->name);
  setUserData(user, user->name, "username");
  strnzcpy(user->accname, name, sizeof user->accname);

  const std::string path = userPath(name, "user.cf");
  FILE *file = fopen(path.c_str(), "r");
  struct stat st;
  if (file && fstat(fileno(file), &st) == 0 && S_ISDIR(st.st_mode)) {
    // A directory opens but cannot be read; it is no configuration.
    fclose(file);
    file = nullptr;
    errno = EISDIR;
  }
  if (!file) {
    error("Can't get configuration for '%s', error #%d\n", name, errno);
    return false;
  }
  char *line;
  while ((line = readstring(nullptr, 0, file, path.c_str())) != nullptr) {
    while (isWhite(*line)) ++line;
    if (!*line || *line == '#') continue;
    line = strchop(line);
    char *value = line;
    while (*value && !isWhite(*value)) ++value;
    if (*value) *value++ = '\0';
    while (isBlank(*value)) ++value;
    storeLine(user, line, value);
  }
  const bool readError = ferror(file) != 0;
  const int readErrno = errno;
  fclose(file);
  if (readError) {
    // What was read is not the whole configuration; do not pass it on.
    error("Can't get configuration for '%s', error #%d\n", name, readErrno);
    userClear(user);
    return false;
  }

  if (!user->postmaster) {
    user->postmaster = strDup(addrAdmin ? addrAdmin : "");
    error("Postmaster's address not defined for %s, using %s", name, user->postmaster);
  }
  if (user->priceCount == 0) error("No price-lists defined for %s", name);
  return true;
}

void setUserData(UserConf *user, char *value, const char *key) {
  if (!key) {
    // The first word of the value names the item.
    char *p = value;
    while (*p && !isWhite(*p)) ++p;
    if (*p) *p++ = '\0';
    while (isWhite(*p)) ++p;
    key = value;
    value = p;
  }
  const char *slash = strchr(key, '/');
  const size_t length = slash ? static_cast<size_t>(slash - key) : strlen(key);
  const bool native = !slash || slash[1] == 'n' || slash[1] == 'N';
  const int shown = static_cast<int>(length);
  if (length == 0) {
    // An empty name would match the first item of the same flag.
    error("Empty user extension name in user.cf of `%s'", user->name);
    return;
  }

  UserData *item = nullptr;
  if (length <= kUserDataNameMax) {
    for (unsigned i = 0; i < user->dataCount; ++i) {
      UserData *d = &user->data[i];
      if (strncmp(d->name, key, length) == 0 && d->native == native) {
        item = d;
        error("Duplicate user extension for `%s' : %.*s/%s", user->name, shown, key,
              flagName(native));
        break;
      }
    }
  }
  if (!item) {
    if (user->dataCount % 10 == 0) {
      user->data = static_cast<UserData *>(
          memRealloc(user->data, (user->dataCount + 10) * sizeof(UserData)));
    }
    item = &user->data[user->dataCount++];
  }

  if (length > kUserDataNameMax)
    error("%s's user.cf ext.%.*s (name) truncated", user->name, shown, key);
  const size_t kept = length > kUserDataNameMax ? kUserDataNameMax : length;
  memcpy(item->name, key, kept);
  memset(item->name + kept, 0, sizeof item->name - kept);
  strnzcpy(item->value, value, sizeof item->value);
  if (strlen(value) > kUserDataValueMax)
    error("%s's user.cf ext.%s (value) truncated", user->name, value);
  item->native = native ? 1 : 0;
  debug(12, "User data: %s/%s `%s'", item->name, flagName(native), item->value);
}
