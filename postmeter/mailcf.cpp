// Mail class sets and the mail.cf reader (see mailcf.h).
#include "mailcf.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_map>

#include "address.h"
#include "core.h"
#include "userbase.h"

MailClassSet commonClassSet;
MailClassSet *userClassSets;
unsigned userClassSetCount;

namespace {

// Entries per storage block, and blocks added to the block array at a time.
constexpr unsigned kEntriesPerBlock = 10;
constexpr unsigned kBlockArrayStep = 20;
// Classes and user sets are added to their arrays in steps of this many.
constexpr unsigned kSlotStep = 10;
// mail.cf is read in pieces of at most 2047 characters.
constexpr int kLineSize = 2048;

const char kUserClass[] = "user";

// The common set is ready before main and released at exit.
struct CommonSetLifetime {
  CommonSetLifetime() { classSetInit(&commonClassSet, "common"); }
  ~CommonSetLifetime() { classSetFree(&commonClassSet); }
} commonSetLifetime;

// Makes room for one more class slot.
void reserveSlot(MailClassSet *set) {
  if (set->classCount % kSlotStep != 0) return;
  unsigned slots = set->classCount + kSlotStep;
  set->names = static_cast<char(*)[kClassNameMax + 1]>(
      memRealloc(set->names, slots * sizeof *set->names));
  set->heads = static_cast<MailClassEntry **>(memRealloc(set->heads, slots * sizeof *set->heads));
}

// Where each owner's set is in userClassSets. The array may be emptied
// behind this index's back (the tests do), so an entry counts only while the
// set in its place has that owner.
std::unordered_map<std::string, unsigned> userSetIndex;

// The set of the user, appended to the user sets when there is none yet.
MailClassSet *userSet(const char *user) {
  auto known = userSetIndex.find(user);
  if (known != userSetIndex.end() && known->second < userClassSetCount &&
      strcmp(userClassSets[known->second].owner, user) == 0)
    return &userClassSets[known->second];
  if (userClassSetCount % kSlotStep == 0)
    userClassSets = static_cast<MailClassSet *>(
        memRealloc(userClassSets, (userClassSetCount + kSlotStep) * sizeof *userClassSets));
  MailClassSet *set = &userClassSets[userClassSetCount];
  classSetInit(set, user);
  userSetIndex[set->owner] = userClassSetCount++;
  return set;
}

// The entry kind a mail.cf keyword adds, KIND_NONE for any other word.
int keywordKind(const char *word) {
  if (strcmp(word, "from") == 0) return KIND_FROM;
  if (strcmp(word, "to") == 0) return KIND_TO;
  if (strcmp(word, "any") == 0) return KIND_ANY;
  if (strcmp(word, "not") == 0 || strcmp(word, "except") == 0) return KIND_EXCEPT;
  return KIND_NONE;
}

// -s lists a class's mails in a file of the class's name, so the name must
// be usable as one file name inside the user's mail directory; and class
// names become counter names, where "*" would stand for every counter.
bool isUsableClassName(const char *name) {
  return *name && strcmp(name, ".") != 0 && strcmp(name, "..") != 0 && strcmp(name, "*") != 0 &&
         !strchr(name, '/');
}

// Walks the set's entries of one class, whether or not it hits: true when an
// entry of the wanted kind (or `any`) matches and is not cancelled by an
// `except` entry right after it that matches too.
bool classHits(const MailClassEntry *entry, int wanted, EntryTest test, void *context) {
  for (; entry; entry = entry->next) {
    // Entries without a compiled pattern are never matched.
    if (entry->kind != wanted && entry->kind != KIND_ANY) continue;
    if (!test(entry, context)) continue;
    const MailClassEntry *guard = entry->next;
    if (guard && guard->kind == KIND_EXCEPT && test(guard, context)) {
      entry = guard;
      continue;
    }
    return true;
  }
  return false;
}

bool regexTest(const MailClassEntry *entry, void *address) {
  return regexMatch(entry, static_cast<const char *>(address));
}

}  // namespace

void classSetInit(MailClassSet *set, const char *owner) {
  set->blocks = nullptr;
  set->entryCount = 0;
  set->names = nullptr;
  set->heads = nullptr;
  set->classCount = 0;
  strnzcpy(set->owner, owner ? owner : "", sizeof set->owner);
}

void classSetFree(MailClassSet *set) {
  for (unsigned i = 0; i < set->entryCount; ++i) {
    freeEntryPattern(&set->blocks[i / kEntriesPerBlock][i % kEntriesPerBlock]);
  }
  unsigned blockCount = (set->entryCount + kEntriesPerBlock - 1) / kEntriesPerBlock;
  for (unsigned b = 0; b < blockCount; ++b) memRealloc(set->blocks[b], 0);
  memRealloc(set->blocks, 0);
  memRealloc(set->names, 0);
  memRealloc(set->heads, 0);
  set->blocks = nullptr;
  set->entryCount = 0;
  set->names = nullptr;
  set->heads = nullptr;
  set->classCount = 0;
}

unsigned registerClass(MailClassSet *set, const char *name) {
  char stored[kClassNameMax + 1];
  strnzcpy(stored, name, sizeof stored);
  for (unsigned i = 0; i < set->classCount; ++i)
    if (strcmp(set->names[i], stored) == 0) return i;

  unsigned slot = 0;
  if (set->classCount == 0) {
    // Slot 0 belongs to the class `user`, named or not.
    reserveSlot(set);
    set->names[0][0] = '\0';
    set->heads[0] = nullptr;
    set->classCount = 1;
  }
  if (strcmp(stored, kUserClass) != 0) {
    reserveSlot(set);
    slot = set->classCount++;
    set->heads[slot] = nullptr;
  }
  strnzcpy(set->names[slot], stored, sizeof set->names[slot]);
  debug(8, "Registered new class: %s\n", set->names[slot]);
  return slot;
}

MailClassEntry *addClassEntry(MailClassSet *set, const char *name) {
  unsigned block = set->entryCount / kEntriesPerBlock;
  if (set->entryCount % kEntriesPerBlock == 0) {
    if (block % kBlockArrayStep == 0)
      set->blocks = static_cast<MailClassEntry **>(
          memRealloc(set->blocks, (block + kBlockArrayStep) * sizeof *set->blocks));
    set->blocks[block] =
        static_cast<MailClassEntry *>(memRealloc(nullptr, kEntriesPerBlock * sizeof(MailClassEntry)));
  }
  MailClassEntry *entry = &set->blocks[block][set->entryCount % kEntriesPerBlock];
  ++set->entryCount;
  entry->pattern = nullptr;
  entry->kind = KIND_NONE;
  entry->next = nullptr;
  entry->text = nullptr;
  entry->re2 = nullptr;
  entry->setIndex = -1;

  unsigned slot = registerClass(set, name);  // may move heads
  MailClassEntry **link = &set->heads[slot];
  while (*link) link = &(*link)->next;
  *link = entry;
  return entry;
}

bool readMailCf(const char *user) {
  const char *owner = user ? user : "common";
  std::string path = user ? userPath(user, "mail.cf") : homePath("mail.cf");
  FILE *file = fopen(path.c_str(), "r");
  if (!file) {
    if (user) return true;
    error("No common mail.cf, mail services unusable");
    return false;
  }
  // A buffer of its own spares asking the system for the file's block size,
  // once per user of a large node.
  char buffer[4096];
  setvbuf(file, buffer, _IOFBF, sizeof buffer);
  MailClassSet *set = user ? userSet(user) : &commonClassSet;
  debug(8, "New user: %s\n", set->owner);

  char line[kLineSize];
  char **words = nullptr;
  int count = 0;
  char current[kClassNameMax + 1] = "";
  bool haveClass = false;
  bool userClassNamed = false;
  while (fgets(line, sizeof line, file)) {
    count = 0;
    sepwords(&words, &count, line, 0);
    for (int i = 0; i < count; ++i) {
      if (words[i][0] == '#') {
        count = i;
        break;
      }
    }
    if (count == 0) continue;

    const char *keyword = words[0];
    if (strcmp(keyword, "class") == 0) {
      haveClass = false;
      if (count != 2) {
        error("No class name, skipping..");
        continue;
      }
      strnzcpy(current, words[1], sizeof current);
      if (!isUsableClassName(current)) {
        error("Bad class name `%s' in %s mail.cf, skipping..", current, owner);
        continue;
      }
      haveClass = true;
      if (strcmp(current, kUserClass) == 0) userClassNamed = true;
      continue;
    }
    int kind = keywordKind(keyword);
    if (kind == KIND_NONE) {
      error("Unknown keyword %s in %s mail.cf, ignored..", keyword, owner);
      continue;
    }
    if (count == 1) {
      error("Empty regex");
      continue;
    }
    if (!haveClass) {
      error("No service class name set");
      continue;
    }
    for (int i = 1; i < count; ++i) {
      MailClassEntry *entry = addClassEntry(set, current);
      if (compileRegex(entry, words[i], true) == 0) entry->kind = kind;
    }
  }
  memRealloc(words, 0);
  fclose(file);

  if (user && !userClassNamed) {
    error("No `user' class found for %s in mail.cf", user);
    addClassEntry(set, kUserClass);  // the class exists and matches nothing
  }
  return true;
}

const char *classMatch(const MailClassSet *set, const char *address, bool userClass, int wanted) {
  return classMatchBy(set, userClass, wanted, regexTest, const_cast<char *>(address));
}

const char *classMatchBy(const MailClassSet *set, bool userClass, int wanted, EntryTest test, void *context) {
  if (set->classCount == 0) return nullptr;
  unsigned first = userClass ? 0 : 1;
  unsigned last = userClass ? 1 : set->classCount;
  for (unsigned slot = first; slot < last; ++slot)
    if (classHits(set->heads[slot], wanted, test, context)) return set->names[slot];
  return nullptr;
}
