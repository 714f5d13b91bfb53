// Memory and text utilities: the one allocator, string copies, line reading,
// word splitting, trimming and the tolerance comparison of doubles.
#pragma once

#include <cstddef>
#include <cstdio>

// Resizes block to size bytes (null block: allocates); size 0 frees the block
// and returns null. Never returns null otherwise: on failure it logs
// "No memory! Sleeping..", sleeps 1, 2, 3, ... seconds and tries again.
void *memRealloc(void *block, size_t size);
// A heap copy (memRealloc) of text; null gives null.
char *strDup(const char *text);
// Copies at most size - 1 characters of src into dest, fills the rest of the
// first size - 1 bytes with zeros and sets dest[size - 1] to 0. size >= 1.
char *strnzcpy(char *dest, const char *src, size_t size);
// Longest logical line the library-owned buffer of readstring takes.
constexpr size_t kLogicalLineMax = 1 << 20;
// Reads one logical line (a backslash before the newline joins the next
// line; a backslash at the end of the file ends the line); the text ends in
// exactly one newline. A NUL byte ends the text of its physical line: what
// follows it up to the newline is dropped. With a buffer of size bytes the
// line is cut to size - 2 characters and the rest of the physical line is
// skipped; with a null buffer the library-owned buffer is used (first size,
// or 1000 when 0), grown as needed and valid until the next such call. A
// logical line longer than kLogicalLineMax is skipped with a warning naming
// the file (name, when given). Returns null at end of file.
char *readstring(char *buffer, size_t size, FILE *stream, const char *name = nullptr);
// Number of entries of a word array that sepwords allocates.
constexpr int kSepWordsMax = 100;
// Values of the quoting flag of sepwords.
constexpr char kQuotesOff = 0;
constexpr char kQuotesOn = 1;
// Splits line in place into words appended at *count to *words (allocated
// with kSepWordsMax entries when null, *count then set to 0). With quoting,
// double quotes group and a backslash escapes the next character ("\n" gives
// a newline). Words past the array's room are dropped.
void sepwords(char ***words, int *count, char *line, char quoting);
// Removes trailing white space in place and returns the first character that
// is not white space; null gives null.
char *strchop(char *text);
// True when |a - b| < 1e-6.
bool nearlyEqual(double a, double b);
// The decimal number at the start of text as strtod reads it (white space,
// a sign, digits, a fraction, an exponent), but only in this form: "0x10",
// "inf" and "nan" are no numbers here. *end (when not null) is set after the
// number, or to text when there is none, which gives 0.
double decimalNumber(const char *text, const char **end);
