// The user's number format from GetLocaleInfoEx; ANSI text from the machine's code page.
#include "platform/windows/locale.h"

#include <optional>

#include "platform/windows/text.h"
#include "platform/windows/win.h"

namespace aggiorna::windows {
namespace {

std::optional<std::string> locale_field(LCTYPE field) {
    // Windows caps these fields far below this size (LOCALE_SDECIMAL at 4 characters).
    wchar_t value[80] = {};
    const int written = GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, field, value, 80);
    if (written <= 0) return std::nullopt;
    return to_utf8(value);
}

}  // namespace

NumberFormat WindowsLocale::number_format() {
    NumberFormat format;
    if (auto decimal = locale_field(LOCALE_SDECIMAL)) format.decimal_separator = *decimal;
    if (auto thousands = locale_field(LOCALE_STHOUSAND)) format.thousands_separator = *thousands;
    if (auto grouping = locale_field(LOCALE_SGROUPING)) format.grouping = *grouping;
    return format;
}

std::string WindowsLocale::ansi_to_utf8(std::string_view ansi) {
    return windows::ansi_to_utf8(ansi);
}

}  // namespace aggiorna::windows
