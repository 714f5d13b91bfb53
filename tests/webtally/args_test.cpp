#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "webtally.h"

namespace {

// The template of print, whose names share many prefixes.
const CommandArg kPrintTemplate[] = {
    {"format", ARG_STRING, false, {}},     {"value", ARG_EXPRESSION, false, {}},
    {"precision", ARG_EXPRESSION, false, {}}, {"symbol", ARG_STRING, false, {}},
    {"width", ARG_INTEGER, false, {}},     {"bywords", ARG_FLAG, false, {}},
    {"shift", ARG_INTEGER, false, {}},     {"withvat", ARG_FLAG, false, {}},
    {"begin", ARG_DATE, false, {}},        {}};

// The slots that are set, as "name=value" words.
std::string describe(const CommandArg *slots) {
  std::string out;
  for (const CommandArg *s = slots; s->name; ++s) {
    if (!s->set) continue;
    char buf[64] = "";
    switch (s->type) {
      case ARG_STRING: snprintf(buf, sizeof buf, "=%s", s->value.text ? s->value.text : "(none)"); break;
      case ARG_EXPRESSION: snprintf(buf, sizeof buf, "=%g", s->value.real); break;
      case ARG_INTEGER: snprintf(buf, sizeof buf, "=%d", s->value.integer); break;
      case ARG_DATE:
        if (s->value.date)
          snprintf(buf, sizeof buf, "=%d.%d.%d", s->value.date->year, s->value.date->month, s->value.date->day);
        break;
      case ARG_FLAG: break;
    }
    out += (out.empty() ? "" : " ") + std::string(s->name) + buf;
  }
  return out;
}

struct Parsed {
  std::string slots;
  std::string err;
};

Parsed parse(const CommandArg *templ, size_t size, const std::string &text) {
  std::vector<CommandArg> slots(templ, templ + size);
  std::string copy = text;
  testing::internal::CaptureStderr();
  parseArgs(slots.data(), copy.data());
  Parsed p{describe(slots.data()), testing::internal::GetCapturedStderr()};
  freeArgs(slots.data());
  return p;
}

}  // namespace

TEST(Args, WordsSetSlotsByAbbreviationAndType) {
  today = Date{5, 3, 2005};
  struct Case {
    const char *text;
    const char *slots;
    const char *err;
  } cases[] = {
      {"format=a=b", "format=a=b", ""},
      {"WIDTH=10 wid=11", "width=11", ""},
      {"w=10 wi=10", "", "Ambiguous argument - w\nAmbiguous argument - wi\n"},
      {"colour=red", "", "Bad argument - colour\n"},
      {"withvat=no bywords", "bywords withvat", ""},
      {"value", "value=0", ""},
      {"value=2/3 precision=0.5*2", "value=0.666667 precision=1", ""},
      {"width=12abc shift=abc", "width=12 shift=0", ""},
      {"width=99999999999 shift=-99999999999", "width=2147483647 shift=-2147483648", ""},
      {"format=\"a b\" symbol=a z", "format=a b symbol=a", "Bad argument - z\n"},
      {"format=x format=y", "format=y", ""},
      // A string without "=" carries nothing: it counts as not given.
      {"format symbol=x format", "symbol=x", ""},
      {"=5", "", "Ambiguous argument - \n"},
      {"begin=-0.1", "begin=2005.2.5", ""},
      {"begin=1998.1.1", "begin=1998.1.1", ""},
      {"begin", "begin", ""},
      {"begin=2005.2.29", "begin=2005.3.5", "Bad date `2005.2.29' ignored\n"},
      {"begin=-10000", "begin=2005.3.5", "Bad date `-10000' ignored\n"},
  };
  for (const Case &c : cases) {
    Parsed p = parse(kPrintTemplate, std::size(kPrintTemplate), c.text);
    EXPECT_EQ(p.slots, c.slots) << c.text;
    EXPECT_EQ(p.err, c.err) << c.text;
  }

  // A bad expression is reported twice and leaves the slot unset.
  Parsed p = parse(kPrintTemplate, std::size(kPrintTemplate), "value=3 value=1+");
  EXPECT_EQ(p.slots, "");
  EXPECT_NE(p.err.find("Cannot set value due to bad expression - 1+\n"
                       "Something wrong with argument value - value=\"1+\"\n"),
            std::string::npos)
      << p.err;

  // With a single slot an empty name sets it.
  const CommandArg single[] = {{"value", ARG_EXPRESSION, false, {}}, {}};
  EXPECT_EQ(parse(single, std::size(single), "=5").slots, "value=5");
}
