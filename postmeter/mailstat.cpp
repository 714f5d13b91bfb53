// The byte table, the totals output and the per-class listing (see mailstat.h).
#include "mailstat.h"

#include <sys/stat.h>

#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <string>

#include "core.h"
#include "userbase.h"

namespace {

// The table's arrays grow in steps of this many entries.
constexpr unsigned kTableStep = 10;

// Grows array (count entries in use) by kTableStep entries when it is full.
template <typename T>
T *growArray(T *array, unsigned count) {
  if (count % kTableStep != 0) return array;
  return static_cast<T *>(memRealloc(array, (count + kTableStep) * sizeof *array));
}

// Closes an output stream (path: the file it writes); false, after a warning
// that names the file and the reason, when something written to it was lost.
bool closeOutput(FILE *out, const char *user, const char *name, const char *path) {
  int reason = fflush(out) != 0 ? errno : 0;
  bool failed = reason != 0 || ferror(out) != 0;
  if (fclose(out) != 0) {
    if (!reason) reason = errno;
    failed = true;
  }
  if (failed) {
    // An error flag set by an earlier write leaves no errno of its own.
    const char *why = strerror(reason ? reason : EIO);
    if (user)
      error("mailstat: can't write output file ~%s/%s (%s: %s)", user, name, path, why);
    else
      error("mailstat: can't write output file %s (%s)", name, why);
  }
  return !failed;
}

}  // namespace

void statTableInit(StatTable *table) {
  table->users = nullptr;
  table->userCount = 0;
  table->classes = nullptr;
  table->classCounts = nullptr;
  table->userIndex.clear();
  table->setPlaces.clear();
}

void statTableFree(StatTable *table) {
  for (unsigned u = 0; u < table->userCount; ++u) memRealloc(table->classes[u], 0);
  memRealloc(table->users, 0);
  memRealloc(table->classes, 0);
  memRealloc(table->classCounts, 0);
  statTableInit(table);
}

namespace {

// The user's place in the table, added when new.
unsigned userPlace(StatTable *table, const char *user) {
  auto [place, added] = table->userIndex.try_emplace(user, table->userCount);
  unsigned u = place->second;
  if (added) {
    table->users = growArray(table->users, u);
    table->classes = growArray(table->classes, u);
    table->classCounts = growArray(table->classCounts, u);
    table->users[u] = user;
    table->classes[u] = nullptr;
    table->classCounts[u] = 0;
    ++table->userCount;
  }
  return u;
}

// The counter of class className in the user's place u, appended when new.
ByteCount *classCounter(StatTable *table, unsigned u, const char *className) {
  unsigned count = table->classCounts[u];
  StatClass *classes = table->classes[u];
  unsigned c = 0;
  // Mostly the very name counted before, which spares reading the names.
  while (c < count && classes[c].name != className) ++c;
  if (c == count) {
    c = 0;
    while (c < count && strcmp(classes[c].name, className) != 0) ++c;
  }
  if (c == count) {
    classes = table->classes[u] = growArray(classes, c);
    classes[c] = {className, 0};
    ++table->classCounts[u];
  }
  return &classes[c].bytes;
}

}  // namespace

ByteCount *statCounter(StatTable *table, const char *user, const char *className) {
  return classCounter(table, userPlace(table, user), className);
}

ByteCount *statCounterOfSet(StatTable *table, unsigned setIndex, const char *user, const char *className) {
  if (setIndex >= table->setPlaces.size()) table->setPlaces.resize(setIndex + 1, 0);
  unsigned &place = table->setPlaces[setIndex];
  if (place == 0) place = userPlace(table, user) + 1;
  return classCounter(table, place - 1, className);
}

void statPrefetch(const StatTable *table, unsigned setIndex) {
  if (setIndex < table->setPlaces.size() && table->setPlaces[setIndex] != 0)
    __builtin_prefetch(table->classes[table->setPlaces[setIndex] - 1]);
}

bool writeStat(StatTable *table, const char *output) {
  FILE *single = nullptr;
  const char *fileName = nullptr;
  if (!output || output[0] == '-') {
    single = stdout;
  } else if (output[0] == '~') {
    fileName = output + 1;
  } else {
    single = fopen(output, "a");
    if (!single) fatal(1, "mailstat: can't open output file %s (%s)\n", output, strerror(errno));
  }

  bool ok = true;
  for (unsigned u = 0; u < table->userCount; ++u) {
    const char *user = table->users[u];
    FILE *out = single;
    std::string path;
    bool headerWritten = false;
    for (unsigned c = 0; c < table->classCounts[u]; ++c) {
      ByteCount bytes = table->classes[u][c].bytes;
      if (bytes == 0) continue;
      if (!out) {
        path = userPath(user, fileName);
        out = fopen(path.c_str(), "a");
        if (!out)
          fatal(1, "mailstat: can't open output file ~%s/%s (%s: %s)\n", user, fileName, path.c_str(),
                strerror(errno));
      }
      if (!headerWritten) {
        fprintf(out, "#============================= user=%s, date=%d/%02d/%d\n", user, today.day,
                today.month, today.year);
        headerWritten = true;
      }
      if (single) fprintf(out, "%s\t", user);
      fprintf(out, "%s\t%" PRIu64 "\n", table->classes[u][c].name, bytes);
    }
    if (fileName && out && !closeOutput(out, user, fileName, path.c_str())) ok = false;
  }
  if (single && !closeOutput(single, nullptr, single == stdout ? "-" : output, nullptr)) ok = false;
  return ok;
}

void saveSpecial(const char *user, const char *className, const MailLine *mail, const char *tag) {
  std::string path = userPath(user, "mail");
  mkdir(path.c_str(), 0700);  // failing because it exists is the usual case
  path += "/";
  path += className;
  FILE *file = fopen(path.c_str(), "a");
  if (!file) {
    error("Cannot append `%s'", path.c_str());
    return;
  }
  fprintf(file, "%-25s %-25s %10" PRIu64 " %8s %8s %16s (%s)\n", mail->sender, mail->recipient,
          mail->size, mail->field4, mail->field5, className, tag);
  fclose(file);
}
