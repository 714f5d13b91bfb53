#include <sys/stat.h>

#include <cstring>
#include <string>

#include "config.h"
#include "memory.h"
#include "userbase.h"

namespace {

// The result of userPath: kept between calls, grown as needed so that a path
// is never cut (a cut path would name some other file).
char *pathBuffer = nullptr;
size_t pathSize = 0;

bool exists(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

}  // namespace

const char *userPath(const char *user, const char *file) {
  if (!user) user = "";
  std::string path = userBase ? userBase : "";
  path += '/';
  // One index level for every directory on the way that holds ".alpha"; the
  // last possible index directory is named by the whole user name.
  const size_t length = strlen(user);
  for (size_t k = 1; k <= length && exists(path + ".alpha"); ++k) {
    path.append(user, k);
    path += '/';
  }
  path += user;
  if (file && *file) {
    path += '/';
    path += file;
  }
  if (path.size() + 1 > pathSize) {
    pathSize = path.size() + 1 < 500 ? 500 : path.size() + 1;
    pathBuffer = static_cast<char *>(memRealloc(pathBuffer, pathSize));
  }
  memcpy(pathBuffer, path.c_str(), path.size() + 1);
  return pathBuffer;
}
