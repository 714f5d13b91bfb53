// ledgerctl: charges and payments in table `accounts'.
#pragma once

#include "readers.h"

// The flag column of an ordinary entry.
constexpr int kEntryOrdinary = 0;

// Fewest decimals of a sum written to `accounts'.
constexpr int kSumDecimalsMin = 2;

// Writes the entry as a row of `accounts' for the account (at most 15
// characters; a longer name is cut there): a new id (the caller holds the id
// lock of the table), the entry's date as YYYYMMDD (a year below 1900 gets
// 1900 added, in the entry too), its sum rounded to currency-precision with
// as many decimals as that has (at least kSumDecimalsMin), its comment and
// the flag. Returns 0, or -1 when the SQL data layer gave its id or its
// statement up (logged).
int insertAccount(const char *account, AccountEntry *entry, int flag);
