// The user base: the directory tree of users, the walk over all of them, and
// each user's configuration file user.cf read into a reusable user record.
//
// Tree layout. The root is the setting userbase-dir. A directory that holds an
// entry named ".alpha" (of any kind; only its existence counts) is an index
// level: in an index level whose prefix has k characters (the root's prefix
// is empty) the subdirectories that count are those named by k + 1 characters
// that begin with the prefix, and each is again an index or a leaf level. In
// a leaf level every subdirectory holding a regular file "user.cf" is the
// directory of the user of that name. Branches may differ in depth: with
// ".alpha" in the root and in j, the user john lives in j/jo/john. Only names
// made of ASCII letters, digits, '-' and '_' are ever considered.
//
// user.cf format. Logical lines (a trailing backslash joins the next line) of
// a key, white space and a value; blank lines and lines whose first
// non-blank character is '#' are skipped. Keys are case-sensitive:
//   username    must equal the user's name (checked, not stored)
//   accname     account name, at most 15 characters (several users may
//               share one account)
//   prices      price-list names; legal: legal words (several lines add up)
//   copyto, postmaster, domain, system, phones   items of that name
//   contract, degree                              item contract
//   orgr / orge                  organization, native / English
//   namer, realr / namee, reale  realname, native / English
//   locationr, addrr / locatione, addre          location, native / English
//   whowhen     a word and a date YYMMDD (years 70..99) or YYYYMMDD
//   language, lang   the language code (its first two characters)
//   ext NAME VALUE   a free item; NAME may end in "/n" or "/e"
//   addresses   obsolete, reported and ignored
//   anything else    an item named by the key ("/n" or "/e" allowed)
#pragma once

#include <dirent.h>

#include <cstdint>

#include "date.h"

// ---- The tree and the walk ----

// The list of user names that getUserList hands out: a heap array of heap
// copies of the names. The caller frees it with freeUserList.
using UserList = char **;

// Called by forEachUser with each user name (valid only during the call);
// returns true to go on, false to stop the walk.
using UserCallback = bool (*)(const char *user);

// The path of a user's directory, or of file inside it when file is neither
// null nor empty: userbase-dir, then one index directory per level marked by
// ".alpha" (named by the first 1, 2, ... characters of the user name, at most
// the whole name), then the user name and "/" file. Only stat calls are made;
// whether the user or the file exists is not tested. The result is a
// process-wide buffer that the next call overwrites. The name is used as it
// is: callers that take names from outside check them with isUserDirName.
const char *userPath(const char *user, const char *file);

// 1 when name is not empty and made only of ASCII letters, digits, '-' and
// '_' (so never "." or ".." and never holding "/"), else 0.
int isUserDirName(const char *name);
// The same test on a directory entry's name: the walk's test for names.
int isUserDirName(const struct dirent *entry);

// Walks the whole base and stores the names found (depth first; within a
// directory in strcmp order of the names) and their count. True when at least
// one user was found; false when none was, or the root cannot be read: then
// *list is null and *count 0 and nothing is allocated.
bool getUserList(UserList *list, unsigned *count);
// The customer folders that the last getUserList (or forEachUser) left out:
// a folder whose name holds another character than letters, digits, '-' and
// '_' (one beginning with a dot is hidden and not counted), and a folder whose
// user.cf is there but no regular file. The first walk of a process says
// which and why through error (Logfile and standard error); later walks only
// count them.
unsigned leftOutUserDirs();
// Frees the count names of list and then the array.
void freeUserList(UserList list, unsigned count);
// Calls callback with each user name in the order of getUserList. False when
// there is no user (the callback never runs) or when a call returned false
// (the walk ends there); true when every call returned true.
bool forEachUser(UserCallback callback);

// ---- The user record ----

// Lengths of the fixed text fields, without their zero byte.
constexpr unsigned kUserNameMax = 15;
constexpr unsigned kUserLangMax = 2;
constexpr unsigned kUserDataNameMax = 15;
constexpr unsigned kUserDataValueMax = 299;

// One named user value.
struct UserData {
  char name[kUserDataNameMax + 1];
  char value[kUserDataValueMax + 1];
  uint8_t native;  // 1: native-language variant ("/n"), 0: English ("/e")
};

// A user's record, filled from user.cf. The record owns every string and
// array it points to; the caller owns the record and reuses it from user to
// user. The arrays grow in steps of 10 entries.
struct UserConf {
  char name[kUserNameMax + 1];     // user name
  char accname[kUserNameMax + 1];  // account name; the user name by default
  char lang[kUserLangMax + 1];     // language code; empty: the setting language
  char **prices;                   // price-list names, in file order
  unsigned priceCount;
  char **legal;                    // words of legal lines, in file order
  unsigned legalCount;
  char *copyto;                    // copy-to address, or null
  char *postmaster;                // never null after a successful read
  Date whowhen;                    // date of the whowhen line
  UserData *data;                  // items, in order of first appearance
  unsigned dataCount;
};

// Prepares a record whose memory holds anything (nothing is freed): all
// empty, whowhen set to today. Called once per record before first use.
UserConf *userInit(UserConf *user);
// Frees the lists, items, copyto and postmaster and empties name and lang.
// accname and whowhen stay as they are.
void userClear(UserConf *user);
// readUserConf, reporting a failure with "Error reading configuration for
// `NAME'" (a null record is reported too). True on success.
bool getUserConf(UserConf *user, const char *name);
// Reads the user's user.cf into the record after emptying it. False, with a
// message, for a name longer than 15 characters or a file that cannot be
// opened or read; false without a message for a null or empty name. A
// missing postmaster (the setting admin is used) or price list is reported
// and the read still succeeds. whowhen keeps its previous value unless the
// file gives a date in range.
bool readUserConf(UserConf *user, const char *name);
// Adds an item or replaces the one of the same flag whose stored name begins
// with the item name. key null: the first word of value is the key and value
// is modified in place (the word is cut off). The item name is the key up to
// its first '/'; "/n" (or "/N") marks the native variant, any other letter
// after the '/' the English one, no '/' the native one. An empty item name is
// refused with a message. Over-long names and values are cut with a message.
void setUserData(UserConf *user, char *value, const char *key);
