// A user's data item by name: prefix match, language variants, ambiguity.
#include <cstring>

#include "layout.h"
#include "sample_home.h"

using UserField = SampleHome;

TEST_F(UserField, PrefersTheNativeVariantAndRefusesAmbiguousNames) {
  UserConf user;
  userInit(&user);
  strnzcpy(user.name, "kate", sizeof user.name);
  const char *items[][2] = {{"realname/e", "Kate"}, {"realname/n", "Katya"}, {"org/n", "Org"},
                            {"org/e", "Org Ltd"},   {"location/e", "Moscow"}, {"phones", "123"},
                            {"postmaster", "pm@kate"}};
  for (auto &item : items) {
    char value[64];
    setUserData(&user, strnzcpy(value, item[1], sizeof value), item[0]);
  }
  struct Row {
    const char *name, *dflt;
    bool native, english;
    const char *value;
  } rows[] = {
      {"realname", "-", false, false, "Katya"}, {"realname", "-", true, true, "Katya"},
      {"real", "-", true, false, "Katya"},      {"real", "-", false, true, "Kate"},
      {"org", "-", false, false, "Org"},        {"org", "-", false, true, "Org Ltd"},
      {"location", "-", true, false, "-"},      {"location", "-", false, false, "Moscow"},
      {"contract", nullptr, false, false, nullptr}, {"p", "-", false, false, "-"},
  };
  for (const Row &row : rows) {
    EXPECT_STREQ(userField(&user, row.name, row.dflt, row.native, row.english), row.value)
        << row.name << row.native << row.english;
  }
  EXPECT_EQ(logged("W Ambiguous extension name for `kate' - `p'\n"), 1);
  EXPECT_EQ(logged("Ambiguous"), 1);
  userClear(&user);
}
