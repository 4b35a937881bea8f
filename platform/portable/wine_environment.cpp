// The start-up environment of a Wine prefix's programs, built from its registry as Wine builds it.
#include "platform/portable/wine_environment.h"

#include "platform/portable/wine_reg_parse.h"

namespace aggiorna::portable {

void WindowsEnvironment::set(std::string_view name, std::string value) {
    values_[wine_reg::canonical_name(name)] = std::move(value);
}

std::optional<std::string> WindowsEnvironment::get(std::string_view name) const {
    const auto it = values_.find(wine_reg::canonical_name(name));
    if (it == values_.end()) return std::nullopt;
    return it->second;
}

std::string WindowsEnvironment::expand(std::string_view text) const {
    std::string out;
    while (!text.empty()) {
        const std::size_t open = text.find('%');
        out += text.substr(0, open);
        if (open == std::string_view::npos) break;
        const std::size_t close = text.find('%', open + 1);
        if (close == std::string_view::npos) {
            out += text.substr(open);  // a lone "%"
            break;
        }
        const std::string_view name = text.substr(open + 1, close - open - 1);
        const auto value = name.empty() ? std::nullopt : get(name);
        out += value ? std::string_view(*value) : text.substr(open, close - open + 1);
        text.remove_prefix(close + 1);
    }
    return out;
}

namespace {

constexpr std::string_view kSessionEnvironment = "System\\CurrentControlSet\\Control\\Session Manager\\Environment";
constexpr std::string_view kProfileList = "Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
constexpr std::string_view kCurrentVersion = "Software\\Microsoft\\Windows\\CurrentVersion";
constexpr std::string_view kComputerName = "System\\CurrentControlSet\\Control\\ComputerName\\ActiveComputerName";

// A value of `key` as Wine reads it for the environment: expanded against what is defined so
// far; nullopt when missing or empty.
std::optional<std::string> value_of(const EnvironmentKey& key, std::string_view name, const WindowsEnvironment& env) {
    const auto it = key.find(wine_reg::canonical_name(name));
    if (it == key.end() || it->second.text.empty()) return std::nullopt;
    return it->second.expand ? env.expand(it->second.text) : it->second.text;
}

void add_variables(WindowsEnvironment& env, const EnvironmentKey& key) {
    for (const auto& [name, entry] : key) {
        if (name.empty() || entry.text.empty()) continue;
        std::string value = entry.expand ? env.expand(entry.text) : entry.text;
        if (name == "path") {
            if (const auto before = env.get(name)) value = *before + ";" + value;
        }
        env.set(name, std::move(value));
    }
}

}  // namespace

WindowsEnvironment build_environment(const ReadEnvironmentKey& read_key) {
    WindowsEnvironment env;
    env.set("SystemDrive", "C:");
    env.set("SystemRoot", "C:\\windows");
    add_variables(env, read_key(kHkeyLocalMachine, kSessionEnvironment));
    add_variables(env, read_key(kHkeyCurrentUser, "Environment"));
    add_variables(env, read_key(kHkeyCurrentUser, "Volatile Environment"));

    const EnvironmentKey profiles = read_key(kHkeyLocalMachine, kProfileList);
    if (const auto data = value_of(profiles, "ProgramData", env)) {
        env.set("ALLUSERSPROFILE", *data);
        env.set("ProgramData", *data);
    }
    if (const auto shared = value_of(profiles, "Public", env)) env.set("PUBLIC", *shared);

    const EnvironmentKey version = read_key(kHkeyLocalMachine, kCurrentVersion);
    const auto program_folders = [&](std::string_view dir, std::string_view dir_x86, std::string_view plain,
                                     std::string_view x86, std::string_view w6432) {
        if (const auto folder_x86 = value_of(version, dir_x86, env)) {
            env.set(x86, *folder_x86);
            if (const auto folder = value_of(version, dir, env)) env.set(w6432, *folder);
            env.set(plain, *folder_x86);  // this program is a 32-bit one
        } else if (const auto folder = value_of(version, dir, env)) {
            env.set(plain, *folder);
        }
    };
    program_folders("ProgramFilesDir", "ProgramFilesDir (x86)", "ProgramFiles", "ProgramFiles(x86)", "ProgramW6432");
    program_folders("CommonFilesDir", "CommonFilesDir (x86)", "CommonProgramFiles", "CommonProgramFiles(x86)",
                    "CommonProgramW6432");

    if (const auto computer = value_of(read_key(kHkeyLocalMachine, kComputerName), "ComputerName", env))
        env.set("COMPUTERNAME", *computer);
    return env;
}

}  // namespace aggiorna::portable
