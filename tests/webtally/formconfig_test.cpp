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
  EXPECT_EQ(page,
            "\xee\xc5 \xda\xc1\xc4\xc1\xce\xc1 \xc9\xd3\xc8\xcf\xc4\xce\xc1\xd1 \xc6\xcf\xd2\xcd\xc1 \xc4\xcc\xd1 "
            "\xd0\xc1\xd2\xc1\xcd\xc5\xd4\xd2\xc1 `<B>default</B>'. \xef\xc2\xd2\xc1\xd4\xc9\xd4\xc5\xd3\xd8 "
            "\xcb\xc1\xc4\xcd\xc9\xce\xc9\xd3\xd4\xd2\xc1\xd4\xcf\xd2\xd5 \xd3\xc5\xd2\xd7\xc5\xd2\xc1!<P>\n");

  loadForms(&table, tmp.sub("missing").c_str());
  EXPECT_EQ(table.count, 0u);
  freeForms(&table);
}
