// Wine's registry text format, read as Wine's loader reads it, and its values as Windows delivers them.
#include "platform/portable/wine_reg_parse.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

#include "platform/portable/cp1252.h"

namespace aggiorna::portable::wine_reg {
namespace {

int hex_value(int c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

void skip_blanks(Cursor& c) {
    while (is_blank(at(c))) c.skip();
}

bool starts_with(Cursor& c, std::string_view tag) {
    for (std::size_t i = 0; i < tag.size(); ++i)
        if (at(c, i) != static_cast<unsigned char>(tag[i])) return false;
    return true;
}

// Wine's case folding of a UTF-16 unit: the Latin, Greek and Cyrillic capitals.
char16_t fold(char16_t u) {
    if ((u >= 'A' && u <= 'Z') || (u >= 0xC0 && u <= 0xDE && u != 0xD7) || (u >= 0x391 && u <= 0x3AB && u != 0x3A2) ||
        (u >= 0x410 && u <= 0x42F))
        return static_cast<char16_t>(u + 0x20);
    if (u >= 0x400 && u <= 0x40F) return static_cast<char16_t>(u + 0x50);
    if (u == 0x178) return 0xFF;
    // Latin Extended-A: each capital just before its small letter.
    const bool even_capital = (u >= 0x100 && u <= 0x12F) || (u >= 0x132 && u <= 0x137) || (u >= 0x14A && u <= 0x177);
    const bool odd_capital = (u >= 0x139 && u <= 0x148) || (u >= 0x179 && u <= 0x17E);
    if ((even_capital && u % 2 == 0) || (odd_capital && u % 2 == 1)) return static_cast<char16_t>(u + 1);
    return u;
}

enum class Step { unit, end, line_end };

// One character of an escaped string, as Wine's parse_strW reads it: its UTF-16 units appended to
// `out`; `end` consumes the unescaped terminator; `line_end` means the line ended first. An
// invalid UTF-8 sequence is dropped.
Step next_char(Cursor& c, char terminator, std::u16string& out) {
    for (;;) {
        int b = at(c);
        if (b < 0) return Step::line_end;
        if (b == static_cast<unsigned char>(terminator)) {
            c.skip();
            return Step::end;
        }
        if (b == '\\') {
            const int e = at(c, 1);
            if (e < 0) {
                c.skip();
                return Step::line_end;
            }
            constexpr std::string_view kLetters = "abefnrtv";
            constexpr char16_t kControls[] = {7, 8, 0x1B, 0x0C, 0x0A, 0x0D, 0x09, 0x0B};
            if (const auto i = kLetters.find(static_cast<char>(e)); i != std::string_view::npos) {
                c.skip(2);
                out += kControls[i];
                return Step::unit;
            }
            if (e == 'x') {
                c.skip(2);
                unsigned v = 0;
                int n = 0;
                for (; n < 4 && hex_value(at(c)) >= 0; ++n, c.skip()) v = v * 16 + static_cast<unsigned>(hex_value(at(c)));
                out += n ? static_cast<char16_t>(v) : u'x';
                return Step::unit;
            }
            if (e >= '0' && e <= '7') {
                c.skip(2);
                unsigned v = static_cast<unsigned>(e - '0');
                for (int n = 1; n < 3 && at(c) >= '0' && at(c) <= '7'; ++n, c.skip())
                    v = v * 8 + static_cast<unsigned>(at(c) - '0');
                out += static_cast<char16_t>(v);
                return Step::unit;
            }
            c.skip();  // any other escaped character stands for itself
            b = e;
        }
        c.skip();
        if (b < 0x80) {
            out += static_cast<char16_t>(b);
            return Step::unit;
        }
        const int follow = b >= 0xF5 ? 0 : b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC2 ? 1 : 0;
        if (follow == 0) continue;
        constexpr std::uint32_t kMask[] = {0x7F, 0x1F, 0x0F, 0x07}, kMin[] = {0, 0x80, 0x800, 0x10000};
        std::uint32_t cp = static_cast<std::uint32_t>(b) & kMask[follow];
        int n = 0;
        for (int t; n < follow && (t = at(c)) >= 0 && (t ^ 0x80) < 0x40; ++n, c.skip())
            cp = cp << 6 | static_cast<std::uint32_t>(t ^ 0x80);
        if (n < follow || cp < kMin[follow] || cp > 0x10FFFF) continue;
        if (cp <= 0xFFFF) {
            out += static_cast<char16_t>(cp);
        } else {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 | cp >> 10);
            out += static_cast<char16_t>(0xDC00 | (cp & 0x3FF));
        }
        return Step::unit;
    }
}

// A value name up to the '=' and the blanks after it; false when Wine takes no value from the line.
bool read_value_name(Cursor& c, std::string& out) {
    out.clear();
    if (at(c) == '"') {
        c.skip();
        std::size_t units = 0;
        std::u16string chars;
        for (Step step; (step = next_char(c, '"', chars)) != Step::end; chars.clear()) {
            if (step == Step::line_end) return false;
            for (const char16_t u : chars)
                if (++units <= kMaxValueName) append_utf8(out, fold(u));
        }
        if (units > kMaxValueName) return false;
    } else {
        c.skip();  // '@', the default value
    }
    skip_blanks(c);
    if (at(c) != '=') return false;
    c.skip();
    skip_blanks(c);
    return true;
}

// The C library's strtoul in base 16 from the cursor, its result cut to 32 bits as Wine stores it
// (0, consuming nothing, when there is no digit).
std::uint32_t read_number(Cursor& c) {
    std::size_t k = 0;
    while (k < 1024 && is_blank(at(c, k))) ++k;
    const bool negative = at(c, k) == '-';
    if (at(c, k) == '+' || negative) ++k;
    if (at(c, k) == '0' && (at(c, k + 1) | 0x20) == 'x' && hex_value(at(c, k + 2)) >= 0) k += 2;
    if (hex_value(at(c, k)) < 0) return 0;
    c.skip(k);
    std::uint64_t v = 0;
    bool overflow = false;
    for (int d; (d = hex_value(at(c))) >= 0; c.skip()) {
        overflow = overflow || (v >> 60) != 0;
        v = v << 4 | static_cast<std::uint64_t>(d);
    }
    if (overflow) v = ~std::uint64_t{0};
    else if (negative) v = ~v + 1;
    return static_cast<std::uint32_t>(v);
}

void put(Value& v, std::uint8_t byte, std::size_t keep) {
    if (v.data.size() < keep && v.data.size() == v.size) v.data.push_back(byte);
    ++v.size;
}

void put_unit(Value& v, char16_t u, std::size_t keep) {
    put(v, static_cast<std::uint8_t>(u & 0xFF), keep);
    put(v, static_cast<std::uint8_t>(u >> 8), keep);
}

// A hex list, possibly continued over the next lines ("01,02,\" then "  03"), as Wine's parse_hex
// and its callers read it; false when it is malformed.
bool read_hex(Cursor& c, Value& v, std::size_t keep) {
    for (;;) {
        while (hex_value(at(c)) >= 0) {
            if (at(c) == '0' && (at(c, 1) | 0x20) == 'x' && hex_value(at(c, 2)) >= 0) c.skip(2);
            unsigned byte = 0;
            for (int d; (d = hex_value(at(c))) >= 0; c.skip()) byte = std::min(byte * 16 + static_cast<unsigned>(d), 0x100u);
            if (byte > 0xFF) return false;
            put(v, static_cast<std::uint8_t>(byte), keep);
            skip_blanks(c);
            if (at(c) == ',') c.skip();
            skip_blanks(c);
        }
        skip_blanks(c);
        if (at(c) < 0) return true;
        if (at(c) != '\\' || !next_line(c)) return false;
        skip_blanks(c);
    }
}

// The data after "name=", as Wine's load_value reads it. Only a hex list can go on over further
// lines, so the data of a value nobody asked for (`wanted` false) is read only when it is one.
void read_data(Cursor& c, bool wanted, Value& v) {
    const std::size_t keep = wanted ? kMaxData : 0;
    struct Tag {
        std::string_view text;
        std::uint32_t type;
    };
    constexpr Tag kStrings[] = {{"\"", kRegSz}, {"str:\"", kRegSz}, {"str(2):\"", kRegExpandSz},
                                {"str(7):\"", kRegMultiSz}};
    v = Value{};
    bool ok = false;
    if (starts_with(c, "hex:") || starts_with(c, "hex(")) {
        const bool typed = at(c, 3) == '(';
        c.skip(4);
        v.type = typed ? read_number(c) : kRegBinary;
        ok = !typed || starts_with(c, "):");
        if (ok && typed) c.skip(2);
        ok = ok && read_hex(c, v, keep);
    } else if (!wanted) {
        return;
    } else if (starts_with(c, "dword:")) {
        c.skip(6);
        const std::uint32_t dw = read_number(c);
        v.type = kRegDword;
        for (int i = 0; i < 4; ++i) put(v, static_cast<std::uint8_t>(dw >> (8 * i)), keep);
        ok = true;
    } else {
        for (const Tag& tag : kStrings) {
            if (!starts_with(c, tag.text)) continue;
            c.skip(tag.text.size());
            v.type = tag.type;
            std::u16string chars;
            Step step;
            while ((step = next_char(c, '"', chars)) == Step::unit) {
                for (const char16_t u : chars) put_unit(v, u, keep);
                chars.clear();
            }
            put_unit(v, 0, keep);
            ok = step == Step::end;
            break;
        }
    }
    if (!ok) v = Value{};  // Wine keeps a malformed value as REG_NONE without data
}

// The text of UTF-16LE bytes as UTF-8 (an odd last byte dropped), an unpaired surrogate as U+FFFD.
std::string utf8_of(const std::vector<std::uint8_t>& data) {
    const auto unit = [&](std::size_t i) { return i + 1 < data.size() ? char32_t(data[i] | data[i + 1] << 8) : 0; };
    std::string out;
    for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
        char32_t u = unit(i);
        if (u >= 0xD800 && u <= 0xDBFF && unit(i + 2) >= 0xDC00 && unit(i + 2) <= 0xDFFF) {
            u = 0x10000 + ((u - 0xD800) << 10) + (unit(i + 2) - 0xDC00);
            i += 2;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            u = 0xFFFD;
        }
        append_utf8(out, u);
    }
    return out;
}

}  // namespace

Cursor::Cursor(int fd, std::uint64_t offset)
    : fd_(fd), base_(offset), buffer_(std::make_unique_for_overwrite<char[]>(kBufferSize)) {}

bool Cursor::fill(std::size_t need) {
    if (len_ >= need) return true;
    if (end_) return false;
    if (need > kBufferSize) {
        // Keep the last 4 KiB before the cursor for behind().
        const std::size_t drop = pos_ > 4096 ? pos_ - 4096 : 0;
        std::memmove(buffer_.get(), buffer_.get() + drop, len_ - drop);
        base_ += drop;
        pos_ -= drop;
        len_ -= drop;
        need -= drop;
    }
    while (len_ < need) {
        // Small reads first, as most cursors read a few lines; twice as much each time.
        const std::size_t want = std::min(kBufferSize - len_, read_size_);
        read_size_ = std::min(read_size_ * 2, kBufferSize);
        const ssize_t n = ::pread(fd_, buffer_.get() + len_, want, static_cast<off_t>(base_ + len_));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            end_ = true;
            return false;
        }
        len_ += static_cast<std::size_t>(n);
    }
    return true;
}

std::string_view Cursor::window(std::size_t want) {
    peek(want - 1);
    return std::string_view(buffer_.get() + pos_, std::min(want, len_ - pos_));
}

bool Cursor::find(char c) {
    for (;;) {
        if (const void* hit = std::memchr(buffer_.get() + pos_, c, len_ - pos_)) {
            pos_ = static_cast<std::size_t>(static_cast<const char*>(hit) - buffer_.get());
            return true;
        }
        pos_ = len_;
        if (!fill(pos_ + 1)) return false;
    }
}

int at(Cursor& c, std::size_t k) {
    const int b = c.peek(k);
    if (b == '\n' || b == 0) return -1;
    if (b == '\r' && c.peek(k + 1) == '\n') return -1;
    return b;
}

bool next_line(Cursor& c) {
    if (!c.find('\n')) return false;
    c.skip();
    return c.peek() >= 0;
}

std::string canonical_name(std::string_view utf8) {
    std::string out;
    for (std::size_t pos = 0; pos < utf8.size();) {
        const std::size_t start = pos;
        const auto decoded = next_code_point(utf8, pos);
        const char32_t cp = decoded ? *decoded : cp1252_to_code_point(static_cast<std::uint8_t>(utf8[start]));
        if (!decoded) pos = start + 1;
        if (cp >= 0x10000) {
            append_utf8(out, 0xD800 + ((cp - 0x10000) >> 10));
            append_utf8(out, 0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            append_utf8(out, fold(static_cast<char16_t>(cp)));
        }
    }
    return out;
}

std::string canonical_path(std::string_view utf8) {
    std::string out;
    for (std::size_t pos = 0; pos <= utf8.size();) {
        const std::size_t end = std::min(utf8.find('\\', pos), utf8.size());
        if (end > pos) out += (out.empty() ? "" : "\\") + canonical_name(utf8.substr(pos, end - pos));
        pos = end + 1;
    }
    return out;
}

std::uint64_t path_hash(std::string_view path, std::vector<std::uint64_t>* keys) {
    std::uint64_t h = kHashStart;
    for (std::size_t pos = 0; pos < path.size();) {
        const std::size_t end = std::min(path.find('\\', pos), path.size());
        h = component_hash(h, path.substr(pos, end - pos));
        if (keys) keys->push_back(h);
        pos = end + 1;
    }
    return h;
}

SectionName read_section_name(Cursor& c, std::string& out) {
    out.clear();
    std::size_t start = 0, units = 0;  // where the current name starts in `out`; its UTF-16 units
    bool any = false, full = false;    // full: the names from here on are measured, not held
    // The keys before the current name.
    const auto keys_before = [&] {
        out.resize(start);
        if (!out.empty()) out.pop_back();
    };
    // Wine's rules for key paths: leading, repeated and trailing separators count for nothing, and
    // a name longer than kMaxKeyName ends the path: the keys before it are created, then no more.
    std::u16string chars;
    for (Step step = Step::unit; step != Step::end; chars.clear()) {
        const std::string_view w = c.window(4096);
        if (const std::size_t n = plain_run(w); n > 0) {  // plain ASCII, which stands for itself
            const std::size_t keep = full || units >= kMaxKeyName ? 0 : std::min(n, kMaxKeyName - units);
            for (const char b : w.substr(0, keep)) out += static_cast<char>(b >= 'A' && b <= 'Z' ? b + 0x20 : b);
            any = true;
            units += n;
            c.skip(n);
            continue;
        }
        if ((step = next_char(c, ']', chars)) == Step::line_end) return SectionName::none;
        if (step == Step::end) chars.assign(1, u'\\');  // the ']' ends the last name as a separator would
        for (const char16_t u : chars) {
            if (u != u'\\') {
                any = true;
                if (++units <= kMaxKeyName && !full) append_utf8(out, fold(u));
            } else if (units > kMaxKeyName) {
                keys_before();
                return out.empty() ? SectionName::none : SectionName::above;
            } else if (units > 0 && !full) {
                full = out.size() > kMaxPath;
                if (full) {
                    out.resize(start);
                } else {
                    out += '\\';
                    start = out.size();
                }
            }
            if (u == u'\\') units = 0;
        }
    }
    keys_before();
    if (!any) return SectionName::none;
    return full ? SectionName::unlisted : SectionName::key;
}

namespace {

// The lines of a section body up to the next section line (value lines skipped when not `values`):
// each value's name goes to `wanted`; the data of those it wants is read and handed to `take`, the
// others' only as far as needed to find the next line.
template <typename Wanted, typename Take>
void read_value_lines(Cursor& c, bool values, Wanted&& wanted, Take&& take) {
    std::string value_name;
    Value value;
    while (next_line(c)) {
        skip_blanks(c);
        const int b = at(c);
        if (b == '[') return;
        if (!values || (b != '"' && b != '@') || !read_value_name(c, value_name)) continue;
        const bool want = wanted(value_name);
        read_data(c, want, value);
        if (want) take(value_name, value);
    }
}

}  // namespace

void read_body(Cursor& c, bool values, const std::string* name, std::optional<Value>& found) {
    read_value_lines(
        c, values, [&](const std::string& n) { return name && n == *name; },
        [&](const std::string&, Value& value) { found = std::move(value); });
}

void read_values(Cursor& c, const std::function<void(const std::string& name, const Value& value)>& take) {
    read_value_lines(c, true, [](const std::string&) { return true; }, take);
}

std::vector<std::uint8_t> ansi_data(const Value& value) {
    if (value.type != kRegSz && value.type != kRegExpandSz && value.type != kRegMultiSz) return value.data;
    const std::string ansi = utf8_to_cp1252_lossy(utf8_of(value.data));
    std::vector<std::uint8_t> out(ansi.begin(), ansi.end());
    if (out.empty() || out.back() != 0) out.push_back(0);
    return out;
}

std::optional<std::string> utf8_string(const Value& value) {
    if ((value.type != kRegSz && value.type != kRegExpandSz) || !value.complete()) return std::nullopt;
    std::string text = utf8_of(value.data);
    return text.substr(0, text.find('\0'));
}

}  // namespace aggiorna::portable::wine_reg
