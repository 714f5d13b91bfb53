// The account command: the balance of the user's account as a number or in
// words, or its last entries with the running balance as an HTML table or a
// fixed-width text table.
#include <algorithm>
#include <cstdint>
#include <string>

#include "config.h"
#include "currency.h"
#include "language.h"
#include "layout.h"
#include "readers.h"
#include "webtally.h"

namespace {

// A text table needs 50 characters.
constexpr int32_t kTableMinWidth = 50;
constexpr int32_t kDefaultLines = 10;
// The money columns grow by one character per 10 of the width beyond 80, by
// at most this much.
constexpr int32_t kMaxExtra = 6;
// Further lines of a comment start here whatever the width: the first one
// starts after the balance column.
constexpr int kCommentIndent = 48;

// Whose text a comment is.
constexpr bool kDatabaseText = true;
constexpr bool kCatalogueText = false;

enum Slot { LINES, TOTAL, BYWORDS, PRECISION, WIDTH, SHIFT, BEGIN, END, HEADER, WITHVAT, HTML };

// A date argument, null when not given (or given without a date).
const Date *dateArg(const CommandArg &slot) { return slot.set ? slot.value.date : nullptr; }

// The layout of one table.
struct Table {
  FILE *out;
  bool html;
  int width;  // W, text only
  int extra;  // X, text only
  double unit;
};

void writeMoneyCell(const Table &t, const char *before, double amount, const char *after) {
  char *cell = moneyCell(amount, t.unit);
  fprintf(t.out, "%s%s%s", before, cell, after);
  memRealloc(cell, 0);
}

void writeDate(const Table &t, const AccountEntry &e) {
  fprintf(t.out, t.html ? "<TR><TD ALIGN=RIGHT>%02u.%02u.%04u</TD>" : "%02u.%02u.%04u ", e.day, e.month,
          e.year);
}

// The comment column of a text row, cut into lines; a comment of the
// database is data, to be shown as it stands in the page.
void writeComment(const Table &t, const char *comment, bool data) {
  unsigned width = static_cast<unsigned>(t.width - kCommentIndent);
  splitString(comment, width);
  bool first = true;
  while (const char *piece = splitString(nullptr, width)) {
    std::string shown = data ? htmlEscape(piece) : piece;
    if (first) fprintf(t.out, "%s\n", shown.c_str());
    else fprintf(t.out, "%*s%s\n", kCommentIndent, "", shown.c_str());
    first = false;
  }
}

void writeHead(const Table &t, int32_t htmlWidth, const char *header) {
  if (t.html) {
    fprintf(t.out, "<TABLE BORDER WIDTH=%ld%%><CAPTION>%s</CAPTION>\n", static_cast<long>(htmlWidth), header);
    fprintf(t.out, "<TR><TH>%s</TH><TH>%s</TH><TH>%s</TH><TH>%s</TH><TH>%s</TH></TR>\n", getMessage("date"),
            getMessage("acc_income"), getMessage("acc_expense"), getMessage("acc_left"), getMessage("comment"));
    return;
  }
  std::string line(t.width + 1, '\0');
  fprintf(t.out, "%s\n", lineText(line.data(), '=', t.width, header));
  fprintf(t.out, "%10s%*s%*s%*s %s\n%s\n", getMessage("date"), t.extra + 15, getMessage("acc_income"),
          t.extra + 7, getMessage("acc_expense"), t.extra + 15, getMessage("acc_left"), getMessage("comment"),
          std::string(t.width, '-').c_str());
}

// The balance before the first entry shown, under its date.
void writeIncoming(const Table &t, const AccountEntry &first) {
  double incoming = first.balance - first.sum;
  writeDate(t, first);
  if (t.html) {
    writeMoneyCell(t, "<TD></TD><TD></TD><TD ALIGN=RIGHT>", incoming, "</TD>");
    fprintf(t.out, "<TD>%s</TD></TR>\n", getMessage("acc_incoming"));
    return;
  }
  fprintf(t.out, "%*s%*s ", t.extra + 5, "", t.extra + 16, "");
  fprintf(t.out, "%*s ", t.extra + 14, formatMoney(incoming, t.unit));
  writeComment(t, getMessage("acc_incoming"), kCatalogueText);
}

void writeEntry(const Table &t, const AccountEntry &e) {
  writeDate(t, e);
  if (t.html) {
    if (e.sum < 0) writeMoneyCell(t, "<TD></TD><TD ALIGN=RIGHT>", e.sum, "</TD>");
    else writeMoneyCell(t, "<TD ALIGN=RIGHT>", e.sum, "</TD><TD></TD>");
    writeMoneyCell(t, "<TD ALIGN=RIGHT>", e.balance, "</TD>");
    fprintf(t.out, "<TD>%s</TD></TR>\n", htmlEscape(e.comment).c_str());
    return;
  }
  // An expense stands in the second money column, an income (0 too) in the first.
  if (e.sum < 0) fprintf(t.out, "%*s%*s ", t.extra + 5, "", t.extra + 16, formatMoney(e.sum, t.unit));
  else fprintf(t.out, "%*s%*s ", t.extra + 14, formatMoney(e.sum, t.unit), t.extra + 7, "");
  fprintf(t.out, "%*s ", t.extra + 14, formatMoney(e.balance, t.unit));
  writeComment(t, e.comment, kDatabaseText);
}

// The balance after the last entry shown, its VAT and the two together.
void writeVatFooter(const Table &t, double left) {
  double taxes = *taxesValue;
  if (t.html) {
    fprintf(t.out, "<TR><TH COLSPAN=3 ALIGN=LEFT>%s:<BR>%s (%g%%):<BR>%s:</TH>\n", getMessage("acc_total"),
            getMessage("acc_vat"), 100 * taxes, getMessage("acc_total_vat"));
    writeMoneyCell(t, "<TD ALIGN=RIGHT>", left, "<BR>");
    writeMoneyCell(t, "", left * taxes, "<BR>");
    writeMoneyCell(t, "", left + left * taxes, "</TD><TD></TD></TR>\n");
    return;
  }
  fprintf(t.out, "%s\n", std::string(t.width, '-').c_str());
  const struct {
    std::string label;
    double amount;
  } lines[] = {{footerLabel("acc_total", kPlainLabel), left},
               {footerLabel("acc_vat", kVatLabel), left * taxes},
               {footerLabel("acc_total_vat", kPlainLabel), left + left * taxes}};
  for (const auto &line : lines)
    fprintf(t.out, "%-*s%*s\n", 2 * t.extra + 33, line.label.c_str(), t.extra + 14, formatMoney(line.amount, t.unit));
}

void writeTable(const Table &t, const CommandArg *a, const char *account) {
  // The count shown is the one asked for; the reader holds only the entries
  // there are, so a huge count costs nothing.
  unsigned count = a[LINES].set ? static_cast<unsigned>(a[LINES].value.integer) : kDefaultLines;
  if (count == 0) count = 1;
  AccountEntry *entries = lastAccounts(account, count, nullptr, dateArg(a[END]), dateArg(a[BEGIN]));
  if (!entries) {
    error("Can't read account");
    return;
  }
  const char *header = a[HEADER].set ? a[HEADER].value.text : getMessage("acc_header");
  writeHead(t, a[WIDTH].set ? a[WIDTH].value.integer : kReportHtmlWidth, header);
  if (entries[0].balance != entries[0].sum) writeIncoming(t, entries[0]);
  unsigned shown = 0;
  for (; shown < count && !entries[shown].end; ++shown) writeEntry(t, entries[shown]);
  if (a[WITHVAT].set && shown > 0) writeVatFooter(t, entries[shown - 1].balance);
  memRealloc(entries, 0);
  if (t.html) fputs("</TABLE>\n", t.out);
  else fputs(std::string(t.width, '=').c_str(), t.out);
}

}  // namespace

char *moneyCell(double amount, double unit) {
  return strprintf("<TT><FONT COLOR=%s>%s</FONT></TT>", amount < 0 ? "RED" : "BLUE", formatMoney(amount, unit));
}

void cmdAccount(FILE *out, UserConf *user, char *args) {
  CommandArg a[] = {{"lines", ARG_INTEGER, false, {}},    {"total", ARG_FLAG, false, {}},
                    {"bywords", ARG_FLAG, false, {}},     {"precision", ARG_EXPRESSION, false, {}},
                    {"width", ARG_INTEGER, false, {}},    {"shift", ARG_INTEGER, false, {}},
                    {"begin", ARG_DATE, false, {}},       {"end", ARG_DATE, false, {}},
                    {"header", ARG_STRING, false, {}},    {"withvat", ARG_FLAG, false, {}},
                    {"html", ARG_FLAG, false, {}},        {}};
  parseArgs(a, args);
  double unit = reportUnit(a[PRECISION]);
  int32_t width = std::min(a[WIDTH].set ? a[WIDTH].value.integer : kReportTextWidth, kReportMaxWidth);

  if (a[BYWORDS].set || a[TOTAL].set) {
    double balance = requestBalance(user->accname, dateArg(a[END]), dateArg(a[BEGIN]));
    if (a[WITHVAT].set) balance += *taxesValue * balance;
    if (a[BYWORDS].set) writeWords(out, balance, unit, width, a[SHIFT].set ? a[SHIFT].value.integer : 1);
    if (a[TOTAL].set) fputs(formatMoney(balance, unit), out);
  } else {
    width = std::max(width, kTableMinWidth);
    int extra = width > 80 ? std::min((width - 80) / 10, kMaxExtra) : 0;
    writeTable({out, a[HTML].set, width, extra, unit}, a, user->accname);
  }
  freeArgs(a);
}
