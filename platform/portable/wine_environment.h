// The environment a 32-bit Windows program of a Wine prefix starts with, as far as the prefix's
// registry tells it, and the expansion of %VARIABLES% in REG_EXPAND_SZ values against it.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace aggiorna::portable {

// Environment variables by name; names compare ignoring case, as Windows compares them.
class WindowsEnvironment {
public:
    void set(std::string_view name, std::string value);
    std::optional<std::string> get(std::string_view name) const;
    // `text` with each %NAME% of a defined variable replaced by its value, as
    // ExpandEnvironmentStrings does: an undefined name stays as written, both "%" with it, and a
    // "%" that no other closes stays too. What a value brings in is not expanded again.
    std::string expand(std::string_view text) const;

private:
    std::map<std::string, std::string> values_;  // by canonical (case-folded) name
};

// A string value of an environment key: REG_EXPAND_SZ (`expand`) or REG_SZ, as UTF-8.
struct EnvironmentEntry {
    bool expand = false;
    std::string text;
};
// The string values of a key by canonical name (other types left out), the order in which Wine
// enumerates a key's values. The key is named from its root (kHkeyLocalMachine or
// kHkeyCurrentUser) in the native view (no Wow6432Node); a missing key has none.
using EnvironmentKey = std::map<std::string, EnvironmentEntry>;
using ReadEnvironmentKey = std::function<EnvironmentKey(RegKey root, std::string_view path)>;

// The variables Windows and Wine give a program when it starts, in the order they are defined:
// 1. those Wine gives every process: SystemDrive "C:", SystemRoot "C:\windows";
// 2. the values of HKLM\System\CurrentControlSet\Control\Session Manager\Environment, then of
//    HKCU\Environment, then of HKCU\Volatile Environment, each key's in name order: a later one
//    replaces an earlier one of the same name, but PATH, which is appended with ";"; a
//    REG_EXPAND_SZ value is expanded against the variables defined before it (one level, as
//    Windows builds the environment); an empty value defines nothing;
// 3. ALLUSERSPROFILE and ProgramData from ProfileList's "ProgramData", PUBLIC from its "Public";
// 4. ProgramFiles, ProgramFiles(x86), ProgramW6432 and their CommonProgramFiles counterparts from
//    HKLM\Software\Microsoft\Windows\CurrentVersion (ProgramFilesDir, "ProgramFilesDir (x86)",
//    CommonFilesDir, "CommonFilesDir (x86)"), then, as for any 32-bit program on a 64-bit
//    prefix, ProgramFiles and CommonProgramFiles become the (x86) ones where those exist;
// 5. COMPUTERNAME from ...\Control\ComputerName\ActiveComputerName.
// Left out: the Unix environment that Wine passes through to its programs and Wine's own WINE*
// variables, which depend on how a program is started, not on the prefix.
WindowsEnvironment build_environment(const ReadEnvironmentKey& read_key);

}  // namespace aggiorna::portable
