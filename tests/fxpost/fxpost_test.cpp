#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

#include "dbserver.h"
#include "process.h"

namespace {

const char kUsage[] = "Usage: fxpost [-q] currency rate [day [month [year]]]\n\t-q\tBe quiet\n";

// A home with an English catalogue (the base currency is "roubles"), VAT
// configured, and a database server of its own that logs every statement.
class Fxpost : public ::testing::Test {
 protected:
  void SetUp() override {
    testsupport::writeFile(home + "/languages.cf", "en messages.en\n");
    testsupport::writeFile(home + "/messages.en", "currency roubles\n");
    ASSERT_TRUE(db.start());
  }
  testsupport::RunResult fxpost(const std::vector<std::string> &args) {
    testsupport::RunSpec spec;
    spec.program = "fxpost";
    spec.args = args;
    spec.etc = {{"korvix-1.3.conf", testsupport::configFor(home, db.config() + "language en\ntaxes 0.2\n")}};
    return testsupport::run(spec);
  }
  static testsupport::DbServer::Options logged() {
    testsupport::DbServer::Options o;
    o.statementLog = true;
    return o;
  }
  testsupport::TempDir tmp{"fxpost"};
  std::string home = tmp.sub("home");
  testsupport::DbServer db{tmp.sub("db"), logged()};
};

// The INSERT statements of table rates in the statement log.
std::string rateInserts(const std::string &log) {
  std::string out;
  for (size_t at = log.find("INSERT INTO rates"); at != std::string::npos; at = log.find("INSERT INTO rates", at + 1))
    out += log.substr(at, log.find('\n', at) + 1 - at);
  return out;
}

// Today in UTC (the programs run with TZ=UTC) as "DD/MM/YYYY".
std::string today() {
  char text[16];
  time_t now = time(nullptr);
  strftime(text, sizeof text, "%d/%m/%Y", gmtime(&now));
  return text;
}

}  // namespace

TEST_F(Fxpost, MissingOperandsAndUnknownOptionsPrintTheUsage) {
  for (const std::vector<std::string> &args :
       std::vector<std::vector<std::string>>{{}, {"USD"}, {"-q", "USD"}, {"-H", "USD", "5"}, {"-z", "USD", "5"}}) {
    auto r = fxpost(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.ends_with(kUsage)) << r.err;
  }
  EXPECT_EQ(rateInserts(db.statements()), "");
}

TEST_F(Fxpost, StoresTheRateWithThreeDecimalsFromTheDayGiven) {
  struct Case {
    std::vector<std::string> args;
    std::string err, insert;
  } cases[] = {
      {{"USD", "29/5", "1", "3", "2024"}, "01/03/2024: 1 USD == 5.8 roubles\n", "1,20240301,'USD',5.800"},
      {{"-q", "EUR", "2/3", "15", "6", "1998"}, "", "2,19980615,'EUR',0.667"},
      {{"USD", "1.23456", "29", "2", "2100"}, "29/02/2100: 1 USD == 1.23456 roubles\n", "3,21000229,'USD',1.235"},
      // The smallest rate that does not read back as none; taxes is still 0.
      {{"-q", "ABCDEFGHIJKLMNOP", "0.0005+taxes", "1", "1", "1970", "extra"}, "", "4,19700101,'ABCDEFGHIJKLMNOP',0.001"},
      {{"-q", "O'K", "1e6", "31", "12", "9999"}, "", "5,99991231,'O\\'K',1000000.000"},
  };
  std::string expected;
  for (const Case &c : cases) {
    auto r = fxpost(c.args);
    EXPECT_EQ(r.status, 0) << c.insert << r.err;
    EXPECT_EQ(r.err, c.err);
    expected += "INSERT INTO rates (id,date,name,rate) VALUES (" + c.insert + ")\n";
  }
  EXPECT_EQ(rateInserts(db.statements()), expected);
}

TEST_F(Fxpost, FieldsNotGivenComeFromToday) {
  std::string before = today();
  auto r = fxpost({"USD", "5.9"});
  auto first = fxpost({"USD", "5.9", "1"});
  auto january = fxpost({"USD", "5.9", "1", "1"});
  std::string day = today() == before ? before : r.err.substr(0, 10);
  EXPECT_EQ(r.err, day + ": 1 USD == 5.9 roubles\n");
  EXPECT_EQ(first.err, "01" + day.substr(2) + ": 1 USD == 5.9 roubles\n");
  EXPECT_EQ(january.err, "01/01" + day.substr(5) + ": 1 USD == 5.9 roubles\n");
}

TEST_F(Fxpost, RefusesBadRatesNamesAndDatesWithoutStoringOrReadingTheConfiguration) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"USD", "0"}, "Bad USD rate given (0.000000)"},
      {{"USD", "0.000001"}, "Bad USD rate given (0.000001)"},
      {{"USD", "0.0004"}, "Bad USD rate given (0.000400)"},
      {{"USD", "1-5"}, "Bad USD rate given (-4.000000)"},
      {{"USD", "1e308*10"}, "Bad USD rate given (inf)"},
      {{"USD", "abc"}, "No such function or variable - abc\nbad expression for rate of USD"},
      {{"", "5"}, "Bad currency name `'"},
      {{"U S", "5"}, "Bad currency name `U S'"},
      {{"U\x01S", "5"}, "Bad currency name `U\x01S'"},
      {{"ABCDEFGHIJKLMNOPQ", "5"}, "Bad currency name `ABCDEFGHIJKLMNOPQ'"},
      {{"USD", "5", "31", "2", "1998"}, "Bad date given - 31/02/1998"},
      {{"USD", "5", "29", "2", "2099"}, "Bad date given - 29/02/2099"},
      {{"USD", "5", "1", "1", "1969"}, "Bad date given - 1/01/1969"},
      {{"USD", "5", "1", "1", "10000"}, "Bad date given - 1/01/10000"},
      {{"USD", "5", "0", "1", "2000"}, "Bad date given - 0/01/2000"},
      {{"USD", "5", "1", "13", "2000"}, "Bad date given - 1/13/2000"},
      {{"USD", "5", "1", "0", "2000"}, "Bad date given - 1/00/2000"},
      {{"USD", "5", "5x"}, "Bad date given - 5x"},
      {{"USD", "5", "1", "+3", "2000"}, "Bad date given - +3"},
      {{"USD", "5", "4294967297", "1", "2000"}, "Bad date given - 4294967297"},
      {{"USD", "5", "1", "1", "4294969296"}, "Bad date given - 4294969296"},
  };
  for (const auto &[args, message] : cases) {
    auto r = fxpost(args);
    EXPECT_EQ(r.status, 1) << message;
    EXPECT_EQ(r.err, message + "\n");
  }
  EXPECT_EQ(rateInserts(db.statements()), "");
  EXPECT_FALSE(testsupport::fileExists(home + "/Logfile"));
}
