#include "fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "config.h"

namespace fuzzsupport {

namespace {

struct Folder {
  Folder() {
    const char *base = getenv("TMPDIR");
    std::string templ = std::string(base && *base ? base : "/tmp") + "/korvix-fuzz-XXXXXX";
    if (!mkdtemp(templ.data())) abort();
    path = templ;
  }
  ~Folder() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
  std::string path;
};

void set(char **setting, const std::string &value) { storeConfigString(setting, value.c_str(), nullptr); }

}  // namespace

const std::string &dir() {
  static Folder folder;
  return folder.path;
}

void writeBytes(const std::string &name, const uint8_t *data, size_t size) {
  std::filesystem::path path = dir() + "/" + name;
  std::error_code ec;
  std::filesystem::create_directories(path.parent_path(), ec);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char *>(data), static_cast<std::streamsize>(size));
}

void setUpNode() {
  std::error_code ec;
  for (const char *sub : {"home/Logfile", "home/locks", "home/userbase", "home/prices"})
    std::filesystem::create_directories(dir() + "/" + sub, ec);
  set(&homeDir, dir() + "/home");
  set(&userBase, dir() + "/home/userbase");
  set(&lockDir, dir() + "/home/locks");
  set(&binDir, dir() + "/home/bin");
  set(&language, "en");
  set(&currencyName, "currency");
  set(&addrAdmin, "stat-adm@node.example");
  set(&mailer, "true %s ");
}

void split(const uint8_t *data, size_t size, std::string *first, std::string *second) {
  std::string all(reinterpret_cast<const char *>(data), size);
  size_t at = all.find("\n%%\n");
  if (at == std::string::npos) {
    *first = all;
    second->clear();
  } else {
    *first = all.substr(0, at + 1);
    *second = all.substr(at + 4);
  }
}

}  // namespace fuzzsupport
