// Parsing of Wine's registry text format and conversion of its values to what Windows delivers.
#include "platform/portable/wine_reg_parse.h"

#include "platform/portable/cp1252.h"

namespace aggiorna::portable::wine_reg {
namespace {

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string_view trim(std::string_view s) {
    while (!s.empty() && (is_blank(s.front()) || s.front() == '\n')) s.remove_prefix(1);
    while (!s.empty() && (is_blank(s.back()) || s.back() == '\n')) s.remove_suffix(1);
    return s;
}

bool starts_with(std::string_view s, std::string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

// A hex number at `pos` (at most `max_digits` digits); nullopt when there is none.
std::optional<std::uint32_t> read_hex(std::string_view s, std::size_t& pos, int max_digits) {
    std::uint32_t v = 0;
    int n = 0;
    while (n < max_digits && pos < s.size() && hex_digit(s[pos]) >= 0) {
        v = v * 16 + static_cast<std::uint32_t>(hex_digit(s[pos]));
        ++pos;
        ++n;
    }
    if (n == 0) return std::nullopt;
    return v;
}

void append_unit(std::vector<std::uint8_t>& data, char16_t u) {
    data.push_back(static_cast<std::uint8_t>(u & 0xFF));
    data.push_back(static_cast<std::uint8_t>(u >> 8));
}

// The code units of UTF-16LE bytes; an odd last byte is dropped.
std::u16string units_of(const std::vector<std::uint8_t>& data) {
    std::u16string units;
    units.reserve(data.size() / 2);
    for (std::size_t i = 0; i + 1 < data.size(); i += 2)
        units += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    return units;
}

bool is_string_type(std::uint32_t type) {
    return type == kRegSz || type == kRegExpandSz || type == kRegMultiSz;
}

// Walks UTF-16 code units as code points; an unpaired surrogate comes back as nullopt.
template <typename F>
void for_each_code_point(std::u16string_view units, F f) {
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char16_t u = units[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] <= 0xDFFF) {
            f(std::optional<char32_t>(0x10000 + ((char32_t(u) - 0xD800) << 10) + (units[i + 1] - 0xDC00)));
            ++i;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            f(std::optional<char32_t>());
        } else {
            f(std::optional<char32_t>(u));
        }
    }
}

}  // namespace

char16_t fold(char16_t u) {
    if (u >= 'a' && u <= 'z') return static_cast<char16_t>(u - 0x20);
    if (u < 0xE0) return u;
    if (u <= 0xFE && u != 0xF7) return static_cast<char16_t>(u - 0x20);
    if (u == 0xFF) return 0x178;
    return u;
}

std::u16string folded_utf16(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    for (std::size_t pos = 0; pos < utf8.size();) {
        const std::size_t at = pos;
        char32_t cp;
        if (const auto decoded = next_code_point(utf8, pos)) {
            cp = *decoded;
        } else {
            cp = cp1252_to_code_point(static_cast<std::uint8_t>(utf8[at]));
            pos = at + 1;
        }
        if (cp >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            out += fold(static_cast<char16_t>(cp));
        }
    }
    return out;
}

UnitReader::Status UnitReader::next(char terminator, char16_t& out) {
    if (pending_) {
        out = pending_;
        pending_ = 0;
        return Status::unit;
    }
    if (pos_ >= text_.size()) return Status::malformed;
    const char c = text_[pos_];
    if (c == terminator) {
        ++pos_;
        return Status::end;
    }
    if (c == '\\') {
        if (pos_ + 1 >= text_.size()) return Status::malformed;
        const char e = text_[pos_ + 1];
        pos_ += 2;
        switch (e) {
            case 'n': out = u'\n'; return Status::unit;
            case 'r': out = u'\r'; return Status::unit;
            case 't': out = u'\t'; return Status::unit;
            case 'a': out = 0x07; return Status::unit;
            case 'b': out = 0x08; return Status::unit;
            case 'e': out = 0x1B; return Status::unit;
            case 'f': out = 0x0C; return Status::unit;
            case 'v': out = 0x0B; return Status::unit;
            case 'x': {
                const auto v = read_hex(text_, pos_, 4);
                out = v ? static_cast<char16_t>(*v) : u'x';
                return Status::unit;
            }
            default:
                break;
        }
        if (e >= '0' && e <= '7') {
            unsigned v = static_cast<unsigned>(e - '0');
            for (int n = 1; n < 3 && pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '7'; ++n)
                v = v * 8 + static_cast<unsigned>(text_[pos_++] - '0');
            out = static_cast<char16_t>(v);
            return Status::unit;
        }
        if (static_cast<unsigned char>(e) < 0x80) {
            out = static_cast<char16_t>(e);
            return Status::unit;
        }
        --pos_;  // an escaped raw UTF-8 character: read it below
    }
    const auto byte = static_cast<unsigned char>(text_[pos_]);
    if (byte < 0x80) {
        ++pos_;
        out = byte;
        return Status::unit;
    }
    std::size_t q = pos_;
    char32_t cp;
    if (const auto decoded = next_code_point(text_, q)) {
        cp = *decoded;
        pos_ = q;
    } else {
        cp = cp1252_to_code_point(byte);
        ++pos_;
    }
    if (cp >= 0x10000) {
        out = static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
        pending_ = static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
        out = static_cast<char16_t>(cp);
    }
    return Status::unit;
}

std::optional<std::u16string> decode_string(std::string_view text, std::size_t& pos, char terminator) {
    UnitReader reader(text, pos);
    std::u16string out;
    char16_t u;
    for (;;) {
        switch (reader.next(terminator, u)) {
            case UnitReader::Status::unit: out += u; break;
            case UnitReader::Status::end: pos = reader.pos(); return out;
            case UnitReader::Status::malformed: return std::nullopt;
        }
    }
}

namespace {

// Units of a section name in the order keys are saved: the separator before every name unit, the
// end of the name before the separator ("A" < "A\B" < "A!").
constexpr int kNameEnd = -2;
constexpr int kSeparator = -1;

int order_value(char16_t folded_unit) { return folded_unit == u'\\' ? kSeparator : folded_unit; }

// Where the unescaped ']' that ends a section name stands in `line`, searching from `pos` (not
// inside an escape); npos when the line ends first.
std::size_t name_end(std::string_view line, std::size_t pos) {
    while (pos < line.size()) {
        const char c = line[pos];
        if (c == ']') return pos;
        pos += c == '\\' ? 2 : 1;
    }
    return std::string_view::npos;
}

}  // namespace

SectionOrder compare_section(std::string_view line, std::u16string_view target) {
    if (line.empty() || line[0] != '[') return SectionOrder::invalid;
    // Wine writes ASCII names as they are, with "\\" for the separator: compare those bytes
    // directly, and decode escapes and UTF-8 only from the first byte that needs it.
    std::size_t p = 1;
    std::size_t i = 0;
    int h = 0;  // the header's value where it first differs from the target
    bool decided = false;
    while (p < line.size()) {
        const auto c = static_cast<unsigned char>(line[p]);
        if (c >= 0x80) break;
        if (c == ']') {
            h = kNameEnd;
        } else if (c == '\\') {
            if (p + 1 >= line.size() || line[p + 1] != '\\') break;
            h = kSeparator;
        } else {
            h = fold(c);
        }
        const int t = i < target.size() ? order_value(target[i]) : kNameEnd;
        if (h != t || h == kNameEnd) {
            decided = true;
            break;
        }
        p += c == '\\' ? 2 : 1;
        ++i;
    }
    if (!decided) {
        // Decode from the byte that needs it on.
        UnitReader reader(line, p);
        char16_t u = 0;
        for (;;) {
            const auto st = reader.next(']', u);
            if (st == UnitReader::Status::malformed) return SectionOrder::invalid;
            h = st == UnitReader::Status::end ? kNameEnd : order_value(fold(u));
            const int t = i < target.size() ? order_value(target[i]) : kNameEnd;
            if (h != t || h == kNameEnd) break;
            ++i;
        }
        p = reader.pos();
        if (h != kNameEnd && name_end(line, p) == std::string_view::npos) return SectionOrder::invalid;
    } else if (h != kNameEnd && name_end(line, p) == std::string_view::npos) {
        return SectionOrder::invalid;
    }
    const int t = i < target.size() ? order_value(target[i]) : kNameEnd;
    if (t == kNameEnd) {
        if (h == kNameEnd) return SectionOrder::exact;
        if (h == kSeparator || target.empty()) return SectionOrder::below;
        return SectionOrder::after;
    }
    return h < t ? SectionOrder::before : SectionOrder::after;
}

bool section_name(std::string_view line, std::u16string& out) {
    out.clear();
    if (line.empty() || line[0] != '[') return false;
    UnitReader reader(line, 1);
    char16_t u = 0;
    for (;;) {
        switch (reader.next(']', u)) {
            case UnitReader::Status::unit: out += fold(u); break;
            case UnitReader::Status::end: return true;
            case UnitReader::Status::malformed: return false;
        }
    }
}

int compare_names(std::u16string_view a, std::u16string_view b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i)
        if (a[i] != b[i]) return order_value(a[i]) - order_value(b[i]);
    return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
}

HiveKind read_hive_kind(std::string_view head) {
    constexpr std::string_view kHeader = "WINE REGISTRY Version 2";
    if (!starts_with(head, kHeader)) return HiveKind::invalid;
    std::size_t pos = kHeader.size();
    if (pos < head.size() && head[pos] != '\n' && head[pos] != '\r') return HiveKind::invalid;
    // The architecture line stands among the comments ahead of the first section.
    while (pos < head.size()) {
        const std::size_t end = std::min(head.find('\n', pos), head.size());
        const std::string_view line = trim(head.substr(pos, end - pos));
        if (!line.empty() && line[0] == '[') break;
        if (line == "#arch=win64") return HiveKind::win64;
        if (line == "#arch=win32") return HiveKind::win32;
        pos = end + 1;
    }
    return HiveKind::win32;
}

std::optional<Value> parse_data(std::string_view text) {
    text = trim(text);
    Value value;
    std::size_t pos = 0;
    if (starts_with(text, "\"") || starts_with(text, "str(")) {
        value.type = kRegSz;
        if (text[0] != '"') {
            pos = 4;
            const auto type = read_hex(text, pos, 8);
            if (!type || text.substr(pos, 3) != "):\"") return std::nullopt;
            value.type = *type;
            pos += 3;
        } else {
            pos = 1;
        }
        const auto units = decode_string(text, pos, '"');
        if (!units) return std::nullopt;
        for (char16_t u : *units) append_unit(value.data, u);
        append_unit(value.data, 0);
        return value;
    }
    if (starts_with(text, "dword:")) {
        pos = 6;
        const auto v = read_hex(text, pos, 8);
        if (!v || pos != text.size()) return std::nullopt;
        value.type = kRegDword;
        for (int i = 0; i < 4; ++i) value.data.push_back(static_cast<std::uint8_t>(*v >> (8 * i)));
        return value;
    }
    if (starts_with(text, "hex:")) {
        value.type = kRegBinary;
        pos = 4;
    } else if (starts_with(text, "hex(")) {
        pos = 4;
        const auto type = read_hex(text, pos, 8);
        if (!type || text.substr(pos, 2) != "):") return std::nullopt;
        value.type = *type;
        pos += 2;
    } else {
        return std::nullopt;
    }
    for (;;) {
        while (pos < text.size() && (is_blank(text[pos]) || text[pos] == '\n')) ++pos;
        if (pos >= text.size()) break;
        const auto byte = read_hex(text, pos, 2);
        if (!byte) return std::nullopt;
        value.data.push_back(static_cast<std::uint8_t>(*byte));
        while (pos < text.size() && (is_blank(text[pos]) || text[pos] == '\n')) ++pos;
        if (pos >= text.size()) break;
        if (text[pos] != ',') return std::nullopt;
        ++pos;
    }
    return value;
}

void ValueFinder::line(std::string_view text, bool terminated) {
    std::size_t p = 0;
    bool match = false;
    if (text.empty()) {
        // an empty line
    } else if (text[0] == '@') {
        match = name_.empty();
        p = 1;
    } else if (text[0] == '"') {
        UnitReader reader(text, 1);
        std::size_t i = 0;
        char16_t u;
        UnitReader::Status st;
        match = true;
        while ((st = reader.next('"', u)) == UnitReader::Status::unit) {
            if (i >= name_.size() || fold(u) != name_[i]) match = false;
            ++i;
        }
        match = match && st == UnitReader::Status::end && i == name_.size();
        p = reader.pos();
    }
    while (p < text.size() && is_blank(text[p])) ++p;
    std::string_view part;
    if (match && p < text.size() && text[p] == '=') {
        // A later line of the name starts the value again.
        found_ = true;
        broken_ = false;
        joined_.clear();
        part = text.substr(p + 1);
    } else if (continued_) {
        part = text;
    } else {
        return;
    }
    // A hex list may go on over the following lines, each line but the last ending with '\'.
    part = trim(part);
    continued_ = !part.empty() && part.back() == '\\' && terminated;
    if (continued_) part.remove_suffix(1);
    joined_ += part;
    // A quoted string is never continued; only hex lists are.
    if (continued_ && !starts_with(trim(joined_), "hex")) {
        broken_ = true;
        continued_ = false;
    }
}

std::optional<Value> ValueFinder::result() const {
    if (!found_ || broken_) return std::nullopt;
    return parse_data(joined_);
}

std::vector<std::uint8_t> ansi_data(const Value& value) {
    if (!is_string_type(value.type)) return value.data;
    const std::u16string units = units_of(value.data);
    std::vector<std::uint8_t> out;
    out.reserve(units.size() + 1);
    for_each_code_point(units, [&](std::optional<char32_t> cp) {
        const std::uint8_t unknown = '?';
        out.push_back(cp ? code_point_to_cp1252(*cp).value_or(unknown) : unknown);
    });
    if (out.empty() || out.back() != 0) out.push_back(0);
    return out;
}

std::optional<std::string> utf8_string(const Value& value) {
    if (value.type != kRegSz && value.type != kRegExpandSz) return std::nullopt;
    std::u16string units = units_of(value.data);
    if (const auto nul = units.find(u'\0'); nul != std::u16string::npos) units.resize(nul);
    std::string out;
    out.reserve(units.size());
    for_each_code_point(units, [&](std::optional<char32_t> cp) { append_utf8(out, cp ? *cp : 0xFFFD); });
    return out;
}

}  // namespace aggiorna::portable::wine_reg
