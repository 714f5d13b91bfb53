// scripts/with-etc: calls that run at the same time with one WORK folder.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "process.h"

TEST(WithEtc, ConcurrentCallsSharingWorkEachRunTheirCommand) {
  testsupport::TempDir dir("withetc");
  const std::string upper = dir.sub("upper"), work = dir.sub("work");
  testsupport::writeFile(upper + "/korvix-1.3.conf", "seen\n");
  testsupport::makeDirs(work);
  // An unprivileged user is where shared overlay folders collide; as root
  // the calls run as nobody, on a copy of the script in the temporary
  // folder, since nobody may not enter the folders above the checkout.
  std::string prefix, withEtc = testsupport::sourcePath("scripts/with-etc");
  if (geteuid() == 0) {
    for (const std::string &d : {dir.path(), upper, work}) chmod(d.c_str(), 0777);
    prefix = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
    std::string copy = dir.sub("with-etc");
    testsupport::writeFile(copy, testsupport::readFile(withEtc));
    chmod(copy.c_str(), 0755);
    withEtc = copy;
  }
  const std::string call = prefix + withEtc + " " + upper + " " + work + " cat /etc/korvix-1.3.conf";
  std::string script = "for round in 1 2 3; do\n";
  for (int i = 0; i < 12; ++i) script += "  " + call + " &\n";
  script += "  wait\ndone\n";
  testsupport::RunSpec spec;
  spec.program = "/bin/sh";
  spec.args = {"-c", script};
  spec.overlay = false;
  testsupport::RunResult r = testsupport::run(spec);
  std::string want;
  for (int i = 0; i < 36; ++i) want += "seen\n";
  EXPECT_EQ(r.out, want) << r.err;
  EXPECT_EQ(r.err, "");
  // Nothing is left behind in WORK, and UPPER is unchanged.
  EXPECT_EQ(rmdir(work.c_str()), 0);
  EXPECT_EQ(testsupport::readFile(upper + "/korvix-1.3.conf"), "seen\n");
}
