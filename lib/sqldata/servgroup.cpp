// Service group short names and service descriptions, per language, kept in
// tables `sgroups' and `snames'. A catalogue message "sgrp_" or "serv_" + name
// wins over the tables, so descriptions can be translated without touching
// the database.

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <unordered_map>

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

// What this process knows of the two tables, so that each text is asked once
// per run (tallymill asks the same ones for every user, a page for every
// month): per language and text, the answer of the table, or nothing when it
// has no row. What this process inserts or updates is entered as it is sent;
// changes that other processes make meanwhile are not seen.
using Known = std::unordered_map<std::string, std::optional<std::string>>;
Known groupNames;    // group description -> short name
Known groupTexts;    // group short name -> description
Known serviceTexts;  // service name -> description

std::string keyOf(const char *lang, const char *text) { return std::string(lang) + '\0' + text; }

// The language to use: null or "" stands for the configured one.
const char *languageOr(const char *lang) { return lang && *lang ? lang : language; }

// The catalogue text of prefix + name in lang, or null when there is none.
const char *catalogueText(const char *prefix, const char *name, const char *lang) {
  std::string key = std::string(prefix) + name;
  const char *text = getMessage(key.c_str(), lang);
  return strcmp(text, key.c_str()) != 0 ? text : nullptr;
}

// The first column of the first row that the last select left pending;
// nothing when there is no such row or the column is NULL.
std::optional<std::string> fetchText() {
  MsqlResult *result = sqlStoreResult();
  if (!result) return std::nullopt;
  MsqlRow row = sqlFetchRow(result, 1);
  std::optional<std::string> text;
  if (row && row[0]) text = row[0];
  sqlFreeResult(result);
  return text;
}

// The answer for key: the one known, else that of the select sent by
// select() (an sqlQuery), remembered. A select that fails (retries off)
// answers nothing and is sent again next time.
template <typename Select>
std::optional<std::string> known(Known &table, const std::string &key, Select select) {
  auto at = table.find(key);
  if (at != table.end()) return at->second;
  if (select() != 0) return std::nullopt;
  return table.emplace(key, fetchText()).first->second;
}

// text, copied into a result buffer of size bytes (cut to fit).
const char *result(char *buf, size_t size, const std::string &text) {
  strnzcpy(buf, text.c_str(), size);
  return buf;
}

}  // namespace

const char *sgroupName(const char *descr, const char *lang) {
  lang = languageOr(lang);
  std::string key = keyOf(lang, descr);
  std::string qlang = sqlQuoted(lang);
  std::string qdescr = sqlQuoted(descr);
  std::optional<std::string> name = known(groupNames, key, [&] {
    return sqlQuery("SELECT name FROM sgroups WHERE descr='%s' AND lang='%s'", qdescr.c_str(),
                    qlang.c_str());
  });
  if (name) return result(groupName, sizeof groupName, *name);
  lockIds("sgroups");
  unsigned long id = nextId("sgroups");
  if (strcmp(descr, getMessage(kMiscGroupKey)) == 0)
    strnzcpy(groupName, kMiscGroup, sizeof groupName);
  else
    snprintf(groupName, sizeof groupName, "s%08lu", id);
  if (id != 0)
    sqlQuery("INSERT INTO sgroups (id,lang,name,descr) VALUES (%lu,'%s','%s','%s')", id, qlang.c_str(), groupName,
             qdescr.c_str());
  unlockIds("sgroups");
  groupNames[key] = groupName;
  // A row of that name stored before keeps answering (the first row wins).
  std::optional<std::string> &text = groupTexts[keyOf(lang, groupName)];
  if (!text) text = descr;
  return groupName;
}

const char *sgroupDescr(const char *name, const char *lang) {
  lang = languageOr(lang);
  if (const char *text = catalogueText("sgrp_", name, lang)) return text;
  std::optional<std::string> text = known(groupTexts, keyOf(lang, name), [&] {
    return sqlQuery("SELECT descr FROM sgroups WHERE name='%s' AND lang='%s'",
                    sqlQuoted(name).c_str(), sqlQuoted(lang).c_str());
  });
  if (text) return result(groupDescr, sizeof groupDescr, *text);
  return getMessage(kMiscGroupKey);
}

const char *snameDescr(const char *name, const char *descr, const char *lang) {
  lang = languageOr(lang);
  if (const char *text = catalogueText("serv_", name, lang)) return text;
  std::string key = keyOf(lang, name);
  std::string qname = sqlQuoted(name);
  std::string qlang = sqlQuoted(lang);
  std::optional<std::string> stored = known(serviceTexts, key, [&] {
    return sqlQuery("SELECT descr FROM snames WHERE name='%s' AND lang='%s'", qname.c_str(),
                    qlang.c_str());
  });
  if (stored) {
    if (!descr || *stored == descr) return result(serviceDescr, sizeof serviceDescr, *stored);
    sqlQuery("UPDATE snames SET descr='%s' WHERE name='%s' AND lang='%s'",
             sqlQuoted(descr).c_str(), qname.c_str(), qlang.c_str());
  } else {
    if (!descr) return name;
    lockIds("snames");
    unsigned long id = nextId("snames");
    if (id != 0)
      sqlQuery("INSERT INTO snames (id,lang,name,descr) VALUES (%lu,'%s','%s','%s')", id,
             qlang.c_str(), qname.c_str(), sqlQuoted(descr).c_str());
    unlockIds("snames");
  }
  serviceTexts[key] = descr;
  return descr;
}
