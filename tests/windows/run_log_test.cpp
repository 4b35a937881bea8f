// The run's log: lines kept in order and in UTF-8 as they are written, the last runs' logs kept
// and only this program's removed, a place that cannot be written leaving the run alone; and the
// meaning of an OS error in the details the log shows.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/windows/run_log.h"
#include "platform/windows/text.h"
#include "platform/windows/win.h"
#include "windows/files_fixture.h"

namespace aggiorna::windows {
namespace {

using file_tests::FilesTest;

TEST(RunLogName, SortsByTimeAndIsRecognised) {
    const SYSTEMTIME first = {2026, 1, 4, 1, 9, 5, 3, 7};
    const SYSTEMTIME later = {2026, 1, 4, 1, 9, 5, 3, 80};
    EXPECT_EQ(run_log_name(first, 4242), "AggiornaArchivio-20260101-090503-007-4242.log");
    EXPECT_LT(run_log_name(first, 99999), run_log_name(later, 1));
    const std::pair<const char*, bool> cases[] = {
        {"AggiornaArchivio-20260101-090503-007-4242.log", true},
        {"AggiornaArchivio-20260101-090503-007-4242.txt", false},
        {"AggiornaArchivio-20260101-090503-07-4242.log", false},
        {"AggiornaArchivio-20260101-090503-007-.log", false},
        {"AggiornaArchivio-note.log", false},
        {"Appunti.log", false},
    };
    for (const auto& [name, recognised] : cases) EXPECT_EQ(is_run_log_name(name), recognised) << name;
}

TEST_F(FilesTest, LinesAreWrittenAtOnceInOrderAndInUtf8) {
    const std::string folder = path("Aggiorna Archivio");
    FileRunLog log(folder);
    EXPECT_EQ(log.where(), "") << "made before the first line";
    EXPECT_EQ(GetFileAttributesW(wide(folder).c_str()), INVALID_FILE_ATTRIBUTES);
    log.write_line("AggiornaArchivio 1.1.0 (32-bit)");
    const std::string where = log.where();
    ASSERT_FALSE(where.empty());
    EXPECT_TRUE(where.starts_with(folder + "\\AggiornaArchivio-")) << where;
    EXPECT_TRUE(is_run_log_name(where.substr(folder.size() + 1))) << where;
    log.write_line("Copia di Estr.bin in C:\\Programmi\\Quintrel4 città: perché è in uso");
    log.write_line("");
    // Read while the log is still open, as support would after a crash.
    const std::string text = read("Aggiorna Archivio\\" + where.substr(folder.size() + 1));
    EXPECT_EQ(text,
              "AggiornaArchivio 1.1.0 (32-bit)\r\nCopia di Estr.bin in C:\\Programmi\\Quintrel4 città: perché è in uso\r\n\r\n");
    DeleteFileW(wide(where).c_str());
    RemoveDirectoryW(wide(folder).c_str());
}

// The last 20 runs' logs are kept; the user's files and other names stay, whatever they are.
TEST_F(FilesTest, TheOldestLogsBeyondTheLastTwentyGo) {
    const std::string folder = path("Aggiorna Archivio");
    ASSERT_TRUE(CreateDirectoryW(wide(folder).c_str(), nullptr));
    std::vector<std::string> old;
    for (int i = 0; i < 25; ++i) {
        const SYSTEMTIME at = {2025, 12, 0, 1, 10, static_cast<WORD>(i), 0, 0};
        old.push_back(run_log_name(at, 100 + i));
        write("Aggiorna Archivio\\" + old.back(), "vecchio");
    }
    const std::string foreign[] = {"Appunti.txt", "AggiornaArchivio-note.log", "AggiornaArchivio-20200101-000000-000-1.txt"};
    for (const std::string& name : foreign) write("Aggiorna Archivio\\" + name, "dell'utente");

    FileRunLog log(folder);
    log.write_line("nuovo");
    std::vector<std::string> logs;
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(wide(folder + "\\*").c_str(), &found);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    do {
        const std::string name = to_utf8(found.cFileName);
        if (is_run_log_name(name)) logs.push_back(name);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(logs.begin(), logs.end());
    ASSERT_EQ(logs.size(), kRunLogsKept);
    // The newest 19 of the old ones, and this run's.
    EXPECT_EQ(std::vector<std::string>(logs.begin(), logs.end() - 1), std::vector<std::string>(old.begin() + 6, old.end()));
    EXPECT_EQ(folder + "\\" + logs.back(), log.where());
    for (const std::string& name : foreign) EXPECT_EQ(read("Aggiorna Archivio\\" + name), "dell'utente") << name;

    for (const std::string& name : logs) DeleteFileW(wide(folder + "\\" + name).c_str());
    for (const std::string& name : foreign) DeleteFileW(wide(folder + "\\" + name).c_str());
    RemoveDirectoryW(wide(folder).c_str());
}

// A folder that cannot be made (a file stands in its way, its parent is missing) or no folder at
// all: no exception, nothing written, no path to show.
TEST_F(FilesTest, ALogThatCannotBeWrittenIsLeftOutQuietly) {
    write("Occupato", "un file, non una cartella");
    for (const std::string& folder : {path("Occupato"), path("Manca\\Aggiorna Archivio"), std::string()}) {
        FileRunLog log(folder);
        EXPECT_NO_THROW(log.write_line("riga"));
        EXPECT_NO_THROW(log.write_line("un'altra"));
        EXPECT_EQ(log.where(), "") << folder;
    }
    EXPECT_EQ(read("Occupato"), "un file, non una cartella");
    EXPECT_EQ(list(), std::vector<std::string>{"Occupato"});
}

// The detail of a failure names the OS error's meaning, on one line, as support reads it.
TEST(NativeDetail, NamesTheErrorsMeaning) {
    const std::string detail = native_detail("CreateFileW", ERROR_SHARING_VIOLATION, "C:\\Q\\Estr.bin");
    EXPECT_TRUE(detail.starts_with("CreateFileW failed with Windows error 32 (")) << detail;
    EXPECT_TRUE(detail.ends_with(") for 'C:\\Q\\Estr.bin'")) << detail;
    const std::string meaning = error_meaning(ERROR_SHARING_VIOLATION);
    EXPECT_FALSE(meaning.empty());
    EXPECT_EQ(meaning.find_first_of("\r\n"), std::string::npos) << meaning;
    EXPECT_NE(meaning.back(), '.') << meaning;
    EXPECT_NE(meaning.back(), ' ') << meaning;
    EXPECT_EQ(native_detail("X", 0xDEADu), "X failed with Windows error 57005");
}

}  // namespace
}  // namespace aggiorna::windows
