#include <strings.h>

#include <cstring>
#include <string>

#include "webtally.h"

const FormCommand formCommands[] = {
    {"version", cmdVersion, false},
    {"date", cmdDate, false},
    {"cdate", cmdCdate, false},
    {"statadmin", cmdStatAdmin, false},
    {"username", cmdUsername, true},
    {"organization", cmdOrganization, true},
    {"organisation", cmdOrganization, true},
    {"realname", cmdRealname, true},
    {"location", cmdLocation, true},
    {"contract", cmdContract, true},
    {"phones", cmdPhones, true},
    {"domain", cmdDomain, true},
    {"usersystem", cmdUsersystem, true},
    {"whowhen", cmdWhowhen, true},
    {"postmaster", cmdPostmaster, true},
    {"account", cmdAccount, true},
    {"print", cmdPrint, false},
    {"line", cmdLine, false},
    {"statistic", cmdStatistic, true},
    {"total", cmdTotal, true},
    {"currency", cmdCurrency, false},
    {"include", cmdInclude, false},
    {"if", cmdIf, false},
    {"else", cmdElse, false},
    {"fi", cmdFi, false},
    {nullptr, nullptr, false},
};

namespace {

// A directive holds at most this many characters; the rest of a longer one
// is written as text.
constexpr size_t kDirectiveMax = 2047;
// Paths built from the home directory hold at most 199 characters.
constexpr size_t kFormPathSize = 200;

unsigned depth = 0;

bool isSpace(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
// ASCII letters only: a byte with the high bit set never belongs to a word.
bool isLetter(int c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// Where the interpreter stands between two characters.
enum DirectiveState { OUTSIDE, AFTER_OPENER, COLLECTING };

// One interpretation: the form being read, its user, its record and the
// directive being collected.
struct Interpreter {
  FILE *out;
  FILE *form;
  const char *user;  // null: no user
  UserConf record;
  DirectiveState state = OUTSIDE;
  bool inComment = false;
  bool escaped = false;
  bool quoting = false;
  char buffer[kDirectiveMax + 1];
  size_t length = 0;
};

// A character of text: written (and flushed) while the output is on.
void writeText(Interpreter *in, int c) {
  if (!formOutput) return;
  fputc(c, in->out);
  fflush(in->out);
}

// The row that word selects, or null after saying why there is none.
const FormCommand *findCommand(const char *word) {
  size_t length = strlen(word);
  const FormCommand *chosen = nullptr;
  int distinct = 0;
  for (const FormCommand *row = formCommands; row->name; ++row) {
    if (strncasecmp(row->name, word, length) != 0) continue;
    // Consecutive rows of one handler (the two spellings of organization)
    // count as one command.
    if (!chosen || chosen->handler != row->handler) ++distinct;
    chosen = row;
  }
  if (distinct == 0) {
    error("Bad command `%s', skipping..", word);
    return nullptr;
  }
  if (distinct > 1) {
    error("Ambiguous command - `%s'", word);
    return nullptr;
  }
  return chosen;
}

// Binds the user on first need; false when the directive must be skipped.
bool bindRecord(Interpreter *in, const FormCommand *row) {
  if (in->record.name[0] || (!row->needsUser && !in->user)) return true;
  if (!in->user) {
    error("%s - command needs user name!", row->name);
    return false;
  }
  if (!getUserConf(&in->record, in->user)) {
    // A failed read may leave the name filled; the record must stay empty so
    // that the next directive tries again.
    userClear(&in->record);
    return false;
  }
  setLanguage(in->record.lang);
  return true;
}

// Runs the collected directive; false when it was `end`.
bool runDirective(Interpreter *in) {
  in->buffer[in->length] = '\0';
  char *text = in->buffer;
  while (isSpace(static_cast<unsigned char>(*text))) ++text;
  char *last = text + strlen(text);
  while (last > text && isSpace(static_cast<unsigned char>(last[-1]))) --last;
  *last = '\0';

  char *args = text;
  while (isLetter(static_cast<unsigned char>(*args))) ++args;
  std::string word(text, args);
  // The character that ends the word is dropped, whatever it is.
  if (*args) ++args;
  while (isSpace(static_cast<unsigned char>(*args))) ++args;

  if (strcasecmp(word.c_str(), "end") == 0) return false;
  const FormCommand *row = findCommand(word.c_str());
  if (!row) return true;
  if (!formOutput && strcmp(row->name, "if") != 0 && strcmp(row->name, "else") != 0 &&
      strcmp(row->name, "fi") != 0)
    return true;
  if (!bindRecord(in, row)) return true;
  debug(10, "REPORT: cmd=`%s' args=`%s', doing..", row->name, args);
  row->handler(in->out, &in->record, args);
  return true;
}

void startDirective(Interpreter *in) {
  in->state = COLLECTING;
  in->length = 0;
  in->quoting = false;
}

// A character that is neither part of a comment mark nor an escape; false
// when a directive ended the form.
bool take(Interpreter *in, int c) {
  const char opener = cmdDelimiters[0];
  const char closer = cmdDelimiters[1];
  switch (in->state) {
    case OUTSIDE:
      if (c == opener) in->state = AFTER_OPENER;
      else writeText(in, c);
      return true;
    case AFTER_OPENER:
      if (c == opener) {
        writeText(in, c);
        in->state = OUTSIDE;
        return true;
      }
      startDirective(in);
      break;
    case COLLECTING:
      break;
  }
  if (c == closer && !in->quoting && in->length > 0) {
    in->state = OUTSIDE;
    return runDirective(in);
  }
  if (c == opener && !in->quoting && opener != closer) {
    in->state = AFTER_OPENER;
  } else if (in->length < kDirectiveMax) {
    in->buffer[in->length++] = static_cast<char>(c);
    if (c == '"') in->quoting = !in->quoting;
  } else {
    writeText(in, c);
  }
  return true;
}

// A character after a backslash.
void takeEscaped(Interpreter *in, int c) {
  if (in->inComment) return;
  if (in->state == COLLECTING && in->length < kDirectiveMax) {
    in->buffer[in->length++] = static_cast<char>(c);
  } else if (c != '\n') {
    // In text a backslash before a newline joins the lines.
    writeText(in, c);
  }
}

// A backslash: stored in a directive, dropped in text and comments.
void takeBackslash(Interpreter *in) {
  in->escaped = true;
  if (in->inComment) return;
  if (in->state == AFTER_OPENER) startDirective(in);
  if (in->state == COLLECTING && in->length < kDirectiveMax) in->buffer[in->length++] = '\\';
}

// True when c and the character after it form the mark c, next; otherwise
// the character after it is read again.
bool pairFollows(FILE *form, int next) {
  int c = getc(form);
  if (c == next) return true;
  if (c != EOF) ungetc(c, form);
  return false;
}

void interpret(Interpreter *in) {
  int c;
  while ((c = getc(in->form)) != EOF) {
    if (in->escaped) {
      in->escaped = false;
      takeEscaped(in, c);
      continue;
    }
    if (!in->inComment && c == '/' && pairFollows(in->form, '*')) {
      in->inComment = true;
    } else if (in->inComment && c == '*' && pairFollows(in->form, '/')) {
      in->inComment = false;
    } else if (c == '\\') {
      takeBackslash(in);
    } else if (!in->inComment && !take(in, c)) {
      return;
    }
    if (c == '\n') endIfOutputLost(in->out);
  }
}

// Opens home-dir/dir/name (dir may be empty), refusing a path that does not
// fit the path buffer.
FILE *openInHome(const char *dir, const char *name) {
  char path[kFormPathSize];
  const char *home = homeDir ? homeDir : "";
  int n = *dir ? snprintf(path, sizeof path, "%s/%s/%s", home, dir, name)
               : snprintf(path, sizeof path, "%s/%s", home, name);
  if (n < 0 || static_cast<size_t>(n) >= sizeof path) return nullptr;
  return fopen(path, "r");
}

}  // namespace

unsigned formDepth() { return depth; }

int interpretForm(FILE *out, const char *user, FILE *form) {
  Interpreter in;
  in.out = out;
  in.form = form;
  in.user = user && *user ? user : nullptr;
  userInit(&in.record);
  bindUser(in.record.name, in.record.accname);
  ++depth;
  interpret(&in);
  --depth;
  fclose(form);
  setLanguage(nullptr);
  // The bound names point into the record, which goes away now.
  bindUser(nullptr, nullptr);
  userClear(&in.record);
  return 0;
}

FILE *openForm(const char *name, const char *user) {
  if (!name || !*name) return nullptr;
  if (strcmp(name, "-") == 0) return stdin;
  bool withUser = user && *user;
  if (name[0] == '=') {
    FILE *f = withUser ? fopen(userPath(user, name + 1), "r") : nullptr;
    if (!f) f = openInHome("forms", name + 1);
    if (!f) f = openInHome("", name + 1);
    return f;
  }
  if (name[0] == '~') return withUser ? fopen(userPath(user, name + 1), "r") : nullptr;
  return fopen(name, "r");
}

FILE *openLangForm(const char *name, const char *user, const char *lang) {
  if (!name) return nullptr;
  if (!lang || !*lang) lang = currentLanguage();
  // The variant's letters go before the last "." of the file part.
  size_t at = strlen(name);
  for (size_t i = at; i-- > 0;) {
    if (name[i] == '/') break;
    if (name[i] == '.') {
      at = i;
      break;
    }
  }
  auto variant = [&](const char *code) {
    return std::string(name, at) + "." + std::string(code, strnlen(code, 2)) + (name + at);
  };
  FILE *f = openForm(variant(lang).c_str(), user);
  const char *configured = language ? language : "";
  if (!f && strncasecmp(lang, configured, 2) != 0) f = openForm(variant(configured).c_str(), user);
  if (!f) f = openForm(name, user);
  return f;
}
