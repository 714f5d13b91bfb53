// The total command: what the user owes now, the balance of his account less
// the charges of the month, as a number or in words; and the helpers that
// the report commands share.
#include <cstdint>
#include <string>

#include "config.h"
#include "currency.h"
#include "language.h"
#include "layout.h"
#include "words.h"
#include "webtally.h"

namespace {

// The narrowest line the words are cut for.
constexpr int32_t kWordsMinWidth = 3;
// Labels of the text footers hold at most this many characters.
constexpr size_t kLabelSize = 100;

enum Slot { PRECISION, WIDTH, BYWORDS, SHIFT, DATE, WITHVAT };

}  // namespace

double reportUnit(const CommandArg &precision) {
  // roundTo takes only steps above 0: 0 (or a negative step) means the setting.
  return precision.set && precision.value.real > 0 ? precision.value.real : currencyPrecision;
}

void writeWords(FILE *out, double amount, double unit, int32_t width, int32_t shift) {
  if (width < kWordsMinWidth) width = kWordsMinWidth;
  // Compared as unsigned numbers: a negative margin is too large as well.
  if (static_cast<uint32_t>(shift) >= static_cast<uint32_t>(width)) {
    error("Bad margin - %d, assumed 1", shift);
    shift = 1;
  }
  char words[kAmountWordsSize];
  splitString(amountWords(words, sizeof words, amount, unit), 0);
  const char *piece = splitString(nullptr, static_cast<unsigned>(width - shift - 1));
  if (!piece) return;
  fputs(piece, out);
  while ((piece = splitString(nullptr, static_cast<unsigned>(width - 1)))) fprintf(out, "\n%s", piece);
}

std::string footerLabel(const char *key, bool vat) {
  char label[kLabelSize];
  if (vat) snprintf(label, sizeof label, "%s (%g%%):", getMessage(key), 100 * *taxesValue);
  else snprintf(label, sizeof label, "%s:", getMessage(key));
  return label;
}

void cmdTotal(FILE *out, UserConf *, char *args) {
  CommandArg a[] = {{"precision", ARG_EXPRESSION, false, {}}, {"width", ARG_INTEGER, false, {}},
                    {"bywords", ARG_FLAG, false, {}},         {"shift", ARG_INTEGER, false, {}},
                    {"date", ARG_DATE, false, {}},            {"withvat", ARG_FLAG, false, {}},
                    {}};
  parseArgs(a, args);
  double unit = reportUnit(a[PRECISION]);
  Date date = a[DATE].set && a[DATE].value.date ? *a[DATE].value.date : today;
  // The bound names are the form's user and account by now: the command
  // needs a user, so the interpreter has loaded him before it runs.
  ArgSlot slot;
  slot.date = &date;
  double owed;
  if (!e_total(&owed, &slot)) {
    error("Something wrong with total calculation");
  } else {
    owed = roundTo(owed, unit);
    if (a[WITHVAT].set) owed = roundTo(owed + *taxesValue * owed, unit);
    if (a[BYWORDS].set)
      writeWords(out, owed, unit, a[WIDTH].set ? a[WIDTH].value.integer : kReportTextWidth,
                 a[SHIFT].set ? a[SHIFT].value.integer : 1);
    else
      fputs(formatMoney(owed, unit), out);
  }
  freeArgs(a);
}
