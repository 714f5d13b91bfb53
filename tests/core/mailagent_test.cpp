#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "process.h"

using testsupport::fileExists;
using testsupport::readFile;
using testsupport::RunResult;
using testsupport::RunSpec;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

// A home directory with a capture script that stands in for the mail
// transfer agent: it writes its arguments, one "[arg]" per line, to argv and
// what it reads to mail, then exits with $CAPTURE_EXIT.
class Mail : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string script = home.sub("capture.sh");
    writeFile(script,
              "#!/bin/sh\n"
              "for a in \"$@\"; do printf '[%s]\\n' \"$a\" >> '" + home.sub("argv") + "'; done\n"
              "cat > '" + home.sub("mail") + "'\n"
              "exit ${CAPTURE_EXIT:-0}\n");
    chmod(script.c_str(), 0755);
  }
  std::string capture() const { return home.sub("capture.sh") + " -f%s"; }
  RunResult send(const std::string &config, const std::vector<std::string> &args,
                 const std::string &mailer = "") {
    RunSpec spec;
    spec.program = "mailsend";
    spec.args = args;
    spec.etc = {{"korvix-1.3.conf",
                 testsupport::configFor(home.path(),
                                        "mailer " + (mailer.empty() ? capture() : mailer) +
                                            "\n" + config)}};
    return testsupport::run(spec);
  }
  std::string argv() const { return readFile(home.sub("argv")); }
  std::string mail() const { return readFile(home.sub("mail")); }
  std::string log() const { return readFile(home.sub("Logfile")); }
  TempDir home{"mail"};
};

// The end of every header: the text is KOI8-R, 8-bit.
const char kMime[] =
    "MIME-Version: 1.0\n"
    "Content-Type: text/plain; charset=koi8-r\n"
    "Content-Transfer-Encoding: 8bit\n"
    "\n";

const char kBody[] = "Rate of USD for 03/2024 is missing.\n";

const char kSettings[] =
    "from billing@isp.example\n"
    "admin boss@isp.example\n"
    "admin-name Chief Admin\n"
    "sender bounce@isp.example\n"
    "organization Norvek Test Node\n";

}  // namespace

TEST_F(Mail, MailerGetsSenderAndRecipientAndTheHeaderBytes) {
  RunResult res = send(kSettings, {"root@isp.example", "USD rate missing"});
  EXPECT_EQ(res.status, 0) << res.err;
  EXPECT_EQ(res.out, "status 0\nalive\n");
  EXPECT_EQ(argv(), "[-fbounce@isp.example]\n[root@isp.example]\n");
  EXPECT_EQ(mail(),
            "From: Statistic Server <billing@isp.example>\n"
            "To: root@isp.example\n"
            "Reply-To: \"Chief Admin\" <boss@isp.example>\n"
            "Sender: bounce@isp.example\n"
            "X-Mailer: Vendrel's universal statistic server, v1.3.11\n"
            "Organization: Norvek Test Node\n"
            "Subject: USD rate missing\n" +
                std::string(kMime) +
                std::string(kBody));
}

TEST_F(Mail, DefaultSettingsAndCatalogueSubject) {
  RunResult res = send("", {"stat-adm", "-"});
  EXPECT_EQ(res.out, "status 0\nalive\n") << res.err;
  EXPECT_EQ(argv(), "[-fvovuvuza@node.example]\n[stat-adm]\n");
  EXPECT_EQ(mail(),
            "From: Statistic Server <vovuvuza@node.example>\n"
            "To: stat-adm\n"
            "Reply-To: \"Administrator\" <stat-adm@node.example>\n"
            "Sender: vovuvuza@node.example\n"
            "X-Mailer: Vendrel's universal statistic server, v1.3.11\n"
            "Organization: Norvek Node at @node.example\n"
            "Subject: mail_info\n" +
                std::string(kMime) +
                std::string(kBody));
}

TEST_F(Mail, CarbonCopyAndDebugAllmailChooseTheRecipients) {
  RunResult res = send(std::string(kSettings) + "carbon-copy copies\n", {"root@isp.example", "S"});
  EXPECT_EQ(res.out, "status 0\nalive\n") << res.err;
  EXPECT_EQ(argv(), "[-fbounce@isp.example]\n[root@isp.example]\n[copies@node.example]\n");
  EXPECT_EQ(mail().find("copies"), std::string::npos);

  testsupport::writeFile(home.sub("argv"), "");
  res = send(std::string(kSettings) + "carbon-copy copies\ndebug-allmail tester@lab.example\n",
             {"root@isp.example", "S"});
  EXPECT_EQ(res.out, "status 0\nalive\n") << res.err;
  EXPECT_EQ(argv(), "[-fbounce@isp.example]\n[tester@lab.example]\n");
  EXPECT_NE(mail().find("\nTo: root@isp.example\n"), std::string::npos);
  EXPECT_EQ(mail().find("tester"), std::string::npos);

  // Several addresses: each is an argument of its own.
  const struct {
    std::string settings;
    std::string argv;
  } lists[] = {
      {"carbon-copy a@x.example b@y.example,c@z.example\n",
       "[-fbounce@isp.example]\n[root@isp.example]\n[a@x.example]\n[b@y.example]\n[c@z.example]\n"},
      {"debug-allmail \"t1@lab.example, t2@lab.example\"\n",
       "[-fbounce@isp.example]\n[t1@lab.example]\n[t2@lab.example]\n"},
      {"carbon-copy \"\ta@x.example ,, b@y.example \"\n",
       "[-fbounce@isp.example]\n[root@isp.example]\n[a@x.example]\n[b@y.example]\n"},
  };
  for (const auto &l : lists) {
    testsupport::writeFile(home.sub("argv"), "");
    res = send(std::string(kSettings) + l.settings, {"root@isp.example", "S"});
    EXPECT_EQ(res.out, "status 0\nalive\n") << res.err;
    EXPECT_EQ(argv(), l.argv) << l.settings;
  }
}

TEST_F(Mail, AddressesStayOneWordAndRunNothing) {
  const std::string hostile[] = {
      "a;touch " + home.sub("semi") + ";b@x.example",
      "o'brien@x.example",
      "$(touch " + home.sub("dollar") + ")",
      "`touch " + home.sub("tick") + "`",
      "two words@x.example",
      "\"quoted\"@x.example",
  };
  for (const std::string &to : hostile) {
    writeFile(home.sub("argv"), "");
    RunResult res = send(kSettings, {to, "S"});
    EXPECT_EQ(res.out, "status 0\nalive\n") << to << res.err;
    EXPECT_EQ(argv(), "[-fbounce@isp.example]\n[" + to + "]\n") << to;
    EXPECT_NE(mail().find("\nTo: " + to + "\n"), std::string::npos) << to;
  }
  EXPECT_FALSE(fileExists(home.sub("semi")));
  EXPECT_FALSE(fileExists(home.sub("dollar")));
  EXPECT_FALSE(fileExists(home.sub("tick")));

  // The sender is quoted as well.
  writeFile(home.sub("argv"), "");
  RunResult res = send("sender x;touch " + home.sub("sender") + "@isp.example\n", {"root", "S"});
  EXPECT_EQ(argv(), "[-fx;touch " + home.sub("sender") + "@isp.example]\n[root]\n") << res.err;
  EXPECT_FALSE(fileExists(home.sub("sender")));
}

TEST_F(Mail, MailerTextIsNotAFormat) {
  RunResult res = send(kSettings, {"root@isp.example", "S"}, capture() + " %d %% %n %s");
  EXPECT_EQ(res.out, "status 0\nalive\n") << res.err;
  EXPECT_EQ(argv(), "[-fbounce@isp.example]\n[%d]\n[%%]\n[%n]\n[%s]\n[root@isp.example]\n");
}

TEST_F(Mail, MissingOrFailingMailerIsReportedAndSurvived) {
  RunResult res = send(kSettings, {"root@isp.example", "S", "1000000"},
                       home.sub("no-such-mailer") + " -f%s");
  EXPECT_EQ(res.status, 0) << res.err;
  EXPECT_EQ(res.out, "status " + std::to_string(127 << 8) + "\nalive\n");
  EXPECT_NE(log().find(" W Mail not sent: the mailer exited with status 127\n"),
            std::string::npos)
      << log();

  // Ends at once with a failure, without reading the mail.
  res = send(kSettings, {"root@isp.example", "S", "1000000"}, "/bin/false -f%s");
  EXPECT_EQ(res.status, 0) << res.err;
  EXPECT_EQ(res.out, "status " + std::to_string(1 << 8) + "\nalive\n");

  // Ends at once with success, without reading the mail.
  res = send(kSettings, {"root@isp.example", "S", "1000000"}, "/bin/true -f%s");
  EXPECT_EQ(res.status, 0) << res.err;
  EXPECT_EQ(res.out, "status -1\nalive\n");
  EXPECT_NE(log().find(" W Mail not sent: the mailer stopped reading it\n"), std::string::npos)
      << log();

  // Reads everything and then fails.
  res = send(kSettings, {"root@isp.example", "S"}, capture());
  EXPECT_EQ(res.out, "status 0\nalive\n");
  RunSpec spec;
  spec.program = "mailsend";
  spec.args = {"root@isp.example", "S"};
  spec.etc = {{"korvix-1.3.conf", testsupport::configFor(home.path(), "mailer " + capture())}};
  spec.env = {{"CAPTURE_EXIT", "75"}};
  res = testsupport::run(spec);
  EXPECT_EQ(res.out, "status " + std::to_string(75 << 8) + "\nalive\n");
  EXPECT_NE(mail().find(kBody), std::string::npos);
}

TEST_F(Mail, CommandLineKeepsToItsLimit) {
  // The command is the mailer with the quoted sender, the blank that ends the
  // mailer, one more blank and the quoted recipient.
  std::string prefix = home.sub("capture.sh") + " -f'vovuvuza@node.example'  '";
  size_t room = 1999 - prefix.size() - 1;
  std::string fits(room, 'a');
  RunResult res = send("", {fits, "S"});
  EXPECT_EQ(res.out, "status 0\nalive\n") << res.err;
  EXPECT_EQ(argv(), "[-fvovuvuza@node.example]\n[" + fits + "]\n");

  writeFile(home.sub("argv"), "");
  res = send("", {fits + "a", "S"});
  EXPECT_EQ(res.out, "no stream\nalive\n");
  EXPECT_EQ(argv(), "");
  EXPECT_NE(log().find(" W Mail to `" + fits + "a' not sent: the mailer command is longer than "
                       "1999 characters\n"),
            std::string::npos);
}

TEST_F(Mail, GivenStreamGetsOnlyTheHeader) {
  RunResult res = send(kSettings + std::string("debug-level 10\n"), {"--stream", "root", "-"});
  EXPECT_EQ(res.out,
            "From: Statistic Server <billing@isp.example>\n"
            "To: root\n"
            "Reply-To: \"Chief Admin\" <boss@isp.example>\n"
            "Sender: bounce@isp.example\n"
            "X-Mailer: Vendrel's universal statistic server, v1.3.11\n"
            "Organization: Norvek Test Node\n"
            "Subject: mail_info\n" +
                std::string(kMime) + "alive\n");
  EXPECT_NE(res.err.find("Mail stream fd=1\n"), std::string::npos) << res.err;
  EXPECT_FALSE(fileExists(home.sub("argv")));
}
