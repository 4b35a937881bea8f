// Tests of the environment a prefix gives its programs and of query_path's expansion against it,
// on registry files written by the tests.
#include "platform/portable/wine_environment.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "platform/portable/wine_registry.h"

namespace aggiorna::portable {
namespace {

namespace fs = std::filesystem;

TEST(WindowsEnvironment, ExpandsAsExpandEnvironmentStrings) {
    WindowsEnvironment env;
    env.set("SystemRoot", "C:\\windows");
    env.set("Città", "Roma");
    env.set("Vuota", "");
    env.set("Ricorsiva", "%SystemRoot%");
    struct Case {
        const char* text;
        const char* expanded;
    };
    const Case cases[] = {
        {"", ""},
        {"C:\\Programmi", "C:\\Programmi"},
        {"%SystemRoot%\\x", "C:\\windows\\x"},
        {"%SYSTEMROOT%", "C:\\windows"},                           // names ignore case
        {"%CITT\xC3\x80%\\x", "Roma\\x"},                          // Latin letters too
        {"%SystemRoot%%SystemRoot%", "C:\\windowsC:\\windows"},
        {"%Vuota%x", "x"},                                         // defined, empty
        {"%NonDefinita%\\x", "%NonDefinita%\\x"},                  // unknown: as written
        {"%NonDefinita%SystemRoot%", "%NonDefinita%SystemRoot%"},  // the closing % is used up
        {"100%", "100%"},                                          // a lone %
        {"a%b", "a%b"},
        {"%%", "%%"},
        {"%", "%"},
        {"%Ricorsiva%", "%SystemRoot%"},                           // one level only
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(env.expand(c.text), c.expanded);
    }
    EXPECT_EQ(env.get("systemroot"), "C:\\windows");
    EXPECT_EQ(env.get("Manca"), std::nullopt);
}

// The order in which Windows and Wine define the variables: each key's values by name, later keys
// over earlier ones (PATH appended), each REG_EXPAND_SZ against what is defined before it.
TEST(BuildEnvironment, FollowsTheOrderWindowsBuildsItIn) {
    const auto read_key = [](RegKey root, std::string_view path) -> EnvironmentKey {
        const std::string p(path);
        if (root == kHkeyLocalMachine && p == "System\\CurrentControlSet\\Control\\Session Manager\\Environment")
            return {{"chained", {true, "%windir%\\x"}},
                    {"path", {true, "%SystemRoot%\\system32"}},
                    {"temp", {true, "%SystemRoot%\\temp"}},
                    {"windir", {true, "%SystemRoot%"}},
                    {"zlater", {true, "%windir%\\z"}}};
        if (root == kHkeyCurrentUser && p == "Environment")
            return {{"path", {true, "%USERPROFILE%\\bin"}}, {"temp", {false, "C:\\users\\mario\\Temp"}}, {"vuota", {false, ""}}};
        if (root == kHkeyCurrentUser && p == "Volatile Environment")
            return {{"userprofile", {false, "C:\\users\\mario"}}};
        if (root == kHkeyLocalMachine && p == "Software\\Microsoft\\Windows\\CurrentVersion")
            return {{"programfilesdir", {false, "C:\\Program Files"}}, {"commonfilesdir", {false, "C:\\Common"}}};
        return {};
    };
    const WindowsEnvironment env = build_environment(read_key);
    struct Case {
        const char* name;
        std::optional<std::string> value;
    };
    const Case cases[] = {
        {"SystemDrive", "C:"},
        {"SystemRoot", "C:\\windows"},
        {"windir", "C:\\windows"},
        {"Chained", "%windir%\\x"},  // windir comes after it by name
        {"ZLater", "C:\\windows\\z"},
        {"TEMP", "C:\\users\\mario\\Temp"},
        {"PATH", "C:\\windows\\system32;%USERPROFILE%\\bin"},
        {"USERPROFILE", "C:\\users\\mario"},
        {"Vuota", std::nullopt},
        {"ProgramFiles", "C:\\Program Files"},  // a 32-bit prefix: no (x86) folders
        {"ProgramFiles(x86)", std::nullopt},
        {"ProgramW6432", std::nullopt},
        {"CommonProgramFiles", "C:\\Common"},
        {"ProgramData", std::nullopt},
        {"COMPUTERNAME", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(env.get(c.name), c.value);
    }
}

constexpr std::string_view kSystemReg = R"REG(WINE REGISTRY Version 2
;; All keys relative to \\Machine

#arch=win64

[Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList] 1796990303
"ProfilesDirectory"=str(2):"C:\\users"
"ProgramData"=str(2):"C:\\ProgramData"
"Public"=str(2):"C:\\users\\Public"

[Software\\Microsoft\\Windows\\CurrentVersion] 1796990303
"CommonFilesDir"="C:\\Program Files\\Common Files"
"CommonFilesDir (x86)"="C:\\Program Files (x86)\\Common Files"
"ProgramFilesDir"="C:\\Program Files"
"ProgramFilesDir (x86)"="C:\\Program Files (x86)"

[Software\\Wow6432Node\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList] 1796990289
#link
"SymbolicLinkValue"=hex(6):5c,00

[Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion] 1796990303
"ProgramFilesDir"="C:\\Altrove"

[System\\CurrentControlSet\\Control\\ComputerName\\ActiveComputerName] 1796990303
"ComputerName"="PC-DI-PROVA"

[System\\CurrentControlSet\\Control\\Session Manager\\Environment] 1796990300
"ComSpec"=str(2):"%SystemRoot%\\system32\\cmd.exe"
"Override"="di sistema"
"PATH"=str(2):"%SystemRoot%\\system32;%SystemRoot%"
"Sistema"="sistema"
"TEMP"=str(2):"%SystemRoot%\\temp"
"windir"=str(2):"%SystemRoot%"
)REG";

constexpr std::string_view kUserReg = R"REG(WINE REGISTRY Version 2
;; All keys relative to \\User\\S-1-5-21-0-0-0-1000

#arch=win64

[Environment] 1796990298
"Citt\xe0"="Roma"
"Override"="dell'utente"
"PATH"=str(2):"%USERPROFILE%\\bin"
"TEMP"="C:\\users\\mario\\Temp"
"Utente"=str(2):"%Sistema% e utente"
"Vuota"=""

[Volatile Environment] 1796990303
"APPDATA"="C:\\users\\mario\\AppData\\Roaming"
"LOCALAPPDATA"="C:\\users\\mario\\AppData\\Local"
"USERNAME"="mario"
"USERPROFILE"="C:\\users\\mario"
)REG";

class QueryPathTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string dir = (fs::temp_directory_path() / "wine_environment_test.XXXXXX").string();
        ASSERT_NE(::mkdtemp(dir.data()), nullptr);
        prefix_ = dir;
    }
    void TearDown() override { fs::remove_all(prefix_); }

    // query_path of value `name`, written as `line` ("" for none) in HKLM\Software\Test.
    std::optional<std::string> query(std::string_view line, std::string_view name = "v") {
        std::string system(kSystemReg);
        system += "\n[Software\\\\Test] 1796990303\n" + std::string(line) + "\n";
        std::ofstream(prefix_ / "system.reg", std::ios::binary) << system;
        WineRegistry reg(prefix_);
        const RegKey software = reg.open_key(kHkeyLocalMachine, "Software", reg_access::read);
        const RegKey key = reg.open_key(software, "Test", reg_access::read);
        reg.close_key(software);
        if (!key) return std::nullopt;
        auto path = reg.query_path(key, name);
        reg.close_key(key);
        EXPECT_EQ(reg.open_key_count(), 0u);
        return path;
    }

    fs::path prefix_;
};

TEST_F(QueryPathTest, ExpandsAsAProgramOfThePrefixSeesIt) {
    std::ofstream(prefix_ / "user.reg", std::ios::binary) << kUserReg;
    struct Case {
        const char* line;
        std::optional<std::string> path;
    };
    const Case cases[] = {
        {R"("v"="%SystemRoot%\\x")", "%SystemRoot%\\x"},  // REG_SZ: as stored
        {R"("v"="C:\\Programmi\\Citt\xe0")", "C:\\Programmi\\Citt\xC3\xA0"},
        {R"("v"=str(2):"%SystemRoot%\\x")", "C:\\windows\\x"},
        {R"("v"=str(2):"%systemdrive%\\Programmi\\Quintrel4")", "C:\\Programmi\\Quintrel4"},
        {R"("v"=str(2):"%windir%")", "C:\\windows"},
        {R"("v"=str(2):"%ComSpec%")", "C:\\windows\\system32\\cmd.exe"},
        {R"("v"=str(2):"%ProgramFiles%\\Quintrel4")", "C:\\Program Files (x86)\\Quintrel4"},  // a 32-bit program
        {R"("v"=str(2):"%ProgramFiles(x86)%")", "C:\\Program Files (x86)"},
        {R"("v"=str(2):"%ProgramW6432%")", "C:\\Program Files"},
        {R"("v"=str(2):"%CommonProgramFiles%")", "C:\\Program Files (x86)\\Common Files"},
        {R"("v"=str(2):"%CommonProgramW6432%")", "C:\\Program Files\\Common Files"},
        {R"("v"=str(2):"%ProgramData%|%ALLUSERSPROFILE%|%PUBLIC%")", "C:\\ProgramData|C:\\ProgramData|C:\\users\\Public"},
        {R"("v"=str(2):"%USERPROFILE%\\Documenti")", "C:\\users\\mario\\Documenti"},
        {R"("v"=str(2):"%APPDATA%|%LOCALAPPDATA%|%USERNAME%")",
         "C:\\users\\mario\\AppData\\Roaming|C:\\users\\mario\\AppData\\Local|mario"},
        {R"("v"=str(2):"%TEMP%")", "C:\\users\\mario\\Temp"},  // the user's over the system's
        {R"("v"=str(2):"%Override%")", "dell'utente"},
        {R"("v"=str(2):"%Utente%")", "sistema e utente"},  // expanded against the system's
        {R"("v"=str(2):"%PATH%")", "C:\\windows\\system32;C:\\windows;%USERPROFILE%\\bin"},
        {R"("v"=str(2):"%COMPUTERNAME%")", "PC-DI-PROVA"},
        {R"("v"=str(2):"%CITT\xc0%")", "Roma"},
        {R"("v"=str(2):"%Vuota%\\x")", "%Vuota%\\x"},  // an empty value defines nothing
        {R"("v"=str(2):"%NonDefinita%\\x")", "%NonDefinita%\\x"},
        {R"("v"=str(2):"100%")", "100%"},
        {R"("v"=str(2):"")", ""},
        {R"("v"=hex(2):25,00,53,00,79,00,73,00,74,00,65,00,6d,00,44,00,72,00,69,00,76,00,65,00,25,00,00,00)", "C:"},
        {R"("v"=dword:00000001)", std::nullopt},
        {R"("v"=str(7):"%SystemRoot%\0")", std::nullopt},
        {R"("v"=hex:01,02)", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(query(c.line), c.path);
    }
}

// query_string keeps delivering REG_EXPAND_SZ as stored.
TEST_F(QueryPathTest, QueryStringIsNotExpanded) {
    std::ofstream(prefix_ / "system.reg", std::ios::binary) << kSystemReg;
    WineRegistry reg(prefix_);
    const RegKey key = reg.open_key(kHkeyLocalMachine, "System\\CurrentControlSet\\Control\\Session Manager\\Environment",
                                    reg_access::read);
    ASSERT_NE(key, 0u);
    EXPECT_EQ(reg.query_string(key, "windir"), "%SystemRoot%");
    EXPECT_EQ(reg.query_path(key, "windir"), "C:\\windows");
    reg.close_key(key);
}

// Without user.reg, the machine's variables; without either file nothing to query.
TEST_F(QueryPathTest, WithoutTheUsersRegistry) {
    EXPECT_EQ(query(R"("v"=str(2):"%TEMP%|%USERPROFILE%|%ProgramFiles%")"),
              "C:\\windows\\temp|%USERPROFILE%|C:\\Program Files (x86)");
}

TEST(RegistryArch, FromTheArchitectureLine) {
    std::string dir = (fs::temp_directory_path() / "wine_arch_test.XXXXXX").string();
    ASSERT_NE(::mkdtemp(dir.data()), nullptr);
    const fs::path folder = dir;
    struct Case {
        const char* text;
        std::optional<RegistryArch> arch;
    };
    const Case cases[] = {
        {"WINE REGISTRY Version 2\n#arch=win64\n", RegistryArch::win64},
        {"WINE REGISTRY Version 2\n#arch=win32\n", RegistryArch::win32},
        {"WINE REGISTRY Version 2\n\n[Software] 1\n", RegistryArch::win32},
        {"WINE REGISTRY Version 2\n#arch=arm64\n", std::nullopt},
        {"REGEDIT4\n", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::ofstream(folder / "system.reg", std::ios::binary | std::ios::trunc) << c.text;
        EXPECT_EQ(registry_arch(folder / "system.reg"), c.arch);
    }
    EXPECT_EQ(registry_arch(folder / "manca.reg"), std::nullopt);
    EXPECT_EQ(registry_arch(folder), std::nullopt);
    fs::remove_all(folder);
}

}  // namespace
}  // namespace aggiorna::portable
