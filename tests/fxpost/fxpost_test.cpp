#include <gtest/gtest.h>

#include <csignal>
#include <ctime>
#include <string>
#include <vector>

#include "dbserver.h"
#include "process.h"

namespace {

// The INSERT statements of table rates in a statement log.
std::string rateInserts(const std::string &log) {
  std::string out;
  for (size_t at = log.find("INSERT INTO rates"); at != std::string::npos; at = log.find("INSERT INTO rates", at + 1))
    out += log.substr(at, log.find('\n', at) + 1 - at);
  return out;
}

}  // namespace

TEST(Fxpost, StoresCheckedRatesWithThreeDecimalsAndRefusesTheRest) {
  testsupport::TempDir tmp("fxpost");
  const std::string home = tmp.sub("home");
  testsupport::writeFile(home + "/languages.cf", "en messages.en\n");
  testsupport::writeFile(home + "/messages.en", "currency roubles\n");
  testsupport::DbServer db(tmp.sub("db"), [] {
    testsupport::DbServer::Options options;
    options.statementLog = true;
    return options;
  }());
  ASSERT_TRUE(db.start());
  char first[16];  // the first of this month (the programs run in UTC)
  const time_t now = time(nullptr);
  strftime(first, sizeof first, "%Y%m01", gmtime(&now));

  const std::string usage = "Usage: fxpost [-q] currency rate [day [month [year]]]\n\t-q\tBe quiet\n";
  const struct {
    std::vector<std::string> args;
    int status;
    std::string err;  // the end of standard error
  } cases[] = {
      {{"USD", "29/5", "1", "3", "2024"}, 0, "01/03/2024: 1 USD == 5.8 roubles\n"},
      {{"EUR", "2/3", "29", "2", "2100"}, 0, "29/02/2100: 1 EUR == 0.666666666666667 roubles\n"},
      {{"KZT", "0.0058", "9", "12", "2026"}, 0, "09/12/2026: 1 KZT == 0.0058 roubles\n"},
      // The smallest rate that does not read back as none; taxes is still 0.
      {{"-q", "ABCDEFGHIJKLMNOP", "0.0005+taxes", "31", "12", "9999", "extra"}, 0, ""},
      {{"-q", "O'K", "1.23456", "1"}, 0, ""},
      {{}, 1, usage},
      {{"-z", "USD", "5"}, 1, "invalid option -- 'z'\n" + usage},
      {{"USD", "0.000001"}, 1, "Bad USD rate given (0.000001)\n"},
      {{"USD", "0.0004"}, 1, "Bad USD rate given (0.000400)\n"},
      {{"USD", "1e308*10"}, 1, "Bad USD rate given (inf)\n"},
      {{"USD", "abc"}, 1, "No such function or variable - abc\nbad expression for rate of USD\n"},
      {{"U S", "5"}, 1, "Bad currency name `U S'\n"},
      {{"ABCDEFGHIJKLMNOPQ", "5"}, 1, "Bad currency name `ABCDEFGHIJKLMNOPQ'\n"},
      {{"USD", "5", "31", "2", "1998"}, 1, "Bad date given - 31/02/1998\n"},
      {{"USD", "5", "1", "1", "1969"}, 1, "Bad date given - 1/01/1969\n"},
      {{"USD", "5", "1", "13", "10000"}, 1, "Bad date given - 1/13/10000\n"},
      {{"USD", "5", "5x"}, 1, "Bad date given - 5x\n"},
      {{"USD", "5", "4294967297", "1", "2000"}, 1, "Bad date given - 4294967297\n"},
  };
  for (const auto &c : cases) {
    testsupport::RunSpec spec;
    spec.program = "fxpost";
    spec.args = c.args;
    spec.etc = {{"korvix-1.3.conf", testsupport::configFor(home, db.config() + "language en\ntaxes 0.2\n")}};
    auto r = testsupport::run(spec);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_TRUE(c.status ? r.err.ends_with(c.err) : r.err == c.err) << r.err;
  }
  EXPECT_EQ(rateInserts(db.statements()),
            "INSERT INTO rates (id,date,name,rate) VALUES (1,20240301,'USD',5.8)\n"
            "INSERT INTO rates (id,date,name,rate) VALUES (2,21000229,'EUR',0.666666666666667)\n"
            "INSERT INTO rates (id,date,name,rate) VALUES (3,20261209,'KZT',0.0058)\n"
            "INSERT INTO rates (id,date,name,rate) VALUES (4,99991231,'ABCDEFGHIJKLMNOP',0.0005)\n"
            "INSERT INTO rates (id,date,name,rate) VALUES (5," + std::string(first) + ",'O\\'K',1.23456)\n");
  // The refusals came before the configuration was read: nothing was logged.
  EXPECT_FALSE(testsupport::fileExists(home + "/Logfile"));
}

TEST(Fxpost, RunThatStoresNoRateSaysNoRateStored) {
  testsupport::TempDir tmp("fxpost");
  const std::string home = tmp.sub("home"), missing = tmp.sub("missing");
  testsupport::RunSpec spec;
  spec.program = "fxpost";
  spec.args = {"USD", "5"};
  spec.etc = {{"korvix-1.3.conf", testsupport::configFor(home, "lock-dir " + missing + "\n")}};
  auto r = testsupport::run(spec);
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.err.ends_with("Can't use lock directory `" + missing + "' (No such file or directory)\n")) << r.err;
  // Ended while it waits for a database that is not there: no confirmation.
  spec.etc = {{"korvix-1.3.conf", testsupport::configFor(home, "sql-socket " + missing + "\n")}};
  spec.timeoutSeconds = 2;
  r = testsupport::run(spec);
  EXPECT_EQ(r.status, 128 + SIGKILL);
  EXPECT_TRUE(r.err.ends_with("Can't connect to sql server local (Can't connect to local MSQL server) at " + missing +
                              ", retrying in 60 s\n"))
      << r.err;
  EXPECT_EQ(r.err.find("1 USD =="), std::string::npos) << r.err;
}
