// Wine's registry text format as Wine's own loader reads it: lines, escaped strings, section names
// and values, read forward from a file through one fixed buffer.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace aggiorna::portable::wine_reg {

inline constexpr std::uint32_t kRegNone = 0, kRegSz = 1, kRegExpandSz = 2, kRegBinary = 3, kRegDword = 4,
                               kRegMultiSz = 7;
// Wine refuses key names (per component) and value names longer than these, in UTF-16 units.
inline constexpr std::size_t kMaxKeyName = 256, kMaxValueName = 16383;
// The bytes of a value that are kept; a longer value is measured, not stored, and never delivered.
inline constexpr std::size_t kMaxData = 1 << 20;
// The bytes of a key path that are held; the keys of a longer path are known down to this length.
inline constexpr std::size_t kMaxPath = 32 * 1024;

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
    // Moves to `offset`, keeping what the buffer holds when the offset lies in it: names read
    // one after the other in file order are read through one buffer.
    void seek(std::uint64_t offset) {
        if (offset >= base_ && offset < base_ + len_) {
            pos_ = static_cast<std::size_t>(offset - base_);
            return;
        }
        base_ = offset;
        pos_ = len_ = 0;
        end_ = false;
    }
    std::uint64_t offset() const { return base_ + pos_; }
    // Up to `want` bytes (at most 64 KiB) from the cursor on, fewer only at the end of the file.
    std::string_view window(std::size_t want);
    // Moves to the next byte `c`; false, at the end of the file, when there is none.
    bool find(char c);
    // The byte `back` places before the cursor, or -1 when it is no longer held (the last 4 KiB
    // before the cursor always are, when the file has them).
    int behind(std::size_t back) const { return back <= pos_ ? static_cast<unsigned char>(buffer_[pos_ - back]) : -1; }

private:
    bool fill(std::size_t need);

    int fd_;
    std::uint64_t base_;  // file offset of buffer_[0]
    std::unique_ptr<char[]> buffer_;
    std::size_t pos_ = 0, len_ = 0, read_size_ = 16 * 1024;
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
// with "\" between the components of a key path. Names handed in by the core are UTF-8 (a byte
// that is not UTF-8 is read as Windows-1252); empty components of a path are dropped.
std::string canonical_name(std::string_view utf8);
std::string canonical_path(std::string_view utf8);

// How many bytes at the start of `w` stand in a key name for themselves: printable ASCII but "\"
// and "]". Eight bytes at a time: section names are the hot spot of reading a file through.
inline std::size_t plain_run(std::string_view w) {
    constexpr std::uint64_t kOnes = 0x0101010101010101u, kHigh = 0x8080808080808080u;
    const auto zero = [](std::uint64_t v) { return (v - kOnes) & ~v & kHigh; };
    std::size_t n = 0;
    for (std::uint64_t x; n + 8 <= w.size(); n += 8) {
        std::memcpy(&x, w.data() + n, 8);
        const std::uint64_t stop = ((x - kOnes * 0x20) & ~x & kHigh) | (((x + kOnes) | x) & kHigh) |
                                   zero(x ^ (kOnes * '\\')) | zero(x ^ (kOnes * ']'));
        if (stop) return n + static_cast<std::size_t>(std::countr_zero(stop)) / 8;
    }
    while (n < w.size() && w[n] >= 0x20 && w[n] < 0x7F && w[n] != '\\' && w[n] != ']') ++n;
    return n;
}

// Key paths are noted under hashes, one component after the other from `h` (kHashStart for the
// first). The bytes are hashed with bit 0x20 set, so that plain ASCII hashes alike in any case
// and can be hashed straight from the file; a hash is only ever a candidate, checked by reading
// the name again.
inline constexpr std::uint64_t kHashStart = 0xcbf29ce484222325u;
inline std::uint64_t component_hash(std::uint64_t h, std::string_view bytes) {
    const auto mix = [&h](std::uint64_t word) {
        h = (h ^ (word | 0x2020202020202020u)) * 0x9E3779B97F4A7C15u;
        h ^= h >> 29;
    };
    h = (h ^ bytes.size()) * 0x100000001b3u;
    std::size_t i = 0;
    for (std::uint64_t word; i + 8 <= bytes.size(); i += 8) {
        std::memcpy(&word, bytes.data() + i, 8);
        mix(word);
    }
    if (i < bytes.size()) {
        std::uint64_t word = 0;
        for (std::size_t k = i; k < bytes.size(); ++k)
            word |= std::uint64_t{static_cast<unsigned char>(bytes[k])} << 8 * (k - i);
        mix(word);
    }
    return h;
}

// The hash of a canonical path; `keys`, when given, receives that of each key on it in turn.
std::uint64_t path_hash(std::string_view canonical, std::vector<std::uint64_t>* keys = nullptr);

// Reads a section name from just after its '['. `key`: `out` is its canonical path. `none`: Wine
// creates no key from the line (no ']', an empty name). `above`: a name in the path is longer
// than kMaxKeyName, so Wine creates the keys before it (`out`) and none for the section.
// `unlisted`: Wine creates the key, but its path is longer than kMaxPath; `out` holds the keys
// above it that fit.
enum class SectionName { none, key, above, unlisted };
SectionName read_section_name(Cursor& c, std::string& out);

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

// As read_body for a key's own section, handing every value to `take` (its canonical name and the
// value, the first kMaxData bytes kept) in the order of the lines: a later definition of a name
// comes later and wins.
void read_values(Cursor& c, const std::function<void(const std::string& name, const Value& value)>& take);

// What RegQueryValueExA delivers: string types (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, stored as
// text or as hex bytes of UTF-16LE) in Windows-1252 with a terminating NUL, characters the code
// page lacks as '?'; every other type as stored. The value must be complete.
std::vector<std::uint8_t> ansi_data(const Value& value);
// A complete REG_SZ or REG_EXPAND_SZ value's text up to its first NUL, as UTF-8; nullopt for
// other types.
std::optional<std::string> utf8_string(const Value& value);

}  // namespace aggiorna::portable::wine_reg
