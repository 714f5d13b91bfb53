// ledgerctl: charges and payments in table `accounts'.
#pragma once

#include "readers.h"

// The flag column of an ordinary entry.
constexpr int kEntryOrdinary = 0;

// Writes the entry as a row of `accounts' for the account (at most 15
// characters; a longer name is cut there): a new id under the id lock of the
// table, the entry's date as YYYYMMDD (a year below 1900 gets 1900 added, in
// the entry too), its sum rounded to currency-precision with two decimals,
// its comment and the flag. The statement is retried by the SQL data layer
// until the server takes it. Returns 0.
int insertAccount(const char *account, AccountEntry *entry, int flag);
