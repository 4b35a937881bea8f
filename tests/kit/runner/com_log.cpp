// Reading the servers' JSON lines (strings with \uXXXX escapes, numbers, one flat object) and
// comparing them with the calls a scenario expects, rule by rule.
#include "com_log.h"

#include <sstream>

#include "platform/windows/text.h"

namespace kit {
namespace {

using aggiorna::windows::to_utf8;

const std::wstring kOk = L"0x00000000";

// A small reader of the subset the servers write.
class Reader {
public:
    explicit Reader(const std::string& line) : s_(line) {}

    bool array(Event& out) {
        if (!take('[')) return false;
        while (blank(), peek() != ']') {
            std::wstring item;
            if (peek() == '"') {
                if (!string(item)) return false;
            } else if (peek() == '{') {
                if (!object(item)) return false;
            } else {
                item = number();
            }
            out.push_back(item);
            blank();
            if (peek() == ',') ++i_;
            else if (peek() != ']') return false;
        }
        return true;
    }

private:
    int peek() const { return i_ < s_.size() ? static_cast<unsigned char>(s_[i_]) : -1; }
    void blank() {
        while (peek() == ' ') ++i_;
    }
    bool take(char c) {
        blank();
        if (peek() != c) return false;
        ++i_;
        return true;
    }
    bool string(std::wstring& out) {
        if (!take('"')) return false;
        for (;;) {
            const int c = peek();
            if (c < 0) return false;
            ++i_;
            if (c == '"') return true;
            if (c != '\\') {
                out.push_back(static_cast<wchar_t>(c));
                continue;
            }
            const int e = peek();
            ++i_;
            if (e == 'u') {
                out.push_back(static_cast<wchar_t>(std::stoul(s_.substr(i_, 4), nullptr, 16)));
                i_ += 4;
            } else {
                out.push_back(static_cast<wchar_t>(e));
            }
        }
    }
    std::wstring number() {
        std::wstring out;
        while (peek() == '-' || (peek() >= '0' && peek() <= '9')) out.push_back(static_cast<wchar_t>(s_[i_++]));
        return out;
    }
    // {"a":1,"b":2} as "a=1,b=2".
    bool object(std::wstring& out) {
        if (!take('{')) return false;
        while (blank(), peek() != '}') {
            std::wstring key;
            if (!string(key) || !take(':')) return false;
            blank();
            if (!out.empty()) out += L",";
            out += key + L"=" + number();
            blank();
            if (peek() == ',') ++i_;
        }
        ++i_;
        return true;
    }

    std::string s_;
    std::size_t i_ = 0;
};

// A text short enough for a report line.
std::string shown(const std::wstring& text) {
    std::wstring trimmed = text;
    const std::size_t end = trimmed.find_last_not_of(L' ');
    const std::size_t blanks = end == std::wstring::npos ? trimmed.size() : trimmed.size() - end - 1;
    if (blanks > 8) trimmed.resize(trimmed.size() - blanks);
    std::string out = "\"" + to_utf8(trimmed.size() > 70 ? trimmed.substr(0, 70) + L"…" : trimmed) + "\"";
    if (blanks > 8) out += " + " + std::to_string(blanks) + " blanks";
    return out;
}

std::string summary(const Event& event) {
    std::string out;
    for (const std::wstring& part : event) out += (out.empty() ? "" : " ") + shown(part);
    return out;
}

std::string summary(const Call& call) {
    return shown(call.name) + (call.argument.empty() ? "" : " " + shown(call.argument));
}

std::wstring at(const Event& e, std::size_t i) { return i < e.size() ? e[i] : std::wstring(); }

// Nothing when the logged event matches the expected call, else what differs.
std::string compare(const Call& expected, const Event& event, const Event* before, const std::wstring& files) {
    const std::wstring& name = expected.name;
    if (at(event, 0) != name) return "expected " + summary(expected) + ", got " + summary(event);
    if (name == L"create" || name == L"release") {
        return at(event, 1) == expected.argument ? "" : "expected " + summary(expected) + ", got " + summary(event);
    }
    if (name == L"ImpostaChiave") {
        if (at(event, 1) != expected.argument || at(event, 3) != kOk) {
            return "ImpostaChiave got key " + shown(at(event, 1)) + " (" + to_utf8(at(event, 3)) + "), expected " +
                   shown(expected.argument);
        }
        return "";
    }
    if (name == L"Decodifica") return at(event, 3) == kOk ? "" : "Decodifica failed: " + summary(event);
    if (name == L"Decifra") {
        // The text handed to Decifra must be exactly what Decodifica returned just before.
        if (before == nullptr || at(*before, 0) != L"Decodifica" || at(event, 1) != at(*before, 2)) {
            return "Decifra did not receive the result of the Decodifica before it";
        }
        if (at(event, 3) != kOk || at(event, 2) != expected.argument) {
            return "decoded " + shown(at(event, 2)) + " (" + to_utf8(at(event, 3)) + "), expected " +
                   shown(expected.argument);
        }
        return "";
    }
    if (name == L"aiuto") {
        // The component's private DLL, called by CompletaAggiornamento just before.
        if (before == nullptr || at(*before, 0) != L"CompletaAggiornamento" || at(event, 1) != expected.argument) {
            return "expected " + summary(expected) + " after CompletaAggiornamento, got " + summary(event);
        }
        return "";
    }
    if (name == L"CompletaAggiornamento") {
        if (at(event, 1) != expected.argument) {
            return "CompletaAggiornamento got folder " + shown(at(event, 1)) + ", expected " + shown(expected.argument);
        }
        if (at(event, 2) != files) {
            return "CompletaAggiornamento called before both files were in place: " + to_utf8(at(event, 2));
        }
        return "";
    }
    return "no rule for " + to_utf8(name);
}

}  // namespace

std::vector<Event> parse_log(const std::string& text) {
    std::vector<Event> events;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.find_first_not_of(" \r") == std::string::npos) continue;
        Event event;
        if (!Reader(line).array(event)) event = {L"?", aggiorna::windows::to_wide_lossy(line)};
        events.push_back(event);
    }
    return events;
}

std::vector<std::string> check_calls(const std::vector<Event>& logged, const std::vector<Call>& expected_calls,
                                     const std::vector<Call>& reading, const std::wstring& files) {
    std::vector<std::string> problems;
    // The program ends with ExitProcess alone: no DLL is asked to unload (CoUninitialize) or is
    // unloaded under its objects.
    std::vector<Event> events;
    for (const Event& e : logged) {
        if (at(e, 0) == L"DllCanUnloadNow" || at(e, 0) == L"unload") {
            problems.push_back("COM log: " + to_utf8(at(e, 1)) +
                               (at(e, 0) == L"unload" ? " was unloaded" : " was asked to unload") +
                               " before the process ended (the apartment was closed)");
        } else {
            events.push_back(e);
        }
    }
    std::vector<Call> expected;
    for (const Call& c : expected_calls) {
        if (c.name == L"lettura") expected.insert(expected.end(), reading.begin(), reading.end());
        else expected.push_back(c);
    }
    for (std::size_t i = 0; i < std::max(expected.size(), events.size()); ++i) {
        if (i >= events.size()) {
            problems.push_back("COM log: ends after " + std::to_string(events.size()) + " calls; next expected " +
                               summary(expected[i]));
            break;
        }
        if (i >= expected.size()) {
            problems.push_back("COM log: call " + std::to_string(i + 1) + " not expected: " + summary(events[i]));
            break;
        }
        const std::string problem = compare(expected[i], events[i], i ? &events[i - 1] : nullptr, files);
        if (!problem.empty()) {
            problems.push_back("COM log, call " + std::to_string(i + 1) + ": " + problem);
            break;
        }
    }
    return problems;
}

}  // namespace kit
