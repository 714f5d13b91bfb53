// The statistic command: the user's priced usage, one table per month from
// `begin` to `end`, as HTML or as fixed-width text, with VAT on request.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "config.h"
#include "currency.h"
#include "language.h"
#include "layout.h"
#include "readers.h"
#include "sqldata.h"
#include "webtally.h"

namespace {

// A text table needs 60 characters.
constexpr int32_t kMinWidth = 60;
// One directive shows at most 20 years of months.
constexpr int64_t kMaxMonths = 240;
// Service descriptions are cut here.
constexpr size_t kDescriptionMax = 300;
// The group whose first rows need no group row of their own.
const char kMiscGroup[] = "misc";

enum Slot { BEGIN, END, WITHVAT, WIDTH, ALTVAT, HEADER, HTML };

// What the footer adds to the total.
enum class Vat { NONE, INSIDE, ON_TOP };

struct Table {
  FILE *out;
  const UserConf *user;
  bool html;
  int32_t htmlWidth;   // as given
  int width;           // W
  int extra;           // X
  int column;          // C
  int description;     // D
  double factor;       // 1 + taxes with `altvat`
  Vat vat;
  const char *header;  // a format of month and year, or plain text
  bool headerIsFormat;
};

// The first of the month of a date argument (the report date when none).
Date monthOf(const CommandArg &slot) {
  Date d = slot.set && slot.value.date ? *slot.value.date : today;
  d.day = 1;
  return d;
}

int64_t monthIndex(const Date &d) { return int64_t{d.year} * 12 + d.month - 1; }

// The heading of a month: text mode into a ruled line of "=".
void writeHead(const Table &t, const Date &month) {
  std::string line(t.width + 1, '\0');
  if (t.html) {
    fprintf(t.out, "<TABLE BORDER WIDTH=%ld%%>\n<CAPTION>", static_cast<long>(t.htmlWidth));
    // checkFormat has let through only conversions of two ints.
    if (t.headerIsFormat) fprintf(t.out, t.header, month.month, month.year);
    else fputs(t.header, t.out);
    fprintf(t.out, "</CAPTION>\n<TR><TH>%s</TH><TH>%s</TH><TH>%s</TH><TH>%s</TH><TH>%s</TH></TR>\n",
            getMessage("comment"), getMessage("stat_unit"), getMessage("stat_quantity"),
            getMessage("stat_price"), getMessage("stat_sum"));
    return;
  }
  if (t.headerIsFormat) lineBuild(line.data(), '=', t.width, t.header, month.month, month.year);
  else lineText(line.data(), '=', t.width, t.header);
  fputs(line.c_str(), t.out);
  fprintf(t.out, "\n %-*s%7s%*s%*s%*s\n%s\n", t.width - 3 * t.column - 9, getMessage("comment"),
          getMessage("stat_unit"), t.column, getMessage("stat_quantity"), t.column, getMessage("stat_price"),
          t.column, getMessage("stat_sum"), std::string(t.width, '-').c_str());
}

void writeGroup(const Table &t, const char *group) {
  const char *descr = sgroupDescr(group, t.user->lang);
  if (t.html) {
    fprintf(t.out, "<TR><TH COLSPAN=5><FONT COLOR=#000080>%s</FONT></TH></TR>\n", htmlEscape(descr).c_str());
    return;
  }
  // A description is data, never a format, and a first "<" is part of it.
  std::string line(t.width + 1, '\0');
  fprintf(t.out, "%s\n", htmlEscape(lineBuild(line.data(), '_', t.width, "%s", descr)).c_str());
}

// Writes a row; its charge as the total counts it.
double writeRow(const Table &t, const StatRow &row) {
  std::string descr = snameDescr(row.name, nullptr, t.user->lang);
  if (descr.size() > kDescriptionMax) descr.resize(kDescriptionMax);
  double sum = t.factor * row.sum;
  std::string price = formatMoney(sum / row.amount, transientPrecision);
  std::string charge = formatMoney(sum, currencyPrecision);
  const char *unit = getMessage(row.sname);
  if (t.html) {
    fprintf(t.out,
            "<TR><TD>%s</TD>\n<TD ALIGN=RIGHT>%s</TD><TD ALIGN=RIGHT><TT>%.2f</TT></TD>"
            "<TD ALIGN=RIGHT><TT>%s</TT></TD>",
            htmlEscape(descr.c_str()).c_str(), htmlEscape(unit).c_str(), row.amount, price.c_str());
    fprintf(t.out, "<TD ALIGN=RIGHT><TT>%s</TT></TD></TR>\n", charge.c_str());
  } else {
    unsigned width = static_cast<unsigned>(t.description);
    splitString(descr.c_str(), width);
    const char *first = splitString(nullptr, width);
    fprintf(t.out, " %s %s%*.2f%*s", htmlField(first, -t.description).c_str(), htmlField(unit, 7).c_str(),
            t.column, row.amount, t.column, price.c_str());
    fprintf(t.out, "%*s\n", t.column, charge.c_str());
    while (const char *piece = splitString(nullptr, width)) fprintf(t.out, " %s\n", htmlEscape(piece).c_str());
  }
  return statCharge(row, t.factor);
}

void writeFooter(const Table &t, double total) {
  double taxes = *taxesValue;
  const double inside = total * taxes / (1 + taxes);
  const double onTop = total * taxes;
  if (t.html) {
    fprintf(t.out, "<TR><TH COLSPAN=4 ALIGN=LEFT>%s:<BR>", getMessage("stat_total"));
    if (t.vat == Vat::INSIDE) fprintf(t.out, "%s:", getMessage("stat_ivat"));
    if (t.vat == Vat::ON_TOP) fprintf(t.out, "%s:<BR>%s:", getMessage("stat_vat"), getMessage("stat_total_vat"));
    fprintf(t.out, "</TH>\n<TD ALIGN=RIGHT><TT>%s<BR>", formatMoney(total, currencyPrecision));
    if (t.vat == Vat::INSIDE) fputs(formatMoney(inside, currencyPrecision), t.out);
    if (t.vat == Vat::ON_TOP) {
      fprintf(t.out, "%s<BR>", formatMoney(onTop, currencyPrecision));
      fputs(formatMoney(total + onTop, currencyPrecision), t.out);
    }
    fputs("</TD></TR>\n</TABLE>\n", t.out);
    return;
  }
  fprintf(t.out, "%s\n", std::string(t.width, '-').c_str());
  auto line = [&](const std::string &label, double amount) {
    fprintf(t.out, " %-*s%*s\n", t.width - t.extra - 16, label.c_str(), t.column,
            formatMoney(amount, currencyPrecision));
  };
  line(footerLabel("stat_total", kPlainLabel), total);
  if (t.vat == Vat::INSIDE) line(footerLabel("stat_ivat", kVatLabel), inside);
  if (t.vat == Vat::ON_TOP) {
    line(footerLabel("stat_vat", kVatLabel), onTop);
    line(footerLabel("stat_total_vat", kPlainLabel), total + onTop);
  }
  fputs(std::string(t.width, '=').c_str(), t.out);
}

// YYYYMM of a month.
unsigned monthKey(const Date &month) { return static_cast<unsigned>(month.year * 100 + month.month); }

void writeMonth(const Table &t, const Date &month, const std::vector<StatRow> &rows) {
  writeHead(t, month);
  double total = 0;
  std::string group;  // of the rows before
  for (const StatRow &row : rows) {
    if (std::fabs(row.amount) < kStatLeastAmount) continue;
    if (group.empty() ? strcmp(row.group, kMiscGroup) != 0 : group != row.group) writeGroup(t, row.group);
    group = row.group;
    total += writeRow(t, row);
  }
  writeFooter(t, total);
}

}  // namespace

void cmdStatistic(FILE *out, UserConf *user, char *args) {
  CommandArg a[] = {{"begin", ARG_DATE, false, {}},   {"end", ARG_DATE, false, {}},
                    {"withvat", ARG_FLAG, false, {}}, {"width", ARG_INTEGER, false, {}},
                    {"altvat", ARG_FLAG, false, {}},  {"header", ARG_STRING, false, {}},
                    {"html", ARG_FLAG, false, {}},    {}};
  parseArgs(a, args);
  Table t = {};
  t.out = out;
  t.user = user;
  t.html = a[HTML].set;
  t.htmlWidth = a[WIDTH].set ? a[WIDTH].value.integer : kReportHtmlWidth;
  t.width = std::clamp(a[WIDTH].set ? a[WIDTH].value.integer : kReportTextWidth, kMinWidth, kReportMaxWidth);
  t.extra = t.width > 80 ? (t.width - 80) / 10 : 0;
  t.column = t.extra + 14;
  t.description = t.width - 3 * t.column - 10;
  t.factor = a[ALTVAT].set ? 1 + *taxesValue : 1;
  t.vat = a[ALTVAT].set ? Vat::INSIDE : a[WITHVAT].set ? Vat::ON_TOP : Vat::NONE;
  t.header = a[HEADER].set ? a[HEADER].value.text : getMessage("stat_hdr");
  // Checked once for all the months, so a bad heading is logged once.
  t.headerIsFormat = checkFormat(t.header, kFormatMonthYear);

  Date begin = monthOf(a[BEGIN]);
  const Date end = monthOf(a[END]);
  int64_t months = monthIndex(end) - monthIndex(begin) + 1;
  if (months > kMaxMonths) {
    error("Statistic of %lld months asked, the last %lld shown", static_cast<long long>(months),
          static_cast<long long>(kMaxMonths));
    const Date back = {0, static_cast<int32_t>(kMaxMonths - 1), 0};
    begin = end;
    subDate(&begin, &back);
  }
  // The rows of all the months in one statement, each month's kept in the
  // order they come in.
  std::map<unsigned, std::vector<StatRow>> rows;
  if (monthIndex(begin) <= monthIndex(end)) {
    MsqlResult *result = selectStatMonths(user->name, monthKey(begin), monthKey(end));
    StatRow row;
    while (nextStat(&row, result) == kStatRead) rows[static_cast<unsigned>(row.date / 100)].push_back(row);
  }
  const Date oneMonth = {0, 1, 0};
  for (int64_t i = 0; monthIndex(begin) <= monthIndex(end); ++i, addDate(&begin, &oneMonth)) {
    if (i > 0) fputs("\n", out);
    writeMonth(t, begin, rows[monthKey(begin)]);
  }
  freeArgs(a);
}
