// The file backend against Wine's file system: atomic copy, its error codes, attributes, reads.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/windows/files.h"
#include "platform/windows/text.h"
#include "platform/windows/win.h"
#include "windows/child_process.h"
#include "windows/files_fixture.h"

namespace aggiorna::windows {
namespace {

using file_tests::FilesTest;
using file_tests::kShareAll;
using file_tests::PipeSource;
using file_tests::VirtualStoreTest;

TEST_F(FilesTest, CopyCreatesThenReplacesAndLeavesNoTemporaryFile) {
    std::string archive(200000, '\0');
    for (std::size_t i = 0; i < archive.size(); ++i) archive[i] = static_cast<char>(i * 7 + 3);
    write("Estr.bin", archive);

    files_.copy_file(path("Estr.bin"), path("Estr.bi_"));
    EXPECT_EQ(read("Estr.bi_"), archive);

    write("bl.bin", std::string(300000, 'v'));
    write("Estr.bin", "nuovo");
    files_.copy_file(path("Estr.bin"), path("bl.bin"));
    EXPECT_EQ(read("bl.bin"), "nuovo");

    write("vuoto", "");
    files_.copy_file(path("vuoto"), path("Estr.bi_"));
    EXPECT_EQ(read("Estr.bi_"), "");

    EXPECT_EQ(list().size(), 4u) << "a temporary file was left behind";
}

TEST_F(FilesTest, ADoubledBackslashBeforeTheNameIsAccepted) {
    write("Estr.bin", "archivio");
    files_.copy_file(path("Estr.bin"), folder_ + "\\\\Estr.bi_");
    EXPECT_EQ(read("Estr.bi_"), "archivio");
    EXPECT_EQ(list().size(), 2u);
}

TEST_F(FilesTest, CopyFailuresHaveTheirCodesAndLeaveTheDestinationAsItWas) {
    struct Case {
        const char* what;
        DWORD hold_share;  // a second handle open on the destination with this sharing
        bool hold;
        bool read_only;
        bool missing_source;
        int expected;
    };
    const DWORD all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const Case cases[] = {
        {"held open, no sharing", 0, true, false, false, code::path_file_access},
        {"held open, read sharing", FILE_SHARE_READ, true, false, false, code::path_file_access},
        {"held open, full sharing", all, true, false, false, code::path_file_access},
        {"read-only destination", 0, false, true, false, code::permission_denied},
        {"missing source", 0, false, false, true, code::file_not_found},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        write("Estr.bin", "nuovo archivio");
        write("Dest.bin", "vecchio");
        if (c.missing_source) DeleteFileW(wide(path("Estr.bin")).c_str());
        if (c.read_only) {
            SetFileAttributesW(wide(path("Dest.bin")).c_str(), FILE_ATTRIBUTE_READONLY);
        }
        HANDLE held = INVALID_HANDLE_VALUE;
        if (c.hold) {
            held = CreateFileW(wide(path("Dest.bin")).c_str(), GENERIC_READ | GENERIC_WRITE,
                               c.hold_share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                               nullptr);
            ASSERT_NE(held, INVALID_HANDLE_VALUE);
        }
        EXPECT_EQ(copy_error(path("Estr.bin"), path("Dest.bin")), c.expected);
        if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
        EXPECT_EQ(read("Dest.bin"), "vecchio");
        SetFileAttributesW(wide(path("Dest.bin")).c_str(), FILE_ATTRIBUTE_NORMAL);
        expect_no_temporary();
    }
}

// Antivirus, backup agents and Explorer's preview hold a file for a moment: that is no host.
TEST_F(FilesTest, ADestinationHeldForAMomentIsReplacedOnceReleased) {
    for (const DWORD share : {DWORD{0}, kShareAll}) {
        SCOPED_TRACE(share);
        write("Estr.bin", "nuovo archivio");
        write("Dest.bin", "vecchio");
        const HANDLE held = hold("Dest.bin", share);
        ASSERT_NE(held, nullptr);
        std::thread release([held] {
            std::this_thread::sleep_for(std::chrono::milliseconds(600));
            CloseHandle(held);
        });
        const int error = copy_error(path("Estr.bin"), path("Dest.bin"));
        release.join();
        EXPECT_EQ(error, 0);
        EXPECT_EQ(read("Dest.bin"), "nuovo archivio");
        expect_no_temporary();
    }
}

// A delivered file held by an unzip tool or a scanner is not the host running: the copy fails
// with another code than 75, and the run goes on.
TEST_F(FilesTest, ASourceHeldWithoutSharingIsACopyFailureNotTheHost) {
    write("Estr.bin", "nuovo archivio");
    write("Dest.bin", "vecchio");
    const HANDLE held = hold("Estr.bin", 0);
    ASSERT_NE(held, nullptr);
    EXPECT_EQ(copy_error(path("Estr.bin"), path("Dest.bin")), code::permission_denied);
    CloseHandle(held);
    EXPECT_EQ(read("Dest.bin"), "vecchio");
    expect_no_temporary();
}

// A delivered file still being written (a download or an extraction holds it open for writing,
// sharing everything): refused after the wait for brief holds, never copied as it stands; one
// that others only read is copied, and so is one whose writer lets go within the wait.
TEST_F(FilesTest, ADeliveredFileStillOpenForWritingIsNotCopied) {
    struct Case { const char* what; DWORD access; DWORD release_after_ms; int expected; };
    const Case cases[] = {
        {"written, everything shared", GENERIC_WRITE, 0, code::permission_denied},
        {"read and written", GENERIC_READ | GENERIC_WRITE, 0, code::permission_denied},
        {"only read by another program", GENERIC_READ, 0, 0},
        {"written for a moment", GENERIC_WRITE, 500, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        write("Estr.bin", "nuovo archivio");
        write("Dest.bin", "vecchio");
        const HANDLE held = CreateFileW(wide(path("Estr.bin")).c_str(), c.access, kShareAll, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        std::thread release;
        if (c.release_after_ms > 0) {
            release = std::thread([&] {
                Sleep(c.release_after_ms);
                CloseHandle(held);
            });
        }
        const int error = copy_error(path("Estr.bin"), path("Dest.bin"));
        if (release.joinable()) {
            release.join();
        } else {
            CloseHandle(held);
        }
        EXPECT_EQ(error, c.expected);
        EXPECT_EQ(read("Dest.bin"), c.expected == 0 ? "nuovo archivio" : "vecchio");
        expect_no_temporary();
    }
}

// A read failure in the middle of the copy, with the temporary open and partly written: a pipe
// as the source, whose writer goes away after the first bytes.
TEST_F(FilesTest, AFailureInTheMiddleOfTheCopyLeavesNoTemporary) {
    PipeSource source("copia");
    ASSERT_TRUE(source.valid());
    write("Dest.bin", "vecchio");
    std::thread writer([&source] {
        EXPECT_TRUE(source.connect_and_write(std::string(40000, 'p'), 10000));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        source.close();
    });
    const int error = copy_error(source.path(), path("Dest.bin"));
    writer.join();
    EXPECT_NE(error, 0);
    EXPECT_NE(error, code::path_file_access);
    EXPECT_EQ(read("Dest.bin"), "vecchio");
    EXPECT_EQ(list().size(), 1u);
    expect_no_temporary();
}

// The copy that a child process makes when the kill test starts it: from the pipe and to the
// file named in AGGIORNA_TEST_COPIA ("source|destination"), without the delete-on-close mark
// when AGGIORNA_TEST_SENZA_SEGNO is set. Run only by that test.
TEST(FilesChild, DISABLED_CopiesWhatTheParentAsks) {
    wchar_t asked[4096] = {};
    const DWORD length = GetEnvironmentVariableW(L"AGGIORNA_TEST_COPIA", asked, 4096);
    ASSERT_TRUE(length > 0 && length < 4096);
    const std::string both = to_utf8(asked);
    const std::size_t bar = both.find('|');
    SystemQueries system;
    if (GetEnvironmentVariableW(L"AGGIORNA_TEST_SENZA_SEGNO", nullptr, 0) != 0) {
        system.delete_mark_reliable = [](const std::wstring&) { return false; };
    }
    WindowsFileSystem(system).copy_file(both.substr(0, bar), both.substr(bar + 1));
}

// A run killed in the middle of a copy (the user ends it, the session closes): with the
// delete-on-close mark the temporary, already partly written, goes with the process. Without it
// (a network share) the temporary stays, and the next copy into that folder removes it.
TEST_F(FilesTest, AKilledCopyLeavesNoTemporaryOrOneTheNextCopyRemoves) {
    for (const bool mark : {true, false}) {
        SCOPED_TRACE(mark ? "with the mark" : "without the mark");
        PipeSource source(mark ? "figlio" : "figlio-senza-segno");
        ASSERT_TRUE(source.valid());
        write("Dest.bin", "vecchio");

        const std::wstring asked = wide(source.path() + "|" + path("Dest.bin"));
        const ScopedHandle child = test_children::start_child_test(
            L"FilesChild.DISABLED_CopiesWhatTheParentAsks",
            {{L"AGGIORNA_TEST_COPIA", asked.c_str()}, {L"AGGIORNA_TEST_SENZA_SEGNO", mark ? nullptr : L"1"}});
        ASSERT_TRUE(child.valid());

        const bool written = source.connect_and_write(std::string(40000, 'p'), 20000);
        bool copying = false;
        for (int i = 0; written && i < 200 && !copying; ++i) {
            for (const std::string& name : list()) copying = copying || is_temporary(name);
            if (!copying) Sleep(50);
        }
        test_children::kill_child(child);
        source.close();

        EXPECT_TRUE(copying) << "the child never started its copy";
        EXPECT_EQ(read("Dest.bin"), "vecchio");
        if (mark) {
            expect_no_temporary();
            continue;
        }
        bool left = false;
        for (const std::string& name : list()) left = left || is_temporary(name);
        EXPECT_TRUE(left) << "without the mark a killed copy cannot remove its temporary";
        write("Estr.bin", "nuovo archivio");
        files_.copy_file(path("Estr.bin"), path("Dest.bin"));
        EXPECT_EQ(read("Dest.bin"), "nuovo archivio");
        expect_no_temporary();
    }
}

// Temporaries of copies to the same destination cut off by a power loss go; one that a running
// copy holds stays, and so do the user's own files whatever their names (those of other
// destinations' copies go with the next copy to them).
TEST_F(FilesTest, StaleTemporariesAreRemovedUnlessAnotherCopyHoldsThem) {
    const std::string stale[] = {"Dest.bin.~0a1b2c", "DEST.BIN.~ffffff", ".~AggiornaArchivio-4242-123456.tmp"};
    const std::string kept[] = {"Dest.bin.~abc",  "nota.~txt",         "Dest.bin.~1234567", "Dest.bak",
                                "Appunti.~decade", "foto.~123456",      "Estr.bin.~0a1b2c",  "Dest.bin.~ABCDEF",
                                "xDest.bin.~0a1b2c", ".~AggiornaArchivio-x-1.tmp"};
    for (const std::string& name : stale) write(name, "residuo");
    for (const std::string& name : kept) write(name, "dell'utente");
    write("Dest.bin.~777777", "copia in corso");
    const HANDLE running = hold("Dest.bin.~777777", 0);
    ASSERT_NE(running, nullptr);
    write("Estr.bin", "nuovo archivio");

    files_.copy_file(path("Estr.bin"), path("Dest.bin"));
    CloseHandle(running);
    EXPECT_EQ(read("Dest.bin"), "nuovo archivio");
    for (const std::string& name : stale) EXPECT_EQ(read(name), "<missing>") << name;
    for (const std::string& name : kept) EXPECT_EQ(read(name), "dell'utente") << name;
    EXPECT_EQ(read("Dest.bin.~777777"), "copia in corso");
}

// Only the names this program makes for the file being written are its temporaries.
TEST(TemporaryName, OnlyTheDestinationsOwnAreTemporaries) {
    struct Case { const char* name; const char* destination; bool temporary; };
    const Case cases[] = {
        {"Estr.bin.~0a1b2c", "Estr.bin", true},
        {"ESTR.BIN.~0a1b2c", "Estr.bin", true},  // names compare as Windows compares them
        {"Estr.bin.~0A1B2C", "Estr.bin", false}, // the program writes lowercase digits
        {"Estr.bin.~0a1b2", "Estr.bin", false},
        {"Estr.bin.~0a1b2c3", "Estr.bin", false},
        {"Estr.bin.~decade", "Estr.bin", true},
        {"Appunti.~decade", "Estr.bin", false},
        {"foto.~123456", "Estr.bin", false},
        {"bl.bin.~123456", "Estr.bin", false},
        {"Estr.bin~0a1b2c", "Estr.bin", false},
        {"Estr.bin.~0a1b2c", "", false},
        {".~AggiornaArchivio-4242-1.tmp", "Estr.bin", true},
        {".~AggiornaArchivio-4242.tmp", "Estr.bin", false},
        {".~AggiornaArchivio-42-1-2.tmp", "Estr.bin", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(is_temporary_name(c.name, c.destination), c.temporary) << c.name << " for " << c.destination;
    }
}

// A drive too small for the new archive (tests/windows/small_drive.sh maps one as
// AGGIORNA_TEST_SMALL_DRIVE): disk full, the old archive whole, nothing else left on the drive.
TEST_F(FilesTest, DiskFullOnASmallDriveKeepsTheOldArchiveAndLeavesNoTemporary) {
    wchar_t drive[8] = {};
    const DWORD length = GetEnvironmentVariableW(L"AGGIORNA_TEST_SMALL_DRIVE", drive, 8);
    if (length == 0 || length >= 8) GTEST_SKIP() << "no small drive: run tests/windows/small_drive.sh";
    const std::string host = to_utf8(drive) + "\\Quintrel";
    ASSERT_TRUE(CreateDirectoryW(wide(host).c_str(), nullptr));
    const std::string old_archive(300000, 'v');
    const std::wstring destination = wide(host + "\\Estr.bin");
    HANDLE file = CreateFileW(destination.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD put = 0;
    WriteFile(file, old_archive.data(), static_cast<DWORD>(old_archive.size()), &put, nullptr);
    CloseHandle(file);
    write("Estr.bin", std::string(3u << 20, 'n'));

    EXPECT_EQ(copy_error(path("Estr.bin"), host + "\\Estr.bin"), code::disk_full);
    std::string kept;
    file = CreateFileW(destination.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    kept.resize(old_archive.size() + 1);
    DWORD got = 0;
    ReadFile(file, kept.data(), static_cast<DWORD>(kept.size()), &got, nullptr);
    CloseHandle(file);
    kept.resize(got);
    EXPECT_EQ(kept, old_archive);
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(wide(host + "\\*").c_str(), &found);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    std::vector<std::wstring> names;
    do {
        if (std::wstring_view(found.cFileName) != L"." && std::wstring_view(found.cFileName) != L"..")
            names.push_back(found.cFileName);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    EXPECT_EQ(names, std::vector<std::wstring>{L"Estr.bin"});
    DeleteFileW(destination.c_str());
    RemoveDirectoryW(wide(host).c_str());
}

TEST(TemporaryName, IsTheDestinationsNameAndAFewCharacters) {
    for (const std::string name : {"Estr.bin", "Estr.bi_", "bl.bin"}) {
        const std::string first = temporary_name(name, 0x12345678u);
        EXPECT_EQ(first, name + ".~345678");
        EXPECT_LE(first.size(), name.size() + 8);
        EXPECT_TRUE(is_temporary_name(first, name));
        EXPECT_NE(temporary_name(name, 1), temporary_name(name, 2));
    }
    EXPECT_EQ(temporary_name("bl.bin", 0xA), "bl.bin.~00000a");
}

TEST_F(FilesTest, MissingPlacesAreFileOrPathNotFound) {
    write("Estr.bin", "x");
    EXPECT_EQ(copy_error(path("Estr.bin"), path("Manca\\Estr.bin")), code::path_not_found);
    EXPECT_EQ(copy_error(path("Manca\\Estr.bin"), path("Copia.bin")), code::path_not_found);
    EXPECT_EQ(copy_error(path("Manca.bin"), path("Copia.bin")), code::file_not_found);
    EXPECT_EQ(read("Copia.bin"), "<missing>");
    EXPECT_EQ(list().size(), 1u);
}

TEST_F(FilesTest, NativeErrorsMapToTheProgramsCodes) {
    const std::pair<DWORD, int> cases[] = {
        {ERROR_FILE_NOT_FOUND, 53},    {ERROR_PATH_NOT_FOUND, 76}, {ERROR_ACCESS_DENIED, 70},
        {ERROR_SHARING_VIOLATION, 75}, {ERROR_LOCK_VIOLATION, 75}, {ERROR_DISK_FULL, 61},
        {ERROR_HANDLE_DISK_FULL, 61},  {ERROR_INVALID_NAME, 52},   {ERROR_GEN_FAILURE, 57},
    };
    for (const auto& [native, expected] : cases) {
        EXPECT_EQ(file_error_code(native), expected) << "Windows error " << native;
    }
}

TEST_F(FilesTest, AttributesReportWhatIsThere) {
    write("Dati.lib", "x");
    write("Nascosto.lib", "x");
    write("Sistema.lib", "x");
    write("Sola lettura.lib", "x");
    SetFileAttributesW(wide(path("Nascosto.lib")).c_str(), FILE_ATTRIBUTE_HIDDEN);
    SetFileAttributesW(wide(path("Sistema.lib")).c_str(), FILE_ATTRIBUTE_SYSTEM);
    SetFileAttributesW(wide(path("Sola lettura.lib")).c_str(),
                       FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
    CreateDirectoryW(wide(path("Cartella")).c_str(), nullptr);

    using namespace file_attribute;
    const auto plain = files_.attributes(path("Dati.lib"));
    ASSERT_TRUE(plain.has_value());
    EXPECT_EQ(*plain & (hidden | system | directory | readonly), 0u);
    EXPECT_EQ(files_.attributes(path("Nascosto.lib")).value_or(0) & hidden, hidden);
    EXPECT_EQ(files_.attributes(path("Sistema.lib")).value_or(0) & system, system);
    EXPECT_EQ(files_.attributes(path("Sola lettura.lib")).value_or(0) & (readonly | archive),
              readonly | archive);
    EXPECT_EQ(files_.attributes(path("Cartella")).value_or(0) & directory, directory);
    EXPECT_EQ(files_.attributes(path("Manca.lib")), std::nullopt);
    EXPECT_EQ(files_.attributes(path("Manca\\Dati.lib")), std::nullopt);
}

TEST_F(FilesTest, ReadsAtOffsetsAndShortAtTheEnd) {
    std::string content;
    for (int i = 0; i < 40000; ++i) content.push_back(static_cast<char>(i % 251));
    write("Dati.lib", content);
    auto file = files_.open_for_reading(path("Dati.lib"));

    struct Case {
        std::uint64_t offset;
        std::size_t size;
        std::size_t expected;
    };
    const Case cases[] = {
        {0, 4, 4}, {32499, 3040, 3040}, {39990, 100, 10}, {40000, 8, 0}, {5'000'000'000ull, 8, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.offset);
        std::vector<std::uint8_t> out(c.size, 0xEE);
        ASSERT_EQ(file->read_at(c.offset, out), c.expected);
        for (std::size_t i = 0; i < c.expected; ++i) {
            ASSERT_EQ(out[i], static_cast<std::uint8_t>(content[c.offset + i])) << i;
        }
        for (std::size_t i = c.expected; i < c.size; ++i) ASSERT_EQ(out[i], 0xEE);
    }
}

TEST_F(FilesTest, AFileOpenForReadingCanStillBeWrittenAndRemovedByOthers) {
    write("Dati.lib", "impostazioni");
    auto file = files_.open_for_reading(path("Dati.lib"));
    HANDLE writer = CreateFileW(wide(path("Dati.lib")).c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(writer, INVALID_HANDLE_VALUE);
    CloseHandle(writer);
    EXPECT_TRUE(DeleteFileW(wide(path("Dati.lib")).c_str()));
    file.reset();
    EXPECT_EQ(files_.attributes(path("Dati.lib")), std::nullopt);
}

TEST_F(FilesTest, OpeningAMissingFileFails) {
    try {
        files_.open_for_reading(path("Dati.lib"));
        FAIL() << "opened a missing file";
    } catch (const Error& error) {
        EXPECT_EQ(error.code(), code::file_not_found);
        EXPECT_NE(std::string(error.what()).find("Dati.lib"), std::string::npos);
    }
}

TEST_F(FilesTest, ExecutableFolderIsTheTestProgramsFolder) {
    const std::string folder = files_.executable_folder();
    ASSERT_FALSE(folder.empty());
    EXPECT_NE(folder.back(), '\\');
    const std::string exe = folder + "\\backend_tests.exe";
    const auto found = files_.attributes(exe);
    ASSERT_TRUE(found.has_value()) << exe;
    EXPECT_EQ(*found & file_attribute::directory, 0u);
}

TEST(VirtualCopyPath, ProtectedFoldersMapUnderTheStoreWithoutTheirDrive) {
    const VirtualStore store{"C:\\Users\\Mario\\AppData\\Local\\VirtualStore",
                             {"C:\\Program Files (x86)", "C:\\Program Files", "C:\\ProgramData",
                              "C:\\Windows\\"}};
    const std::string root = store.root + "\\";
    const std::pair<const char*, std::optional<std::string>> cases[] = {
        {"C:\\Program Files (x86)\\Quintrel4\\Estr.bi_", root + "Program Files (x86)\\Quintrel4\\Estr.bi_"},
        {"C:\\Program Files\\Quintrel\\Estr.bin", root + "Program Files\\Quintrel\\Estr.bin"},
        {"c:\\PROGRAM FILES\\Quintrel\\\\Estr.bin", root + "PROGRAM FILES\\Quintrel\\Estr.bin"},
        {"C:/ProgramData/Quibex/Dati.lib", root + "ProgramData\\Quibex\\Dati.lib"},
        {"C:\\Windows\\quintrel.ini", root + "Windows\\quintrel.ini"},
        {"C:\\Program Files", std::nullopt},              // the folder itself
        {"C:\\Program Files2\\Q\\Estr.bin", std::nullopt},  // another folder that starts alike
        {"C:\\Programmi\\Quintrel4\\Estr.bin", std::nullopt},
        {"D:\\Program Files\\Quintrel\\Estr.bin", std::nullopt},
        {"\\\\server\\Program Files\\Estr.bin", std::nullopt},
        {"Estr.bin", std::nullopt},
    };
    for (const auto& [path, expected] : cases) {
        EXPECT_EQ(virtual_copy_path(store, path), expected) << path;
    }
    EXPECT_EQ(virtual_copy_path(VirtualStore{"", store.protected_folders}, "C:\\Windows\\a.ini"),
              std::nullopt);
}

// Under Wine the process is not virtualized: its store is the user's, with the folders Windows
// virtualizes.
TEST(SystemVirtualStore, NamesTheUsersStoreAndTheProtectedFolders) {
    const VirtualStore store = system_virtual_store();
    ASSERT_FALSE(store.root.empty());
    EXPECT_TRUE(store.root.ends_with("\\VirtualStore")) << store.root;
    wchar_t windows[MAX_PATH] = {};
    ASSERT_GT(GetWindowsDirectoryW(windows, MAX_PATH), 0u);
    EXPECT_EQ(virtual_copy_path(store, to_utf8(windows) + "\\a.ini"),
              store.root + to_utf8(windows).substr(2) + "\\a.ini");
}

// A host that runs virtualized reads its own copies under the VirtualStore: a run that is not
// virtualized (started as administrator) updates those too, and reads the settings there.

TEST_F(VirtualStoreTest, TheUsersVirtualCopyIsReplacedTooWhereItExists) {
    const std::string host = path("Programmi\\Quintrel4");
    ASSERT_EQ(virtual_copy_path(store_, host + "\\Estr.bin"), virtual_host_ + "\\Estr.bin");
    write("Estr.bin", "nuovo archivio");
    put(host + "\\Estr.bin", "archivio vero");
    put(virtual_host_ + "\\Estr.bin", "archivio virtuale");
    put(host + "\\bl.bin", "vecchio");
    WindowsFileSystem files(store_);

    files.copy_file(path("Estr.bin"), host + "\\Estr.bin");
    EXPECT_EQ(get(host + "\\Estr.bin"), "nuovo archivio");
    EXPECT_EQ(get(virtual_host_ + "\\Estr.bin"), "nuovo archivio");
    // No virtual copy of bl.bin: none is made.
    files.copy_file(path("Estr.bin"), host + "\\bl.bin");
    EXPECT_EQ(get(host + "\\bl.bin"), "nuovo archivio");
    EXPECT_EQ(get(virtual_host_ + "\\bl.bin"), "<missing>");
}

TEST_F(VirtualStoreTest, TheVirtualCopyHeldByTheHostIs75) {
    const std::string host = path("Programmi\\Quintrel4");
    write("Estr.bin", "nuovo archivio");
    put(host + "\\Estr.bin", "archivio vero");
    put(virtual_host_ + "\\Estr.bin", "archivio virtuale");
    const HANDLE held = CreateFileW(wide(virtual_host_ + "\\Estr.bin").c_str(), GENERIC_READ, 0,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    WindowsFileSystem files(store_);
    int error = 0;
    try {
        files.copy_file(path("Estr.bin"), host + "\\Estr.bin");
    } catch (const Error& e) {
        error = e.code();
    }
    CloseHandle(held);
    EXPECT_EQ(error, code::path_file_access);
    EXPECT_EQ(get(virtual_host_ + "\\Estr.bin"), "archivio virtuale");
}

TEST_F(VirtualStoreTest, SettingsAreCheckedAndReadInTheVirtualCopy) {
    const std::string host = path("Programmi\\Quintrel4");
    WindowsFileSystem files(store_);
    put(host + "\\Dati.lib", "impostazioni vere");
    EXPECT_EQ(files.attributes(host + "\\Dati.lib").value_or(0) & file_attribute::hidden, 0u);

    put(virtual_host_ + "\\Dati.lib", "impostazioni virtuali");
    SetFileAttributesW(wide(virtual_host_ + "\\Dati.lib").c_str(), FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(files.attributes(host + "\\Dati.lib").value_or(0) & file_attribute::hidden,
              file_attribute::hidden);
    std::vector<std::uint8_t> bytes(64, 0);
    const std::size_t got = files.open_for_reading(host + "\\Dati.lib")->read_at(0, bytes);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(got)),
              "impostazioni virtuali");
    SetFileAttributesW(wide(virtual_host_ + "\\Dati.lib").c_str(), FILE_ATTRIBUTE_NORMAL);
}

}  // namespace
}  // namespace aggiorna::windows
