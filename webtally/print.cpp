// The commands print and line: a number, an amount of money (also in words)
// or a user's data item, as it stands, in a fixed-width line or cut into
// lines at blanks.
#include <cstdint>

#include "layout.h"
#include "webtally.h"
#include "words.h"

namespace {

// Line width: the default and the widths a line may have.
constexpr unsigned kDefaultWidth = 79;
constexpr unsigned kMinWidth = 5;
constexpr unsigned kMaxWidth = 200;

// The slots of print's template, in template order.
enum PrintSlot {
  kFormat,
  kValue,
  kPrecision,
  kSymbol,
  kWidth,
  kBywords,
  kShift,
  kWithvat,
  kVatonly,
  kExtension,
  kDefault,
  kNative,
  kEnglish,
};

// How the value is laid out.
struct Layout {
  bool symbol;     // a symbol was given: a fixed-width line with its fill
  bool width;      // a width was given: a fixed-width line, or a text cut into lines
  char fill;
  unsigned lineWidth;
  unsigned shift;  // margin of the first of the cut lines
};

// The form's format expanded for printf, or null when the expansion cut its
// conversion short (it stops at 200 characters): then it may not be used.
const char *expanded(const char *format, FormatArg arg, const char *defaultConversion) {
  const char *f = expandFormat(format, defaultConversion);
  return checkFormat(f, arg) ? f : nullptr;
}

// Writes text, a data text, through the checked text format f.
void writeText(FILE *out, const char *f, const char *text, const Layout &lay) {
  if (lay.symbol) {
    char line[kMaxWidth + 1];
    fputs(lineBuild(line, lay.fill, lay.lineWidth, f, text), out);
  } else if (lay.width) {
    char *whole = strprintf(f, text);
    splitString(whole, 0);
    memRealloc(whole, 0);
    // The first line starts after the margin; every line keeps a column free.
    fputs(splitString(nullptr, lay.lineWidth - lay.shift - 1), out);
    while (const char *piece = splitString(nullptr, lay.lineWidth - 1)) fprintf(out, "\n%s", piece);
  } else {
    fprintf(out, f, text);
  }
}

// Text mode: the user's data item; words mode: the amount in words.
void writeTextMode(FILE *out, const UserConf *user, const CommandArg *slots, double amount,
                   double unit, const Layout &lay) {
  const char *format = slots[kFormat].value.text;
  if (!checkFormat(format, kFormatText)) return;
  const char *f = format ? expanded(format, kFormatText, "%s") : "%s";
  if (!f) return;
  if (slots[kExtension].set) {
    const char *text = userField(user, slots[kExtension].value.text, slots[kDefault].value.text,
                                 slots[kNative].set, slots[kEnglish].set);
    writeText(out, f, text ? text : "", lay);
  } else {
    char words[kAmountWordsSize];
    writeText(out, f, amountWords(words, sizeof words, amount, unit), lay);
  }
}

// Number mode: the amount as a number, or as money text for "%$".
void writeNumber(FILE *out, CommandArg *slots, double amount, double unit, const Layout &lay) {
  char *format = slots[kFormat].value.text;
  bool money = false;
  if (format) {
    if (!checkFormat(format, kFormatNumber)) return;
    money = currencyMarker(format);
  }
  const char *f = expanded(format, money ? kFormatText : kFormatNumber,
                           slots[kValue].set ? "%g" : nullptr);
  if (!f) return;
  double n = slots[kPrecision].set ? roundTo(amount, unit) : amount;
  if (lay.symbol || lay.width) {
    char line[kMaxWidth + 1];
    if (money) fputs(lineBuild(line, lay.fill, lay.lineWidth, f, formatMoney(amount, unit)), out);
    else fputs(lineBuild(line, lay.fill, lay.lineWidth, f, n), out);
  } else if (money) {
    fprintf(out, f, formatMoney(amount, unit));
  } else if (*f) {
    fprintf(out, f, n);
  }
}

}  // namespace

void cmdPrint(FILE *out, UserConf *user, char *args) {
  CommandArg slots[] = {
      {"format", ARG_STRING, false, {}},        {"value", ARG_EXPRESSION, false, {}},
      {"precision", ARG_EXPRESSION, false, {}}, {"symbol", ARG_STRING, false, {}},
      {"width", ARG_INTEGER, false, {}},        {"bywords", ARG_FLAG, false, {}},
      {"shift", ARG_INTEGER, false, {}},        {"withvat", ARG_FLAG, false, {}},
      {"vatonly", ARG_FLAG, false, {}},         {"extension", ARG_STRING, false, {}},
      {"default", ARG_STRING, false, {}},       {"native", ARG_FLAG, false, {}},
      {"english", ARG_FLAG, false, {}},         {},
  };
  parseArgs(slots, args);

  double precision = slots[kPrecision].value.real;
  double unit = slots[kPrecision].set && precision != 0 ? precision : currencyPrecision;
  double amount = slots[kValue].value.real;
  if (slots[kWithvat].set) amount = withVat(amount, unit);
  if (slots[kVatonly].set) amount = vatOnly(amount, unit);

  Layout lay;
  // Compared as unsigned numbers: a negative width or margin is too large.
  lay.lineWidth = slots[kWidth].set ? static_cast<unsigned>(slots[kWidth].value.integer) : kDefaultWidth;
  if (lay.lineWidth < kMinWidth || lay.lineWidth > kMaxWidth) {
    error("Bad width - %u", lay.lineWidth);
    lay.lineWidth = kDefaultWidth;
  }
  int32_t shift = slots[kShift].set ? slots[kShift].value.integer : 1;
  if (static_cast<unsigned>(shift) >= lay.lineWidth) {
    error("Bad margin - %d, assumed 1", shift);
    shift = 1;
  }
  lay.shift = static_cast<unsigned>(shift);
  const char *symbol = slots[kSymbol].value.text;
  lay.symbol = symbol != nullptr;
  lay.width = slots[kWidth].set;
  // An empty symbol has no character to fill with: the line is blank.
  lay.fill = symbol && *symbol ? *symbol : ' ';

  if (slots[kExtension].set || slots[kBywords].set) writeTextMode(out, user, slots, amount, unit, lay);
  else writeNumber(out, slots, amount, unit, lay);
  freeArgs(slots);
}

void cmdLine(FILE *out, UserConf *user, char *args) {
  // A symbol among the directive's own arguments comes later and wins.
  char *text = strprintf("symbol=\"=\" %s", args);
  cmdPrint(out, user, text);
  memRealloc(text, 0);
}
