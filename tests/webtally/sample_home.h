// A home directory of its own for one test, with the sample node's message
// catalogue (examples/node) and the currency settings, so that the form
// modules find their words and log into the test's Logfile.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "process.h"

class SampleHome : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Adds a language to languages.cf with a message file of that text; call
  // it before the language is first used.
  void addLanguage(const std::string &name, const std::string &messages);
  // How many times text occurs in the Logfile.
  int logged(const std::string &text) const;

 private:
  testsupport::TempDir home_;
  char *saved_[4] = {};
};
