// Form formats: the gate that keeps hostile formats from printf, the money
// marker and the currency marker.
#include <cstdio>
#include <cstring>
#include <string>

#include "language.h"
#include "layout.h"
#include "sample_home.h"

using FormFormat = SampleHome;

TEST_F(FormFormat, OnlyOneConversionThatFitsItsArgumentPasses) {
  struct Row {
    const char *format;
    FormatArg arg;
    bool ok;
  } rows[] = {
      {"", kFormatText, true},           {"plain", kFormatNumber, true},
      {"%-20.5s|%%|%@", kFormatText, true}, {"%+08.2f %@", kFormatNumber, true},
      {"%lf", kFormatNumber, true},      {"%.f%%", kFormatNumber, true},
      {"%$ %@", kFormatNumber, true},    {"%%$ %g", kFormatNumber, true},
      {"%999s", kFormatText, true},      {"%1000s", kFormatText, false},
      {"%.1000f", kFormatNumber, false}, {"%n", kFormatText, false},
      {"%5n", kFormatNumber, false},     {"%s%s", kFormatText, false},
      {"%*d", kFormatNumber, false},     {"%*s", kFormatText, false},
      {"%1$s", kFormatText, false},      {"%1$f", kFormatNumber, false},
      {"%$%$", kFormatNumber, false},    {"%$ %f", kFormatNumber, false},
      {"%$", kFormatText, false},        {"%s", kFormatNumber, false},
      {"%d", kFormatNumber, false},      {"%c", kFormatText, false},
      {"%.2f", kFormatText, false},      {"%010s", kFormatText, false},
      {"%ls", kFormatText, false},       {"%Lf", kFormatNumber, false},
      {"%hhf", kFormatNumber, false},    {"50%", kFormatText, false},
  };
  for (const Row &row : rows) {
    EXPECT_EQ(checkFormat(row.format, row.arg), row.ok) << row.format;
    std::string message = std::string("W Bad format - ") + row.format + "\n";
    EXPECT_EQ(logged(message), row.ok ? 0 : 1) << row.format;
    if (!row.ok) continue;
    // What passes formats its argument soundly (the sanitizers watch).
    char format[64], out[2048];
    strcpy(format, row.format);
    bool money = currencyMarker(format);
    const char *expanded = expandFormat(format, row.arg == kFormatText ? "%s" : "%g");
    if (row.arg == kFormatText || money) {
      snprintf(out, sizeof out, expanded, "text");
    } else {
      snprintf(out, sizeof out, expanded, 2.5);
    }
  }
}

TEST_F(FormFormat, MarkersBecomeTheMoneyConversionAndTheCurrencyName) {
  struct Marker {
    const char *format, *rewritten;
    bool found;
  } markers[] = {{"%$ %@", "%s %@", true},
                 {"%%$", "%%$", false},
                 {"%%%$", "%%%s", true},
                 {"%.2f", "%.2f", false}};
  for (const Marker &m : markers) {
    char format[16];
    strcpy(format, m.format);
    EXPECT_EQ(currencyMarker(format), m.found) << m.format;
    EXPECT_STREQ(format, m.rewritten);
  }

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
      {"%@", "%s", "50%%n off"},
      {"", nullptr, ""},
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
