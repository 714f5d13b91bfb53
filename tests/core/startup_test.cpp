// Start-up end to end: the configdump driver runs initConfig in its own
// process with its own /etc/korvix-1.3.conf and prints the settings.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "process.h"

using testsupport::RunResult;
using testsupport::RunSpec;
using testsupport::TempDir;

namespace {

const char kUnset[] = "<unset>";

// A home with a catalogue, so that start-up itself writes nothing to
// standard error.
void makeHome(const TempDir &home) {
  testsupport::writeFile(home.sub("languages.cf"), "en messages.en\nru messages.ru\n");
  testsupport::writeFile(home.sub("messages.en"), "greeting Hello\n");
  // "Привет" in KOI8-R.
  testsupport::writeFile(home.sub("messages.ru"), "greeting \xf0\xd2\xc9\xd7\xc5\xd4\n");
}

struct Dump {
  RunResult run;
  std::map<std::string, std::string> value;  // key -> value text, kUnset
  std::vector<std::string> lines;             // every line of standard output
  std::string operator[](const std::string &key) const {
    auto it = value.find(key);
    return it == value.end() ? "<missing>" : it->second;
  }
};

Dump parse(RunResult r) {
  Dump d;
  d.run = std::move(r);
  std::istringstream in(d.run.out);
  std::string line;
  while (std::getline(in, line)) {
    d.lines.push_back(line);
    size_t eq = line.find('=');
    size_t sp = line.find(' ');
    if (sp != std::string::npos && (eq == std::string::npos || sp < eq) &&
        line.compare(sp, std::string::npos, " unset") == 0) {
      d.value[line.substr(0, sp)] = kUnset;
    } else if (eq != std::string::npos) {
      std::string v = line.substr(eq + 1);
      if (v.size() >= 2 && v.front() == '[' && v.back() == ']') v = v.substr(1, v.size() - 2);
      d.value[line.substr(0, eq)] = v;
    }
  }
  return d;
}

// configdump with this configuration as /etc/FILE.
Dump dump(const std::string &config, std::vector<std::string> args = {}, const std::string &cwd = "",
          const std::string &file = "korvix-1.3.conf") {
  RunSpec spec;
  spec.program = "configdump";
  spec.args = std::move(args);
  spec.etc = {{file, config}};
  spec.cwd = cwd;
  return parse(testsupport::run(spec));
}

// The configuration of a test home plus extra lines.
std::string configIn(const TempDir &home, const std::string &extra = "") {
  makeHome(home);
  return testsupport::configFor(home.path(), extra);
}

std::string logOf(const TempDir &home) { return testsupport::readFile(home.sub("Logfile")); }

std::string hostName() {
  char buf[256] = {};
  gethostname(buf, sizeof buf - 1);
  return buf;
}

bool realConfigExists() {
  return testsupport::fileExists("/etc/korvix-1.3.conf") || testsupport::fileExists("/etc/korvix.conf");
}

const char kStamp[] = R"(\d\d:\d\d:\d\d \d\d/\d\d/\d{4} )";

}  // namespace

TEST(Startup, WithoutConfigurationPrintsStarsPausesFiveSecondsAndFails) {
  if (realConfigExists()) GTEST_SKIP() << "this machine has a main configuration file";
  RunSpec spec;
  spec.program = "configdump";
  spec.overlay = true;  // an empty overlay: neither file exists
  auto start = std::chrono::steady_clock::now();
  RunResult r = testsupport::run(spec);
  auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "**\n** Cannot open main config (/etc/korvix.conf)!\n**\n");
  EXPECT_EQ(r.out, "");
  EXPECT_GE(took, std::chrono::milliseconds(4900));
  // One that is there but cannot be read is named, with the reason.
  spec.etc = {{"korvix-1.3.conf/x", ""}};
  r = testsupport::run(spec);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "**\n** Cannot open main config (/etc/korvix-1.3.conf: Is a directory)!\n**\n");
}

TEST(Startup, OldConfigurationNameIsReadWhenTheMainOneIsMissingAndNotOtherwise) {
  TempDir home, other;
  makeHome(other);
  RunSpec spec;
  spec.program = "configdump";
  spec.etc = {{"korvix.conf", configIn(home)}};
  Dump d = parse(testsupport::run(spec));
  EXPECT_EQ(d.run.status, 0) << d.run.err;
  EXPECT_EQ(d["home-dir"], home.path());

  spec.etc.push_back({"korvix-1.3.conf", testsupport::configFor(other.path())});
  d = parse(testsupport::run(spec));
  EXPECT_EQ(d.run.status, 0) << d.run.err;
  EXPECT_EQ(d["home-dir"], other.path());

  // A main configuration that cannot be read is not passed over in silence.
  spec.etc = {{"korvix.conf", configIn(home)}, {"korvix-1.3.conf/x", ""}};
  d = parse(testsupport::run(spec));
  EXPECT_EQ(d.run.status, 0) << d.run.err;
  EXPECT_EQ(d["home-dir"], home.path());
  EXPECT_EQ(d.run.err, "Can't read /etc/korvix-1.3.conf (Is a directory), /etc/korvix.conf read instead\n");
}

TEST(Startup, LooseNumbersAndTaxesAreWarnedNamingTheFile) {
  TempDir home;
  const std::string main = "/etc/korvix-1.3.conf", step = "' is not a step above 0 and at most 1000; 1 used\n";
  // A line of the file (line 3), its warnings, and what its setting is read
  // as; a program that computes money (-c) ends instead on a money setting,
  // with the warning's text up to "; ... used".
  const struct {
    std::string line, err, value;
    bool refused = false;
    std::string file = "korvix-1.3.conf";
  } cases[] = {
      {"taxes 18\n", "Bad `taxes' in " + main + " line 3: `18' is not a fraction from 0 to below 1; 0.2 used\n", "0.2",
       true},
      {"currency-precision 0,01\n", "Bad `currency-precision' in " + main + " line 3: `0,01' is not a number; 1 used\n",
       "1", true},
      {"currency-precision 0\n", "Bad `currency-precision' in " + main + " line 3: `0" + step, "1", true},
      {"currency-precision 1001\n", "Bad `currency-precision' in " + main + " line 3: `1001" + step, "1", true},
      {"taxes 7\ntaxes 0.18\n", "", "0.18"},
      {"debug-level 2x\n", "Bad number `2x' for `debug-level' in " + main + ", read as 2\n", "2"},
      {"transient-precision nan\n", "Bad number `nan' for `transient-precision' in " + main + ", read as 0\n", "0.01"},
      {"taxes 1,5\n", "Bad `taxes' in /etc/korvix.conf line 3: `1,5' is not a number; 0.2 used\n", "0.2", true,
       "korvix.conf"},
  };
  for (const auto &c : cases) {
    Dump d = dump(configIn(home, c.line), {}, "", c.file);
    EXPECT_EQ(d.run.status, 0) << c.line;
    EXPECT_EQ(d.run.err, c.err) << c.line;
    EXPECT_EQ(d[c.line.substr(0, c.line.find(' '))], c.value) << c.line;
    Dump m = dump(configIn(home, c.line), {"-c"}, "", c.file);
    EXPECT_EQ(m.run.status, c.refused ? 1 : 0) << c.line;
    EXPECT_EQ(m.run.err, c.refused ? c.err.substr(0, c.err.rfind(';')) + "\n" : c.err) << c.line;
  }
}

TEST(Startup, MinimalConfigurationGetsEveryDefault) {
  TempDir home;
  const std::string h = home.path();
  Dump d = dump(configIn(home));
  ASSERT_EQ(d.run.status, 0) << d.run.err;
  EXPECT_EQ(d.run.err, "");
  std::map<std::string, std::string> want = {
      {"sql-type", "msql"},
      {"sql-server", kUnset},
      {"sql-port", kUnset},
      {"sql-socket", kUnset},
      {"sql-database", kUnset},
      {"home-dir", h},
      {"bin-dir", h + "/bin"},
      {"server-dir", h + "/server"},
      {"server-run", "1"},
      {"server-keep-jobs", "0"},
      {"userbase-dir", h + "/userbase"},
      {"lock-dir", h + "/locks"},
      {"organization", "Norvek Node at @node.example"},
      {"domain", "@node.example"},
      {"postmaster", "postmaster@node.example"},
      {"from", "vovuvuza@node.example"},
      {"admin", "stat-adm@node.example"},
      {"admin-name", "Administrator"},
      {"sender", "vovuvuza@node.example"},
      {"carbon-copy", kUnset},
      {"mailer", "/usr/sbin/sendmail -f%s "},
      {"user-open", h + "/bin/user-open"},
      {"user-close", h + "/bin/user-close"},
      {"taxes", "0"},
      {"listener-uid", "-1"},
      {"listener-gid", "-1"},
      {"currency-precision", "1"},
      {"transient-precision", "0.01"},
      {"currency-thousands", ""},
      {"currency-name", "currency"},
      {"currency-hundredth", "currency_h"},
      {"report-delimiters", "<>"},
      {"price-currency", kUnset},
      {"debug-level", "0"},
      {"debug-allmail", kUnset},
      {"uid", "-1"},
      {"gid", "-1"},
      {"language", "en"},
      {"legal-chars", kUnset},
  };
  EXPECT_EQ(want.size(), 39u);
  for (const auto &[key, value] : want) EXPECT_EQ(d[key], value) << key;
  EXPECT_EQ(d["current"], "en");
  EXPECT_EQ(d["ids"], "0/0/0/0");
}

TEST(Startup, UnknownKeyEndsTheRunAndIsLoggedOnceHomeIsKnown) {
  TempDir home;
  Dump d = dump(configIn(home, "bogus-key some value\nlanguage ru\n"));
  EXPECT_EQ(d.run.status, 1);
  EXPECT_EQ(d.run.err, "Wrong config line ('bogus-key some value')\n");
  EXPECT_EQ(d.run.out, "");
  EXPECT_TRUE(std::regex_match(logOf(home), std::regex(std::string("^") + kStamp +
                                                       R"(E Wrong config line \('bogus-key some value'\)\n$)")))
      << logOf(home);

  // A known key with a letter attached is a wrong line too; the line is shown
  // from its first non-blank character.
  TempDir home2;
  d = dump(configIn(home2, "  \tdomainx @x\n"));
  EXPECT_EQ(d.run.status, 1);
  EXPECT_EQ(d.run.err, "Wrong config line ('domainx @x')\n");
}

TEST(Startup, FatalBeforeHomeDirWritesStandardErrorOnly) {
  TempDir home;
  makeHome(home);
  Dump d = dump("nonsense\nhome-dir " + home.path() + "\n");
  EXPECT_EQ(d.run.status, 1);
  EXPECT_EQ(d.run.err, "Wrong config line ('nonsense')\n");
  EXPECT_FALSE(testsupport::fileExists(home.sub("Logfile")));
}

TEST(Startup, KeysNeedABlankTabOrLineEndAfterThem) {
  TempDir home;
  makeHome(home);
  const std::string h = home.path();
  // "admin-name" is its own key, never "admin"; a tab separates too; "domain"
  // alone keeps the host-name default.
  Dump d = dump("home-dir\t" + h + "\nadmin-name Bob Smith\nadmin\tboss\ndomain\n");
  ASSERT_EQ(d.run.status, 0) << d.run.err;
  EXPECT_EQ(d["home-dir"], h);
  EXPECT_EQ(d["admin-name"], "Bob Smith");
  EXPECT_EQ(d["admin"], "boss@" + hostName());
  EXPECT_EQ(d["domain"], "@" + hostName());

  // "domain" and a blank: an empty value, which becomes "@".
  d = dump("home-dir " + h + "\ndomain \n");
  ASSERT_EQ(d.run.status, 0) << d.run.err;
  EXPECT_EQ(d["domain"], "@");
  EXPECT_EQ(d["from"], "vovuvuza@");
}

TEST(Startup, ValuesAreTrimmedAndQuotesRunToTheLastQuote) {
  TempDir home;
  Dump d = dump(configIn(home,
                         "# a comment\n"
                         "   # an indented comment\n"
                         "\n"
                         "   \t\n"
                         "organization \"  Quoted \"inner\" text \"  and more \t\n"
                         "admin-name \"no closing quote\n"
                         "sql-server   \t db.example \t \n"
                         "sql-port 1114\r\n"
                         "sql-database base#1\n"
                         "price-currency \"\"\n"
                         "   currency-name  rub"));  // last line without a newline
  ASSERT_EQ(d.run.status, 0) << d.run.err;
  EXPECT_EQ(d["organization"], "  Quoted \"inner\" text ");
  EXPECT_EQ(d["admin-name"], "no closing quote");
  EXPECT_EQ(d["sql-server"], "db.example");
  EXPECT_EQ(d["sql-port"], "1114");  // a CRLF line end is no part of the value
  EXPECT_EQ(d["sql-database"], "base#1");
  EXPECT_EQ(d["price-currency"], "");
  EXPECT_EQ(d["currency-name"], "rub");
}

TEST(Startup, OverlongLinesAreReadInPiecesOf2047Characters) {
  TempDir home;
  // The first piece is "debug-allmail " and 2033 x; the second piece starts a
  // line of its own, "sql-database tail".
  std::string line = "debug-allmail " + std::string(2033, 'x') + "sql-database tail\n";
  Dump d = dump(configIn(home, line));
  ASSERT_EQ(d.run.status, 0) << d.run.err;
  EXPECT_EQ(d["debug-allmail"], std::string(2033, 'x'));
  EXPECT_EQ(d["sql-database"], "tail");
}

TEST(Startup, RepeatedKeysLastOneWins) {
  TempDir home;
  Dump d = dump(configIn(home,
                         "admin-name A\nadmin-name A much longer name than before\nadmin-name B\n"
                         "debug-level 3\ndebug-level 0\nserver-run no\nserver-run yes\n"
                         "domain @first.ru\ndomain @second.example\n"));
  ASSERT_EQ(d.run.status, 0) << d.run.err;
  EXPECT_EQ(d["admin-name"], "B");
  EXPECT_EQ(d["debug-level"], "0");
  EXPECT_EQ(d["server-run"], "1");
  EXPECT_EQ(d["domain"], "@second.example");
  EXPECT_EQ(d["language"], "en");
}

TEST(Startup, PathRulesCompleteRelativeAndMissingDirectories) {
  TempDir home;
  const std::string h = home.path();
  Dump d = dump(configIn(home,
                         "bin-dir tools\nlock-dir /abs/locks\nuser-open open.sh\n"
                         "server-dir /srv\nuser-close /sbin/close\n"));
  ASSERT_EQ(d.run.status, 0) << d.run.err;
  EXPECT_EQ(d["bin-dir"], h + "/tools");
  EXPECT_EQ(d["lock-dir"], "/abs/locks");
  EXPECT_EQ(d["server-dir"], "/srv");
  EXPECT_EQ(d["userbase-dir"], h + "/userbase");
  EXPECT_EQ(d["user-open"], h + "/tools/open.sh");
  EXPECT_EQ(d["user-close"], "/sbin/close");

  // A relative home directory stays relative, and so bases the others.
  TempDir cwd;
  makeHome(cwd);
  d = dump("home-dir .\ndomain @x.example\nuserbase-dir users\n", {}, cwd.path());
  ASSERT_EQ(d.run.status, 0) << d.run.err;
  EXPECT_EQ(d["home-dir"], ".");
  EXPECT_EQ(d["bin-dir"], "./bin");
  EXPECT_EQ(d["userbase-dir"], "./users");
  EXPECT_EQ(d["user-open"], "./bin/user-open");
}

TEST(Startup, AddressRulesAppendTheDomain) {
  TempDir home;
  makeHome(home);
  Dump d = dump("home-dir " + home.path() +
                "\ndomain node.example\npostmaster pm\nfrom me@other.org\nadmin boss\n"
                "carbon-copy cc\norganization Own Org\n");
  ASSERT_EQ(d.run.status, 0) << d.run.err;
  EXPECT_EQ(d["domain"], "@node.example");
  EXPECT_EQ(d["postmaster"], "pm@node.example");
  EXPECT_EQ(d["from"], "me@other.org");
  EXPECT_EQ(d["admin"], "boss@node.example");
  EXPECT_EQ(d["sender"], "me@other.org");
  EXPECT_EQ(d["carbon-copy"], "cc@node.example");
  EXPECT_EQ(d["organization"], "Own Org");

  d = dump("home-dir " + home.path() + "\ndomain @n.example\nfrom robot\nsender s\n");
  ASSERT_EQ(d.run.status, 0) << d.run.err;
  EXPECT_EQ(d["organization"], "Norvek Node at @n.example");
  EXPECT_EQ(d["from"], "robot@n.example");
  EXPECT_EQ(d["sender"], "s@n.example");
}

TEST(Startup, NumbersBooleansAndMoneySettings) {
  TempDir home;
  Dump d = dump(configIn(home,
                         "server-run No\nserver-keep-jobs Yes please\n"
                         "listener-uid  -12abc\nlistener-gid abc\n"
                         "uid\n"
                         "debug-allmail\n"
                         "taxes 0.99\ncurrency-precision 10\ntransient-precision 0\n"));
  ASSERT_EQ(d.run.status, 0) << d.run.err;
  EXPECT_EQ(d["server-run"], "0");
  EXPECT_EQ(d["server-keep-jobs"], "1");
  EXPECT_EQ(d["listener-uid"], "-12");
  EXPECT_EQ(d["listener-gid"], "0");
  EXPECT_EQ(d["uid"], "-1");
  EXPECT_EQ(d["debug-allmail"], kUnset);
  EXPECT_EQ(d["taxes"], "0.99");
  EXPECT_EQ(d["currency-precision"], "10");
  EXPECT_EQ(d["transient-precision"], "0.1");

  d = dump(configIn(home,
                    "server-run 1\nserver-keep-jobs \ntaxes 1\ncurrency-precision 10\n"
                    "transient-precision 20\nlistener-uid 4294967295\nlistener-gid -4294967296\n"));
  ASSERT_EQ(d.run.status, 0) << d.run.err;
  EXPECT_EQ(d["server-run"], "1");
  EXPECT_EQ(d["server-keep-jobs"], "0");
  EXPECT_EQ(d["taxes"], "0.2");
  EXPECT_EQ(d["transient-precision"], "0.1");
  // Out-of-range integers saturate instead of wrapping round to -1 or 0.
  EXPECT_EQ(d["listener-uid"], "2147483647");
  EXPECT_EQ(d["listener-gid"], "-2147483648");

  d = dump(configIn(home, "taxes -0.1\ncurrency-precision 0\ntransient-precision 0.5\n"));
  ASSERT_EQ(d.run.status, 0) << d.run.err;
  EXPECT_EQ(d["taxes"], "0.2");
  EXPECT_EQ(d["currency-precision"], "1");
  EXPECT_EQ(d["transient-precision"], "0.5");

  d = dump(configIn(home, "currency-precision 0.01\ncurrency-thousands \" \"\n"));
  ASSERT_EQ(d.run.status, 0) << d.run.err;
  EXPECT_EQ(d["transient-precision"], "0.01");  // not greater than the precision
  EXPECT_EQ(d["currency-thousands"], " ");
}

TEST(Startup, MailerAndDelimiterRules) {
  TempDir home;
  Dump d = dump(configIn(home, "mailer /usr/lib/mail -f%s\nreport-delimiters [\n"));
  ASSERT_EQ(d.run.status, 0) << d.run.err;
  EXPECT_EQ(d["mailer"], "/usr/lib/mail -f%s ");
  EXPECT_EQ(d["report-delimiters"], "<>");

  d = dump(configIn(home, "mailer \"/bin/m  \"\nreport-delimiters {{}\n"));
  ASSERT_EQ(d.run.status, 0) << d.run.err;
  EXPECT_EQ(d["mailer"], "/bin/m  ");
  EXPECT_EQ(d["report-delimiters"], "{{");

  d = dump(configIn(home, "mailer \t\nreport-delimiters @@\n"));
  ASSERT_EQ(d.run.status, 0) << d.run.err;
  EXPECT_EQ(d["mailer"], " ");
  EXPECT_EQ(d["report-delimiters"], "@@");
}

TEST(Startup, LanguageFollowsTheDomainUnlessSetAndKeepsTwoLetters) {
  TempDir home;
  makeHome(home);
  auto languageFor = [&](const std::string &lines) {
    Dump d = dump("home-dir " + home.path() + "\n" + lines);
    EXPECT_EQ(d.run.status, 0) << d.run.err;
    return d["language"];
  };
  EXPECT_EQ(languageFor("domain @node.su\n"), "ru");
  EXPECT_EQ(languageFor("domain @node.ru\n"), "ru");
  EXPECT_EQ(languageFor("domain @NODE.SU\n"), "en");  // case matters
  EXPECT_EQ(languageFor("domain @node.rus\n"), "en");
  EXPECT_EQ(languageFor("domain ru\n"), "en");  // no "." at all: the whole "@ru"
  EXPECT_EQ(languageFor("domain @node.ru\nlanguage \n"), "ru");  // empty counts as unset
  EXPECT_EQ(languageFor("domain @node.ru\nlanguage english\n"), "en");
  EXPECT_EQ(languageFor("domain @node.example\nlanguage ru"), "ru");  // no final newline
}

TEST(Startup, LegalCharsWarnsAboutTheFirstBadCharacterAndKeepsTheValue) {
  TempDir home;
  Dump d = dump(configIn(home, "legal-chars abc%d@e\n"));
  ASSERT_EQ(d.run.status, 0) << d.run.err;
  const std::string msg = "Bad character `%' in `legal-chars' - addresses may become unparsable\n";
  EXPECT_EQ(d.run.err, msg);
  EXPECT_EQ(d["legal-chars"], "abc%d@e");
  EXPECT_TRUE(std::regex_match(logOf(home), std::regex(std::string("^") + kStamp + "W Bad character `%' in "
                                                       "`legal-chars' - addresses may become unparsable\n$")))
      << logOf(home);
}

TEST(Startup, SwitchesGroupAndUserIdAfterLoadingTheCatalogue) {
  if (geteuid() != 0) GTEST_SKIP() << "switching to other ids needs root";
  TempDir home;
  std::string config = configIn(home, "uid 65534\ngid 65534\nlanguage ru\n");
  // Readable only with the ids the program starts with.
  chmod(home.sub("languages.cf").c_str(), 0600);
  chmod(home.sub("messages.ru").c_str(), 0600);
  Dump d = dump(config, {"-m", "greeting"});
  ASSERT_EQ(d.run.status, 0) << d.run.err;
  EXPECT_EQ(d["ids"], "65534/65534/65534/65534");
  EXPECT_EQ(d["message"], "\xf0\xd2\xc9\xd7\xc5\xd4");
}

TEST(Startup, IdThatDoesNotTakeIsFatal) {
  if (geteuid() != 0) GTEST_SKIP() << "switching to other ids needs root";
  TempDir home;
  Dump d = dump(configIn(home, "uid 0\n"), {"-u", "65534"});
  // The user the driver became cannot write the test's Logfile, and is told.
  const std::string note = "Can't append to `" + home.sub("Logfile") + "' (Permission denied)\n";
  EXPECT_EQ(d.run.status, 1);
  EXPECT_EQ(d.run.err, note + "Can't set user id to 0, getuid()=65534\n");
  EXPECT_EQ(d.run.out, "");

  d = dump(configIn(home, "gid 0\nuid 0\n"), {"-u", "65534"});
  EXPECT_EQ(d.run.status, 1);
  EXPECT_EQ(d.run.err, note + "Can't set group id to 0, getgid()=65534\n");
}

TEST(Startup, LowersTheResourceLimits) {
  TempDir home;
  Dump d = dump(configIn(home));
  ASSERT_EQ(d.run.status, 0) << d.run.err;
  std::map<std::string, std::pair<unsigned long long, unsigned long long>> limit;
  for (const std::string &line : d.lines) {
    std::istringstream in(line);
    std::string word, name;
    unsigned long long cur, max;
    if (in >> word >> name >> cur >> max && word == "limit") limit[name] = {cur, max};
  }
  ASSERT_EQ(limit.size(), 3u) << d.run.out;
  auto [dcur, dmax] = limit["data"];
  EXPECT_EQ(dcur, dmax - dmax / 10);
  auto [scur, smax] = limit["stack"];
  EXPECT_EQ(scur, std::min(smax, 1024000ull));
  auto [ncur, nmax] = limit["nofile"];
  EXPECT_EQ(ncur, std::min(nmax, 50ull));
}

TEST(Startup, DebugOutputFollowsTheLevel) {
  TempDir home;
  // Level 5 shows both id lines, level 4 only the one after the switch.
  Dump d = dump(configIn(home, "debug-level 5\n"), {"-D", "6:too deep", "-D", "5:shown"});
  ASSERT_EQ(d.run.status, 0) << d.run.err;
  EXPECT_EQ(d.run.err,
            "before config: euid/egid=0/0, uid/gid=0/0\n"
            "after config: euid/egid=0/0, uid/gid=0/0\n"
            "shown\n");
  d = dump(configIn(home, "debug-level 4\n"), {"-2"});
  ASSERT_EQ(d.run.status, 0) << d.run.err;
  // The second initConfig does nothing, so the line comes once.
  EXPECT_EQ(d.run.err, "after config: euid/egid=0/0, uid/gid=0/0\n");

  // A level set before start-up shows the resource-limit traces, two each.
  d = dump(configIn(home), {"-d", "10"});
  ASSERT_EQ(d.run.status, 0) << d.run.err;
  std::regex trace(R"(^DATA: cur=-?\d+ max=-?\d+\nDATA: cur=-?\d+ max=-?\d+\n)"
                   R"(STAC: cur=\d+ max=\d+\nSTAC: cur=\d+ max=\d+\n)"
                   R"(NFIL: cur=\d+ max=\d+\nNFIL: cur=\d+ max=\d+\n)"
                   R"(before config: .*\nafter config: .*\n$)");
  EXPECT_TRUE(std::regex_match(d.run.err, trace)) << d.run.err;
}

TEST(Startup, LogLinesCarryTimeStampAndKind) {
  TempDir home;
  char before[32], after[32];
  time_t now = time(nullptr);
  strftime(before, sizeof before, "%d/%m/%Y", gmtime(&now));
  Dump d = dump(configIn(home), {"-e", "warn one", "-l", "log two", "-D", "1:hidden", "-f", "fatal three"});
  now = time(nullptr);
  strftime(after, sizeof after, "%d/%m/%Y", gmtime(&now));
  EXPECT_EQ(d.run.status, 1);
  EXPECT_EQ(d.run.err, "warn one\nfatal three\n");
  const std::string log = logOf(home);
  std::regex line(R"(^(\d\d):(\d\d):(\d\d) (\d\d/\d\d/\d{4}) ([EWL]) (.*)$)");
  std::vector<std::string> kinds, texts;
  std::istringstream in(log);
  std::string l;
  while (std::getline(in, l)) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(l, m, line)) << l;
    EXPECT_LT(std::stoi(m[1]), 24);
    EXPECT_LT(std::stoi(m[2]), 60);
    EXPECT_TRUE(m[4] == before || m[4] == after) << m[4];
    kinds.push_back(m[5]);
    texts.push_back(m[6]);
  }
  EXPECT_EQ(kinds, (std::vector<std::string>{"W", "L", "E"}));
  EXPECT_EQ(texts, (std::vector<std::string>{"warn one", "log two", "fatal three"}));
}

TEST(Startup, HomeThatDoesNotExistStillShowsErrorsAndFatal) {
  TempDir tmp;
  const std::string gone = tmp.sub("no/such/home");
  const std::string noCatalogue = "No languages.cf file!! I'll speak my weird internal language!\n";
  // Without a log the warnings still reach standard error, after one line
  // that says why the log gets none of them.
  const std::string note = "Can't append to `" + gone + "/Logfile' (No such file or directory)\n";
  Dump d = dump("home-dir " + gone + "\ndomain @x.example\nlegal-chars @\n", {"-e", "heard", "-l", "lost"});
  ASSERT_EQ(d.run.status, 0);
  EXPECT_EQ(d.run.err, note + "Bad character `@' in `legal-chars' - addresses may become unparsable\n" +
                           noCatalogue + "heard\n");
  EXPECT_EQ(d["message"], "<missing>");

  d = dump("home-dir " + gone + "\ndomain @x.example\n", {"-m", "greeting", "-f", "heard"});
  EXPECT_EQ(d.run.status, 1);
  EXPECT_EQ(d.run.err, note + noCatalogue + "heard\n");
  EXPECT_EQ(d["message"], "greeting");
  EXPECT_FALSE(testsupport::fileExists(gone));

  // A log that opens but takes nothing (a full disk) is said once as well.
  TempDir full;
  makeHome(full);
  ASSERT_EQ(symlink("/dev/full", full.sub("Logfile").c_str()), 0);
  d = dump(testsupport::configFor(full.path()), {"-e", "one", "-e", "two"});
  EXPECT_EQ(d.run.status, 0);
  EXPECT_EQ(d.run.err, "one\nCan't append to `" + full.sub("Logfile") + "' (No space left on device)\ntwo\n");
}

TEST(Startup, CatalogueMessagesAndLanguageSwitching) {
  TempDir home;
  Dump d = dump(configIn(home, "domain @node.ru\n"),
                {"-m", "greeting", "-M", "en:greeting", "-m", "greeting", "-s", "EN", "-m",
                 "greeting", "-s", "xx", "-m", "greeting", "-M", "xx:greeting", "-p", "languages.cf"});
  ASSERT_EQ(d.run.status, 0) << d.run.err;
  std::vector<std::string> got;
  for (const std::string &line : d.lines)
    if (line.rfind("message=", 0) == 0 || line.rfind("current=", 0) == 0 || line.rfind("path=", 0) == 0)
      got.push_back(line);
  const std::string ru = "\xf0\xd2\xc9\xd7\xc5\xd4";
  EXPECT_EQ(got, (std::vector<std::string>{
                     "current=[ru]", "message=[" + ru + "]", "message=[Hello]", "message=[" + ru + "]",
                     "current=[en]", "message=[Hello]",
                     // An undefined language speaks the configured one.
                     "current=[ru]", "message=[" + ru + "]", "message=[" + ru + "]",
                     "path=[" + home.sub("languages.cf") + "]"}));
  EXPECT_EQ(d.run.err, "No definition for language `xx' found in `languages.cf'\n");
}
