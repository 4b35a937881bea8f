// The leading-number reading of the host's runtime: the number a text begins with.
#pragma once

#include <string_view>

namespace aggiorna {

// Reads the number that `testo` begins with, in double precision. Blanks, tabs and line feeds are
// ignored wherever they stand; then an optional sign, decimal digits with "." as the only decimal
// point, and an optional exponent (E or D, either case, optional sign, digits); "&H" and "&O"
// introduce a hexadecimal or octal whole number. Reading stops at the first character that fits
// none of these; a text that does not begin with a number gives 0. Never fails.
double LeggiNumeroIniziale(std::string_view testo);

}  // namespace aggiorna
