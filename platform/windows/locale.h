// The user's locale and the machine's ANSI code page, from kernel32's NLS calls.
#pragma once

#include "platform/platform.h"

namespace aggiorna::windows {

class WindowsLocale final : public Locale {
public:
    // GetLocaleInfoEx for the user's default locale; a field Windows does not give keeps the
    // NumberFormat default.
    NumberFormat number_format() override;
    // MultiByteToWideChar(CP_ACP) then UTF-8; embedded NULs are kept.
    std::string ansi_to_utf8(std::string_view ansi) override;
};

}  // namespace aggiorna::windows
