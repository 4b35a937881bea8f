// Who really needs administrator rights: the access check that tells whether a virtualized run's
// writes to a host's folder would be redirected, a host set to run elevated through its
// manifest or its shortcuts, and the decision that puts them together.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/windows/files.h"
#include "platform/windows/handles.h"
#include "platform/windows/paths.h"
#include "platform/windows/program_manifest.h"
#include "platform/windows/redirection.h"
#include "platform/windows/shortcuts.h"
#include "platform/windows/text.h"
#include "platform/windows/win.h"
#include "windows/files_fixture.h"

#include <sddl.h>
#include <shobjidl.h>

namespace aggiorna::windows {
namespace {

using file_tests::FilesTest;

ScopedHandle own_impersonation_token() {
    HANDLE primary = nullptr;
    EXPECT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE, &primary));
    const ScopedHandle owned(primary);
    HANDLE duplicate = nullptr;
    EXPECT_TRUE(DuplicateToken(primary, SecurityIdentification, &duplicate));
    return ScopedHandle(duplicate);
}

// The folder's descriptor decides, with this run's token (Everyone is in every token): a folder
// that lets it create files and replace them takes its writes; one that does not would see them
// redirected. Users' "Modify" passed on to the files is enough (the replace deletes the old file
// through its own DELETE right); "Modify" on the folder alone is not.
TEST(WritesRedirected, FollowTheFoldersEntriesForThisRunsToken) {
    struct Case { const char* what; const wchar_t* sddl; bool may_write; };
    const Case cases[] = {
        {"full control, passed on", L"O:SYG:SYD:P(A;OICI;FA;;;WD)", true},
        {"read and execute", L"O:SYG:SYD:P(A;OICI;0x1200a9;;;WD)", false},
        {"modify, passed on to files", L"O:SYG:SYD:P(A;OICI;0x1301bf;;;WD)", true},
        {"modify on the folder alone", L"O:SYG:SYD:P(A;;0x1301bf;;;WD)", false},
        {"create files, files given everything", L"O:SYG:SYD:P(A;;0x1200af;;;WD)(A;OIIO;GA;;;WD)", true},
        {"full control but creating files denied", L"O:SYG:SYD:P(D;;0x2;;;WD)(A;OICI;FA;;;WD)", false},
        {"only the system", L"O:SYG:SYD:P(A;OICI;FA;;;SY)", false},
        {"nothing at all", L"O:SYG:SYD:P", false},
        {"modify passed on only to the files' creator", L"O:SYG:SYD:P(A;;0x1301bf;;;WD)(A;OIIO;GA;;;CO)", false},
        {"files passed a denial of writing", L"O:SYG:SYD:P(D;OIIO;0x2;;;WD)(A;OICI;0x1301bf;;;WD)", false},
    };
    const ScopedHandle token = own_impersonation_token();
    ASSERT_TRUE(token.valid());
    for (const Case& c : cases) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(c.sddl, SDDL_REVISION_1, &descriptor, nullptr))
            << c.what;
        const ScopedLocal owned(descriptor);
        EXPECT_EQ(token_may_write_in(descriptor, nullptr, token.get()), c.may_write) << c.what;
    }
}

// An existing file's own entries decide its replace where the folder does not let the run
// delete what it holds.
TEST(WritesRedirected, AnExistingFilesOwnEntriesDecideItsReplace) {
    struct Case { const char* what; const wchar_t* file; bool may_write; };
    const Case cases[] = {
        {"a file Users may modify", L"O:SYG:SYD:(A;;0x1301bf;;;WD)", true},
        {"a file they may only read", L"O:SYG:SYD:(A;;0x1200a9;;;WD)", false},
        {"a file they may only read, in a folder that lets them delete what it holds", L"O:SYG:SYD:(A;;0x1200a9;;;WD)",
         true},
    };
    const ScopedHandle token = own_impersonation_token();
    const wchar_t* folders[] = {L"O:SYG:SYD:P(A;;0x1200af;;;WD)", L"O:SYG:SYD:P(A;;0x1200af;;;WD)",
                                L"O:SYG:SYD:P(A;OICI;FA;;;WD)"};
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        PSECURITY_DESCRIPTOR folder = nullptr, file = nullptr;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(folders[i], SDDL_REVISION_1, &folder, nullptr));
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(cases[i].file, SDDL_REVISION_1, &file, nullptr));
        const ScopedLocal folder_owner(folder), file_owner(file);
        EXPECT_EQ(token_may_write_in(folder, file, token.get()), cases[i].may_write) << cases[i].what;
    }
}

// The test's own folder lets this run write; a folder that cannot be read counts as redirected
// (as a virtualized run's writes to such a folder were always taken to be).
TEST_F(FilesTest, ThisRunsWritesToItsOwnFolderAreNotRedirected) {
    write("Estr.bin", "x");
    EXPECT_FALSE(writes_would_be_redirected(wide(folder_), {}));
    EXPECT_FALSE(writes_would_be_redirected(wide(folder_), wide(path("Estr.bin"))));
    EXPECT_TRUE(writes_would_be_redirected(wide(path("Manca")), {}));
}

TEST(ProgramManifest, AsksForAdministratorOnlyWithThoseLevels) {
    const std::pair<const char*, bool> cases[] = {
        {R"(<requestedExecutionLevel level="requireAdministrator" uiAccess="false"/>)", true},
        {R"(<requestedExecutionLevel uiAccess='false' level='highestAvailable'/>)", true},
        {R"(<ms_asmv2:requestedExecutionLevel level = "requireAdministrator" />)", true},
        {R"(<requestedExecutionLevel level="asInvoker" uiAccess="false"/>)", false},
        {R"(<requestedExecutionLevel xlevel="requireAdministrator" level="asInvoker"/>)", false},
        {R"(<!-- no level --><assembly/>)", false},
        {R"(<requestedExecutionLevels level="requireAdministrator"/>)", false},
        {R"(<requestedExecutionLevel
               level="highestAvailable"/>)", true},
        {"", false},
    };
    for (const auto& [manifest, asks] : cases) EXPECT_EQ(manifest_asks_for_administrator(manifest), asks) << manifest;
}

// A copy of this test program carrying `manifest` as its own (resource 1 of RT_MANIFEST), as a
// host's program file would: the program files the manifest reader sees in the tests.
void program_with_manifest(const std::wstring& program, const std::string& manifest) {
    std::wstring self(MAX_PATH, L'\0');
    self.resize(GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size())));
    ASSERT_TRUE(CopyFileW(self.c_str(), program.c_str(), FALSE));
    const HANDLE update = BeginUpdateResourceW(program.c_str(), FALSE);
    ASSERT_NE(update, nullptr);
    ASSERT_TRUE(UpdateResourceW(update, RT_MANIFEST, MAKEINTRESOURCEW(1), MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL),
                                const_cast<char*>(manifest.data()), static_cast<DWORD>(manifest.size())));
    ASSERT_TRUE(EndUpdateResourceW(update, FALSE));
}

std::string manifest_asking(const char* level) {
    return std::string(R"(<?xml version="1.0" encoding="UTF-8"?><assembly xmlns="urn:schemas-microsoft-com:asm.v1" )"
                       R"(manifestVersion="1.0"><trustInfo xmlns="urn:schemas-microsoft-com:asm.v3"><security>)"
                       R"(<requestedPrivileges><requestedExecutionLevel level=")") +
           level + R"(" uiAccess="false"/></requestedPrivileges></security></trustInfo></assembly>)";
}

// Read from a real program file, whole; a file that is not there has none.
TEST_F(FilesTest, AProgramFilesManifestIsReadFromIt) {
    const std::string program = path("programma.exe");
    program_with_manifest(wide(program), manifest_asking("asInvoker"));
    const std::string manifest = program_manifest(wide(program));
    EXPECT_EQ(manifest, manifest_asking("asInvoker"));
    EXPECT_FALSE(manifest_asks_for_administrator(manifest));
    EXPECT_EQ(program_manifest(L"C:\\nessuno\\manca.exe"), "");
}

// A host's program file whose own manifest asks for administrator rights, as a host's build
// would carry it: the folder's host runs elevated.
TEST_F(FilesTest, AProgramFilesManifestAskingForAdministratorIsFound) {
    const std::string program = path("quintrel.exe");
    program_with_manifest(wide(program), manifest_asking("asInvoker"));
    EXPECT_FALSE(folder_has_program_with_administrator_manifest(wide(folder_)));
    program_with_manifest(wide(program), manifest_asking("requireAdministrator"));
    EXPECT_EQ(program_manifest(wide(program)), manifest_asking("requireAdministrator"));
    EXPECT_TRUE(folder_has_program_with_administrator_manifest(wide(folder_)));
    EXPECT_FALSE(folder_has_program_with_administrator_manifest(wide(path("Manca"))));
}

// Shortcuts made with the shell's own link object, as Explorer saves them: only one set to run as
// administrator and pointing into the host's folder counts, also in a folder below the places.
class ShortcutTest : public FilesTest {
protected:
    void SetUp() override {
        FilesTest::SetUp();
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        for (const char* name : {"Quintrel4", "Altrove", "Desktop", "Start", "Start\\Programmi", "Start\\Programmi\\Quibex"}) {
            ASSERT_TRUE(CreateDirectoryW(wide(path(name)).c_str(), nullptr)) << name;
        }
    }
    void TearDown() override {
        for (const std::string& link : links_) DeleteFileW(wide(link).c_str());
        for (const char* name : {"Start\\Programmi\\Quibex", "Start\\Programmi", "Start", "Desktop", "Altrove", "Quintrel4"}) {
            RemoveDirectoryW(wide(path(name)).c_str());
        }
        CoUninitialize();
        FilesTest::TearDown();
    }
    void link(const std::string& where, const std::string& target, bool as_administrator) {
        ComPtr<IShellLinkW> shell_link;
        ASSERT_TRUE(SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                               shell_link.put_void())));
        ASSERT_TRUE(SUCCEEDED(shell_link->SetPath(wide(target).c_str())));
        ComPtr<IShellLinkDataList> data;
        ASSERT_TRUE(SUCCEEDED(shell_link->QueryInterface(IID_IShellLinkDataList, data.put_void())));
        DWORD flags = 0;
        data->GetFlags(&flags);
        flags = as_administrator ? (flags | SLDF_RUNAS_USER) : (flags & ~DWORD{SLDF_RUNAS_USER});
        data->SetFlags(flags);
        ComPtr<IPersistFile> file;
        ASSERT_TRUE(SUCCEEDED(shell_link->QueryInterface(IID_IPersistFile, file.put_void())));
        ASSERT_TRUE(SUCCEEDED(file->Save(wide(where).c_str(), TRUE)));
        links_.push_back(where);
        // Wine's link object keeps no such flag: it is written into the saved header (LinkFlags,
        // at offset 20 of a shell link file) as Explorer saves it, and read from there below.
        const HANDLE saved = CreateFileW(wide(where).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(saved, INVALID_HANDLE_VALUE);
        DWORD header_flags = 0, got = 0;
        SetFilePointer(saved, 20, nullptr, FILE_BEGIN);
        ReadFile(saved, &header_flags, sizeof header_flags, &got, nullptr);
        header_flags = as_administrator ? (header_flags | SLDF_RUNAS_USER) : (header_flags & ~DWORD{SLDF_RUNAS_USER});
        SetFilePointer(saved, 20, nullptr, FILE_BEGIN);
        WriteFile(saved, &header_flags, sizeof header_flags, &got, nullptr);
        CloseHandle(saved);
    }
    std::vector<std::string> links_;

    // The shell's own reading of a link (its target), with the flags of its saved header.
    static std::optional<Shortcut> read_with_header_flags(const std::wstring& link) {
        std::optional<Shortcut> shortcut = read_shortcut(link);
        if (!shortcut) return shortcut;
        const HANDLE saved = CreateFileW(link.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        DWORD got = 0;
        SetFilePointer(saved, 20, nullptr, FILE_BEGIN);
        ReadFile(saved, &shortcut->flags, sizeof shortcut->flags, &got, nullptr);
        CloseHandle(saved);
        return shortcut;
    }
};

TEST_F(ShortcutTest, TheShellReadsAShortcutsTarget) {
    write("Quintrel4\\quintrel.exe", "MZ");
    link(path("Desktop\\Quintrel.lnk"), path("Quintrel4\\quintrel.exe"), true);
    const auto shortcut = read_shortcut(wide(path("Desktop\\Quintrel.lnk")));
    ASSERT_TRUE(shortcut.has_value());
    EXPECT_TRUE(lies_in(shortcut->target, wide(path("Quintrel4\\quintrel.exe")))) << to_utf8(shortcut->target);
    EXPECT_FALSE(read_shortcut(wide(path("Desktop\\Manca.lnk"))).has_value());
}

TEST_F(ShortcutTest, OnlyAShortcutToTheHostSetToRunAsAdministratorCounts) {
    write("Quintrel4\\quintrel.exe", "MZ");
    write("Altrove\\altro.exe", "MZ");
    const std::vector<std::wstring> places = {wide(path("Desktop")), wide(path("Start"))};
    const std::wstring host = wide(path("Quintrel4"));
    const auto shortcut_runs_as_administrator = [](const std::vector<std::wstring>& places, const std::wstring& folder) {
        return windows::shortcut_runs_as_administrator(places, folder, read_with_header_flags);
    };
    EXPECT_FALSE(shortcut_runs_as_administrator(places, host));
    link(path("Desktop\\Quintrel.lnk"), path("Quintrel4\\quintrel.exe"), false);
    EXPECT_FALSE(shortcut_runs_as_administrator(places, host)) << "a plain shortcut";
    link(path("Desktop\\Altro.lnk"), path("Altrove\\altro.exe"), true);
    EXPECT_FALSE(shortcut_runs_as_administrator(places, host)) << "another program set to run as administrator";
    link(path("Start\\Programmi\\Quibex\\Quintrel! Professional 4.lnk"), path("Quintrel4\\quintrel.exe"), true);
    EXPECT_TRUE(shortcut_runs_as_administrator(places, host)) << "the host's, in a folder of the Start menu";
    EXPECT_FALSE(shortcut_runs_as_administrator({wide(path("Desktop"))}, host)) << "not among the places";
    EXPECT_FALSE(shortcut_runs_as_administrator(places, wide(path("Altrove\\Sotto"))));
    EXPECT_TRUE(shortcut_runs_as_administrator(places, wide(path("Altrove"))));
    write("Desktop\\rotto.lnk", "not a shortcut");
    links_.push_back(path("Desktop\\rotto.lnk"));
    EXPECT_TRUE(shortcut_runs_as_administrator(places, host)) << "a file that is no shortcut is passed over";
}

// The decision: a run that Windows virtualizes, a folder that it virtualizes, writes there that
// this run may not make (and so would be redirected), and a host set to run as administrator.
// Only all four together mean the host would not see the update.
TEST(HostRunsElevated, OnlyWhenEveryConditionHolds) {
    struct Case { bool virtualized; bool protected_folder; bool redirected; bool set_to_administrator; bool elevated; };
    const Case cases[] = {
        {true, true, true, true, true},
        {false, true, true, true, false},  // started as administrator: writes the real files
        {true, false, true, true, false},  // a folder Windows does not virtualize
        {true, true, false, true, false},  // the installer let Users write there: the real files
        {true, true, true, false, false},  // the host runs virtualized too and reads the store
        {false, false, false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.virtualized << c.protected_folder << c.redirected << c.set_to_administrator);
        std::vector<std::string> asked;
        SystemQueries system;
        system.store = VirtualStore{"C:\\Users\\Mario\\AppData\\Local\\VirtualStore", {"C:\\Program Files (x86)"}};
        system.store.virtualized = c.virtualized;
        system.writes_redirected = [&](const std::wstring& folder, const std::wstring&) {
            asked.push_back(to_utf8(folder));
            return c.redirected;
        };
        system.runs_as_administrator = [&](const std::string&) { return c.set_to_administrator; };
        const std::string folder = c.protected_folder ? "C:\\Program Files (x86)\\Quintrel4" : "C:\\Quintrel4";
        EXPECT_EQ(WindowsFileSystem(system).host_runs_elevated(folder), c.elevated);
        for (const std::string& at : asked) EXPECT_EQ(at, folder);
    }
}

}  // namespace
}  // namespace aggiorna::windows
