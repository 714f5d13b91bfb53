// Numbers and amounts in words, against the sample catalogue: Russian and
// English words checked against num2words, amounts against a table written
// by hand from Russian grammar. Texts are KOI8-R bytes.
#include "words.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "language.h"
#include "sample_home.h"

namespace {

// num2words' text of each number in lang, in KOI8-R and worded as the sample
// catalogue words it: no hyphen, comma or "and", a capital first letter.
std::vector<std::string> num2words(const char *lang, const std::vector<long long> &numbers) {
  std::string command =
      "/usr/bin/python3 -c 'import sys\n"
      "from num2words import num2words\n"
      "for n in sys.argv[2:]:\n"
      "  t = num2words(int(n), lang=sys.argv[1]).replace(\"-\", \" \").replace(\",\", \"\")\n"
      "  t = t.replace(\" and \", \" \")\n"
      "  sys.stdout.buffer.write((t[:1].upper() + t[1:] + \"\\n\").encode(\"koi8_r\"))' ";
  command += lang;
  for (long long n : numbers) command += " " + std::to_string(n);
  std::vector<std::string> lines;
  FILE *p = popen(command.c_str(), "r");
  char line[1000];
  while (p && fgets(line, sizeof line, p)) lines.emplace_back(line, strcspn(line, "\n"));
  if (p) pclose(p);
  return lines;
}

using Words = SampleHome;

}  // namespace

TEST_F(Words, NumbersMatchNum2words) {
  const std::vector<long long> numbers = {
      0,        1,          2,           5,          -5,         10,           11,          19,
      20,       21,         100,         101,        115,        999,          1000,        1002,
      2000,     5000,       12000,       21000,      22000,      101000,       1000000,     2000005,
      12345678, 2147483647, -2147483648, 2147483648, 3000000000, 111222333444, 999999999999};
  for (const char *lang : {"ru", "en"}) {
    setLanguage(lang);
    std::vector<std::string> expected = num2words(lang, numbers);
    ASSERT_EQ(expected.size(), numbers.size()) << "python3-num2words is missing";
    char out[kAmountWordsSize];
    for (size_t i = 0; i < numbers.size(); ++i) {
      EXPECT_EQ(numberWords(out, sizeof out, numbers[i]), expected[i]) << lang << " " << numbers[i];
    }
  }
}

TEST_F(Words, AmountsCarryTheirSignHundredthsAndCurrency) {
  struct Row {
    double amount, precision;
    const char *text;
  } rows[] = {
      // Минус ноль руб. 50 коп.: a debt below one rouble keeps its minus
      {-0.5, 0.01, "\xed\xc9\xce\xd5\xd3 \xce\xcf\xcc\xd8 \xd2\xd5\xc2. 50 \xcb\xcf\xd0."},
      // Ноль руб. 00 коп.: rounded to nothing, no debt
      {-0.004, 0.01, "\xee\xcf\xcc\xd8 \xd2\xd5\xc2. 00 \xcb\xcf\xd0."},
      // Тринадцать руб.
      {12.5, 1, "\xf4\xd2\xc9\xce\xc1\xc4\xc3\xc1\xd4\xd8 \xd2\xd5\xc2."},
      // Тринадцать руб. 00 коп.
      {12.995, 0.01, "\xf4\xd2\xc9\xce\xc1\xc4\xc3\xc1\xd4\xd8 \xd2\xd5\xc2. 00 \xcb\xcf\xd0."},
      // Тринадцать руб. 00 коп.: 99.6 hundredths carry into the roubles
      {12.996, 0.001, "\xf4\xd2\xc9\xce\xc1\xc4\xc3\xc1\xd4\xd8 \xd2\xd5\xc2. 00 \xcb\xcf\xd0."},
      // Одна тысяча два руб. 07 коп.
      {1002.07, 0.01,
       "\xef\xc4\xce\xc1 \xd4\xd9\xd3\xd1\xde\xc1 \xc4\xd7\xc1 \xd2\xd5\xc2. 07 \xcb\xcf\xd0."},
      // From 10^12 on, figures: -1000000000000 руб. 25 коп.
      {-1e12 - 0.25, 0.01, "-1000000000000 \xd2\xd5\xc2. 25 \xcb\xcf\xd0."},
  };
  char buffer[kAmountWordsSize];
  for (const Row &row : rows) {
    EXPECT_STREQ(amountWords(buffer, sizeof buffer, row.amount, row.precision), row.text)
        << row.amount << " by " << row.precision;
  }
  setLanguage("en");
  EXPECT_STREQ(amountWords(buffer, sizeof buffer, -0.5, 0.01), "Minus zero roubles 50 kopecks");
}

TEST_F(Words, LongCatalogueTextsAreCutAtTheBufferEnds) {
  // Every hundred is 150 characters long, every scale word 600.
  std::string messages;
  for (int h = 1; h <= 9; ++h)
    messages += "num_" + std::to_string(h) + "00 " + std::string(150, 'h') + "\n";
  for (int k : {9, 6, 3})
    messages += "num_1_" + std::to_string(k) + " " + std::string(600, 's') + "\n";
  addLanguage("xl", messages);
  setLanguage("xl");
  EXPECT_EQ(hundredsWords(700, false), std::string(99, 'h'));
  std::string group = std::string(99, 'h') + std::string(600, 's') + " ";
  std::string text = "H" + (group + group + std::string(99, 'h') + std::string(500, 's')).substr(1);
  EXPECT_EQ(numberWords(nullptr, 0, 700700700700), text);  // 1999 characters
  char small[64];
  EXPECT_EQ(numberWords(small, sizeof small, 700700700700), text.substr(0, 63));
  EXPECT_EQ(amountWords(small, sizeof small, 700, 0.01), text.substr(0, 63));
}
