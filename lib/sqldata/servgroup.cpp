// Service group short names and service descriptions, per language, kept in
// tables `sgroups' and `snames'. A catalogue message "sgrp_" or "serv_" + name
// wins over the tables, so descriptions can be translated without touching
// the database.

#include <cstdio>
#include <cstring>
#include <string>

#include "config.h"
#include "language.h"
#include "memory.h"
#include "sqlquote.h"
#include "sqldata.h"

namespace {

// Result texts: a group short name of at most 16 characters, descriptions of
// at most 300.
char groupName[17];
char groupDescr[301];
char serviceDescr[301];

const char kMiscGroup[] = "misc";
const char kMiscGroupKey[] = "sgrp_misc";

// The language to use: null or "" stands for the configured one.
const char *languageOr(const char *lang) { return lang && *lang ? lang : language; }

// The catalogue text of prefix + name in lang, or null when there is none.
const char *catalogueText(const char *prefix, const char *name, const char *lang) {
  std::string key = std::string(prefix) + name;
  const char *text = getMessage(key.c_str(), lang);
  return strcmp(text, key.c_str()) != 0 ? text : nullptr;
}

// Copies the first column of the first row that the last select left
// pending into buf; false when there is no such row or the column is NULL.
bool fetchText(char *buf, size_t size) {
  MsqlResult *result = sqlStoreResult();
  if (!result) return false;
  MsqlRow row = sqlFetchRow(result, 1);
  bool found = row && row[0];
  if (found) strnzcpy(buf, row[0], size);
  sqlFreeResult(result);
  return found;
}

}  // namespace

const char *sgroupName(const char *descr, const char *lang) {
  std::string qlang = sqlQuoted(languageOr(lang));
  std::string qdescr = sqlQuoted(descr);
  sqlQuery("SELECT name FROM sgroups WHERE descr='%s' AND lang='%s'", qdescr.c_str(),
           qlang.c_str());
  if (fetchText(groupName, sizeof groupName)) return groupName;
  lockIds("sgroups");
  unsigned long id = nextId("sgroups");
  if (strcmp(descr, getMessage(kMiscGroupKey)) == 0)
    strnzcpy(groupName, kMiscGroup, sizeof groupName);
  else
    snprintf(groupName, sizeof groupName, "s%08lu", id);
  sqlQuery("INSERT INTO sgroups (id,lang,name,descr) VALUES (%lu,'%s','%s','%s')", id,
           qlang.c_str(), groupName, qdescr.c_str());
  unlockIds("sgroups");
  return groupName;
}

const char *sgroupDescr(const char *name, const char *lang) {
  lang = languageOr(lang);
  if (const char *text = catalogueText("sgrp_", name, lang)) return text;
  sqlQuery("SELECT descr FROM sgroups WHERE name='%s' AND lang='%s'", sqlQuoted(name).c_str(),
           sqlQuoted(lang).c_str());
  if (fetchText(groupDescr, sizeof groupDescr)) return groupDescr;
  return getMessage(kMiscGroupKey);
}

const char *snameDescr(const char *name, const char *descr, const char *lang) {
  lang = languageOr(lang);
  if (const char *text = catalogueText("serv_", name, lang)) return text;
  std::string qname = sqlQuoted(name);
  std::string qlang = sqlQuoted(lang);
  sqlQuery("SELECT descr FROM snames WHERE name='%s' AND lang='%s'", qname.c_str(),
           qlang.c_str());
  if (fetchText(serviceDescr, sizeof serviceDescr)) {
    if (!descr || strcmp(descr, serviceDescr) == 0) return serviceDescr;
    sqlQuery("UPDATE snames SET descr='%s' WHERE name='%s' AND lang='%s'",
             sqlQuoted(descr).c_str(), qname.c_str(), qlang.c_str());
    return descr;
  }
  if (!descr) return name;
  lockIds("snames");
  unsigned long id = nextId("snames");
  sqlQuery("INSERT INTO snames (id,lang,name,descr) VALUES (%lu,'%s','%s','%s')", id,
           qlang.c_str(), qname.c_str(), sqlQuoted(descr).c_str());
  unlockIds("snames");
  return descr;
}
