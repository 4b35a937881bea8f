// XdgShell: the desktop folder from the XDG user directories file, or $HOME/Desktop.
#include "platform/portable/xdg_shell.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include <pwd.h>
#include <unistd.h>

namespace aggiorna::portable {
namespace {

std::string home_folder() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    // No HOME: the password database still knows the user's home folder.
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir)
        return found->pw_dir;
    return {};
}

std::string_view trim(std::string_view s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!s.empty() && blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && blank(s.back())) s.remove_suffix(1);
    return s;
}

// A value as a shell would read it: double quotes removed, backslash escapes inside them undone.
std::string unquote(std::string_view v) {
    if (v.size() < 2 || v.front() != '"' || v.back() != '"') return std::string(v);
    v = v.substr(1, v.size() - 2);
    std::string out;
    for (std::size_t i = 0; i < v.size(); ++i) {
        if (v[i] == '\\' && i + 1 < v.size() &&
            (v[i + 1] == '"' || v[i + 1] == '\\' || v[i + 1] == '$' || v[i + 1] == '`'))
            ++i;
        out += v[i];
    }
    return out;
}

}  // namespace

std::string user_dir_from_text(std::string_view text, std::string_view key, std::string_view home) {
    std::string result;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = trim(text.substr(pos, end - pos));
        pos = end + 1;
        if (line.empty() || line.front() == '#') continue;
        if (line.substr(0, key.size()) != key) continue;
        line = trim(line.substr(key.size()));
        if (line.empty() || line.front() != '=') continue;
        std::string value = unquote(trim(line.substr(1)));

        std::size_t home_length = 0;
        if (value.rfind("${HOME}", 0) == 0) home_length = 7;
        else if (value.rfind("$HOME", 0) == 0) home_length = 5;
        std::string path;
        if (home_length > 0) {
            const std::string rest = value.substr(home_length);
            if (home.empty() || (!rest.empty() && rest.front() != '/')) continue;  // "$HOMEBREW", or no home
            path = std::string(home) + rest;
        } else if (!value.empty() && value.front() == '/') {
            path = value;
        } else {
            continue;  // relative: not a valid entry
        }
        while (path.size() > 1 && path.back() == '/') path.pop_back();
        result = path;
    }
    return result;
}

std::string XdgShell::special_folder(int csidl) {
    if (csidl != kCsidlDesktop) return {};
    try {
        const std::string home = home_folder();
        std::string config;
        if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/') config = xdg;
        else if (!home.empty()) config = home + "/.config";

        if (!config.empty()) {
            std::ifstream file(config + "/user-dirs.dirs", std::ios::binary);
            if (file) {
                std::ostringstream text;
                text << file.rdbuf();
                std::string desktop = user_dir_from_text(text.str(), "XDG_DESKTOP_DIR", home);
                if (!desktop.empty()) return desktop;
            }
        }
        return home.empty() ? std::string() : home + "/Desktop";
    } catch (...) {
        return {};
    }
}

}  // namespace aggiorna::portable
