// Wine's registry text format: string escapes, section lines, value lines and the data a Windows
// program receives from them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace aggiorna::portable::wine_reg {

inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;
inline constexpr std::uint32_t kRegMultiSz = 7;

// Key and value names compare without regard to case: ASCII and Latin-1 letters fold to capitals.
char16_t fold(char16_t unit);
// A name handed in by the core (UTF-8; a byte that is not valid UTF-8 is read as Windows-1252),
// as folded UTF-16.
std::u16string folded_utf16(std::string_view utf8);

// Reads the UTF-16 code units of an escaped string of the file, from `pos` up to an unescaped
// `terminator`. Accepts Wine's escapes (\\ \" \n \r \t \a \b \e \f \v, octal \ooo, \x with one to
// four hex digits giving one code unit; any other escaped character stands for itself) and raw
// UTF-8.
class UnitReader {
public:
    enum class Status { unit, end, malformed };
    UnitReader(std::string_view text, std::size_t pos) : text_(text), pos_(pos) {}
    // `end` consumes the terminator; `malformed` means the text ran out first.
    Status next(char terminator, char16_t& out);
    std::size_t pos() const { return pos_; }

private:
    std::string_view text_;
    std::size_t pos_;
    char16_t pending_ = 0;  // low surrogate of a raw UTF-8 character beyond the BMP
};

// The whole string from `pos` (just after the opening quote) to the closing `terminator`, with
// `pos` left after it; nullopt when the terminator is missing.
std::optional<std::u16string> decode_string(std::string_view text, std::size_t& pos, char terminator);

// Where the section line `line` ("[Software\\X] 1234", without its end of line) stands to the
// key `target` (folded UTF-16, components joined by '\'; empty for the root) in the order Wine
// saves keys: component by component, names compared folded unit by unit, a name before the
// names it is the start of. `exact` is the key's own section, `below` one of a key below it;
// `before` and `after` sort outside the key and all keys below it; `invalid` is no section line
// (its name is cut short).
enum class SectionOrder { invalid, before, exact, below, after };
SectionOrder compare_section(std::string_view line, std::u16string_view target);

// The name of the section line `line` as folded UTF-16 with '\' between components; false when
// the line is no section line.
bool section_name(std::string_view line, std::u16string& out);

// Orders two folded section names as compare_section does: negative, zero or positive.
int compare_names(std::u16string_view a, std::u16string_view b);

// What the first bytes of a registry file say about it.
enum class HiveKind { invalid, win32, win64 };
HiveKind read_hive_kind(std::string_view head);

// A value as Windows keeps it: strings are UTF-16LE with their terminating NUL.
struct Value {
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
};

// Parses the data part of a value line ("\"text\"", "str(2):\"...\"", "dword:0000000a",
// "hex(7):41,00,..."), continuation lines already joined; nullopt when it is malformed.
std::optional<Value> parse_data(std::string_view text);

// Finds the value `folded_name` ("" is the default value "@") among the lines of one section,
// given one at a time after its section line. A later line of the same name replaces an earlier
// one, as Wine's loader does.
class ValueFinder {
public:
    explicit ValueFinder(std::u16string_view folded_name) : name_(folded_name) {}
    // One line without its '\n'; `terminated` tells whether a '\n' followed it in the file.
    void line(std::string_view text, bool terminated);
    // The value; nullopt when it is missing or its line is malformed.
    std::optional<Value> result() const;

private:
    std::u16string name_;
    bool found_ = false;
    bool continued_ = false;  // the last line of the value ended with '\\': the next one goes on
    bool broken_ = false;     // a quoted string went on over a line
    std::string joined_;      // the data of the last line of that name, continuations joined
};

// What RegQueryValueExA delivers: string types (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, whether
// stored as text or as hex bytes of UTF-16LE) in Windows-1252 with a terminating NUL, characters
// the code page lacks as '?'; every other type as stored.
std::vector<std::uint8_t> ansi_data(const Value& value);

// A REG_SZ or REG_EXPAND_SZ value's text up to its first NUL, as UTF-8; nullopt for other types.
std::optional<std::string> utf8_string(const Value& value);

}  // namespace aggiorna::portable::wine_reg
