// The formula evaluator: an operator-precedence parser over two stacks.

#include <cctype>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "date.h"
#include "formula.h"
#include "memory.h"
#include "misc.h"

namespace {

enum OperatorCode {
  OP_OPEN = 0,
  OP_CLOSE = 1,
  OP_CONDITION = 2,
  OP_ALTERNATIVE = 3,
  OP_AND = 4,
  OP_OR = 5,
  OP_LESS = 6,
  OP_GREATER = 7,
  OP_LESS_EQUAL = 8,
  OP_GREATER_EQUAL = 9,
  OP_EQUAL = 10,
  OP_NOT_EQUAL = 11,
  OP_ADD = 12,
  OP_SUBTRACT = 13,
  OP_MULTIPLY = 14,
  OP_DIVIDE = 15,
  OP_REMAINDER = 16,
};

// ":" binds more tightly than "?" so that the value before ":" is complete
// when the "?" below it is reached; "%" sits between the additive and the
// multiplicative operators.
const Operator operators[] = {
    {")", 0, OP_CLOSE},         {"(", 1, OP_OPEN},           {"?", 10, OP_CONDITION},
    {":", 11, OP_ALTERNATIVE},  {"&&", 50, OP_AND},          {"||", 50, OP_OR},
    {"<", 70, OP_LESS},         {">", 70, OP_GREATER},       {"<=", 70, OP_LESS_EQUAL},
    {">=", 70, OP_GREATER_EQUAL}, {"==", 70, OP_EQUAL},      {"!=", 70, OP_NOT_EQUAL},
    {"+", 100, OP_ADD},         {"-", 100, OP_SUBTRACT},     {"%", 150, OP_REMAINDER},
    {"*", 200, OP_MULTIPLY},    {"/", 200, OP_DIVIDE},       {nullptr, 0, 0},
};

// Pending operands and pending operators of one evaluation each.
constexpr int kStackCapacity = 100;
// Registered caller tables.
constexpr int kMaxTables = 10;
// Nested evaluations (function arguments inside function arguments): each
// level costs a few hundred bytes of the process stack, which start-up limits
// to about 1 MB, so a pathological formula fails in order instead of
// overflowing it.
constexpr int kMaxNesting = 100;
// Values closer than this count as equal, and a value closer to 0 as false.
constexpr double kTolerance = 1e-6;

const Symbol *exprTables[kMaxTables];
int nesting;

// A stack with a fixed capacity; callers test hasRoom() before push() and
// notEmpty() before pop() and top().
template <typename T>
class ExprStack {
 public:
  explicit ExprStack(int capacity)
      : base_(static_cast<T *>(memRealloc(nullptr, capacity * sizeof(T)))), capacity_(capacity) {}
  ~ExprStack() { memRealloc(base_, 0); }
  ExprStack(const ExprStack &) = delete;
  ExprStack &operator=(const ExprStack &) = delete;

  bool notEmpty() const { return size_ > 0; }
  bool hasRoom() const { return size_ < capacity_; }
  void push(T value) { base_[size_++] = value; }
  T pop() { return base_[--size_]; }
  T top() const { return base_[size_ - 1]; }

 private:
  T *base_;
  int size_ = 0;
  int capacity_;
};

struct Evaluation {
  ExprStack<double> operands{kStackCapacity};
  ExprStack<const Operator *> pending{kStackCapacity};
};

const char *skipBlanks(const char *p) {
  while (isspace(static_cast<unsigned char>(*p))) ++p;
  return p;
}

bool isIdentifierChar(char c) { return isalnum(static_cast<unsigned char>(c)) || c == '_'; }

bool isTrue(double x) { return std::fabs(x) > kTolerance; }

// A decimal literal at *cursor: digits, an optional fraction, an optional
// exponent (the caller has seen a digit or a point there, so there is no
// sign). Only this form is read (never the hexadecimal one that strtod also
// knows), so that one price text means the same everywhere. Text that is not
// a number gives 0 and leaves *cursor alone, as strtod does.
double readNumber(const char **cursor) { return decimalNumber(*cursor, cursor); }

// Applies the operator on top of the pending stack to the operands on top of
// the operand stack, replacing them with the result.
int applyTop(Evaluation &ev) {
  const Operator *op = ev.pending.top();
  if (op->code == OP_OPEN || op->code == OP_CLOSE) {
    error("Unsupported operator - `%s'", op->name);
    return EXPR_UNSUPPORTED;
  }
  if (!ev.operands.notEmpty()) {
    error("No right side operand in stack.. Hm. It shouldn't happen!");
    return EXPR_NO_RIGHT;
  }
  double right = ev.operands.pop();
  if (!ev.operands.notEmpty()) {
    error("No left side operand in stack..");
    return EXPR_NO_LEFT;
  }
  double left = ev.operands.pop();
  ev.pending.pop();

  double value = 0;
  switch (op->code) {
    case OP_ADD: value = left + right; break;
    case OP_SUBTRACT: value = left - right; break;
    case OP_MULTIPLY: value = left * right; break;
    case OP_DIVIDE:
      if (right == 0) {
        error("Division by zero (%g/%g)", left, right);
        return EXPR_DIVISION;
      }
      value = left / right;
      break;
    case OP_REMAINDER: {
      // In 64 bits, so that neither |INT_MIN| nor INT_MIN % -1 overflows.
      long long divisor = std::llabs(static_cast<long long>(toInt(right)));
      if (right == 0 || divisor == 0) {
        error("Division by zero (%g/%g)", left, right);
        return EXPR_DIVISION;
      }
      value = static_cast<double>(toInt(left) % divisor);
      break;
    }
    case OP_LESS: value = left < right; break;
    case OP_GREATER: value = left > right; break;
    case OP_LESS_EQUAL: value = left < right || nearlyEqual(left, right); break;
    case OP_GREATER_EQUAL: value = left > right || nearlyEqual(left, right); break;
    case OP_EQUAL: value = nearlyEqual(left, right); break;
    case OP_NOT_EQUAL: value = !nearlyEqual(left, right); break;
    case OP_AND: value = isTrue(left) && isTrue(right); break;
    case OP_OR: value = isTrue(left) || isTrue(right); break;
    case OP_CONDITION:
      error("? without :");
      return EXPR_NO_ALTERNATIVE;
    case OP_ALTERNATIVE: {
      if (!ev.pending.notEmpty() || ev.pending.top()->code != OP_CONDITION) {
        error(": without ?");
        return EXPR_NO_CONDITION;
      }
      if (!ev.operands.notEmpty()) {
        error("No selector for ? operator");
        return EXPR_NO_SELECTOR;
      }
      double condition = ev.operands.pop();
      ev.pending.pop();
      value = isTrue(condition) ? left : right;
      break;
    }
  }
  ev.operands.push(value);  // two popped, one pushed: there is room
  return EXPR_OK;
}

// The identifier at *cursor: the program's tables first, then the built-ins,
// which a wildcard entry does not hide.
int lookupIdentifier(const char **cursor, double *value) {
  const char *start = *cursor;
  const Symbol *found = nullptr;
  const char *after = start;
  for (int i = 0; i < kMaxTables && exprTables[i]; ++i) {
    const char *c = start;
    found = findSymbol(&c, exprTables[i]);
    if (found) {
      after = c;
      break;
    }
  }
  if (!found || strcmp(found->name, "*") == 0) {
    const char *c = start;
    if (const Symbol *builtin = findSymbol(&c, builtinSymbols)) {
      found = builtin;
      after = c;
    } else if (!found) {
      error("No such function or variable - %s", start);
      return EXPR_NO_SYMBOL;
    }
  }
  *cursor = after;
  if (found->kind == SYM_VALUE) {
    *value = found->value;
    return EXPR_OK;
  }
  return callFunction(found, value, cursor) ? EXPR_OK : EXPR_BAD_CALL;
}

// One operand at *cursor: an optional sign directly followed by a number or
// an identifier.
int readOperand(Evaluation &ev, const char **cursor) {
  const char *p = skipBlanks(*cursor);
  double sign = 1;
  if (*p == '-' || *p == '+') sign = *p++ == '-' ? -1 : 1;
  double value;
  if (isdigit(static_cast<unsigned char>(*p)) || *p == '.') {
    value = readNumber(&p);
  } else if (isalpha(static_cast<unsigned char>(*p)) || *p == '_') {
    if (int rc = lookupIdentifier(&p, &value)) return rc;
  } else {
    error("Should be an operand here - `%s'", p);
    return EXPR_NO_OPERAND;
  }
  if (!ev.operands.hasRoom()) {
    error("No space in operand's stack");
    return EXPR_OPERANDS_FULL;
  }
  ev.operands.push(value * sign);
  *cursor = p;
  return EXPR_OK;
}

// Applies pending operators while they bind at least as tightly as next (all
// of them when next is null), then pushes next. A "(" on the stack ends the
// reduction: it is the group that a ")" (or the end of the text) closes.
int reduce(Evaluation &ev, const Operator *next) {
  while (ev.pending.notEmpty()) {
    const Operator *top = ev.pending.top();
    if (next && top->priority < next->priority) break;
    if (top->code == OP_OPEN) {
      if (!ev.operands.notEmpty()) {
        error("Empty expression");
        return EXPR_NO_OPERAND;
      }
      ev.pending.pop();
      return EXPR_OK;
    }
    if (int rc = applyTop(ev)) return rc;
  }
  // A "(" where an operator belongs is dropped.
  if (!next || next->code == OP_OPEN) return EXPR_OK;
  if (!ev.pending.hasRoom()) {
    error("No space in operator's stack");
    return EXPR_OPERATORS_FULL;
  }
  ev.pending.push(next);
  return EXPR_OK;
}

int evaluateText(double *result, const char *text) {
  Evaluation ev;
  const char *cursor = text;
  bool afterClose = false;
  for (;;) {
    if (!*cursor && !ev.pending.notEmpty()) break;

    // Groups opened before an operand.
    while (const Operator *op = scanOperator(&cursor, operators)) {
      if (op->code != OP_OPEN) {
        cursor -= strlen(op->name);
        break;
      }
      if (!ev.pending.hasRoom()) {
        error("No space in operator's stack");
        return EXPR_GROUPS_FULL;
      }
      ev.pending.push(op);
    }

    // After ")" an operator follows, not an operand.
    if (*cursor && !afterClose) {
      if (int rc = readOperand(ev, &cursor)) return rc;
    }

    cursor = skipBlanks(cursor);
    const Operator *next = nullptr;
    if (*cursor) {
      next = scanOperator(&cursor, operators);
      if (!next) {
        error("Should be an operator here - expression's tail=`%s'\n", cursor);
        return EXPR_NO_OPERATOR;
      }
    }
    if (int rc = reduce(ev, next)) return rc;
    afterClose = next && next->code == OP_CLOSE;
  }

  if (ev.operands.notEmpty()) {
    *result = ev.operands.top();
  } else {
    error("Empty expression");
    *result = 0;
  }
  return EXPR_OK;
}

// Splits the argument text of a call into its comma-separated pieces; commas
// inside nested parentheses stay in their piece. Every piece counts, also an
// empty one, so "" is one empty piece.
class ArgumentPieces {
 public:
  explicit ArgumentPieces(std::string text) : text_(std::move(text)), next_(text_.data()) {}
  bool left() const { return next_ != nullptr; }
  // The next piece (NUL-terminated in place), or null when none is left.
  const char *take() {
    char *piece = next_;
    if (!piece) return nullptr;
    int depth = 0;
    char *p = piece;
    for (; *p; ++p) {
      if (*p == '(') ++depth;
      else if (*p == ')') --depth;
      else if (*p == ',' && depth == 0) break;
    }
    if (*p) {
      *p = '\0';
      next_ = p + 1;
    } else {
      next_ = nullptr;
    }
    return piece;
  }

 private:
  std::string text_;
  char *next_;
};

}  // namespace

int toInt(double x) {
  double r = rint(x);
  if (std::isnan(r)) return 0;
  if (r <= INT_MIN) return INT_MIN;
  if (r >= INT_MAX) return INT_MAX;
  return static_cast<int>(r);
}

void setExprTables(const Symbol *table, ...) {
  va_list args;
  va_start(args, table);
  const Symbol *t = table;
  for (int i = 0; i < kMaxTables; ++i) {
    exprTables[i] = t;
    if (!t || i + 1 == kMaxTables) break;
    t = va_arg(args, const Symbol *);
  }
  va_end(args);
}

const Operator *scanOperator(const char **cursor, const Operator *table) {
  const char *p = skipBlanks(*cursor);
  *cursor = p;
  const Operator *best = nullptr;
  size_t bestLength = 0;
  for (const Operator *op = table; op->name; ++op) {
    size_t n = strlen(op->name);
    if (n > bestLength && strncmp(p, op->name, n) == 0) {
      best = op;
      bestLength = n;
    }
  }
  if (best) *cursor = p + bestLength;
  return best;
}

const Symbol *findSymbol(const char **cursor, const Symbol *table) {
  const char *start = skipBlanks(*cursor);
  *cursor = start;
  const char *end = start;
  while (isIdentifierChar(*end)) ++end;
  size_t length = end - start;
  for (const Symbol *s = table; s->name; ++s) {
    bool matches = strcmp(s->name, "*") == 0 ||
                   (strlen(s->name) == length && memcmp(s->name, start, length) == 0);
    if (!matches) continue;
    if (s->kind == SYM_VALUE) {
      *cursor = end;
      return s;
    }
    const char *open = skipBlanks(end);
    if (*open != '(') {
      error("No argument for function - %s", start);
      return nullptr;
    }
    *cursor = open;
    return s;
  }
  return nullptr;
}

bool callFunction(const Symbol *symbol, double *out, const char **cursor) {
  const char *open = skipBlanks(*cursor);
  if (*open != '(') {
    error("Function arguments must start with `(' - %s", open);
    return false;
  }
  const char *name = symbol->name;
  const char *p = skipBlanks(open + 1);
  const char *types = symbol->argTypes;
  int count = types ? static_cast<int>(strlen(types)) : 0;
  const char *close = p;

  if (count == 0) {
    if (*p != ')') {
      error("Function %s() must be called without arguments - %s(%s", name, name, p);
      return false;
    }
    if (!symbol->func(out, nullptr)) return false;
  } else {
    if (!symbol->defaults && *p == ')') {
      error("Function must be called with %d arguments - %s(%s", count, name, p);
      return false;
    }
    for (int depth = 1; *close; ++close) {
      if (*close == '(') ++depth;
      else if (*close == ')' && --depth == 0) break;
    }
    if (!*close) {
      error("Unclosed argument list for function - %s%s", name, open);
      return false;
    }

    ArgumentPieces pieces(std::string(p, close));
    std::vector<ArgSlot> slots(count);
    std::vector<Date> dates(count);
    for (int i = 0; i < count; ++i) {
      const char *text;
      if (!pieces.left()) {
        if (!symbol->defaults) {
          error("Not enough arguments for function %s%s", name, open);
          return false;
        }
        text = symbol->defaults[i];
      } else {
        text = pieces.take();
        if (!*text) text = symbol->defaults ? symbol->defaults[i] : nullptr;
      }
      if (!text) {
        error("No default for argument #%d of function %s%s", i, name, open);
        return false;
      }
      switch (types[i]) {
        case 'R':
          if (evaluate(&slots[i].real, text) != EXPR_OK) return false;
          break;
        case 'D':
          // Not trimmed: a blank ends a date expression at once, so " 1998"
          // stays today's date.
          setDate(&dates[i], 0);
          parseDate(&dates[i], text);
          slots[i].date = &dates[i];
          break;
        default:
          error("Unknown variable type - `%c'", types[i]);
          return false;
      }
    }
    if (pieces.left()) {
      error("Too many arguments for function %s%s", name, open);
      return false;
    }
    if (!symbol->func(out, slots.data())) return false;
  }
  *cursor = skipBlanks(close + 1);
  return true;
}

int evaluate(double *result, const char *text) {
  if (nesting >= kMaxNesting) {
    error("Functions nested too deeply - %s", text);
    return EXPR_GROUPS_FULL;
  }
  ++nesting;
  int rc = evaluateText(result, text);
  --nesting;
  return rc;
}
