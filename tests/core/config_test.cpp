// The key table, storing settings and deriving the defaults in-process (the
// file itself is read end to end in startup_test.cpp).
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>
#include <string>

#include "config.h"
#include "memory.h"
#include "process.h"
#include "symbols.h"

using testsupport::TempDir;

namespace {

// Every setting as unset or at its start value for the length of a test;
// the process's own settings come back afterwards.
class Settings : public testing::Test {
 protected:
  void SetUp() override {
    for (ConfigKey *row = configKeys; row->key; ++row) {
      switch (row->type) {
        case CF_PATH:
        case CF_COMMAND:
        case CF_ADDRESS:
        case CF_STRING:
          saved_[row->target] = *static_cast<char **>(row->target);
          *static_cast<char **>(row->target) = nullptr;
          break;
        case CF_BOOLEAN:
          savedByte_[row->target] = *static_cast<char *>(row->target);
          break;
        case CF_INTEGER:
          savedInt_[row->target] = *static_cast<int32_t *>(row->target);
          *static_cast<int32_t *>(row->target) = -1;
          break;
        case CF_REAL:
          savedReal_[row->target] = *static_cast<double *>(row->target);
          break;
      }
    }
    debugLevel = 0;
    *taxesValue = 0;
    currencyPrecision = 1.0;
    transientPrecision = 0.01;
  }
  void TearDown() override {
    for (auto &[target, value] : saved_) {
      memRealloc(*static_cast<char **>(target), 0);
      *static_cast<char **>(target) = value;
    }
    for (auto &[target, value] : savedByte_) *static_cast<char *>(target) = value;
    for (auto &[target, value] : savedInt_) *static_cast<int32_t *>(target) = value;
    for (auto &[target, value] : savedReal_) *static_cast<double *>(target) = value;
  }
  static void set(char **setting, const char *value) { storeConfigString(setting, value, nullptr); }

 private:
  std::map<void *, char *> saved_;
  std::map<void *, char> savedByte_;
  std::map<void *, int32_t> savedInt_;
  std::map<void *, double> savedReal_;
};

}  // namespace

TEST(ConfigKeys, TableHasThirtyNineDistinctRowsAndEndsWithNull) {
  int rows = 0;
  std::set<std::string> keys;
  std::set<void *> targets;
  for (const ConfigKey *row = configKeys; row->key; ++row) {
    ++rows;
    keys.insert(row->key);
    targets.insert(row->target);
    EXPECT_NE(row->alias, nullptr);
    EXPECT_NE(row->target, nullptr);
  }
  EXPECT_EQ(rows, 39);
  EXPECT_EQ(keys.size(), 39u);
  EXPECT_EQ(targets.size(), 39u);
  EXPECT_STREQ(configKeys[0].key, "sql-type");
  EXPECT_STREQ(configKeys[38].key, "legal-chars");
  // "admin" comes before "admin-name"; matching needs the blank after a key.
  EXPECT_STREQ(configKeys[16].key, "admin");
  EXPECT_STREQ(configKeys[17].key, "admin-name");
}

TEST(ConfigKeys, TaxesKeyWritesTheBuiltinFormulaSymbol) {
  const ConfigKey *row = configKeys;
  while (row->key && strcmp(row->key, "taxes") != 0) ++row;
  ASSERT_NE(row->key, nullptr);
  EXPECT_EQ(row->type, CF_REAL);
  EXPECT_STREQ(builtinSymbols[0].name, "taxes");
  EXPECT_EQ(row->target, &builtinSymbols[0].value);
  EXPECT_EQ(taxesValue, &builtinSymbols[0].value);
}

TEST_F(Settings, StoreConfigStringReusesTheSettingsString) {
  char *s = nullptr;
  storeConfigString(&s, nullptr, nullptr);
  EXPECT_STREQ(s, "");
  storeConfigString(&s, "abc", nullptr);
  EXPECT_STREQ(s, "abc");
  storeConfigString(&s, "abc", "/def");
  EXPECT_STREQ(s, "abc/def");
  storeConfigString(&s, nullptr, "suffix only");
  EXPECT_STREQ(s, "suffix only");
  std::string big(5000, 'b');
  storeConfigString(&s, big.c_str(), "!");
  EXPECT_EQ(std::string(s), big + "!");
  storeConfigString(&s, "x", nullptr);
  EXPECT_STREQ(s, "x");
  memRealloc(s, 0);  // one string all along: nothing else to free
}

TEST_F(Settings, CheckConfigDefaultsWithoutAnyFileValue) {
  set(&addrDomain, "@n.example");
  EXPECT_EQ(checkConfig(), 0);
  EXPECT_STREQ(homeDir, "/var/local/stat");
  EXPECT_STREQ(binDir, "/var/local/stat/bin");
  EXPECT_STREQ(closeUser, "/var/local/stat/bin/user-close");
  EXPECT_STREQ(sqlServerType, "msql");
  EXPECT_EQ(sqlDatabase, nullptr);
  EXPECT_EQ(addrCarbon, nullptr);
  EXPECT_STREQ(cmdDelimiters, "<>");
  EXPECT_STREQ(language, "en");
  EXPECT_EQ(*taxesValue, 0.0);
}

TEST_F(Settings, DefaultDelimitersAreTheSettingsOwnString) {
  set(&addrDomain, "@n.example");
  set(&cmdDelimiters, "<");
  checkConfig();
  EXPECT_STREQ(cmdDelimiters, "<>");
  // A program stores its own delimiters later in the same way.
  storeConfigString(&cmdDelimiters, "@@", nullptr);
  EXPECT_STREQ(cmdDelimiters, "@@");
}

TEST_F(Settings, LocaleDefaultsOfTheDefaultLocale) {
  currencyPrecision = 0;
  transientPrecision = 0;
  localeDefaults();
  EXPECT_EQ(currencyPrecision, 1.0);
  EXPECT_EQ(transientPrecision, 0.01);
  ASSERT_NE(currencyThousands, nullptr);
  EXPECT_STREQ(currencyThousands, "");

  // Set values stay.
  currencyPrecision = 0.05;
  transientPrecision = 0.5;
  set(&currencyThousands, "'");
  localeDefaults();
  EXPECT_EQ(currencyPrecision, 0.05);
  EXPECT_EQ(transientPrecision, 0.5);
  EXPECT_STREQ(currencyThousands, "'");
}

TEST_F(Settings, LegalCharsWarningNamesTheFirstBadCharacter) {
  TempDir home;
  set(&homeDir, home.path().c_str());
  set(&addrDomain, "@n.example");
  set(&legalAddrChars, "a,b<");
  testing::internal::CaptureStderr();
  checkConfig();
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Bad character `,' in `legal-chars' - addresses may become unparsable\n");
  EXPECT_STREQ(legalAddrChars, "a,b<");

  set(&legalAddrChars, "abc-_.");
  testing::internal::CaptureStderr();
  checkConfig();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}
