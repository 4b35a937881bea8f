// The run's log read line by line after its time stamp, and compared with the scenario's row.
#include "program_log.h"

#include <algorithm>
#include <sstream>

#include "platform/windows/text.h"
#include "run_logs.h"
#include "system_state.h"

namespace kit {
namespace {

using aggiorna::windows::to_utf8;
using aggiorna::windows::to_wide_lossy;

// A path as the comparison takes it: one backslash where plain joining doubled it (a network
// path keeps the two it starts with).
std::wstring plain(const std::wstring& path) {
    std::wstring out;
    for (std::size_t i = 0; i < path.size(); ++i) {
        if (path[i] == L'\\' && i > 1 && path[i - 1] == L'\\') continue;
        out += path[i];
    }
    return out;
}

// Both lists hold the same paths, each as often.
bool same_paths(std::vector<std::wstring> a, std::vector<std::wstring> b) {
    if (a.size() != b.size()) return false;
    for (const std::wstring& path : a) {
        const auto match = std::find_if(b.begin(), b.end(), [&](const std::wstring& other) {
            return same_path(plain(path), plain(other));
        });
        if (match == b.end()) return false;
        b.erase(match);
    }
    return true;
}

std::string listed(const std::vector<std::wstring>& paths) {
    if (paths.empty()) return "none";
    std::string out;
    for (const std::wstring& path : paths) out += (out.empty() ? "\"" : ", \"") + to_utf8(path) + "\"";
    return out;
}

}  // namespace

ProgramLog read_program_log(const std::string& text) {
    ProgramLog log;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        // "2026-12-11 09:30:05.123 text": the text starts after the second space.
        const std::size_t first = line.find(' ');
        const std::size_t second = first == std::string::npos ? first : line.find(' ', first + 1);
        if (second == std::string::npos) continue;
        const std::string said = line.substr(second + 1);
        const auto after = [&](const std::string& head) -> std::optional<std::string> {
            if (said.rfind(head, 0) != 0) return std::nullopt;
            return said.substr(head.size());
        };
        if (const auto value = after("run as administrator: ")) log.elevated = *value;
        if (const auto value = after("virtualized (UAC): ")) log.virtualized = *value;
        if (const auto value = after("end: exit code ")) {
            try {
                log.exit_code = std::stoi(*value);
            } catch (...) {
            }
        }
        const std::string mark = "written to \"";
        for (std::size_t at = said.find(mark); at != std::string::npos; at = said.find(mark, at)) {
            at += mark.size();
            const std::size_t end = said.find('"', at);
            if (end == std::string::npos) break;
            log.written_to.push_back(to_wide_lossy(said.substr(at, end - at)));
            at = end;
        }
    }
    return log;
}

std::wstring log_of_process(const std::wstring& folder, DWORD process_id, const std::vector<std::wstring>& before) {
    const std::wstring ending = L"-" + std::to_wstring(process_id) + L".log";
    for (const std::wstring& name : run_logs_in(folder)) {
        const bool earlier = std::any_of(before.begin(), before.end(), [&](const std::wstring& b) { return same_path(b, name); });
        if (!earlier && name.size() > ending.size() && same_path(name.substr(name.size() - ending.size()), ending)) {
            return folder + L"\\" + name;
        }
    }
    return {};
}

std::vector<std::string> check_program_log(const ProgramLog& log, const Scenario& s, const RunSeen& seen) {
    std::vector<std::string> problems;
    if (!log.exit_code) {
        problems.push_back("the run's log has no end line (\"end: exit code N\")");
    } else if (*log.exit_code != s.exit_code) {
        problems.push_back("the run's log ends with exit code " + std::to_string(*log.exit_code) + ", not the " +
                           std::to_string(s.exit_code) + " expected");
    }
    if (log.elevated != seen.elevated) {
        problems.push_back("the run's log says \"run as administrator: " + log.elevated + "\", not \"" +
                           seen.elevated + "\"");
    }
    if (log.virtualized != seen.virtualized) {
        problems.push_back("the run's log says \"virtualized (UAC): " + log.virtualized + "\", not \"" +
                           seen.virtualized + "\"");
    }
    std::vector<std::wstring> landed = s.landed;
    if (landed.empty()) {
        for (const auto& [path, bytes] : s.written) landed.push_back(path);
    }
    if (!same_paths(log.written_to, landed)) {
        problems.push_back("the run's log says the copies were written to " + listed(log.written_to) +
                           "; expected " + listed(landed));
    }
    return problems;
}

}  // namespace kit
