// Host folders past the path length limit: every file call of a copy, of its checks and of a
// file's facts in the long form.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/windows/files.h"
#include "platform/windows/paths.h"
#include "platform/windows/text.h"
#include "platform/windows/win.h"
#include "windows/files_fixture.h"

namespace aggiorna::windows {
namespace {

using file_tests::FilesTest;

// A host folder near the path length limit, and one past it (255 characters and more, which
// Windows reaches only through the long form "\\?\"): every call of the copy, of its checks and
// of the file's facts works there.
TEST_F(FilesTest, AHostFolderNearOrPastThePathLengthLimitIsUpdated) {
    for (const std::size_t length : {std::size_t{230}, std::size_t{300}}) {
        SCOPED_TRACE(length);
        std::string folder = folder_;
        while (folder.size() < length) {
            folder += "\\Cartella del programma Quintrel";
            ASSERT_TRUE(CreateDirectoryW(api_path(wide(folder)).c_str(), nullptr)) << folder.size();
        }
        write("Estr.bin", "nuovo archivio");
        const std::string destination = folder + "\\Estr.bin";
        files_.check_replaceable(destination);
        files_.copy_file(path("Estr.bin"), destination);
        files_.copy_file(path("Estr.bin"), destination);  // replaced, not only created
        EXPECT_NO_THROW(files_.check_replaceable(destination));
        EXPECT_EQ(files_.attributes(destination).value_or(file_attribute::directory) & file_attribute::directory, 0u);
        EXPECT_EQ(files_.file_facts(destination).value_or(FileFacts{}).size, 14u);
        EXPECT_EQ(files_.sha256(destination), files_.sha256(path("Estr.bin")));
        std::vector<std::uint8_t> bytes(64);
        EXPECT_EQ(files_.open_for_reading(destination)->read_at(0, bytes), 14u);
        // The new file replaced through the long form too, and nothing else left there.
        files_.copy_file(destination, path("Ritorno.bin"));
        EXPECT_EQ(read("Ritorno.bin"), "nuovo archivio");
        DeleteFileW(wide(path("Ritorno.bin")).c_str());
        WIN32_FIND_DATAW found;
        const HANDLE search = FindFirstFileW(api_path(wide(folder + "\\*")).c_str(), &found);
        ASSERT_NE(search, INVALID_HANDLE_VALUE);
        std::vector<std::wstring> names;
        do {
            if (found.cFileName[0] != L'.') names.push_back(found.cFileName);
        } while (FindNextFileW(search, &found));
        FindClose(search);
        EXPECT_EQ(names, std::vector<std::wstring>{L"Estr.bin"});
        DeleteFileW(api_path(wide(destination)).c_str());
        for (std::string inner = folder; inner.size() > folder_.size(); inner = inner.substr(0, inner.find_last_of('\\'))) {
            RemoveDirectoryW(api_path(wide(inner)).c_str());
        }
    }
}

// Wine takes paths past MAX_PATH without the long form, Windows does not: the form every file call
// is given is what shows it here.
TEST(ApiPath, IsTheLongFormPastMaxPathAndThePathAsGivenBelow) {
    const std::wstring deep = L"C:\\Programmi\\" + std::wstring(250, L'q') + L"\\Estr.bin";
    const std::wstring share = L"\\\\server\\Quintrel\\" + std::wstring(250, L's') + L"\\Estr.bin";
    const std::pair<std::wstring, std::wstring> cases[] = {
        {L"C:\\Programmi\\Quintrel4\\Estr.bin", L"C:\\Programmi\\Quintrel4\\Estr.bin"},
        {deep, L"\\\\?\\" + deep},
        {L"C:\\Programmi\\..\\Programmi\\" + std::wstring(250, L'q') + L"\\Estr.bin", L"\\\\?\\" + deep},
        {share, L"\\\\?\\UNC\\server\\Quintrel\\" + std::wstring(250, L's') + L"\\Estr.bin"},
        {L"\\\\?\\" + deep, L"\\\\?\\" + deep},
    };
    for (const auto& [path, expected] : cases) EXPECT_EQ(api_path(path), expected) << to_utf8(path);
    EXPECT_EQ(long_path("C:\\Programmi\\" + std::string(250, 'q') + "\\Estr.bin"), L"\\\\?\\" + deep);
}

}  // namespace
}  // namespace aggiorna::windows
