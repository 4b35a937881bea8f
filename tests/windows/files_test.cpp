// The file backend against Wine's file system: atomic copy, its error codes, attributes, reads.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/windows/files.h"
#include "platform/windows/text.h"
#include "platform/windows/win.h"

namespace aggiorna::windows {
namespace {

// A fresh folder under %TEMP% with a name outside ASCII, removed with its files after the test.
class FilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH + 1] = {};
        ASSERT_GT(GetTempPathW(MAX_PATH + 1, temp), 0u);
        folder_ = to_utf8(temp) + "Aggiorna Città € " + std::to_string(GetCurrentProcessId()) +
                  "-" + std::to_string(GetTickCount());
        ASSERT_TRUE(CreateDirectoryW(wide(folder_).c_str(), nullptr));
    }
    void TearDown() override {
        for (const std::string& name : list()) {
            const std::wstring path = wide(folder_ + "\\" + name);
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (!DeleteFileW(path.c_str())) RemoveDirectoryW(path.c_str());
        }
        RemoveDirectoryW(wide(folder_).c_str());
    }

    static std::wstring wide(const std::string& utf8) { return to_wide(utf8, 52); }
    std::string path(const std::string& name) const { return folder_ + "\\" + name; }

    void write(const std::string& name, const std::string& bytes) {
        HANDLE file = CreateFileW(wide(path(name)).c_str(), GENERIC_WRITE, 0, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        DWORD written = 0;
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        CloseHandle(file);
        ASSERT_EQ(written, bytes.size());
    }
    std::string read(const std::string& name) {
        HANDLE file = CreateFileW(wide(path(name)).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return "<missing>";
        std::string bytes;
        char buffer[4096];
        DWORD got = 0;
        while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) {
            bytes.append(buffer, got);
        }
        CloseHandle(file);
        return bytes;
    }
    // The names in the folder, hidden ones and leftovers of the copy included.
    std::vector<std::string> list() const {
        std::vector<std::string> names;
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW(wide(folder_ + "\\*").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) return names;
        do {
            const std::wstring name = found.cFileName;
            if (name != L"." && name != L"..") names.push_back(to_utf8(name));
        } while (FindNextFileW(search, &found));
        FindClose(search);
        return names;
    }
    int copy_error(const std::string& source, const std::string& destination) {
        try {
            files_.copy_file(source, destination);
        } catch (const Error& error) {
            return error.code();
        }
        return 0;
    }

    std::string folder_;
    WindowsFileSystem files_;
};

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
        for (const std::string& name : list()) {
            EXPECT_EQ(name.find(".~AggiornaArchivio"), std::string::npos) << name;
        }
    }
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

}  // namespace
}  // namespace aggiorna::windows
