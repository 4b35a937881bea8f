// The registry backend: advapi32 key opens and value reads on the real Windows registry.
#pragma once

#include <string>

#include "platform/platform.h"
#include "platform/windows/win.h"

namespace aggiorna::windows {

// `text` with its %VARIABLES% expanded from this process's environment, as Windows expands a
// REG_EXPAND_SZ value; an unknown variable stays as written, and the text as it is when Windows
// cannot expand it.
std::wstring expand_environment(const std::wstring& text);
// A string value of an open key as a Unicode program reads a path from it: REG_SZ as stored,
// REG_EXPAND_SZ expanded (expand_environment); nullopt when it is missing or of another type.
// `name` empty: the key's default value.
std::optional<std::wstring> registry_path_value(HKEY key, const std::wstring& name);

// Keys are opened with the caller's access mask as given (KEY_WOW64_32KEY included), so a 64-bit
// build reads the same view as the 32-bit host when asked to. Key names may be any UTF-8.
class WindowsRegistry final : public Registry {
public:
    RegKey open_key(RegKey parent, std::string_view name, std::uint32_t access) override;
    // RegQueryValueExA into a scratch area of area.size() bytes, copied to `area` only on
    // success: ERROR_MORE_DATA or any other failure leaves `area` untouched. A value name that the
    // ANSI code page cannot spell names no value.
    bool query_value(RegKey key, std::string_view name, std::span<std::uint8_t> area,
                     std::uint32_t& length) override;
    std::optional<std::string> query_string(RegKey key, std::string_view name) override;
    std::optional<std::string> query_path(RegKey key, std::string_view name) override;
    void close_key(RegKey key) override;
};

}  // namespace aggiorna::windows
