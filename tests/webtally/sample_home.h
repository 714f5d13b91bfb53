// A home directory of its own for one test, with the sample node's message
// catalogue (examples/node) and the currency settings, so that the form
// modules find their words and log into the test's Logfile.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "config.h"
#include "language.h"
#include "memory.h"
#include "process.h"

class SampleHome : public testing::Test {
 protected:
  void SetUp() override {
    for (const char *file : {"languages.cf", "messages.ru", "messages.en"}) {
      write(file, testsupport::readFile(testsupport::sourcePath("examples/node/") + file));
    }
    homeDir = strDup(home_.path().c_str());
    language = strDup("ru");
    currencyName = strDup("currency");
    currencyHundredth = strDup("currency_h");
    setLanguage("ru");
    testing::internal::CaptureStderr();  // the expected complaints stay quiet
  }
  void TearDown() override {
    testing::internal::GetCapturedStderr();
    for (char **setting : {&homeDir, &language, &currencyName, &currencyHundredth}) {
      *setting = static_cast<char *>(memRealloc(*setting, 0));
    }
  }
  // Adds a language with a message file of that text; before its first use.
  void addLanguage(const std::string &name, const std::string &messages) {
    std::string index = testsupport::readFile(home_.sub("languages.cf"));
    write("languages.cf", index + name + " m." + name + "\n");
    write("m." + name, messages);
  }
  // How many times text occurs in the Logfile.
  int logged(const std::string &text) const {
    std::string log = testsupport::readFile(home_.sub("Logfile"));
    int n = 0;
    for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++n;
    return n;
  }
  // The messages logged since the last call, one a line, without their time
  // stamp and kind letter.
  std::string complaints() const {
    std::string log = testsupport::readFile(home_.sub("Logfile"));
    testsupport::writeFile(home_.sub("Logfile"), "");
    std::string messages;
    const size_t stamp = std::string("00:00:00 01/01/2000 W ").size();
    for (size_t at = 0, end; at < log.size(); at = end + 1) {
      end = std::min(log.find('\n', at), log.size());
      messages += log.substr(at + stamp, end - at - stamp) + "\n";
    }
    return messages;
  }

 private:
  void write(const std::string &name, const std::string &text) {
    testsupport::writeFile(home_.sub(name), text);
  }
  testsupport::TempDir home_;
};
