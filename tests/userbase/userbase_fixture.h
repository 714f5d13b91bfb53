// A user base in a fresh temporary home: the settings home-dir, userbase-dir
// and admin point into it, so messages land in its Logfile.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "config.h"
#include "memory.h"
#include "process.h"

class UserBaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = home_.sub("userbase");
    testsupport::makeDirs(base_);
    storeConfigString(&homeDir, home_.path().c_str(), nullptr);
    storeConfigString(&userBase, base_.c_str(), nullptr);
    storeConfigString(&addrAdmin, "stat-adm@node.example", nullptr);
  }
  void TearDown() override {
    for (char **setting : {&homeDir, &userBase, &addrAdmin}) {
      memRealloc(*setting, 0);
      *setting = nullptr;
    }
  }

  // rel (a path below the base) + "/user.cf" holding text.
  void addUser(const std::string &rel, const std::string &text = "prices basic\n") {
    testsupport::writeFile(base_ + "/" + rel + "/user.cf", text);
  }
  // An empty file rel below the base.
  void touch(const std::string &rel) { testsupport::writeFile(base_ + "/" + rel, ""); }
  void makeDir(const std::string &rel) { testsupport::makeDirs(base_ + "/" + rel); }

  std::string log() const { return testsupport::readFile(home_.sub("Logfile")); }
  // Number of log lines that hold text.
  int logged(const std::string &text) const {
    int n = 0;
    const std::string all = log();
    for (size_t at = all.find(text); at != std::string::npos; at = all.find(text, at + 1)) ++n;
    return n;
  }

  testsupport::TempDir home_{"userbase"};
  std::string base_;
};
