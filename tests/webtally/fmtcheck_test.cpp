// Form formats: the gate that keeps hostile formats from printf, the money
// marker and the currency marker.
#include <cstring>
#include <string>

#include "layout.h"
#include "sample_home.h"

using FormFormat = SampleHome;

TEST_F(FormFormat, OnlyOneConversionThatFitsItsArgumentPasses) {
  const FormatArg T = kFormatText, N = kFormatNumber, M = kFormatMonthYear;
  struct Row {
    const char *format;
    FormatArg arg;
    bool ok;
  } rows[] = {
      {"", T, true},          {"%-20.5s|%%|%@", T, true}, {"%+08.2f %@", N, true},
      {"%lf", N, true},       {"%.f%%", N, true},         {"%$ %@", N, true},
      {"%%$ %g", N, true},    {"%999s", T, true},         {"%1000s", T, false},
      {"%.1000f", N, false},  {"%n", T, false},           {"%5n", N, false},
      {"%s%s", T, false},     {"%*d", N, false},          {"%*s", T, false},
      {"%1$s", T, false},     {"%1$f", N, false},         {"%$%$", N, false},
      {"%$ %f", N, false},    {"%$", T, false},           {"%s", N, false},
      {"%d", N, false},       {"%c", T, false},           {"%.2f", T, false},
      {"%010s", T, false},    {"%ls", T, false},          {"%Lf", N, false},
      {"%hhf", N, false},     {"50%", T, false},
      // A statistic heading: month and year.
      {"%02d/%4u %%", M, true}, {"%x", M, true},           {"%d%d%d", M, false},
      {"%d %s", M, false},    {"%@ %d", M, false},        {"%d %$", M, false},
      {"%*u", M, false},      {"%2$d", M, false},         {"%d%n", M, false},
      {"%ld", M, false},
  };
  for (const Row &row : rows) {
    EXPECT_EQ(checkFormat(row.format, row.arg), row.ok) << row.format;
    EXPECT_EQ(logged(std::string("W Bad format - ") + row.format + "\n"), !row.ok) << row.format;
  }
}

TEST_F(FormFormat, MarkersBecomeTheMoneyConversionAndTheCurrencyName) {
  char format[] = "%$ %%$ %%%$ %.2f";
  EXPECT_TRUE(currencyMarker(format));
  EXPECT_STREQ(format, "%s %%$ %%%s %.2f");
  char plain[] = "%%$ %.2f";
  EXPECT_FALSE(currencyMarker(plain));

  addLanguage("pc", "currency \"50%n off\"\n");
  setLanguage("pc");
  const std::string a198(198, 'a'), a199(199, 'a'), a200(200, 'a');
  struct Expansion {
    std::string format;
    const char *conversion;
    std::string expanded;
  } expansions[] = {
      {"total", "%g", "total%g"},
      {"%@ %.2f", "%g", "50%%n off %.2f"},  // a "%" of the name prints as it stands
      {"50%", "%g", "50"},
      {a198, "%g", a198 + "%g"},
      {a200, "%g", a200},
      {a199 + "%s", "%s", a199},  // never half a pair
      {a198 + "%@", nullptr, a198 + "50"},
  };
  for (const Expansion &e : expansions) {
    EXPECT_EQ(expandFormat(e.format.c_str(), e.conversion), e.expanded) << e.format;
  }
}
