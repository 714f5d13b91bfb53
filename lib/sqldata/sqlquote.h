// Internal to the SQL data layer (not part of its public interface).
#pragma once

#include <cstring>
#include <string>

#include "sqldata.h"

// sqlString of s into a buffer of its own (2 * length + 1 bytes), so that
// several quoted values can go into one statement.
inline std::string sqlQuoted(const char *s) {
  std::string buf(2 * strlen(s ? s : "<null>") + 1, '\0');
  sqlString(s, buf.data());
  buf.resize(strlen(buf.c_str()));
  return buf;
}
