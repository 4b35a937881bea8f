// Wine's registry text format as Wine's own loader reads it: lines, escaped strings, section names
// and values, read forward from a file through one fixed buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace aggiorna::portable::wine_reg {

inline constexpr std::uint32_t kRegNone = 0;
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;
inline constexpr std::uint32_t kRegMultiSz = 7;

// Wine refuses key names (per component) and value names longer than these, in UTF-16 units.
inline constexpr std::size_t kMaxKeyName = 256;
inline constexpr std::size_t kMaxValueName = 16383;
// The bytes of a value that are kept; a longer value is measured, not stored, and never delivered.
inline constexpr std::size_t kMaxData = 1 << 20;

// Reads a file forward from `offset` through one buffer of fixed size. A failed or short read is
// the end of the file: a file cut short under the reader reads as the shorter file.
class Cursor {
public:
    static constexpr std::size_t kBufferSize = 256 * 1024;
    Cursor(int fd, std::uint64_t offset);
    // The byte `ahead` places on (ahead < 64 KiB), or -1 past the end of the file.
    int peek(std::size_t ahead = 0) {
        if (pos_ + ahead >= len_ && !fill(pos_ + ahead + 1)) return -1;
        return static_cast<unsigned char>(buffer_[pos_ + ahead]);
    }
    void skip(std::size_t n = 1) { pos_ += n; }
    std::uint64_t offset() const { return base_ + pos_; }
    // Up to `want` bytes (at most 64 KiB) from the cursor on, fewer only at the end of the file.
    std::string_view window(std::size_t want);
    // Moves to the next byte `c`; false, at the end of the file, when there is none.
    bool find(char c);
    // The byte `back` places before the cursor, or -1 when it is no longer held (the last 4 KiB
    // before the cursor always are, when the file has them).
    int behind(std::size_t back) const {
        return back <= pos_ ? static_cast<unsigned char>(buffer_[pos_ - back]) : -1;
    }

private:
    bool fill(std::size_t need);

    int fd_;
    std::uint64_t base_;  // file offset of buffer_[0]
    std::unique_ptr<char[]> buffer_;
    std::size_t pos_ = 0, len_ = 0;
    std::size_t read_size_ = 16 * 1024;
    bool end_ = false;
};

// Lines as Wine's loader reads them: a line ends at '\n', a '\r' just before it is dropped, and a
// NUL ends the line's text (the rest up to the '\n' is lost, as with the C library's fgets).
// `at` gives byte `k` of the rest of the current line, or -1 past its text.
int at(Cursor& c, std::size_t k = 0);
// Moves to the start of the next line; false when the file has no further line.
bool next_line(Cursor& c);
// The blanks of the C library's isspace but the line end, which at() hides.
inline bool is_blank(int c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r'; }

// Key and value names compare as Wine compares them, each UTF-16 unit in lower case (the Latin,
// Greek and Cyrillic letters). A canonical name is that folded form, each unit written as UTF-8,
// with "\" between the components of a key path.
char16_t fold(char16_t unit);
// The canonical form of a name handed in by the core (UTF-8; a byte that is not UTF-8 is read as
// Windows-1252), and of a key path (its components separated by "\", empty ones dropped).
std::string canonical_name(std::string_view utf8);
std::string canonical_path(std::string_view utf8);
std::uint64_t name_hash(std::string_view canonical);

// Reads a section name from just after its '['. `key`: `out` is its canonical path and `hashes`
// holds the name_hash of each key above it (the first component, the first two, ...) and last its
// own. `none`: Wine creates no key from the line (no ']', an empty name). `above`: a name in the
// path is longer than kMaxKeyName: Wine creates the keys before it (`out` and `hashes` are theirs)
// and no key for the section. `unlisted`: a key whose path is too long to be noted.
enum class SectionName { none, key, above, unlisted };
// What the last name read through it shares with the next one: Wine writes the sections in order,
// so consecutive names mostly start alike, and the keys they share need not be read again. With a
// cache, `out` and `hashes` must hold what the previous call left in them; `shared` tells how many
// of the hashes were kept from it.
struct NameCache {
    struct Mark {
        std::size_t raw_end, out_size, depth;  // after a separator: the bytes read, `out`, `hashes`
        std::uint64_t hash;
    };
    std::string raw;
    std::vector<Mark> marks;
    std::size_t shared = 0;
};
SectionName read_section_name(Cursor& c, std::string& out, std::vector<std::uint64_t>& hashes,
                              NameCache* cache = nullptr);

// A value as Windows keeps it (strings in UTF-16LE with their terminating NUL): the type, the
// full size, and the first kMaxData bytes.
struct Value {
    std::uint32_t type = kRegNone;
    std::uint64_t size = 0;
    std::vector<std::uint8_t> data;
    bool complete() const { return data.size() == size; }
};

// Reads the lines after a section line up to the next line that Wine takes as a section line
// (a hex value continued over several lines takes its continuation lines whatever they hold),
// leaving the cursor at that line. When `values` is false, the section is one Wine created no
// key from, whose value lines are skipped. Each line defining the value `name` (canonical; null
// for none) sets `found` again, as the later definition wins in Wine; a malformed value is
// REG_NONE with no data, as Wine keeps it.
void read_body(Cursor& c, bool values, const std::string* name, std::optional<Value>& found);

// What RegQueryValueExA delivers: string types (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, stored as
// text or as hex bytes of UTF-16LE) in Windows-1252 with a terminating NUL, characters the code
// page lacks as '?'; every other type as stored. The value must be complete.
std::vector<std::uint8_t> ansi_data(const Value& value);
// A complete REG_SZ or REG_EXPAND_SZ value's text up to its first NUL, as UTF-8; nullopt for
// other types.
std::optional<std::string> utf8_string(const Value& value);

}  // namespace aggiorna::portable::wine_reg
