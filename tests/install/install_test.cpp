// `cmake --install` into a DESTDIR under another prefix: the programs, the
// manual pages, the server's schema and the examples land where the GNU
// layout puts them, and an installed program runs.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <string>

#include "pages.h"
#include "process.h"

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

// Every file below dir, by its path relative to dir, with its contents.
std::map<std::string, std::string> filesBelow(const std::string &dir) {
  std::map<std::string, std::string> files;
  std::error_code ec;
  for (const auto &entry : fs::recursive_directory_iterator(dir, ec)) {
    if (entry.is_regular_file())
      files[fs::relative(entry.path(), dir).string()] = readFile(entry.path().string());
  }
  return files;
}

// True when an executable file of that name lies anywhere below dir.
bool installedProgram(const std::string &dir, const std::string &name) {
  std::error_code ec;
  for (const auto &entry : fs::recursive_directory_iterator(dir, ec)) {
    struct stat st;
    if (entry.path().filename() == name && stat(entry.path().c_str(), &st) == 0 &&
        S_ISREG(st.st_mode) && (st.st_mode & S_IXUSR))
      return true;
  }
  return false;
}

}  // namespace

TEST(Install, PutsEverythingUnderDestdirAndPrefix) {
  TempDir stage("install");
  const std::string prefix = "/opt/korvix";
  RunSpec install;
  install.program = KORVIX_CMAKE;
  install.args = {"--install", KORVIX_BUILD_DIR, "--prefix", prefix};
  install.overlay = false;
  install.env = {{"DESTDIR", stage.path()}};
  RunResult done = run(install);
  ASSERT_EQ(done.status, 0) << done.out << done.err;
  const std::string root = stage.path() + prefix;

  for (const std::string &page : pages::all()) {
    EXPECT_EQ(readFile(root + "/share/man/" + page), readFile(sourcePath("man/" + page))) << page;
    if (page.rfind("man1/", 0) == 0) {
      EXPECT_TRUE(installedProgram(root, pages::program(page))) << page;
    }
  }
  EXPECT_EQ(readFile(root + "/share/korvix/schema.sql"),
            readFile(sourcePath("platform/dbserver/schema.sql")));
  // Every example but the demo, the daily and monthly jobs also as programs.
  std::map<std::string, std::string> examples = filesBelow(sourcePath("examples"));
  EXPECT_TRUE(examples.count("node/.month") && examples.count("node/userbase/.alpha"));  // hidden files too
  EXPECT_EQ(examples.erase("run-demo.sh"), 1u);
  EXPECT_EQ(filesBelow(root + "/share/doc/korvix/examples"), examples);
  for (const char *job : {"korvix-daily", "korvix-monthly"}) {
    EXPECT_TRUE(installedProgram(root + "/bin", job)) << job;
    EXPECT_EQ(readFile(root + "/bin/" + job), examples[job]) << job;
  }
  EXPECT_EQ(readFile(root + "/bin/korvix-jobs"), examples["korvix-jobs"]);

  // The installed program is the built one: same usage, same status.
  RunSpec built;
  built.program = "tallymill";
  built.args = {"-H"};
  built.overlay = false;
  RunSpec installed = built;
  installed.program = root + "/bin/tallymill";
  RunResult fromBuild = run(built);
  RunResult fromInstall = run(installed);
  EXPECT_EQ(fromInstall.status, 1);
  EXPECT_EQ(fromInstall.err.rfind("Usage: tallymill [switches]\n", 0), 0u) << fromInstall.err;
  EXPECT_EQ(fromInstall.err, fromBuild.err);
}
