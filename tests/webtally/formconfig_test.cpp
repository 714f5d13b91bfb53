#include <gtest/gtest.h>

#include "process.h"
#include "webtally.h"

TEST(FormTable, KeysMatchWholeWithoutCaseAndFallBackToDefault) {
  testsupport::TempDir tmp;
  std::string path = tmp.sub("webtally.cf");
  testsupport::writeFile(path,
                         "# comment line\n"
                         "\n"
                         "Total \"forms/total page.html\" more words\n"
                         "total second.html\n"
                         "lonely\n"
                         "  #account hidden.html\n"
                         "acc\\ ount esc.html\n"
                         "default =default.html\n" +
                             std::string(2048, 'k') + "tail =tail.html\n");
  FormTable table;
  loadForms(&table, path.c_str());
  struct Case {
    const char *key;
    const char *file;
  } cases[] = {
      {"TOTAL", "forms/total page.html"},
      {"total", "forms/total page.html"},
      {"tot", "=default.html"},
      {"lonely", "=default.html"},
      {"#account", "=default.html"},
      {"acc ount", "esc.html"},
      {"DEFAULT", "=default.html"},
      // A line past the buffer goes on as a line of its own.
      {"tail", "=tail.html"},
  };
  for (const Case &c : cases) EXPECT_STREQ(formFor(&table, c.key), c.file) << c.key;

  // Without "default" the page says so, naming "default", and no form runs.
  testsupport::writeFile(path, "total a.html\n");
  loadForms(&table, path.c_str());
  EXPECT_EQ(table.count, 1u);
  testing::internal::CaptureStdout();
  EXPECT_STREQ(formFor(&table, "<x>"), "/dev/null");
  std::string page = testing::internal::GetCapturedStdout();
  EXPECT_NE(page.find(" `<B>default</B>'. "), std::string::npos) << page;

  loadForms(&table, tmp.sub("missing").c_str());
  EXPECT_EQ(table.count, 0u);
  freeForms(&table);
}
