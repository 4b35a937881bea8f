// TerminalMessageBoxes: message boxes as text on a terminal or a pipe.
#include "platform/portable/terminal_boxes.h"

#include <string>
#include <utility>

#include "platform/portable/cp1252.h"

namespace aggiorna::portable {

namespace {

constexpr std::uint32_t kButtonsMask = 0x0F;
constexpr std::uint32_t kIconMask = 0xF0;
constexpr std::uint32_t kOkCancel = 0x01;

std::string_view icon_mark(std::uint32_t style) {
    switch (style & kIconMask) {
        case 0x10: return "[X] ";
        case 0x20: return "[?] ";
        case 0x30: return "[!] ";
        case 0x40: return "[i] ";
        default: return "";
    }
}

// The text as it may reach a terminal: CR, LF or CR LF become one line break; other control
// characters (an escape sequence in a folder name, say) and bytes that are not UTF-8 become
// U+FFFD, so that a text can never steer the terminal.
std::string printable(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 8);
    for (std::size_t pos = 0; pos < text.size();) {
        const auto cp = next_code_point(text, pos);
        if (!cp) {
            append_utf8(out, 0xFFFD);
        } else if (*cp == '\r') {
            if (pos < text.size() && text[pos] == '\n') ++pos;
            out += '\n';
        } else if (*cp == '\n' || *cp == '\t') {
            out += static_cast<char>(*cp);
        } else if (*cp < 0x20 || (*cp >= 0x7F && *cp < 0xA0)) {
            append_utf8(out, 0xFFFD);
        } else {
            append_utf8(out, *cp);
        }
    }
    return out;
}

// The answer trimmed and in lower case, "Ì" included.
std::string normalised(std::string_view line) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; };
    while (!line.empty() && blank(line.front())) line.remove_prefix(1);
    while (!line.empty() && blank(line.back())) line.remove_suffix(1);
    std::string out;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c >= 'A' && c <= 'Z') {
            out += static_cast<char>(c - 'A' + 'a');
        } else if (c == '\xC3' && i + 1 < line.size() && line[i + 1] == '\x8C') {
            out += "\xC3\xAC";
            ++i;
        } else {
            out += c;
        }
    }
    return out;
}

enum class Answer { ok, cancel, unknown };

Answer classify(std::string_view line) {
    const std::string a = normalised(line);
    if (a.empty() || a == "ok" || a == "o" || a == "s" || a == "si" || a == "s\xC3\xAC") return Answer::ok;
    if (a == "annulla" || a == "a" || a == "n" || a == "no") return Answer::cancel;
    return Answer::unknown;
}

}  // namespace

std::optional<std::string> TerminalMessageBoxes::answer() {
    std::string line;
    while (!closed_) {
        const int c = in_.get();
        if (c == std::char_traits<char>::eof()) {
            closed_ = true;
            if (!line.empty()) return line;  // a last answer without its line end still counts
            break;
        }
        if (std::exchange(after_cr_, false) && c == '\n') continue;
        if (c == '\n' || c == '\r') {
            after_cr_ = c == '\r';
            return line;
        }
        if (line.size() == kMaxAnswer) closed_ = true;
        else line += static_cast<char>(c);
    }
    return std::nullopt;
}

int TerminalMessageBoxes::message_box(std::string_view text, std::uint32_t style, std::string_view caption) {
    // Once `out` cannot be written (it stays so), nobody sees the box: it is a closed box.
    out_ << '\n' << icon_mark(style) << printable(caption) << '\n' << printable(text) << '\n';
    if ((style & kButtonsMask) != kOkCancel) {
        out_ << "[ OK ] (Invio per continuare) " << std::flush;
        if (out_) answer();
        out_ << '\n' << std::flush;
        return box_answer::ok;
    }
    out_ << "[ OK ] [ Annulla ]  (Invio = OK, \"a\" = Annulla) " << std::flush;
    int invalid = 0;
    for (std::optional<std::string> line; out_ && (line = answer());) {
        switch (classify(*line)) {
            case Answer::ok: return box_answer::ok;
            case Answer::cancel: return box_answer::cancel;
            case Answer::unknown: break;
        }
        // A stream of answers that are neither is no user: the input is taken as ended.
        if (++invalid == kMaxInvalidAnswers) {
            closed_ = true;
            break;
        }
        out_ << "Rispondere OK (Invio) oppure Annulla (\"a\"): " << std::flush;
    }
    out_ << '\n' << std::flush;
    return box_answer::cancel;
}

}  // namespace aggiorna::portable
