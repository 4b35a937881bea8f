// What a copy reports (bytes, SHA-256, where each file landed, a desktop user's copy out of
// reach), the DACL it hands over, the checks of a destination without a copy, the facts and hash
// of a delivered file.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/windows/dacl_handover.h"
#include "platform/windows/files.h"
#include "platform/windows/sha256.h"
#include "platform/windows/text.h"
#include "platform/windows/win.h"
#include "windows/files_fixture.h"

#include <sddl.h>

namespace aggiorna::windows {
namespace {

using file_tests::FilesTest;
using file_tests::VirtualStoreTest;

// The standard's test vectors, and a text long enough to take several reads of the copy.
TEST(Sha256, GivesTheKnownDigests) {
    const std::pair<std::string, const char*> cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& [text, digest] : cases) {
        Sha256 hash;
        hash.add(text.data(), text.size());
        EXPECT_EQ(hash.finish(), digest) << text.size() << " bytes";
    }
}

TEST_F(FilesTest, AFilesHashAndACopysReportAgree) {
    write("Estr.bin", std::string(1000000, 'a'));
    const std::string digest = "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0";
    EXPECT_EQ(files_.sha256(path("Estr.bin")), digest);
    const CopyReport report = files_.copy_file(path("Estr.bin"), path("Dest.bin"));
    EXPECT_EQ(report.bytes, 1000000u);
    EXPECT_EQ(report.sha256, digest);
    EXPECT_EQ(report.landed, std::vector<std::string>{path("Dest.bin")});
    EXPECT_FALSE(report.user_copy_unknown);
    write("vuoto", "");
    const CopyReport empty = files_.copy_file(path("vuoto"), path("Dest.bin"));
    EXPECT_EQ(empty.bytes, 0u);
    EXPECT_EQ(empty.sha256, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    try {
        files_.sha256(path("Manca.bin"));
        ADD_FAILURE() << "hashed a missing file";
    } catch (const Error& e) {
        EXPECT_EQ(e.code(), code::file_not_found);
    }
}

TEST_F(FilesTest, FileFactsTellWhatStandsThere) {
    write("Estr.bin", std::string(12345, 'x'));
    CreateDirectoryW(wide(path("Cartella")).c_str(), nullptr);
    // 2024-02-29 13:45:07 local time as the file's last write.
    SYSTEMTIME local = {2024, 2, 0, 29, 13, 45, 7, 0};
    SYSTEMTIME universal = {};
    FILETIME written = {};
    ASSERT_TRUE(TzSpecificLocalTimeToSystemTime(nullptr, &local, &universal));
    ASSERT_TRUE(SystemTimeToFileTime(&universal, &written));
    HANDLE file = CreateFileW(wide(path("Estr.bin")).c_str(), FILE_WRITE_ATTRIBUTES, file_tests::kShareAll, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    SetFileTime(file, nullptr, nullptr, &written);
    CloseHandle(file);

    const auto facts = files_.file_facts(path("Estr.bin"));
    ASSERT_TRUE(facts.has_value());
    EXPECT_FALSE(facts->directory);
    EXPECT_TRUE(facts->regular);
    EXPECT_EQ(facts->size, 12345u);
    EXPECT_EQ(facts->modified, "2024-02-29 13:45:07");
    const auto folder = files_.file_facts(path("Cartella"));
    ASSERT_TRUE(folder.has_value());
    EXPECT_TRUE(folder->directory);
    EXPECT_FALSE(folder->regular);
    EXPECT_EQ(folder->size, 0u);
    EXPECT_EQ(files_.file_facts(path("Manca.bin")), std::nullopt);
    EXPECT_EQ(files_.file_facts(path("Manca\\Estr.bin")), std::nullopt);
    EXPECT_EQ(files_.file_facts("\xff\xfe"), std::nullopt);  // not UTF-8: nothing, and no throw
}

// The facts are of the real file, never of the user's virtual copy (the delivered files).
TEST_F(VirtualStoreTest, FileFactsAreOfTheRealFile) {
    const std::string host = path("Programmi\\Quintrel4");
    put(host + "\\Estr.bin", "vero");
    put(virtual_host_ + "\\Estr.bin", "la copia virtuale");
    EXPECT_EQ(WindowsFileSystem(store_).file_facts(host + "\\Estr.bin")->size, 4u);
}

// Without writing anything, the same decisions as a copy's destination: missing is fine, a
// read-only file or a folder is 70, a file held open by another program 75 after the wait.
TEST_F(FilesTest, CheckReplaceableDecidesAsTheCopyWould) {
    struct Case { const char* what; const char* name; int expected; };
    write("Libero.bin", "x");
    write("Sola lettura.bin", "x");
    SetFileAttributesW(wide(path("Sola lettura.bin")).c_str(), FILE_ATTRIBUTE_READONLY);
    CreateDirectoryW(wide(path("Cartella")).c_str(), nullptr);
    write("Tenuto.bin", "x");
    const HANDLE held = hold("Tenuto.bin", file_tests::kShareAll);
    ASSERT_NE(held, nullptr);
    const Case cases[] = {
        {"a file nobody holds", "Libero.bin", 0},
        {"a missing file", "Manca.bin", 0},
        {"a missing folder", "Manca\\Estr.bin", 0},
        {"read-only", "Sola lettura.bin", code::permission_denied},
        {"a folder", "Cartella", code::permission_denied},
        {"held open, everything shared", "Tenuto.bin", code::path_file_access},
    };
    for (const Case& c : cases) {
        int code = 0;
        try {
            files_.check_replaceable(path(c.name));
        } catch (const Error& e) {
            code = e.code();
        }
        EXPECT_EQ(code, c.expected) << c.what;
    }
    CloseHandle(held);
    EXPECT_EQ(read("Tenuto.bin"), "x");
    EXPECT_EQ(list().size(), 4u) << "the check wrote something";
    SetFileAttributesW(wide(path("Sola lettura.bin")).c_str(), FILE_ATTRIBUTE_NORMAL);
}

// A file held by a service (the Restart Manager's application type): the check and the copy say
// so, for a message that asks to wait instead of to close it.
TEST_F(FilesTest, CheckReplaceableNamesHoldersAsTheCopyDoes) {
    SystemQueries system;
    system.store = {};
    system.holders = [](const std::wstring&) {
        return std::vector<Holder>{{L"Windows Search", L"", HolderKind::service}};
    };
    write("Tenuto.bin", "x");
    const HANDLE held = hold("Tenuto.bin", 0);
    ASSERT_NE(held, nullptr);
    try {
        WindowsFileSystem(system).check_replaceable(path("Tenuto.bin"));
        ADD_FAILURE() << "a held file is replaceable";
    } catch (const Error& e) {
        EXPECT_EQ(e.code(), code::path_file_access);
        EXPECT_EQ(e.holders(), std::vector<std::string>{"Windows Search"});
        EXPECT_TRUE(e.holders_are_services());
    }
    CloseHandle(held);
}

// An ACL of the given entries (SDDL ACE strings), as own_dacl_entries gives it.
std::vector<BYTE> acl_of(const wchar_t* sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    EXPECT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr));
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted);
    std::vector<BYTE> own = own_dacl_entries(dacl);
    LocalFree(descriptor);
    return own;
}

// The DACL goes to the new file (and WRITE_DAC is asked) only where the volume keeps DACLs and
// the old file has entries of its own or a protected DACL; a user's first virtual copy takes none.
TEST(DaclHandover, OnlyOwnEntriesOrAProtectedDaclOnVolumesThatKeepThem) {
    const std::vector<BYTE> own = acl_of(L"D:(A;;FA;;;BU)");
    const std::vector<BYTE> none = acl_of(L"D:");
    struct Case { const char* what; ReplacedDacl replaced; bool first_virtual_copy; bool hand_over; };
    const Case cases[] = {
        {"own entries", {true, true, true, own, false}, false, true},
        {"protected, no own entries", {true, true, true, none, true}, false, true},
        {"protected with own entries", {true, true, true, own, true}, false, true},
        {"only what the folder passes on", {true, true, true, none, false}, false, false},
        {"a volume that keeps no DACLs (a share's, FAT, Wine)", {true, false, true, own, true}, false, false},
        {"no DACL: open to everyone", {true, true, false, {}, false}, false, false},
        {"a DACL the user may not read, or no file", {false, true, true, own, true}, false, false},
        {"the user's first virtual copy", {true, true, true, own, true}, true, false},
    };
    for (const Case& c : cases) {
        const DaclHandover handover = decide_dacl_handover(c.replaced, c.first_virtual_copy);
        EXPECT_EQ(handover.hand_over, c.hand_over) << c.what;
        if (handover.hand_over) {
            EXPECT_EQ(handover.acl, c.replaced.own) << c.what;
            EXPECT_EQ(handover.protect, c.replaced.protect) << c.what;
        }
    }
    EXPECT_EQ(entry_count(own), 1u);
    EXPECT_EQ(entry_count(none), 0u);
}

// Through the copy: the DACL is handed over only when there is something of the file's own.
TEST_F(FilesTest, TheDaclIsSetOnlyWhenTheOldFileHasItsOwn) {
    int given = 0;
    SystemQueries system;
    system.store = {};
    system.volume_keeps_acls = [](HANDLE) { return true; };
    system.set_dacl = [&](HANDLE, PACL, bool) -> DWORD {
        ++given;
        return ERROR_SUCCESS;
    };
    WindowsFileSystem files(system);
    write("Estr.bin", "nuovo");
    write("Dest.bin", "vecchio");
    PSECURITY_DESCRIPTOR inherited_only = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:AI(A;ID;FA;;;WD)", SDDL_REVISION_1,
                                                                     &inherited_only, nullptr));
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    GetSecurityDescriptorDacl(inherited_only, &present, &dacl, &defaulted);
    // Wine keeps no DACL set on a file: whether the file then has entries of its own is Wine's
    // to say, and the test only asks that the DACL is handed over exactly when it has.
    SetNamedSecurityInfoW(wide(path("Dest.bin")).data(), SE_FILE_OBJECT,
                          DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION, nullptr, nullptr, dacl,
                          nullptr);
    LocalFree(inherited_only);
    const ReplacedDacl replaced = read_replaced_dacl(wide(path("Dest.bin")), system.volume_keeps_acls);
    const bool own = entry_count(replaced.own) > 0 || replaced.protect;
    files.copy_file(path("Estr.bin"), path("Dest.bin"));
    EXPECT_EQ(given, own ? 1 : 0);
    EXPECT_EQ(read("Dest.bin"), "nuovo");
}

// The copy that tests/windows/unix_mode.sh runs in a folder it made outside the prefix
// (AGGIORNA_TEST_UNIX_FOLDER, through drive Z:): "nuovo.bin" over "Estr.bin", with the real
// system's answers. The script then reads the archive's Unix mode.
TEST(WineUnixMode, ReplacesTheArchiveInTheFolderGiven) {
    wchar_t folder[1024] = {};
    const DWORD length = GetEnvironmentVariableW(L"AGGIORNA_TEST_UNIX_FOLDER", folder, 1024);
    if (length == 0 || length >= 1024) GTEST_SKIP() << "no folder: run tests/windows/unix_mode.sh";
    const std::string at = to_utf8(folder);
    WindowsFileSystem().copy_file(at + "\\nuovo.bin", at + "\\Estr.bin");
}

// A virtualized run writing into a folder where its writes are refused: Windows puts the file in
// the user's VirtualStore, and the report says so; the first virtual copy takes no DACL of the
// real file's. A folder where the run may write takes the real file.
TEST_F(VirtualStoreTest, AVirtualizedRunsCopyLandsWhereWindowsPutsIt) {
    const std::string host = path("Programmi\\Quintrel4");
    write("Estr.bin", "nuovo archivio");
    put(host + "\\Estr.bin", "archivio vero");
    struct Case { const char* what; bool redirected; bool virtual_copy_exists; std::string landed; int dacls_given; };
    const Case cases[] = {
        {"redirected, the first virtual copy", true, false, virtual_host_ + "\\Estr.bin", 0},
        {"redirected, over a virtual copy", true, true, virtual_host_ + "\\Estr.bin", 1},
        {"Users may write the host's folder", false, false, host + "\\Estr.bin", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DeleteFileW(wide(virtual_host_ + "\\Estr.bin").c_str());
        if (c.virtual_copy_exists) put(virtual_host_ + "\\Estr.bin", "archivio virtuale");
        int given = 0;
        SystemQueries system;
        system.store = store_;
        system.store.virtualized = true;
        system.writes_redirected = [&](const std::wstring&, const std::wstring&) { return c.redirected; };
        // The real file's DACL, which the first virtual copy must not take.
        system.volume_keeps_acls = [](HANDLE) { return true; };
        system.set_dacl = [&](HANDLE, PACL, bool) -> DWORD {
            ++given;
            return ERROR_SUCCESS;
        };
        const ReplacedDacl before = read_replaced_dacl(wide(host + "\\Estr.bin"), system.volume_keeps_acls);
        // Wine gives every file a DACL of its own from its Unix mode: that one stands for it.
        ASSERT_TRUE(entry_count(before.own) > 0 || before.protect);
        // Wine never redirects: the copy writes the path it is given, and only the report and the
        // DACL decision can show what Windows would do.
        const CopyReport report = WindowsFileSystem(system).copy_file(path("Estr.bin"), host + "\\Estr.bin");
        EXPECT_EQ(report.landed, std::vector<std::string>{c.landed});
        EXPECT_EQ(given, c.dacls_given);
        EXPECT_FALSE(report.user_copy_unknown);
    }
}

// Started with another account's password, the desktop's user could not be had: a copy into a
// folder Windows virtualizes says that user's own copy was not updated; elsewhere it does not.
TEST_F(VirtualStoreTest, AnotherUsersCopyOutOfReachIsReported) {
    const std::string host = path("Programmi\\Quintrel4");
    write("Estr.bin", "nuovo archivio");
    for (const bool unknown : {false, true}) {
        SCOPED_TRACE(unknown);
        VirtualStore store = store_;
        store.root.clear();
        store.other_user_unknown = unknown;
        WindowsFileSystem files(store);
        EXPECT_EQ(files.copy_file(path("Estr.bin"), host + "\\Estr.bin").user_copy_unknown, unknown);
        EXPECT_EQ(files.refresh_virtual_copy(host + "\\Estr.bin").user_copy_unknown, unknown);
        EXPECT_FALSE(files.copy_file(path("Estr.bin"), path("Dest.bin")).user_copy_unknown);
    }
}

// Run as administrator over a user's virtual copy: both files are reported, real one first.
TEST_F(VirtualStoreTest, TheReportNamesTheRealFileAndTheVirtualCopy) {
    const std::string host = path("Programmi\\Quintrel4");
    write("Estr.bin", "nuovo archivio");
    put(host + "\\Estr.bin", "archivio vero");
    put(virtual_host_ + "\\Estr.bin", "archivio virtuale");
    WindowsFileSystem files(store_);
    const CopyReport report = files.copy_file(path("Estr.bin"), host + "\\Estr.bin");
    EXPECT_EQ(report.landed, (std::vector<std::string>{host + "\\Estr.bin", virtual_host_ + "\\Estr.bin"}));
    EXPECT_EQ(report.bytes, 14u);
    put(host + "\\Estr.bin", "completato");
    const CopyReport refreshed = files.refresh_virtual_copy(host + "\\Estr.bin");
    EXPECT_EQ(refreshed.landed, std::vector<std::string>{virtual_host_ + "\\Estr.bin"});
    EXPECT_EQ(refreshed.bytes, 10u);
    EXPECT_EQ(get(virtual_host_ + "\\Estr.bin"), "completato");
    EXPECT_TRUE(files.refresh_virtual_copy(host + "\\bl.bin").landed.empty());
}

}  // namespace
}  // namespace aggiorna::windows
