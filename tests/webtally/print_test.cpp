// print, line and the user information commands: what each directive writes
// and what it logs, hostile formats included.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "sample_home.h"
#include "symbols.h"
#include "webtally.h"

namespace {

class Print : public SampleHome {
 protected:
  void SetUp() override {
    SampleHome::SetUp();
    setLanguage("en");
    currencyThousands = strDup(" ");
    *taxesValue = 0.2;
    userInit(&user);
    strnzcpy(user.name, "kate", sizeof user.name);
    const char *items[][2] = {
        {"username", "kate"},       {"realname/e", "Kate"},    {"realname/n", "Katya"},
        {"organization/n", "Org"},  {"organization/e", "Org Ltd"}, {"location/e", "Moscow"},
        {"phones", "123 45 67"},    {"postmaster", "pm@kate"}, {"contract", "C-1"},
        {"domain", "kate.example"}, {"system", "Linux"},       {"whowhen", "w 980315"},
        {"motto", "50%n%s"},
    };
    for (auto &item : items) {
      std::string value = item[1];
      setUserData(&user, value.data(), item[0]);
    }
  }
  void TearDown() override {
    userClear(&user);
    *taxesValue = 0;
    currencyThousands = static_cast<char *>(memRealloc(currencyThousands, 0));
    SampleHome::TearDown();
  }
  // What handler writes for the argument text args.
  std::string run(CommandHandler handler, const std::string &args) {
    char *page = nullptr;
    size_t size = 0;
    FILE *out = open_memstream(&page, &size);
    std::string text = args;
    handler(out, &user, text.data());
    fclose(out);
    std::string written(page, size);
    free(page);
    return written;
  }

  // The handler run with args writes out and logs log.
  struct Case {
    CommandHandler handler;
    std::string args;
    std::string out;
    std::string log;
  };
  void expectCases(const std::vector<Case> &cases) {
    for (const Case &c : cases) {
      EXPECT_EQ(run(c.handler, c.args), c.out) << c.args;
      EXPECT_EQ(complaints(), c.log) << c.args;
    }
  }

  UserConf user;
};

}  // namespace

TEST_F(Print, WritesNumbersMoneyAndWordsAndRefusesHostileFormats) {
  const std::string a198(198, 'a');
  expectCases({
      {cmdPrint, "", "", ""},
      {cmdPrint, "value=2/3 format=\"%.3f\"", "0.667", ""},
      {cmdPrint, "value=2/3", "0.666667", ""},
      {cmdPrint, "value=2.5 precision=1", "3", ""},
      {cmdPrint, "value=7.4 precision=0", "7", ""},
      {cmdPrint, "value=1234.5 format=\"%$ %@\"", "1 235 roubles", ""},
      {cmdPrint, "value=-1234.5 precision=0.01 format=\"%%%$\"", "%-1 234.50", ""},
      {cmdPrint, "format=\"%@\"", "roubles", ""},
      {cmdPrint, "value=10.4 withvat", "12", ""},
      {cmdPrint, "value=10.4 vatonly", "2", ""},
      {cmdPrint, "value=100 withvat vatonly", "24", ""},
      {cmdPrint, "value=5 width=10 format=\">%g\"", "         5", ""},
      {cmdPrint, "value=5 width=10", "    5     ", ""},
      {cmdPrint, "value=5 width=10 symbol=", "    5     ", ""},
      {cmdPrint, "value=1234.5 width=12 symbol=* format=\"<%$\"", "1 235 ******", ""},
      {cmdPrint, "width=3", std::string(79, ' '), "Bad width - 3\n"},
      {cmdPrint, "width=-1 value=1", std::string(39, ' ') + "1" + std::string(39, ' '),
       "Bad width - 4294967295\n"},
      {cmdPrint, "shift=79 value=1", "1", "Bad margin - 79, assumed 1\n"},
      {cmdPrint, "shift=-1 width=5", "     ", "Bad margin - -1, assumed 1\n"},
      {cmdPrint, "value=21.5 bywords precision=0.01", "Twenty one roubles 50 kopecks", ""},
      {cmdPrint, "value=-0.5 bywords precision=0.01 format=\"Due: %s.\"",
       "Due: Minus zero roubles 50 kopecks.", ""},
      {cmdPrint, "value=2 bywords format=\"<%s\" symbol=* width=20", "Two roubles ********", ""},
      {cmdPrint, "value=123456 bywords width=30 shift=10",
       "One hundred twenty\nthree thousand four hundred\nfifty six roubles", ""},
      // Hostile formats write nothing.
      {cmdPrint, "value=1 format=%n", "", "Bad format - %n\n"},
      {cmdPrint, "value=1 format=%s%s", "", "Bad format - %s%s\n"},
      {cmdPrint, "value=1 format=%*d symbol=x", "", "Bad format - %*d\n"},
      {cmdPrint, "value=1 format=%1$s", "", "Bad format - %1$s\n"},
      {cmdPrint, "value=1 format=%s", "", "Bad format - %s\n"},
      {cmdPrint, "value=1 format=\"%$ %f\"", "", "Bad format - %$ %f\n"},
      {cmdPrint, "extension=motto format=%n", "", "Bad format - %n\n"},
      {cmdPrint, "extension=motto format=%s%s", "", "Bad format - %s%s\n"},
      {cmdPrint, "extension=motto format=%*d", "", "Bad format - %*d\n"},
      {cmdPrint, "extension=motto format=%1$s width=20", "", "Bad format - %1$s\n"},
      {cmdPrint, "bywords value=1 format=%f", "", "Bad format - %f\n"},
      {cmdPrint, "bywords value=1 format=%$ symbol=-", "", "Bad format - %$\n"},
      // The expansion stops at 200 characters, in the middle of "%-5s".
      {cmdPrint, "extension=motto format=" + a198 + "%-5s", "", "Bad format - " + a198 + "%-\n"},
      {cmdLine, "", std::string(79, '='), ""},
      {cmdLine, "width=10 format=\"<ab\"", "ab =======", ""},
      {cmdLine, "width=10 value=5 symbol=-", "--- 5 ----", ""},
      {cmdLine, "width=8 format=\"%@\"", "roubles", ""},  // centred with no room left: h = 0
  });
}

TEST_F(Print, UserCommandsPrintTheirItemNativeFirst) {
  expectCases({
      {cmdUsername, "", "kate", ""},
      {cmdOrganization, "", "Org", ""},
      {cmdOrganization, "english", "Org Ltd", ""},
      {cmdOrganization, "extension=phones", "Org", ""},
      {cmdRealname, "native", "Katya", ""},
      {cmdRealname, "english default=-", "Kate", ""},
      {cmdLocation, "native default=-", "-", ""},
      {cmdLocation, "", "Moscow", ""},
      {cmdContract, "", "C-1", ""},
      {cmdPhones, "", "123 45 67", ""},
      {cmdDomain, "", "kate.example", ""},
      {cmdUsersystem, "", "Linux", ""},
      {cmdWhowhen, "", "w 980315", ""},
      {cmdPostmaster, "", "pm@kate", ""},
      {cmdPrint, "extension=motto", "50%n%s", ""},
      {cmdPrint, "extension=nosuch", "", ""},
      {cmdPrint, "extension=p default=?", "?", "Ambiguous extension name for `kate' - `p'\n"},
      {cmdRealname, "format=\"Name: \"", "Name: Katya", ""},
      {cmdRealname, "format=\"%@ %-7s|\"", "roubles Katya  |", ""},
      {cmdOrganization, "symbol=. width=20 format=\">%s\"", "................ Org", ""},
      {cmdPhones, "width=8 shift=3", "123\n45 67", ""},
  });
}
