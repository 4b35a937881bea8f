// What the copy decides from answers that Windows gives and Wine does not (holders named by the
// Restart Manager, volumes that drop the delete-on-close mark, DACLs, virtualized runs), each
// given by the test; and what Wine does show for real: hidden and system attributes, the
// compatibility settings in the registry, the desktop user's folders.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "platform/windows/desktop_user.h"
#include "platform/windows/files.h"
#include "platform/windows/paths.h"
#include "platform/windows/restart_manager.h"
#include "platform/windows/run_as_administrator.h"
#include "platform/windows/text.h"
#include "platform/windows/win.h"
#include "windows/child_process.h"
#include "windows/files_fixture.h"

#include <sddl.h>

namespace aggiorna::windows {
namespace {

using file_tests::FilesTest;
using file_tests::VirtualStoreTest;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

// The Error a copy throws; code 0 when it succeeds.
Error copy_failure(WindowsFileSystem& files, const std::string& source, const std::string& destination) {
    try {
        files.copy_file(source, destination);
    } catch (const Error& e) {
        return e;
    }
    return Error(0);
}

TEST(Paths, LiesInComparesAsWindowsDoes) {
    wchar_t temp[MAX_PATH + 1] = {};
    ASSERT_GT(GetTempPathW(MAX_PATH + 1, temp), 0u);
    const std::wstring folder = std::wstring(temp) + L"Aggiorna Quintrel Lungo " + std::to_wstring(GetCurrentProcessId());
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    wchar_t short_form[MAX_PATH + 1] = {};
    const DWORD short_length = GetShortPathNameW(folder.c_str(), short_form, MAX_PATH + 1);
    struct Case { std::wstring path, folder; bool inside; };
    std::vector<Case> cases = {
        {L"C:\\Programmi\\Quintrel4\\quintrel.exe", L"C:\\Programmi\\Quintrel4", true},
        {L"c:/programmi//QUINTREL4/Aiuto/aiuto.exe", L"C:\\Programmi\\Quintrel4\\", true},
        {L"C:\\Programmi\\Quintrel4", L"C:\\Programmi\\Quintrel4", true},
        {L"C:\\Programmi\\Quintrel4x\\quintrel.exe", L"C:\\Programmi\\Quintrel4", false},
        {L"C:\\Programmi\\quintrel.exe", L"C:\\Programmi\\Quintrel4", false},
        {L"D:\\Programmi\\Quintrel4\\quintrel.exe", L"C:\\Programmi\\Quintrel4", false},
        {L"C:\\Programmi\\Quintrel4\\quintrel.exe", L"", false},
        {folder + L"\\quintrel.exe", folder, true},
    };
    if (short_length > 0 && short_length <= MAX_PATH && folder != short_form) {
        cases.push_back({folder + L"\\quintrel.exe", short_form, true});
        cases.push_back({std::wstring(short_form) + L"\\quintrel.exe", folder, true});
    }
    for (const Case& c : cases) {
        EXPECT_EQ(lies_in(c.path, c.folder), c.inside) << to_utf8(c.path) << " in " << to_utf8(c.folder);
    }
    RemoveDirectoryW(folder.c_str());
}

// A destination still held after the wait: the holders named by the Restart Manager decide
// between the in-use message (the host, or nobody named) and the names of other programs.
TEST_F(FilesTest, HoldersOutsideTheHostsFolderAreNamedTheHostIsNot) {
    using enum HolderKind;
    struct Case {
        const char* what;
        std::vector<Holder> holders;  // "<host>" in a program path stands for the test folder
        std::vector<std::string> named;
        bool services;  // the user is told to wait: nothing named can be closed
    };
    const Case cases[] = {
        {"nobody named (Wine)", {}, {}, false},
        {"a sync program", {{L"Microsoft OneDrive", L"C:\\Program Files\\Microsoft OneDrive\\OneDrive.exe", application}},
         {"Microsoft OneDrive"}, false},
        {"the host", {{L"Quintrel! Professional", L"<host>\\quintrel.exe", application}}, {}, false},
        {"the host among others",
         {{L"Esplora risorse", L"C:\\Windows\\explorer.exe", application}, {L"Quintrel", L"<host>\\QUINTREL.EXE", application}},
         {}, false},
        {"the host among services",
         {{L"Windows Search", L"", service}, {L"Quintrel", L"<host>\\quintrel.exe", application}}, {}, false},
        {"a program of the host's, in a folder below", {{L"Aiuto", L"<host>\\Aiuto\\aiuto.exe", application}}, {}, false},
        {"a service whose program file is not ours to see, and a program twice",
         {{L"Windows Search", L"", service}, {L"Backup Città", L"D:\\Backup\\backup.exe", application},
          {L"Backup Città", L"D:\\Backup\\backup.exe", application}},
         {"Windows Search", "Backup Città"}, false},
        {"a service alone", {{L"Windows Search", L"", service}}, {"Windows Search"}, true},
        {"a service and a critical process",
         {{L"Windows Defender Antivirus Service", L"C:\\ProgramData\\Defender\\MsMpEng.exe", service},
          {L"Client Server Runtime", L"C:\\Windows\\System32\\csrss.exe", critical}},
         {"Windows Defender Antivirus Service", "Client Server Runtime"}, true},
        {"a critical process alone", {{L"csrss.exe", L"", critical}}, {"csrss.exe"}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<Holder> holders = c.holders;
        for (Holder& h : holders) {
            if (h.program.starts_with(L"<host>")) h.program = wide(folder_) + h.program.substr(6);
        }
        std::vector<std::wstring> asked;
        SystemQueries system;
        system.store = {};
        system.holders = [&](const std::wstring& held) {
            asked.push_back(held);
            return holders;
        };
        WindowsFileSystem files(system);
        write("Estr.bin", "nuovo archivio");
        write("Dest.bin", "vecchio");
        const HANDLE held = hold("Dest.bin", 0);
        ASSERT_NE(held, nullptr);
        const Error e = copy_failure(files, path("Estr.bin"), path("Dest.bin"));
        CloseHandle(held);
        EXPECT_EQ(e.code(), code::path_file_access);
        EXPECT_THAT(e.holders(), ElementsAreArray(c.named));
        EXPECT_EQ(e.holders_are_services(), c.services);
        ASSERT_EQ(asked.size(), 1u);
        EXPECT_TRUE(lies_in(asked[0], wide(path("Dest.bin"))));
        EXPECT_EQ(read("Dest.bin"), "vecchio");
        expect_no_temporary();
    }
}

// The real Restart Manager on a file a child process holds: Windows names that process (its
// program file is this test program); Wine's stub names nobody. Either way it never names this
// process, which holds nothing, and the call comes back.
TEST(FilesChild, DISABLED_HoldsWhatTheParentAsks) {
    wchar_t asked[4096] = {};
    const DWORD length = GetEnvironmentVariableW(L"AGGIORNA_TEST_TIENI", asked, 4096);
    ASSERT_TRUE(length > 0 && length < 4096);
    const HANDLE held = CreateFileW(asked, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    Sleep(30000);  // ended by the parent
    CloseHandle(held);
}

TEST_F(FilesTest, TheRestartManagerNamesTheHoldingProcessOrNobody) {
    write("Dest.bin", "vecchio");
    const std::wstring held = wide(path("Dest.bin"));
    const ScopedHandle child = test_children::start_child_test(L"FilesChild.DISABLED_HoldsWhatTheParentAsks",
                                                               {{L"AGGIORNA_TEST_TIENI", held.c_str()}});
    ASSERT_TRUE(child.valid());
    bool holding = false;
    for (int i = 0; i < 200 && !holding; ++i) {
        const HANDLE probe = hold("Dest.bin", file_tests::kShareAll);
        holding = probe == nullptr;
        if (!holding) {
            CloseHandle(probe);
            Sleep(50);
        }
    }
    const std::vector<Holder> holders = restart_manager_holders(wide(path("Dest.bin")));
    test_children::kill_child(child);
    ASSERT_TRUE(holding) << "the child never held the file";
    wchar_t self[MAX_PATH] = {};
    ASSERT_GT(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
    for (const Holder& h : holders) {
        EXPECT_FALSE(h.name.empty());
        EXPECT_TRUE(h.program.empty() || lies_in(h.program, self)) << to_utf8(h.program);
    }
    if (holders.empty()) std::printf("the Restart Manager named nobody (Wine's stub)\n");
}

TEST(DeleteMark, ReliableOnlyOnLocalDisksWithWindowsOwnFileSystems) {
    struct Case { UINT type; const wchar_t* file_system; bool reliable; };
    const Case cases[] = {
        {DRIVE_FIXED, L"NTFS", true},     {DRIVE_FIXED, L"ReFS", true},    {DRIVE_REMOVABLE, L"FAT32", true},
        {DRIVE_REMOVABLE, L"exFAT", true}, {DRIVE_FIXED, L"FAT", true},     {DRIVE_RAMDISK, L"NTFS", true},
        {DRIVE_FIXED, L"ntfs", true},     {DRIVE_REMOTE, L"NTFS", false},  {DRIVE_UNKNOWN, L"NTFS", false},
        {DRIVE_NO_ROOT_DIR, L"", false},  {DRIVE_FIXED, L"Ext2", false},   {DRIVE_FIXED, L"Dokan", false},
        {DRIVE_FIXED, L"", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(delete_mark_reliable(c.type, c.file_system), c.reliable) << c.type << " " << to_utf8(c.file_system);
    }
    // Wine's drive C: is a fixed NTFS disk.
    wchar_t windows[MAX_PATH] = {};
    ASSERT_GT(GetWindowsDirectoryW(windows, MAX_PATH), 0u);
    EXPECT_TRUE(volume_keeps_delete_mark(windows));
}

// A folder on a drive that tests/windows/network_drive.sh makes a network drive of
// (AGGIORNA_TEST_NETWORK_DRIVE): no mark is used there; copies still replace in one step and a
// failed one leaves no temporary.
TEST(NetworkDrive, CopiesWithoutTheMarkAndLeaveNothingBehind) {
    wchar_t drive[8] = {};
    const DWORD length = GetEnvironmentVariableW(L"AGGIORNA_TEST_NETWORK_DRIVE", drive, 8);
    if (length == 0 || length >= 8) GTEST_SKIP() << "no network drive: run tests/windows/network_drive.sh";
    const std::wstring root = std::wstring(drive) + L"\\";
    EXPECT_EQ(GetDriveTypeW(root.c_str()), static_cast<UINT>(DRIVE_REMOTE));
    EXPECT_FALSE(volume_keeps_delete_mark(root + L"Quintrel"));
    const std::string host = to_utf8(drive) + "\\Quintrel";
    ASSERT_TRUE(CreateDirectoryW(to_wide(host, 52).c_str(), nullptr));
    const auto put = [](const std::string& file, const std::string& bytes) {
        HANDLE h = CreateFileW(to_wide(file, 52).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD written = 0;
        WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        CloseHandle(h);
    };
    put(host + "\\Estr.bin", "vecchio");
    put(host + "\\nuovo.bin", "nuovo archivio");
    WindowsFileSystem files;
    files.copy_file(host + "\\nuovo.bin", host + "\\Estr.bin");
    // A failure once the temporary is written (its DACL refused): removed by name.
    SystemQueries refusing;
    refusing.volume_keeps_acls = [](HANDLE) { return true; };
    refusing.set_dacl = [](HANDLE, PACL, bool) -> DWORD { return ERROR_ACCESS_DENIED; };
    WindowsFileSystem failing(refusing);
    put(host + "\\nuovo.bin", "ancora più nuovo");
    EXPECT_EQ(copy_failure(failing, host + "\\nuovo.bin", host + "\\Estr.bin").code(), code::permission_denied);
    std::vector<std::string> names;
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(to_wide(host + "\\*", 52).c_str(), &found);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    do {
        if (found.cFileName[0] != L'.') names.push_back(to_utf8(found.cFileName));
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Estr.bin", "nuovo.bin"}));
    HANDLE h = CreateFileW(to_wide(host + "\\Estr.bin", 52).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    char buffer[64] = {};
    DWORD got = 0;
    ReadFile(h, buffer, sizeof buffer, &got, nullptr);
    CloseHandle(h);
    EXPECT_EQ(std::string(buffer, got), "nuovo archivio");
    for (const char* name : {"Estr.bin", "nuovo.bin"}) DeleteFileW(to_wide(host + "\\" + name, 52).c_str());
    RemoveDirectoryW(to_wide(host, 52).c_str());
}

// Without the mark, a copy that fails after its temporary was written removes it by name.
TEST_F(FilesTest, WithoutTheMarkAFailedCopyRemovesItsTemporaryByName) {
    SystemQueries system;
    system.store = {};
    system.delete_mark_reliable = [](const std::wstring&) { return false; };
    system.volume_keeps_acls = [](HANDLE) { return true; };
    system.set_dacl = [](HANDLE, PACL, bool) -> DWORD { return ERROR_ACCESS_DENIED; };
    WindowsFileSystem files(system);
    write("Estr.bin", "nuovo archivio");
    write("Dest.bin", "vecchio");
    files.copy_file(path("Estr.bin"), path("Nuovo.bin"));  // nothing replaced: no DACL to give
    EXPECT_EQ(read("Nuovo.bin"), "nuovo archivio");
    EXPECT_EQ(copy_failure(files, path("Estr.bin"), path("Dest.bin")).code(), code::permission_denied);
    EXPECT_EQ(read("Dest.bin"), "vecchio");
    expect_no_temporary();
}

// The entries of an ACL as text: type, flags, mask and SID of each, in order.
std::vector<std::string> entries(PACL acl) {
    std::vector<std::string> out;
    for (DWORD i = 0; acl != nullptr && i < acl->AceCount; ++i) {
        ACE_HEADER* ace = nullptr;
        if (!GetAce(acl, i, reinterpret_cast<void**>(&ace))) continue;
        auto* allowed = reinterpret_cast<ACCESS_ALLOWED_ACE*>(ace);  // the same layout for a deny
        LPWSTR sid = nullptr;
        ConvertSidToStringSidW(&allowed->SidStart, &sid);
        out.push_back(std::to_string(ace->AceType) + "/" + std::to_string(ace->AceFlags) + "/" +
                      std::to_string(allowed->Mask) + "/" + (sid ? to_utf8(sid) : std::string("?")));
        LocalFree(sid);
    }
    return out;
}

// Of a DACL, the entries the file has of its own go to the new file; those its folder passed on
// are the new file's folder's to give.
TEST(OwnDaclEntries, AreTheEntriesNotInheritedInTheirOrder) {
    PSID everyone = nullptr, users = nullptr;
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY, nt = SECURITY_NT_AUTHORITY;
    ASSERT_TRUE(AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone));
    ASSERT_TRUE(AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_USERS, 0, 0, 0, 0, 0, 0,
                                         &users));
    std::vector<BYTE> buffer(1024);
    auto* acl = reinterpret_cast<PACL>(buffer.data());
    ASSERT_TRUE(InitializeAcl(acl, static_cast<DWORD>(buffer.size()), ACL_REVISION));
    AddAccessDeniedAceEx(acl, ACL_REVISION, 0, FILE_GENERIC_EXECUTE, users);
    AddAccessAllowedAceEx(acl, ACL_REVISION, 0, FILE_GENERIC_WRITE, everyone);
    AddAccessAllowedAceEx(acl, ACL_REVISION, INHERITED_ACE, FILE_GENERIC_READ, users);
    AddAccessAllowedAceEx(acl, ACL_REVISION, INHERITED_ACE, FILE_ALL_ACCESS, everyone);
    std::vector<BYTE> own = own_dacl_entries(acl);
    const auto got = entries(reinterpret_cast<PACL>(own.data()));
    const auto all = entries(acl);
    ASSERT_EQ(all.size(), 4u);
    EXPECT_EQ(got, (std::vector<std::string>{all[0], all[1]}));
    // Nothing of its own: an empty ACL, and the new file takes only what its folder gives.
    std::vector<BYTE> only_inherited(1024);
    auto* inherited = reinterpret_cast<PACL>(only_inherited.data());
    InitializeAcl(inherited, 1024, ACL_REVISION);
    AddAccessAllowedAceEx(inherited, ACL_REVISION, INHERITED_ACE, FILE_GENERIC_READ, users);
    EXPECT_TRUE(entries(reinterpret_cast<PACL>(own_dacl_entries(inherited).data())).empty());
    FreeSid(everyone);
    FreeSid(users);
}

// The replaced file's own DACL entries go to the new file, protected or not as it was, before
// the rename (Wine keeps no DACL a program sets: what is handed over is what is checked).
TEST_F(FilesTest, TheReplacedFilesDaclIsGivenToTheNewFileBeforeTheRename) {
    struct Given { std::wstring file; std::vector<std::string> acl; bool protect; std::string destination_then; };
    std::vector<Given> given;
    SystemQueries system;
    system.store = {};
    system.volume_keeps_acls = [](HANDLE) { return true; };
    system.set_dacl = [&](HANDLE file, PACL dacl, bool protect) {
        wchar_t name[MAX_PATH * 2] = {};
        GetFinalPathNameByHandleW(file, name, MAX_PATH * 2, 0);
        given.push_back({name, entries(dacl), protect, read("Dest.bin")});
        return set_file_dacl(file, dacl, protect);
    };
    WindowsFileSystem files(system);
    write("Estr.bin", "nuovo archivio");
    write("Dest.bin", "vecchio");
    PACL expected = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(GetNamedSecurityInfoW(wide(path("Dest.bin")).c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                    nullptr, nullptr, &expected, nullptr, &descriptor),
              static_cast<DWORD>(ERROR_SUCCESS));
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    GetSecurityDescriptorControl(descriptor, &control, &revision);
    std::vector<std::string> own;
    for (const std::string& entry : entries(expected)) {
        // Type/flags/...: the file's own entries are those without INHERITED_ACE (0x10).
        const int flags = std::stoi(entry.substr(entry.find('/') + 1));
        if ((flags & INHERITED_ACE) == 0) own.push_back(entry);
    }
    LocalFree(descriptor);

    files.copy_file(path("Estr.bin"), path("Dest.bin"));
    ASSERT_EQ(given.size(), 1u);
    EXPECT_TRUE(is_temporary_name(to_utf8(given[0].file.substr(given[0].file.find_last_of(L'\\') + 1)), "Dest.bin"))
        << to_utf8(given[0].file);
    EXPECT_EQ(given[0].acl, own);
    EXPECT_EQ(given[0].protect, (control & SE_DACL_PROTECTED) != 0);
    EXPECT_EQ(given[0].destination_then, "vecchio");
    EXPECT_EQ(read("Dest.bin"), "nuovo archivio");

    // A new file takes the folder's permissions: nothing is handed over.
    files.copy_file(path("Estr.bin"), path("Nuovo.bin"));
    EXPECT_EQ(given.size(), 1u);
}

// The hidden and system attributes of a replaced file stay (Wine keeps them, as Windows does).
TEST_F(FilesTest, TheReplacedFilesHiddenAndSystemAttributesStay) {
    struct Case { DWORD before; DWORD kept; };
    const Case cases[] = {
        {FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_HIDDEN},
        {FILE_ATTRIBUTE_SYSTEM, FILE_ATTRIBUTE_SYSTEM},
        {FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM},
        {FILE_ATTRIBUTE_NORMAL, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.before);
        write("Estr.bin", "nuovo archivio");
        write("Dest.bin", "vecchio");
        ASSERT_TRUE(SetFileAttributesW(wide(path("Dest.bin")).c_str(), c.before));
        files_.copy_file(path("Estr.bin"), path("Dest.bin"));
        EXPECT_EQ(read("Dest.bin"), "nuovo archivio");
        const DWORD after = GetFileAttributesW(wide(path("Dest.bin")).c_str());
        EXPECT_EQ(after & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM), c.kept);
        SetFileAttributesW(wide(path("Dest.bin")).c_str(), FILE_ATTRIBUTE_NORMAL);
        expect_no_temporary();
    }
    // The delivered file's own attributes do not travel.
    write("Estr.bin", "nuovo archivio");
    SetFileAttributesW(wide(path("Estr.bin")).c_str(), FILE_ATTRIBUTE_HIDDEN);
    files_.copy_file(path("Estr.bin"), path("Nuovo.bin"));
    EXPECT_EQ(GetFileAttributesW(wide(path("Nuovo.bin")).c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
    SetFileAttributesW(wide(path("Estr.bin")).c_str(), FILE_ATTRIBUTE_NORMAL);
}

// Run as administrator, the component completed the real archive: the user's virtual copy of it
// is replaced with it, and none is made where there was none, nor in a virtualized run.
TEST_F(VirtualStoreTest, TheVirtualCopyIsRefreshedFromTheRealFile) {
    const std::string host = path("Programmi\\Quintrel4");
    put(host + "\\Estr.bin", "archivio completato");
    put(virtual_host_ + "\\Estr.bin", "archivio virtuale");
    put(host + "\\bl.bin", "bl");
    WindowsFileSystem files(store_);
    files.refresh_virtual_copy(host + "\\Estr.bin");
    EXPECT_EQ(get(virtual_host_ + "\\Estr.bin"), "archivio completato");
    EXPECT_EQ(get(host + "\\Estr.bin"), "archivio completato");
    files.refresh_virtual_copy(host + "\\bl.bin");
    EXPECT_EQ(get(virtual_host_ + "\\bl.bin"), "<missing>");

    put(virtual_host_ + "\\Estr.bin", "archivio virtuale");
    VirtualStore virtualized = store_;
    virtualized.virtualized = true;
    WindowsFileSystem(virtualized).refresh_virtual_copy(host + "\\Estr.bin");
    EXPECT_EQ(get(virtual_host_ + "\\Estr.bin"), "archivio virtuale");
}

TEST(RunAsAdministrator, TheLayersWordIsFoundInAnyCaseAmongOthers) {
    const std::pair<const wchar_t*, bool> cases[] = {
        {L"~ RUNASADMIN", true},       {L"RUNASADMIN", true},     {L"~ WINXPSP3 RUNASADMIN", true},
        {L"~ runasadmin HIGHDPIAWARE", true}, {L"~ WINXPSP3", false}, {L"~ RUNASADMINX", false},
        {L"", false},                  {L"~ RUNASINVOKER", false},
    };
    for (const auto& [layers, asks] : cases) EXPECT_EQ(layers_ask_for_administrator(layers), asks) << to_utf8(layers);
}

// The compatibility settings as the Properties dialog writes them (HKCU, a value named after the
// program's path), against a store that this test says is virtualized: Wine never virtualizes.
class RunAsAdministratorTest : public VirtualStoreTest {
protected:
    static constexpr const wchar_t* kLayers = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\Layers";
    void TearDown() override {
        for (const std::wstring& name : written_) RegDeleteKeyValueW(HKEY_CURRENT_USER, kLayers, name.c_str());
        VirtualStoreTest::TearDown();
    }
    void flag(const std::string& program, const wchar_t* layers) {
        const std::wstring name = wide(program);
        ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, kLayers, name.c_str(), REG_SZ, layers,
                                  static_cast<DWORD>((std::wcslen(layers) + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
        written_.push_back(name);
    }
    std::vector<std::wstring> written_;
};

TEST_F(RunAsAdministratorTest, AVirtualizedRunCannotReachAHostSetToRunAsAdministrator) {
    const std::string host = path("Programmi\\Quintrel4");
    const std::string elsewhere = path("Altrove");
    SystemQueries system;
    system.store = store_;
    system.store.virtualized = true;
    system.writes_redirected = [](const std::wstring&, const std::wstring&) { return true; };  // Wine never refuses the test's folder
    WindowsFileSystem files(system);
    system.store.virtualized = false;
    WindowsFileSystem elevated(system);
    EXPECT_FALSE(files.host_runs_elevated(host));  // no setting yet

    flag(host + "\\Aiuto.exe", L"~ WINXPSP3");
    EXPECT_FALSE(files.host_runs_elevated(host));
    flag(elsewhere + "\\quintrel.exe", L"~ RUNASADMIN");
    EXPECT_FALSE(files.host_runs_elevated(host));
    flag(host + "\\QUINTREL.EXE", L"~ RUNASADMIN WINXPSP3");
    EXPECT_TRUE(files.host_runs_elevated(host));
    EXPECT_TRUE(files.host_runs_elevated(host + "\\"));
    // A run that is not virtualized writes the real files; a folder Windows does not virtualize
    // takes the writes of any run.
    EXPECT_FALSE(elevated.host_runs_elevated(host));
    flag(elsewhere + "\\quintrel.exe", L"~ RUNASADMIN");
    EXPECT_FALSE(files.host_runs_elevated(elsewhere));
    EXPECT_TRUE(folder_has_program_run_as_administrator(elsewhere));
}

// Under Wine the shell's user is this process's: the desktop user's folders are the process's own.
TEST(DesktopUser, UnderWineTheFoldersAreTheProcesssOwn) {
    wchar_t own[MAX_PATH + 1] = {};
    ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, own), S_OK);
    EXPECT_EQ(desktop_user_folder(CSIDL_LOCAL_APPDATA), to_utf8(own));
    EXPECT_EQ(user_folder(CSIDL_LOCAL_APPDATA, nullptr), to_utf8(own));
    const DesktopUser user = find_desktop_user(system_desktop_user_queries());
    EXPECT_FALSE(user.other);
    EXPECT_FALSE(user.unknown);
    if (user.token.valid()) {
        EXPECT_EQ(user_folder(CSIDL_LOCAL_APPDATA, user.token.get()), to_utf8(own));
    }
    const VirtualStore store = system_virtual_store();
    EXPECT_EQ(store.root, to_utf8(own) + "\\VirtualStore");
    EXPECT_FALSE(store.other_user_unknown);
}

}  // namespace
}  // namespace aggiorna::windows
