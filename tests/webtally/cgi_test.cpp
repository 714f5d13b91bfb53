#include <gtest/gtest.h>

#include <string>

#include "webtally.h"

namespace {

// The decoded text of a heap copy of exactly the text's size, so that a
// read past its end shows under AddressSanitizer.
std::string decoded(const char *text) {
  char *copy = strDup(text);
  char *result = urlDecode(copy);
  std::string s = result;
  memRealloc(result, 0);
  memRealloc(copy, 0);
  return s;
}

}  // namespace

TEST(Query, ItemsAreDecodedAndParametersFoundByWholeName) {
  struct Case {
    const char *query;
    const char *name;
    const char *value;  // null: no such parameter
  } cases[] = {
      {"what=account&date=-0.1", "what", "account"},
      {"what=account&date=-0.1", "date", "-0.1"},
      {"date=+0.1", "date", " 0.1"},
      {"date=%2B0.1", "date", "+0.1"},
      {"a+b%3Dc", "a b", "c"},
      {"what", "what", "On"},
      {"what=", "what", ""},
      {"&&what=x&", "what", "x"},
      {"whatever=1", "what", nullptr},
      {"whatever=1&what=2&what=3", "what", "2"},
      {"What=1", "what", nullptr},
      {"what=%41%4a%4", "what", "AJ"},
      {"what=a%zzb&date=1", "what", "a"},
      {"what=a%zzb&date=1", "date", "1"},
      {"", "what", nullptr},
  };
  for (const Case &c : cases) {
    QueryList list;
    parseQuery(&list, c.query);
    const char *value = queryParam(&list, c.name);
    if (c.value) EXPECT_STREQ(value, c.value) << c.query << " " << c.name;
    else EXPECT_EQ(value, nullptr) << c.query << " " << c.name;
    freeQuery(&list);
  }

  QueryList list;
  EXPECT_EQ(parseQuery(&list, "&&what=x&")->count, 1u);
  // Items past the first step of the array.
  std::string many;
  for (int i = 0; i < 45; ++i) many += "p" + std::to_string(i) + "=" + std::to_string(i) + "&";
  parseQuery(&list, many.c_str());
  EXPECT_EQ(list.count, 45u);
  EXPECT_STREQ(queryParam(&list, "p44"), "44");
  freeQuery(&list);
}

TEST(Query, DecodingEndsAtABadOrCutEscape) {
  struct Case {
    const char *text;
    const char *result;
  } cases[] = {
      {"%41%4a%2b", "AJ+"}, {"a%zzb", "a"}, {"a%4", "a"}, {"a%", "a"}, {"a%00b", "a"}, {"100%", "100"},
      {"%d2%D5", "\xd2\xd5"}, {"a+b", "a+b"},
  };
  for (const Case &c : cases) EXPECT_EQ(decoded(c.text), c.result) << c.text;
  EXPECT_EQ(hexPair("4"), 0);
  EXPECT_EQ(hexPair("fF"), 255);
  EXPECT_EQ(urlDecode(nullptr), nullptr);
}
