// Layout helpers of the form commands: a user's data item by name, texts cut
// into lines at blanks, fixed-width lines with a fill character and an
// aligned text, and the printf formats that forms supply.
//
// Form formats. A form may give a printf format for one value. It may hold at
// most one conversion, made of flags, a width and a precision (at most 3 digits
// each) and a conversion letter that fits the value (FormatArg), and besides it
// "%%", the currency marker "%@" (the currency name, expandFormat) and, for
// numbers, the money marker "%$" (the amount as money text, currencyMarker).
// The heading of a statistic table is the one format for two values, the
// month and the year. checkFormat is the gate: a format that fails it never reaches printf.
// Texts that are data (user items, words, descriptions) are never formats:
// they are passed as the argument of "%s".
#pragma once

#include "misc.h"
#include "userbase.h"

// ---- Data items ----

// The value of the user's data item named by name: among the items whose
// name begins with name (native alone: only native-language items; english
// alone: only English ones), the one name that matches, its native variant
// preferred. No match gives dflt (which may be null); items of several names
// give dflt after "Ambiguous extension name for `USER' - `NAME'" through
// error. The value belongs to the record.
const char *userField(const UserConf *user, const char *name, const char *dflt, bool native,
                      bool english);

// ---- Lines ----

// Cuts texts into pieces at blanks. With a text: starts on a copy of it in
// which white space is folded (leading dropped, each run one blank, trailing
// dropped) and returns null. With null: the next piece of at most width
// characters, cut at the last blank that keeps it within width (the blank is
// dropped) or, when there is none, after width characters; null when the text
// is used up or none was started. An empty text gives one empty piece. Width
// 0 gives an empty piece and does not advance. Every piece stays valid until
// the next call that starts a text.
char *splitString(const char *text, unsigned width);

// Writes a line of exactly width characters into buf (width + 1 bytes at
// least) and returns buf: width fill characters, and over them the formatted
// text (cut at width characters) set off by a blank where room is left. A
// first character "<", ">" or "=" of format chooses left, right or centred
// alignment and is not formatted; any other first character means centred.
// A centred text that leaves no room for a blank on its left ends the line,
// so the line has as many characters as the text. A null or empty format
// gives the plain fill line.
char *lineBuild(char *buf, char fill, unsigned width, const char *format, ...) KX_PRINTF(4, 5);
// lineBuild of a text that is no format: a first alignment mark still
// chooses the alignment, the rest is written as it stands ("%" included).
char *lineText(char *buf, char fill, unsigned width, const char *text);

// ---- Form formats ----

// The argument a form format will be given.
enum FormatArg {
  kFormatText,    // a text: one "%s" conversion (flag "-" only), no "%$"
  kFormatNumber,  // a double: one floating conversion ("%f", "%e", "%g",
                  // "%a" and capitals, length "l" allowed), or the money
                  // marker "%$" in its place
  kFormatMonthYear,  // two ints, month and year: up to two integer
                     // conversions ("%d", "%i", "%o", "%u", "%x", "%X", no
                     // length), neither "%$" nor "%@" (a heading is given to
                     // printf as it stands)
};

// True when format may be used with an argument of that kind (see the file
// comment); otherwise "Bad format - FORMAT" through error and false.
bool checkFormat(const char *format, FormatArg arg);

// Rewrites in place every "%$" into "%s" (a "%%" pair is skipped as a whole);
// true when there was one, and the amount is then given as money text.
bool currencyMarker(char *format);

// The format with every "%@" replaced by the currency name (the message named
// by the setting currency-name, with its "%" doubled so that it prints as it
// stands), at most 200 characters; a "%" pair is never cut in half and a "%"
// at the very end is dropped. defaultConversion (may be null) is appended
// when format holds no "%" at all and it fits. Static buffer, replaced by the
// next call. A null format counts as empty.
const char *expandFormat(const char *format, const char *defaultConversion);
