// Number conversions of the host's runtime: numbers written in the user's locale, and the
// rounding and range checks into 2-byte integers, bytes and singles.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/platform.h"

namespace aggiorna {

// Reads `testo` as a number written in the user's locale `formato`, in double precision.
//
// Accepted: blanks (space, tab, CR, LF) before and after; one leading "+" or "-"; decimal digits
// whose integer part may carry the locale's thousands separator, placed only where the locale
// itself writes it ("1.234.567,5" under an Italian locale, "12,34,567.5" under an Indian one);
// the locale's decimal separator followed by digits; an exponent (E or D in either case, an
// optional sign, digits), as in "1,5E3". Where the thousands separator is a no-break space, a
// plain blank is taken in its place. At least one digit is needed.
//
// A thousands separator the locale would not write there makes the text no number, code 13:
// "1.5" under an Italian locale is almost surely a point-decimal number written elsewhere, and
// reading it as 15 (as the host's runtime would) or as 1.5 would store a wrong value without a
// word. For the same reason "1,2,3" is no number under an English locale. The empty text, a text
// of blanks and any other text fail with type mismatch (code 13); a number beyond the range of a
// double fails with overflow (code 6). "&H" and "&O" numbers are not read here (code 13).
double LeggiNumeroLocale(std::string_view testo, const NumberFormat& formato);

// Rounds to the nearest whole number, halves to the even neighbour (2.5 gives 2, 3.5 gives 4,
// -0.5 gives 0), whatever rounding mode the thread is in.
double ArrotondaPari(double numero);

// To a 2-byte integer, rounding as ArrotondaPari; outside -32768 to 32767: overflow (code 6).
std::int16_t ConvertiIntero(double numero);
// To a byte, rounding as ArrotondaPari; outside 0 to 255: overflow (code 6).
std::uint8_t ConvertiByte(double numero);
// To the nearest single; a number whose nearest single would be infinite, or not a number at all,
// fails with overflow (code 6).
float ConvertiSingolo(double numero);

}  // namespace aggiorna
