// Text at the Windows edge: UTF-8 to UTF-16 and back, the ANSI code page, native error details.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace aggiorna::windows {

// UTF-8 to UTF-16. Embedded NULs are kept. Invalid UTF-8 throws Error(error_code).
std::wstring to_wide(std::string_view utf8, int error_code);
// As to_wide, but an invalid sequence becomes U+FFFD: for texts that are only shown.
std::wstring to_wide_lossy(std::string_view utf8);
// UTF-16 to UTF-8. Embedded NULs are kept; an unpaired surrogate becomes U+FFFD.
std::string to_utf8(std::wstring_view wide);
// Text in the ANSI code page to UTF-8; never fails (bytes without a character take the code
// page's default character, as every ANSI program sees them).
std::string ansi_to_utf8(std::string_view ansi);
// UTF-8 to the ANSI code page; nullopt when the text is not valid UTF-8 or holds a character the
// code page has no exact byte for (no best-fit, no "?"). The ANSI code page may be UTF-8 itself
// (the Windows option "Beta: Unicode UTF-8 for worldwide language support").
std::optional<std::string> utf8_to_ansi(std::string_view utf8);
// The same into any code page.
std::optional<std::string> utf8_to_code_page(std::string_view utf8, std::uint32_t code_page);

// The arguments WideCharToMultiByte accepts for a code page: UTF-8 refuses every flag but
// WC_ERR_INVALID_CHARS, and it, UTF-7 and the stateful code pages refuse the default-character
// arguments; any other call to them fails.
struct CodePageArguments {
    std::uint32_t flags;
    bool asks_used_default;  // whether lpUsedDefaultChar may be given
};
CodePageArguments code_page_arguments(std::uint32_t code_page);

// What Windows says a system error code means, in English where the system has that text, else
// in its own language; one line, without its final full stop. Empty for a code it has no text for.
std::string error_meaning(std::uint32_t native_error);
// "call failed with Windows error N (meaning) for 'path'": the detail kept in an Error.
std::string native_detail(std::string_view call, std::uint32_t native_error,
                          std::string_view path = {});

}  // namespace aggiorna::windows
