#include <dirent.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "config.h"
#include "memory.h"
#include "misc.h"
#include "userbase.h"

namespace {

// The list under construction.
struct NameList {
  UserList names = nullptr;
  unsigned count = 0;
  unsigned leftOut = 0;  // customer folders that are no user
};

// Folders left out by the last walk, and whether a walk of this process has
// reported them already: a run that walks twice says it once.
unsigned lastLeftOut = 0;
bool leftOutReported = false;

// Why a folder that looks like a customer's is no user.
enum class LeftOut { BAD_NAME, NO_USER_CF_FILE };

// Counts such a folder, and says so on the first walk of the process.
void leaveOut(NameList *list, LeftOut why, const char *name) {
  ++list->leftOut;
  if (leftOutReported) return;
  if (why == LeftOut::BAD_NAME)
    error("`%s' is not a user name: only letters, digits, - and _", name);
  else
    error("user.cf of `%s' is not a file", name);
}

// Every entry but the hidden ones (".", ".." and every name beginning with a
// dot), which are no customer's and are passed over without a word.
int notHidden(const struct dirent *entry) { return entry->d_name[0] != '.'; }

// ASCII only, whatever the locale.
bool isNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '_';
}

// Byte order of the names; the list must not depend on the locale.
int byName(const struct dirent **a, const struct dirent **b) {
  return strcmp((*a)->d_name, (*b)->d_name);
}

bool isDirectory(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// isDirectory of the entry at path, from the kind the directory listing
// gives where it gives one (a node of thousands of users is listed without
// a stat per folder); a symbolic link is followed.
bool isDirectory(const struct dirent *entry, const std::string &path) {
  if (entry->d_type == DT_DIR) return true;
  if (entry->d_type != DT_UNKNOWN && entry->d_type != DT_LNK) return false;
  return isDirectory(path);
}

bool isRegularFile(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool exists(const std::string &path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

void append(NameList *list, const char *name) {
  if (list->count % 10 == 0) {
    list->names = static_cast<UserList>(
        memRealloc(list->names, (list->count + 10) * sizeof(char *)));
  }
  list->names[list->count++] = strDup(name);
}

// Appends every user found below path (a directory path ending in "/") whose
// level has the given prefix. path is used as working space behind its end
// and is restored before returning; so is prefix.
void scanUserDir(NameList *list, std::string &path, std::string &prefix) {
  const size_t end = path.size();
  struct stat st;
  const bool index = stat((path + ".alpha").c_str(), &st) == 0;
  struct dirent **entries = nullptr;
  int n = scandir(path.c_str(), &entries, notHidden, byName);
  if (n < 0) return;  // unreadable: skipped silently
  for (int i = 0; i < n; ++i) {
    const char *name = entries[i]->d_name;
    path.resize(end);
    path += name;
    if (!isUserDirName(entries[i])) {
      // Never a user nor an index level; other entries than folders are no
      // customer's.
      if (isDirectory(entries[i], path)) leaveOut(list, LeftOut::BAD_NAME, name);
      continue;
    }
    if (index) {
      // Only the next longer prefix counts here.
      if (strlen(name) != prefix.size() + 1 || strncmp(name, prefix.c_str(), prefix.size()) != 0)
        continue;
      if (!isDirectory(entries[i], path)) continue;
      path += '/';
      prefix += name[prefix.size()];
      scanUserDir(list, path, prefix);
      prefix.pop_back();
    } else {
      if (!isDirectory(entries[i], path)) continue;
      path += "/user.cf";
      if (isRegularFile(path))
        append(list, name);
      else if (exists(path))
        leaveOut(list, LeftOut::NO_USER_CF_FILE, name);
    }
  }
  path.resize(end);
  for (int i = 0; i < n; ++i) free(entries[i]);
  free(entries);
}

}  // namespace

int isUserDirName(const char *name) {
  if (!name || !*name) return 0;
  for (; *name; ++name) {
    if (!isNameChar(*name)) return 0;
  }
  return 1;
}

int isUserDirName(const struct dirent *entry) { return isUserDirName(entry->d_name); }

bool getUserList(UserList *list, unsigned *count) {
  *list = nullptr;
  *count = 0;
  NameList found;
  std::string path = userBase ? userBase : "";
  path += '/';
  std::string prefix;
  scanUserDir(&found, path, prefix);
  lastLeftOut = found.leftOut;
  leftOutReported = true;
  if (found.count == 0) return false;
  *list = found.names;
  *count = found.count;
  return true;
}

void freeUserList(UserList list, unsigned count) {
  for (unsigned i = 0; i < count; ++i) memRealloc(list[i], 0);
  memRealloc(list, 0);
}

unsigned leftOutUserDirs() { return lastLeftOut; }

bool forEachUser(UserCallback callback) {
  UserList list;
  unsigned count;
  if (!getUserList(&list, &count)) return false;
  bool goOn = true;
  for (unsigned i = 0; i < count && goOn; ++i) goOn = callback(list[i]);
  freeUserList(list, count);
  return goOn;
}
