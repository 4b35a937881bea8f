// Tests of the mapping between Windows paths and the native paths of a Wine prefix.
#include "platform/portable/path_mapping.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

namespace aggiorna::portable {
namespace {
namespace fs = std::filesystem;

// A prefix laid out as Wine makes it (c: a relative link to drive_c), with a second drive d:
// linked by an absolute path outside the prefix.
class PathMappingTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/aggiorna-paths-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        root_ = fs::canonical(pattern);
        prefix_ = root_ / "pfx";
        fs::create_directories(prefix_ / "dosdevices");
        fs::create_directories(prefix_ / "drive_c");
        fs::create_directories(root_ / "other");
        fs::create_symlink("../drive_c", prefix_ / "dosdevices" / "c:");
        fs::create_symlink(root_ / "other", prefix_ / "dosdevices" / "d:");
        c_ = prefix_ / "drive_c";
        d_ = root_ / "other";
        for (const char* file : {"Programmi/Quintrel4/Estr.bin", "Programmi/Citt\xC3\xA0/x", "Dup/abc", "Dup/ABC",
                                 "Dup/Abd", "Dup/aBD"}) {
            fs::create_directories((c_ / file).parent_path());
            std::ofstream(c_ / file) << "x";
        }
    }
    void TearDown() override { fs::remove_all(root_); }

    fs::path root_, prefix_, c_, d_;
};

TEST_F(PathMappingTest, MapsWindowsPaths) {
    struct Case {
        const char* windows;
        char drive;  // 'c', 'd', '/' for the file system's root, 0 for "cannot be mapped"
        const char* native;
    };
    const Case cases[] = {
        {"C:\\Programmi\\Quintrel4\\Estr.bin", 'c', "Programmi/Quintrel4/Estr.bin"},
        {"c:\\programmi\\QUINTREL4\\estr.BIN", 'c', "Programmi/Quintrel4/Estr.bin"},
        {"C:/Programmi/Quintrel4/Estr.bin", 'c', "Programmi/Quintrel4/Estr.bin"},
        {"C:\\Programmi/Quintrel4\\\\Estr.bi_", 'c', "Programmi/Quintrel4/Estr.bi_"},
        {"C:\\Programmi\\Quintrel4\\", 'c', "Programmi/Quintrel4"},
        {"C:\\PROGRAMMI\\Nuova\\Estr.BIN", 'c', "Programmi/Nuova/Estr.BIN"},
        {"C:\\Programmi\\.\\Quintrel4\\..\\Quintrel4\\Estr.bin", 'c', "Programmi/Quintrel4/Estr.bin"},
        {"C:\\..\\..\\Programmi", 'c', "Programmi"},
        {"C:\\programmi\\CITT\xC3\x80\\x", 'c', "Programmi/Citt\xC3\xA0/x"},
        {"C:\\Dup\\abc", 'c', "Dup/abc"},     // the exact name before any other match
        {"C:\\Dup\\ABD", 'c', "Dup/Abd"},     // several matches: the smallest name
        {"C:", 'c', ""},
        {"C:\\", 'c', ""},
        {"d:\\file", 'd', "file"},
        {"Z:\\", '/', ""},                    // no z: in the prefix: Wine's default, the root
        {"Programmi\\Estr.bin", 0, ""},
        {"\\\\server\\share\\Estr.bin", 0, ""},
        {"E:\\Estr.bin", 0, ""},
        {"", 0, ""},
        {"1:\\x", 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.windows);
        const auto mapped = map_windows_path(prefix_, c.windows);
        if (c.drive == 0) {
            EXPECT_FALSE(mapped.has_value());
            continue;
        }
        const fs::path base = c.drive == 'c' ? c_ : c.drive == 'd' ? d_ : fs::path("/");
        ASSERT_TRUE(mapped.has_value());
        EXPECT_EQ(*mapped, *c.native ? base / c.native : base);
    }
}

TEST_F(PathMappingTest, EmbeddedNulCannotBeMapped) {
    EXPECT_FALSE(map_windows_path(prefix_, std::string_view("C:\\Estr.bin\0x", 13)).has_value());
}

TEST_F(PathMappingTest, ZDriveOfThePrefixWinsOverTheDefault) {
    fs::create_symlink(root_ / "other", prefix_ / "dosdevices" / "z:");
    EXPECT_EQ(map_windows_path(prefix_, "Z:\\file"), d_ / "file");
}

TEST_F(PathMappingTest, PrefixWithoutDrivesStillReachesTheRootThroughZ) {
    const fs::path empty = root_ / "fresh";
    const std::string windows = "Z:" + [&] {
        std::string s;
        for (const auto& part : root_.relative_path()) s += "\\" + part.string();
        return s;
    }() + "\\OTHER";
    EXPECT_EQ(map_windows_path(empty, windows), root_ / "other");
    EXPECT_FALSE(map_windows_path(empty, "C:\\x").has_value());
}

TEST_F(PathMappingTest, ToWindowsPathRoundTrips) {
    struct Case {
        fs::path native;
        std::string windows;  // empty: only the round trip is checked
    };
    fs::create_directories(root_ / "elsewhere" / "deep");
    const Case cases[] = {
        {c_ / "Programmi" / "Quintrel4", "C:\\Programmi\\Quintrel4"},
        {c_ / "Programmi" / "Quintrel4" / "Estr.bin", "C:\\Programmi\\Quintrel4\\Estr.bin"},
        {c_, "C:\\"},
        {d_ / ".." / "other", "D:\\"},
        {root_ / "elsewhere" / "deep", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.native.string());
        const std::string windows = to_windows_path(prefix_, c.native);
        if (!c.windows.empty()) {
            EXPECT_EQ(windows, c.windows);
        }
        EXPECT_EQ(map_windows_path(prefix_, windows), fs::canonical(c.native));
    }
    EXPECT_EQ(to_windows_path(prefix_, root_ / "elsewhere").substr(0, 3), "Z:\\");
}

TEST_F(PathMappingTest, ToWindowsPathTakesTheLongestDrive) {
    fs::create_symlink(c_ / "Programmi", prefix_ / "dosdevices" / "e:");
    fs::create_symlink("/", prefix_ / "dosdevices" / "z:");
    EXPECT_EQ(to_windows_path(prefix_, c_ / "Programmi" / "Quintrel4"), "E:\\Quintrel4");
    EXPECT_EQ(to_windows_path(prefix_, c_ / "Dup"), "C:\\Dup");
}

TEST(NamesEqualIgnoringCase, LatinLettersAndRawBytes) {
    EXPECT_TRUE(names_equal_ignoring_case("Estr.BIN", "estr.bin"));
    EXPECT_TRUE(names_equal_ignoring_case("CITT\xC3\x80", "citt\xC3\xA0"));    // À à
    EXPECT_TRUE(names_equal_ignoring_case("\xC5\x92uvre", "\xC5\x93UVRE"));   // Œ œ
    EXPECT_TRUE(names_equal_ignoring_case("\xC5\xB8", "\xC3\xBF"));           // Ÿ ÿ
    EXPECT_FALSE(names_equal_ignoring_case("\xC3\x97", "\xC3\xB7"));          // × and ÷ are not a pair
    EXPECT_FALSE(names_equal_ignoring_case("a\xE0", "a\xC0"));                // not UTF-8: exact bytes
    EXPECT_TRUE(names_equal_ignoring_case("a\xE0", "A\xE0"));
    EXPECT_FALSE(names_equal_ignoring_case("Estr.bin", "Estr.bi_"));
}

}  // namespace
}  // namespace aggiorna::portable
