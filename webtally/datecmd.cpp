#include <ctime>

#include "webtally.h"

namespace {

const char *const kMonthKeys[12] = {"date_jan", "date_feb", "date_mar", "date_apr", "date_may", "date_jun",
                                    "date_jul", "date_aug", "date_sep", "date_oct", "date_nov", "date_dec"};

// The codes %B %Y %d %e %m %y; "%x" writes x for any other x.
void writeDate(FILE *out, const char *format, const Date &d) {
  for (const char *p = format; *p; ++p) {
    if (*p != '%') {
      fputc(*p, out);
      continue;
    }
    if (!*++p) break;
    switch (*p) {
      case 'B':
        if (d.month >= 1 && d.month <= 12) fputs(getMessage(kMonthKeys[d.month - 1]), out);
        break;
      case 'Y': fprintf(out, "%u", static_cast<unsigned>(d.year)); break;
      case 'd': fprintf(out, "%02u", static_cast<unsigned>(d.day)); break;
      case 'e': fprintf(out, "%u", static_cast<unsigned>(d.day)); break;
      case 'm': fprintf(out, "%02u", static_cast<unsigned>(d.month)); break;
      case 'y': fprintf(out, "%u", static_cast<unsigned>(d.year % 100)); break;
      default: fputc(*p, out);
    }
  }
}

// The C library's strftime over the date at midnight UTC; a result that does
// not fit 100 bytes writes nothing.
void writeStrftime(FILE *out, const char *format, const Date &d) {
  struct tm tm = {};
  tm.tm_mday = d.day;
  tm.tm_mon = d.month - 1;
  tm.tm_year = d.year - 1900;
  // Fills in the weekday and the day of the year of the date.
  time_t t = timegm(&tm);
  gmtime_r(&t, &tm);
  char buf[100];
  size_t n = strftime(buf, sizeof buf, format, &tm);
  fwrite(buf, 1, n, out);
}

}  // namespace

void cmdDate(FILE *out, UserConf *, char *args) {
  CommandArg slots[] = {{"format", ARG_STRING, false, {}}, {"value", ARG_DATE, false, {}},
                        {"strftime", ARG_FLAG, false, {}}, {}};
  parseArgs(slots, args);
  const char *format = slots[0].set ? slots[0].value.text : "%e.%m.%Y";
  // "value" without a date expression holds no date: the report date.
  const Date &d = slots[1].set && slots[1].value.date ? *slots[1].value.date : today;
  if (slots[2].set) writeStrftime(out, format, d);
  else writeDate(out, format, d);
  freeArgs(slots);
}

void cmdCdate(FILE *out, UserConf *user, char *args) {
  char *text = strprintf("format=\"%s\" %s", getMessage("date_cdate"), args);
  cmdDate(out, user, text);
  memRealloc(text, 0);
}
