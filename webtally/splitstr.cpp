#include <cctype>
#include <deque>
#include <string>

#include "layout.h"

namespace {

// The text being cut, with its white space folded, and the cursor into it.
std::string text;
size_t cursor = 0;
bool cutting = false;
// The pieces handed out for the current text. They outlive the working copy
// (callers keep several pieces of one text), and a deque never moves its
// strings as it grows.
std::deque<std::string> pieces;

void startText(const char *source) {
  pieces.clear();
  text.clear();
  for (const char *p = source; *p; ++p) {
    if (!isspace(static_cast<unsigned char>(*p))) {
      text += *p;
    } else if (!text.empty() && text.back() != ' ') {
      text += ' ';
    }
  }
  if (!text.empty() && text.back() == ' ') text.pop_back();
  cursor = 0;
  cutting = true;
}

// Ends the cutting and frees the working copy.
char *endText() {
  cutting = false;
  std::string().swap(text);
  return nullptr;
}

}  // namespace

char *splitString(const char *source, unsigned width) {
  if (source) {
    startText(source);
    return nullptr;
  }
  if (!cutting) return nullptr;
  if (cursor > text.size()) return endText();
  size_t rest = text.size() - cursor;
  if (rest <= width) {
    pieces.push_back(text.substr(cursor));
    cursor = text.size() + 1;  // used up
    return pieces.back().data();
  }
  // The last blank at positions 1 to width of the rest.
  size_t blank = std::string::npos;
  for (size_t i = width; i >= 1; --i) {
    if (text[cursor + i] == ' ') {
      blank = i;
      break;
    }
  }
  if (blank == std::string::npos) {
    pieces.push_back(text.substr(cursor, width));
    cursor += width;
  } else {
    pieces.push_back(text.substr(cursor, blank));
    cursor += blank + 1;
  }
  return pieces.back().data();
}
