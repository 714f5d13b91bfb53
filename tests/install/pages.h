// The manual pages of the source tree, for the page and install tests.
#pragma once

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "process.h"

namespace pages {

// Every page as "manN/NAME.N", sorted: the files of man/man1 to man/man9
// whose ending is their folder's section.
inline std::vector<std::string> all() {
  namespace fs = std::filesystem;
  std::vector<std::string> found;
  for (char section = '1'; section <= '9'; ++section) {
    std::string folder = std::string("man") + section;
    std::error_code ec;
    for (const auto &entry : fs::directory_iterator(testsupport::sourcePath("man/" + folder), ec)) {
      std::string name = entry.path().filename().string();
      if (entry.path().extension() == std::string(".") + section) found.push_back(folder + "/" + name);
    }
  }
  std::sort(found.begin(), found.end());
  return found;
}

// The program a section 1 page is about: its file name without ".1".
inline std::string program(const std::string &page) {
  std::string name = std::filesystem::path(page).stem().string();
  return name;
}

}  // namespace pages
