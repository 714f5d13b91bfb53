// Currency rates in table `rates', with a per-process cache and one mail to
// the administrator when a rate is missing or out of date.

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "config.h"
#include "mailagent.h"
#include "memory.h"
#include "sqlquote.h"
#include "sqldata.h"

namespace {

// A rate below this counts as no rate.
constexpr double kNoRate = 0.00001;
// The cache grows by this many entries at a time.
constexpr unsigned kCacheStep = 5;

// A rate found for a currency and the day that was asked for.
struct RateCacheEntry {
  char name[17];
  double rate;
  int day, month, year;
};

RateCacheEntry *cache = nullptr;
unsigned cacheCount = 0;
// Set once a rate mail went to the mailer; one mail per process at most.
bool mailSent = false;

// The texts of the two mails, KOI8-R.
const char kMissingSubject[] =
    "\xee\xc5 \xd5\xd3\xd4\xc1\xce\xcf\xd7\xcc\xc5\xce \xcb\xd5\xd2\xd3 %s!!";
const char kMissingBody[] =
    "\xee\xc5\xd4 \xd3\xd7\xc5\xc4\xc5\xce\xc9\xca \xcf \xcb\xd5\xd2\xd3\xc5 %s \xd0\xcf "
    "\xcf\xd4\xce\xcf\xdb\xc5\xce\xc9\xc0 \xcb \xcf\xd3\xce\xcf\xd7\xce\xcf\xca "
    "\xd7\xc1\xcc\xc0\xd4\xc5!\n";
const char kStaleSubject[] = "\xf5\xd3\xd4\xc1\xd2\xc5\xcc \xcb\xd5\xd2\xd3 %s!";
const char kStaleBody[] =
    "\xf0\xcf\xd3\xcc\xc5\xc4\xce\xc9\xca \xc9\xcd\xc5\xc0\xdd\xc9\xca\xd3\xd1 \xd7 "
    "\xd2\xc1\xd3\xd0\xcf\xd2\xd1\xd6\xc5\xce\xc9\xc9 \xd3\xc5\xd2\xd7\xc5\xd2\xc1 "
    "\xd3\xd4\xc1\xd4\xc9\xd3\xd4\xc9\xcb\xc9 \xcb\xd5\xd2\xd3 %s:\n %f \xce\xc1 %u/%02u/%u\n";
const char kFooter[] =
    "\n\xe4\xcc\xd1 \xd4\xcf\xc7\xcf, \xde\xd4\xcf\xc2\xd9 \xd7\xd7\xc5\xd3\xd4\xc9 "
    "\xce\xcf\xd7\xd9\xca \xcb\xd5\xd2\xd3 \xcd\xcf\xd6\xce\xcf "
    "\xd7\xcf\xd3\xd0\xcf\xcc\xd8\xda\xcf\xd7\xc1\xd4\xd8\xd3\xd1\n\xcd\xcf\xc4\xd5\xcc\xc5\xcd "
    "%s/fxpost\n\n\xe9\xd3\xcb\xd2\xc5\xce\xce\xc5 \xf7\xc1\xdb,\n\xf3\xc5\xd2\xd7\xc5\xd2 "
    "\xd3\xd4\xc1\xd4\xc9\xd3\xd4\xc9\xcb\xc9\n";

// A day as the YYYYMMDD number of the tables.
unsigned long dayNumber(const Date &date) {
  return static_cast<unsigned long>(date.year * 10000L + date.month * 100L + date.day);
}

bool sameDay(const RateCacheEntry &entry, const char *currency, const Date &date) {
  return strcmp(entry.name, currency) == 0 && entry.day == date.day &&
         entry.month == date.month && entry.year == date.year;
}

void cacheRate(const char *currency, double rate, const Date &date) {
  if (cacheCount % kCacheStep == 0)
    cache = static_cast<RateCacheEntry *>(
        memRealloc(cache, (cacheCount + kCacheStep) * sizeof(RateCacheEntry)));
  RateCacheEntry &entry = cache[cacheCount++];
  strnzcpy(entry.name, currency, sizeof entry.name);
  entry.rate = rate;
  entry.day = date.day;
  entry.month = date.month;
  entry.year = date.year;
}

// Opens a mail to the administrator under subject (a heap text, freed
// here); null when the mailer gave no stream.
FILE *openRateMail(char *subject) {
  FILE *mail = mailOpen(addrAdmin, subject, nullptr);
  memRealloc(subject, 0);
  return mail;
}

// Ends a rate mail with the footer and hands it to the mailer.
void closeRateMail(FILE *mail) {
  fprintf(mail, kFooter, binDir);
  mailClose(mail);
  mailSent = true;
}

void mailMissingRate(const char *currency) {
  if (mailSent) return;
  FILE *mail = openRateMail(strprintf(kMissingSubject, currency));
  if (!mail) return;
  fprintf(mail, kMissingBody, currency);
  closeRateMail(mail);
}

void mailStaleRate(const char *currency, double rate, unsigned long found) {
  if (mailSent) return;
  FILE *mail = openRateMail(strprintf(kStaleSubject, currency));
  if (!mail) return;
  fprintf(mail, kStaleBody, currency, rate, static_cast<unsigned>(found / 10000),
          static_cast<unsigned>(found / 100 % 100), static_cast<unsigned>(found % 100));
  closeRateMail(mail);
}

}  // namespace

double getRate(const char *currency, const Date &date) {
  if (!currency) {
    cache = static_cast<RateCacheEntry *>(memRealloc(cache, 0));
    cacheCount = 0;
    return 0;
  }
  for (unsigned i = 0; i < cacheCount; ++i)
    if (sameDay(cache[i], currency, date)) return cache[i].rate;

  unsigned long asked = dayNumber(date);
  sqlConnect();
  sqlQuery("SELECT rate,date FROM rates WHERE name='%s' AND date<%lu ORDER BY date DESC LIMIT 1",
           sqlQuoted(currency).c_str(), asked);
  double rate = 0;
  unsigned long found = 0;
  if (MsqlResult *result = sqlStoreResult()) {
    while (MsqlRow row = sqlFetchRow(result, 2)) {
      if (!row[0] || !row[1]) break;
      found = strtoul(row[1], nullptr, 10);
      rate = strtod(row[0], nullptr);
    }
    sqlFreeResult(result);
  }

  if (rate >= kNoRate && found != 0) {
    if (found / 10000 == static_cast<unsigned long>(date.year) &&
        found / 100 % 100 == static_cast<unsigned long>(date.month)) {
      cacheRate(currency, rate, date);
      return rate;
    }
    error("Rate for `%s' out of date. Requested %lu, last known %lu", currency, asked, found);
    mailStaleRate(currency, rate, found);
    return rate;
  }
  error("No rate for `%s' (at least before %lu)!", currency, asked);
  mailMissingRate(currency);
  return 0;
}

std::string rateText(double rate) {
  char text[64];
  snprintf(text, sizeof text, "%.15g", rate);
  return text;
}

bool storeRate(const char *currency, double rate, const Date &date) {
  sqlConnect();
  lockIds("rates");
  unsigned long id = nextId("rates");
  const std::string stored = rateText(rate);
  bool done = id != 0 && sqlQuery("INSERT INTO rates (id,date,name,rate) VALUES (%lu,%lu,'%s',%s)", id,
                                    dayNumber(date), sqlQuoted(currency).c_str(), stored.c_str()) == 0;
  unlockIds("rates");
  if (!done) return false;
  // The cache gets the value as the table holds it, so that it answers what
  // a fresh query would.
  double value = strtod(stored.c_str(), nullptr);
  for (unsigned i = 0; i < cacheCount; ++i)
    if (sameDay(cache[i], currency, date)) cache[i].rate = value;
  return true;
}
