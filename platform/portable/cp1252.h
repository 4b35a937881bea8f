// Windows-1252, the ANSI code page the portable backend stands in for, and UTF-8 helpers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace aggiorna::portable {

// The Unicode code point of a Windows-1252 byte. The five bytes the code page leaves undefined
// map to the C1 control of the same number, as Windows' own conversion does.
char32_t cp1252_to_code_point(std::uint8_t byte);
// The Windows-1252 byte of a code point, or nullopt when the code page has none.
std::optional<std::uint8_t> code_point_to_cp1252(char32_t cp);

std::string cp1252_to_utf8(std::string_view bytes);
// nullopt when the text is not valid UTF-8 or holds a character outside the code page.
std::optional<std::string> utf8_to_cp1252(std::string_view utf8);
// As Windows' own ANSI conversion: characters outside the code page (or invalid bytes) become "?".
std::string utf8_to_cp1252_lossy(std::string_view utf8);

void append_utf8(std::string& out, char32_t cp);
// Decodes the code point at `pos` and advances `pos`; nullopt (and `pos` advanced by one) on an
// invalid sequence.
std::optional<char32_t> next_code_point(std::string_view utf8, std::size_t& pos);

}  // namespace aggiorna::portable
