#include "sample_home.h"

#include "config.h"
#include "language.h"
#include "memory.h"

namespace {

// The settings a test replaces, in the order of SampleHome::saved_.
char **const kSettings[] = {&homeDir, &language, &currencyName, &currencyHundredth};
const char *const kValues[] = {nullptr, "ru", "currency", "currency_h"};

}  // namespace

void SampleHome::SetUp() {
  for (const char *file : {"languages.cf", "messages.ru", "messages.en"}) {
    testsupport::writeFile(home_.sub(file),
                           testsupport::readFile(testsupport::sourcePath("examples/node/") + file));
  }
  for (int i = 0; i < 4; ++i) {
    saved_[i] = *kSettings[i];
    *kSettings[i] = strDup(kValues[i] ? kValues[i] : home_.path().c_str());
  }
  setLanguage("ru");
  testing::internal::CaptureStderr();  // the expected complaints stay quiet
}

void SampleHome::TearDown() {
  testing::internal::GetCapturedStderr();
  for (int i = 0; i < 4; ++i) {
    memRealloc(*kSettings[i], 0);
    *kSettings[i] = saved_[i];
  }
}

void SampleHome::addLanguage(const std::string &name, const std::string &messages) {
  std::string index = home_.sub("languages.cf");
  testsupport::writeFile(index, testsupport::readFile(index) + name + " messages." + name + "\n");
  testsupport::writeFile(home_.sub("messages." + name), messages);
}

int SampleHome::logged(const std::string &text) const {
  std::string log = testsupport::readFile(home_.sub("Logfile"));
  int n = 0;
  for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++n;
  return n;
}
