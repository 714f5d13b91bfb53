// Amounts in words: the whole currency units as a number in words, the
// currency name, and the hundredths in figures with the hundredth unit's name.
//
// Every word comes from the message catalogue in the current language, so the
// grammar lives in the message files:
//   num_0, num_minus                   zero and the word before a negative number
//   num_1 .. num_9, num_1a .. num_9a   units, default and feminine form
//   num_10 .. num_19, num_20 .. num_90 tens and eleven to nineteen
//   num_100 .. num_900                 hundreds
//   num_1_K      scale word of the group K = 9, 6, 3, 0 (billions, millions,
//                thousands, units), one form for every number; else
//   num_1_K_D    the form by the group's last digit D (0 also for 11..19)
// A scale word beginning with ":" asks for the feminine units in its group
// (Russian thousands); the ":" is not written. The currency names are the
// messages named by the settings currency-name and currency-hundredth.
#pragma once

#include <cstddef>
#include <cstdint>

// Size of the buffer the report commands give amountWords.
constexpr size_t kAmountWordsSize = 1000;
// Numbers from here on (in magnitude) are written in figures: the billions,
// the largest group with a scale word, hold at most 999.
constexpr uint64_t kWordsLimit = 1000000000000ULL;

// The words of n (0 to 999), each followed by one blank; empty for 0. The
// feminine unit forms are used when feminine. Static buffer of 99 characters,
// overwritten by the next call; longer texts are cut there.
const char *hundredsWords(unsigned n, bool feminine);

// The words of n, capitalised (KOI8-R Cyrillic included), without a trailing
// blank; a number of 10^12 or more in magnitude is written in figures. The
// text is built in a static buffer of 1999 characters (longer texts are cut)
// and, when out is not null, copied into out (size bytes, cut to fit) and out
// returned; otherwise the static buffer is returned, valid until the next call.
char *numberWords(char *out, size_t size, int64_t n);
// The words of the number with that sign and magnitude, as numberWords writes
// them into its static buffer (and returns it); a negative sign keeps its
// minus word even for a magnitude of 0, which numberWords never asks for.
char *signedWords(bool negative, uint64_t magnitude);

// roundTo(amount, precision) in words into buffer (size bytes, cut to fit):
// the words of its whole part, a blank and the currency name; when precision
// is not whole, then " %02d %s" with the hundredths and the hundredth unit's
// name. A negative amount keeps its minus word even when its whole part is 0;
// hundredths that round to 100 carry into the whole part; a whole part of
// 10^12 or more in magnitude is written in figures. Returns buffer.
char *amountWords(char *buffer, size_t size, double amount, double precision);
