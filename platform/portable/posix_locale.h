// PosixLocale: the user's number format from the C library's locale, and Windows-1252 as the ANSI code page.
#pragma once

#include <string>

#include "platform/platform.h"

namespace aggiorna::portable {

// Grouping as the C library gives it (lconv::grouping: one size per char, a final NUL repeats the
// last size, CHAR_MAX or a size of 0 or less stops grouping) in the "3;0" form.
std::string grouping_from_c(const char* c_grouping);

class PosixLocale final : public Locale {
public:
    // Reads the number format of the locale the environment names (LC_ALL, LC_NUMERIC, LANG) once,
    // now. A locale the C library cannot load gives the "C" format: point, no grouping.
    PosixLocale();

    NumberFormat number_format() override { return format_; }
    // Windows-1252 to UTF-8.
    std::string ansi_to_utf8(std::string_view ansi) override;

private:
    NumberFormat format_;
};

}  // namespace aggiorna::portable
