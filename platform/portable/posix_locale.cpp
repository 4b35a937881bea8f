// PosixLocale: the user's number format through newlocale/localeconv, and the cp1252 conversion.
#include "platform/portable/posix_locale.h"

#include <climits>
#include <cstring>
#include <optional>

#include <iconv.h>
#include <langinfo.h>
#include <locale.h>

#include "platform/portable/cp1252.h"

namespace aggiorna::portable {
namespace {

bool is_ascii(std::string_view s) {
    for (unsigned char c : s)
        if (c >= 0x80) return false;
    return true;
}

bool is_utf8(std::string_view s) {
    for (std::size_t pos = 0; pos < s.size();)
        if (!next_code_point(s, pos)) return false;
    return true;
}

// The locale's text in `codeset` as UTF-8; nullopt when it cannot be converted.
std::optional<std::string> to_utf8(const std::string& text, const char* codeset) {
    if (is_ascii(text)) return text;
    const bool utf8 = codeset && (std::strcmp(codeset, "UTF-8") == 0 || std::strcmp(codeset, "utf8") == 0);
    if (utf8) return is_utf8(text) ? std::optional<std::string>(text) : std::nullopt;
    if (!codeset || !*codeset) return std::nullopt;
    iconv_t cd = iconv_open("UTF-8", codeset);
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
    std::string in = text;
    std::string out(in.size() * 4 + 4, '\0');
    char* in_ptr = in.data();
    std::size_t in_left = in.size();
    char* out_ptr = out.data();
    std::size_t out_left = out.size();
    const std::size_t rc = iconv(cd, &in_ptr, &in_left, &out_ptr, &out_left);
    iconv_close(cd);
    if (rc == static_cast<std::size_t>(-1) || in_left != 0) return std::nullopt;
    out.resize(out.size() - out_left);
    return out;
}

// A loaded locale_t, freed once.
class ScopedLocale {
public:
    explicit ScopedLocale(locale_t l) : l_(l) {}
    ~ScopedLocale() {
        if (l_) freelocale(l_);
    }
    ScopedLocale(const ScopedLocale&) = delete;
    ScopedLocale& operator=(const ScopedLocale&) = delete;
    locale_t get() const { return l_; }

private:
    locale_t l_;
};

NumberFormat c_format() { return NumberFormat{".", "", "0"}; }

NumberFormat read_format() {
    // LC_CTYPE comes along for the code set of the separators; a user whose LC_CTYPE names a
    // locale this machine lacks still gets the number format LC_NUMERIC asks for.
    locale_t l = newlocale(LC_CTYPE_MASK | LC_NUMERIC_MASK, "", static_cast<locale_t>(0));
    if (!l) l = newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(0));
    if (!l) return c_format();
    ScopedLocale locale(l);

    // localeconv has no _l form; it reads the calling thread's locale, switched for the moment.
    locale_t previous = uselocale(locale.get());
    const lconv* conv = localeconv();
    std::string decimal = conv->decimal_point ? conv->decimal_point : "";
    std::string thousands = conv->thousands_sep ? conv->thousands_sep : "";
    std::string grouping = grouping_from_c(conv->grouping);
    uselocale(previous);

    const char* codeset = nl_langinfo_l(CODESET, locale.get());
    NumberFormat format;
    auto decimal_utf8 = to_utf8(decimal, codeset);
    if (!decimal_utf8 || decimal_utf8->empty()) return c_format();
    format.decimal_separator = *decimal_utf8;
    auto thousands_utf8 = to_utf8(thousands, codeset);
    if (!thousands_utf8 || thousands_utf8->empty()) {
        format.thousands_separator.clear();
        format.grouping = "0";
    } else {
        format.thousands_separator = *thousands_utf8;
        format.grouping = grouping;
    }
    return format;
}

}  // namespace

std::string grouping_from_c(const char* c_grouping) {
    if (!c_grouping) return "0";
    std::string sizes;
    std::string last;
    bool repeat = true;
    for (const char* p = c_grouping;; ++p) {
        if (*p == '\0') break;  // the last size repeats
        if (*p == CHAR_MAX || *p <= 0) {
            repeat = false;
            break;
        }
        std::string size = std::to_string(static_cast<int>(*p));
        if (size.size() != 1) {  // beyond what the "3;0" form can carry
            repeat = false;
            break;
        }
        // "\3\3" repeats 3 as "\3" does; keep the form short, as Windows writes it.
        if (p[1] == '\0' && size == last) break;
        if (!sizes.empty()) sizes += ';';
        sizes += size;
        last = size;
    }
    if (sizes.empty()) return "0";
    return repeat ? sizes + ";0" : sizes;
}

PosixLocale::PosixLocale() : format_(read_format()) {}

std::string PosixLocale::ansi_to_utf8(std::string_view ansi) { return cp1252_to_utf8(ansi); }

}  // namespace aggiorna::portable
