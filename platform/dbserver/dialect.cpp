#include "dialect.h"

#include <cctype>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace {

enum class TokenKind { Word, Number, String, Symbol };

struct Token {
  TokenKind kind;
  std::string text;   // a string literal's bytes without quotes and escapes
  std::string upper;  // a word's text in capitals, a symbol's or number's text; empty for a string
};

bool isWordStart(unsigned char c) { return isalpha(c) || c == '_'; }
bool isWordChar(unsigned char c) { return isalnum(c) || c == '_'; }
bool isDigit(unsigned char c) { return c >= '0' && c <= '9'; }

std::string upper(const std::string &word) {
  std::string u = word;
  for (char &c : u) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return u;
}

// A short piece of the statement for an error text.
std::string near(const std::string &text, size_t pos) {
  std::string piece = text.substr(pos, 20);
  for (char &c : piece)
    if (static_cast<unsigned char>(c) < ' ') c = ' ';
  return piece;
}

bool tokenize(const std::string &s, std::vector<Token> *tokens, std::string *error) {
  static const char *const kTwoCharSymbols[] = {"<=", ">=", "<>", "!="};
  static const char kOneCharSymbols[] = "(),*=<>+-/.";
  size_t i = 0;
  while (i < s.size()) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
      i++;
    } else if (isWordStart(c)) {
      size_t start = i;
      while (i < s.size() && isWordChar(static_cast<unsigned char>(s[i]))) i++;
      std::string word = s.substr(start, i - start);
      tokens->push_back({TokenKind::Word, word, upper(word)});
    } else if (isDigit(c) || (c == '.' && i + 1 < s.size() && isDigit(static_cast<unsigned char>(s[i + 1])))) {
      size_t start = i;
      while (i < s.size() && isDigit(static_cast<unsigned char>(s[i]))) i++;
      if (i < s.size() && s[i] == '.') {
        i++;
        while (i < s.size() && isDigit(static_cast<unsigned char>(s[i]))) i++;
      }
      if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        size_t e = i + 1;
        if (e < s.size() && (s[e] == '+' || s[e] == '-')) e++;
        if (e < s.size() && isDigit(static_cast<unsigned char>(s[e]))) {
          i = e;
          while (i < s.size() && isDigit(static_cast<unsigned char>(s[i]))) i++;
        }
      }
      if (i < s.size() && isWordChar(static_cast<unsigned char>(s[i]))) {
        *error = "Syntax error near \"" + near(s, start) + "\"";
        return false;
      }
      std::string number = s.substr(start, i - start);
      tokens->push_back({TokenKind::Number, number, number});
    } else if (c == '\'') {
      std::string value;
      size_t start = i++;
      bool closed = false;
      while (i < s.size()) {
        if (s[i] == '\\' && i + 1 < s.size()) {
          value += s[i + 1];
          i += 2;
        } else if (s[i] == '\'') {
          i++;
          closed = true;
          break;
        } else {
          value += s[i++];
        }
      }
      if (!closed) {
        *error = "Unterminated string near \"" + near(s, start) + "\"";
        return false;
      }
      tokens->push_back({TokenKind::String, value, ""});
    } else {
      std::string symbol;
      for (const char *two : kTwoCharSymbols)
        if (s.compare(i, 2, two) == 0) symbol = two;
      if (symbol.empty() && c != '\0' && strchr(kOneCharSymbols, c)) symbol = std::string(1, s[i]);
      if (symbol.empty()) {
        *error = "Syntax error near \"" + near(s, i) + "\"";
        return false;
      }
      tokens->push_back({TokenKind::Symbol, symbol, symbol});
      i += symbol.size();
    }
  }
  return true;
}

// Words that pass into SQLite as keywords; every other word is a name.
bool isKeyword(std::string_view u) {
  static constexpr std::string_view kKeywords[] = {
      "SELECT", "DISTINCT", "FROM",   "WHERE",  "AND",    "OR",  "NOT", "NULL",
      "IS",     "ORDER",    "BY",     "ASC",    "DESC",   "LIMIT", "INSERT",
      "INTO",   "VALUES",   "UPDATE", "SET",    "DELETE",
  };
  for (std::string_view k : kKeywords)
    if (u == k) return true;
  return false;
}

std::string quoted(const std::string &name) { return "\"" + name + "\""; }

// The statements of the system name one table: SELECT ... FROM t and DELETE
// FROM t, then nothing or WHERE, ORDER BY, LIMIT; UPDATE t SET; INSERT INTO
// t (...) VALUES. A second table, a join, an alias or a nested SELECT is
// refused: each could make one statement work on the product of tables.
bool oneTable(const std::vector<Token> &tokens, const std::string &verb, std::string *table, std::string *error) {
  struct Shape {
    const char *verb;
    const char *before;    // the word before the table's name
    int keywords;          // how many SELECT and FROM words the statement holds
    const char *after[3];  // what may follow the name, besides the end
  };
  static const Shape kShapes[] = {
      {"SELECT", "FROM", 2, {"WHERE", "ORDER", "LIMIT"}},
      {"DELETE", "FROM", 1, {"WHERE"}},
      {"UPDATE", "UPDATE", 0, {"SET"}},
      {"INSERT", "INTO", 0, {"(", "VALUES"}},
  };
  const Shape *shape = kShapes;
  while (verb != shape->verb) shape++;
  int keywords = 0;
  size_t name = 0;
  for (size_t i = 0; i < tokens.size(); i++) {
    const std::string &u = tokens[i].upper;
    if (u == "SELECT" || u == "FROM") keywords++;
    if (!name && u == shape->before) name = i + 1;
  }
  bool ok = keywords == shape->keywords && name && name < tokens.size() &&
            tokens[name].kind == TokenKind::Word && !isKeyword(tokens[name].upper);
  size_t next = name + 1;
  if (ok && next < tokens.size()) {
    ok = false;
    for (const char *word : shape->after)
      if (word && tokens[next].upper == word) ok = true;
  }
  if (ok) {
    *table = tokens[name].text;
    return true;
  }
  *error = "Only one table per statement, without join, alias or nested select";
  return false;
}

// A cursor over the tokens of a CREATE or DROP statement.
struct Parser {
  const std::vector<Token> &tokens;
  size_t pos = 0;
  std::string *error;

  bool atEnd() const { return pos >= tokens.size(); }
  bool fail(const std::string &what) {
    *error = "Syntax error: " + what;
    if (!atEnd()) *error += " near \"" + tokens[pos].text + "\"";
    return false;
  }
  bool word(const char *keyword) {
    if (atEnd() || tokens[pos].kind != TokenKind::Word || tokens[pos].upper != keyword) return false;
    pos++;
    return true;
  }
  bool symbol(const char *s) {
    if (atEnd() || tokens[pos].kind != TokenKind::Symbol || tokens[pos].text != s) return false;
    pos++;
    return true;
  }
  bool name(std::string *out) {
    if (atEnd() || tokens[pos].kind != TokenKind::Word) return false;
    *out = tokens[pos++].text;
    return true;
  }
};

// CREATE TABLE name ( column type [not null] [primary key] {, ...} )
bool translateCreate(Parser &p, Statement *out) {
  std::string table;
  if (!p.word("CREATE") || !p.word("TABLE")) return p.fail("expected CREATE TABLE");
  if (!p.name(&table)) return p.fail("expected a table name");
  if (!p.symbol("(")) return p.fail("expected (");
  out->table = table;
  std::string sql = "CREATE TABLE " + quoted(table) + " (";
  // The bytes of the longest row as answered: each value with its length
  // prefix, a number as long as its longest text.
  size_t rowBytes = 0;
  for (bool first = true;; first = false) {
    std::string column;
    if (!p.name(&column)) return p.fail("expected a column name");
    std::string type;
    if (p.word("CHAR")) {
      if (!p.symbol("(") || p.atEnd() || p.tokens[p.pos].kind != TokenKind::Number)
        return p.fail("expected char(length)");
      const std::string &length = p.tokens[p.pos++].text;
      if (length.find_first_not_of("0123456789") != std::string::npos || length.size() > 6)
        return p.fail("bad length");
      if (!p.symbol(")")) return p.fail("expected )");
      type = "CHAR(" + length + ")";
      rowBytes += 8 + strtoul(length.c_str(), nullptr, 10);
    } else if (p.word("INT")) {
      type = "INT";
      rowBytes += 32;
    } else if (p.word("REAL")) {
      type = "REAL";
      rowBytes += 32;
    } else {
      return p.fail("expected a type (char, int, real)");
    }
    sql += (first ? "" : ", ") + quoted(column) + " " + type;
    if (p.word("NOT")) {
      if (!p.word("NULL")) return p.fail("expected NULL");
      sql += " NOT NULL";
    }
    if (p.word("PRIMARY")) {
      if (!p.word("KEY")) return p.fail("expected KEY");
      sql += " PRIMARY KEY";
    }
    if (p.symbol(")")) break;
    if (!p.symbol(",")) return p.fail("expected , or )");
  }
  if (!p.atEnd()) return p.fail("unexpected text after the statement");
  if (rowBytes > kMaxPayload) {
    *p.error = "Rows of table \"" + table + "\" could outgrow a packet";
    return false;
  }
  out->sql = sql + ")";
  return true;
}

// CREATE INDEX name ON table ( column {, column} ): an index that is not
// unique, so it never refuses a row.
bool translateCreateIndex(Parser &p, Statement *out) {
  std::string index, table, column;
  if (!p.word("CREATE") || !p.word("INDEX")) return p.fail("expected CREATE INDEX");
  if (!p.name(&index)) return p.fail("expected an index name");
  if (!p.word("ON") || !p.name(&table)) return p.fail("expected ON and a table name");
  if (!p.symbol("(")) return p.fail("expected (");
  out->table = table;
  std::string sql = "CREATE INDEX " + quoted(index) + " ON " + quoted(table) + " (";
  for (bool first = true;; first = false) {
    if (!p.name(&column)) return p.fail("expected a column name");
    sql += (first ? "" : ", ") + quoted(column);
    if (p.symbol(")")) break;
    if (!p.symbol(",")) return p.fail("expected , or )");
  }
  if (!p.atEnd()) return p.fail("unexpected text after the statement");
  out->sql = sql + ")";
  return true;
}

bool translateDrop(Parser &p, Statement *out) {
  std::string table;
  if (!p.word("DROP") || !p.word("TABLE")) return p.fail("expected DROP TABLE");
  if (!p.name(&table)) return p.fail("expected a table name");
  if (!p.atEnd()) return p.fail("unexpected text after the statement");
  out->sql = "DROP TABLE " + quoted(table);
  return true;
}

}  // namespace

bool isIdentifier(const std::string &name) {
  if (name.empty() || !isWordStart(static_cast<unsigned char>(name[0]))) return false;
  for (char c : name)
    if (!isWordChar(static_cast<unsigned char>(c))) return false;
  return true;
}

bool translateStatement(const std::string &text, Statement *out, std::string *error) {
  std::vector<Token> tokens;
  out->sql.clear();
  out->shape.clear();
  out->params.clear();
  out->table.clear();
  if (!tokenize(text, &tokens, error)) return false;
  if (tokens.empty() || tokens[0].kind != TokenKind::Word) {
    *error = "Syntax error: no statement";
    return false;
  }
  const std::string &verb = tokens[0].upper;
  Parser parser{tokens, 0, error};
  if (verb == "CREATE")
    return tokens.size() > 1 && tokens[1].upper == "INDEX" ? translateCreateIndex(parser, out)
                                                                 : translateCreate(parser, out);
  if (verb == "DROP") return translateDrop(parser, out);
  if (verb != "SELECT" && verb != "INSERT" && verb != "UPDATE" && verb != "DELETE") {
    *error = "Unsupported statement \"" + tokens[0].text + "\"";
    return false;
  }
  if (!oneTable(tokens, verb, &out->table, error)) return false;
  out->sql.reserve(text.size() + 64);
  out->shape.reserve(text.size() + 64);
  bool numbersInText = false;  // in the result list or ORDER BY
  // Appends a token's text to the statement and its form in the shape.
  auto add = [out](const std::string &text, const std::string &inShape) {
    if (!out->sql.empty()) {
      out->sql += ' ';
      out->shape += ' ';
    }
    out->sql += text;
    out->shape += inShape;
  };
  for (size_t i = 0; i < tokens.size(); ++i) {
    const Token &t = tokens[i];
    switch (t.kind) {
      case TokenKind::Word: {
        const std::string &u = t.upper;
        // A name before "(" calls a function, which the system never does
        // and which could make the engine work without bounds; only the
        // table of INSERT INTO is followed by its column list.
        bool call = !isKeyword(u) && i + 1 < tokens.size() && tokens[i + 1].kind == TokenKind::Symbol &&
                    tokens[i + 1].text == "(" &&
                    !(i > 0 && tokens[i - 1].kind == TokenKind::Word && tokens[i - 1].upper == "INTO");
        if (call) {
          *error = "Function calls are not supported near \"" + t.text + "\"";
          return false;
        }
        if (u == "SELECT" || u == "ORDER") numbersInText = true;
        if (u == "FROM" || u == "LIMIT") numbersInText = false;
        std::string word = isKeyword(u) ? u : quoted(t.text);
        add(word, word);
        break;
      }
      case TokenKind::String:
        add("?", "?");
        out->params.push_back({Literal::kString, t.text, 0});
        break;
      case TokenKind::Number: {
        Literal number{Literal::kReal, t.text, 0};
        const char *end = t.text.data() + t.text.size();
        bool inText = numbersInText;
        if (t.text.find_first_not_of("0123456789") == std::string::npos) {
          number.kind = Literal::kInteger;
          auto [past, failed] = std::from_chars(t.text.data(), end, number.integer);
          inText |= failed != std::errc() || past != end;
        }
        if (inText) {
          add(t.text, t.text);
          break;
        }
        add(t.text, number.kind == Literal::kInteger ? "?" : "+CAST(? AS REAL)");
        out->params.push_back(number);
        break;
      }
      case TokenKind::Symbol:
        add(t.text, t.text);
        break;
    }
  }
  if (verb == "DELETE" && tokens.size() == 3) add("WHERE 1", "WHERE 1");
  return true;
}
