// Tests of the Wine prefix registry reader on small registry files written to a temporary folder.
#include "platform/portable/wine_registry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <tuple>
#include <vector>

namespace aggiorna::portable {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kWin64Head = "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win64\n";
constexpr std::string_view kWin32Head = "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win32\n";

class WineRegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string dir = (fs::temp_directory_path() / "wine_registry_test.XXXXXX").string();
        ASSERT_NE(::mkdtemp(dir.data()), nullptr);
        prefix_ = dir;
    }
    void TearDown() override { fs::remove_all(prefix_); }

    void write(const std::string& file, std::string_view text) {
        std::ofstream(prefix_ / file, std::ios::binary) << text;
    }
    void write_system(std::string_view body, std::string_view head = kWin64Head) {
        write("system.reg", std::string(head) + std::string(body));
    }

    // Opens `path` ("A\\B\\C") one component at a time from `root`; 0 when a component fails.
    // Every key opened on the way is closed again except the last.
    RegKey open_path(WineRegistry& reg, RegKey root, std::string_view path,
                     std::uint32_t access = 0x3F) {
        RegKey key = root;
        for (std::size_t pos = 0; pos <= path.size();) {
            const std::size_t end = std::min(path.find('\\', pos), path.size());
            const RegKey next = reg.open_key(key, path.substr(pos, end - pos), access);
            if (key != root) reg.close_key(key);
            if (!next) return 0;
            key = next;
            pos = end + 1;
        }
        return key;
    }

    // The bytes query_value delivers into an area of `size`, or nullopt when it fails.
    std::optional<std::string> read(std::string_view path, std::string_view name, std::size_t size = 256,
                                    RegKey root = kHkeyLocalMachine) {
        WineRegistry reg(prefix_);
        const RegKey key = open_path(reg, root, path);
        if (!key) return std::nullopt;
        std::vector<std::uint8_t> area(size, 0xAA);
        std::uint32_t length = 12345;
        const bool ok = reg.query_value(key, name, area, length);
        reg.close_key(key);
        EXPECT_EQ(reg.open_key_count(), 0u);
        if (!ok) {
            EXPECT_EQ(length, 12345u);
            EXPECT_EQ(area, std::vector<std::uint8_t>(size, 0xAA)) << "area touched on failure";
            return std::nullopt;
        }
        EXPECT_LE(length, size);
        return std::string(area.begin(), area.begin() + length);
    }

    std::optional<std::string> read_string(std::string_view path, std::string_view name) {
        WineRegistry reg(prefix_);
        const RegKey key = open_path(reg, kHkeyLocalMachine, path);
        if (!key) return std::nullopt;
        auto text = reg.query_string(key, name);
        reg.close_key(key);
        return text;
    }

    fs::path prefix_;
};

using namespace std::string_literals;

struct ValueCase {
    const char* what;
    std::string lines;                 // value lines of the section [Software\\T]
    std::optional<std::string> ansi;   // what query_value delivers for "v"
};

TEST_F(WineRegistryTest, ValueFormsAreDeliveredAsWindowsDoes) {
    const std::vector<ValueCase> cases = {
        {"plain string with \\\\", R"("v"="C:\\Programmi\\Quintrel4")", "C:\\Programmi\\Quintrel4\0"s},
        {"\\x with two digits", R"("v"="Citt\xe0")", "Citt\xe0\0"s},
        {"\\x with four digits", R"("v"="\x00e8\x20ac1")", "\xe8\x80" "1\0"s},
        {"escaped quote and controls", R"("v"="a\"b\tc\n")", "a\"b\tc\n\0"s},
        {"octal", R"("v"="\101B")", "AB\0"s},
        {"raw UTF-8", "\"v\"=\"Citt\xc3\xa0\"", "Citt\xe0\0"s},
        {"outside the code page", R"("v"="x\x0101y")", "x?y\0"s},
        {"raw UTF-8 outside the code page", "\"v\"=\"\xc4\x81\xf0\x9f\x98\x80.\"", "??.\0"s},
        {"a pair of escaped surrogates is one character", R"("v"="\xd83d\xde00.")", "?.\0"s},
        {"unpaired surrogates, one character each", R"("v"="\xdc00\xd800a\xd800")", "??a?\0"s},
        {"expand string", R"("v"=str(2):"%SystemRoot%\x")", "%SystemRoot%x\0"s},
        {"multi string", R"("v"=str(7):"a\0b\0")", "a\0b\0\0"s},
        {"binary", "\"v\"=hex:43,3a,5c", "C:\\"s},
        {"empty binary", "\"v\"=hex:", ""s},
        {"string stored as hex", "\"v\"=hex(1):41,00,e8,00,00,00", "A\xe8\0"s},
        {"string as hex without terminator", "\"v\"=hex(2):41,00", "A\0"s},
        {"dword", "\"v\"=dword:0000abcd", "\xcd\xab\0\0"s},
        {"hex continued on the next lines", "\"v\"=hex:01,02,\\\n  03,\\\n  04", "\x01\x02\x03\x04"s},
        {"other type kept raw", "\"v\"=hex(b):01,00,00,00,00,00,00,00", "\x01\0\0\0\0\0\0\0"s},
        {"later line wins", "\"v\"=\"old\"\n\"v\"=\"new\"", "new\0"s},
        {"blank and comment lines", "#time=1d9\n\n;; note\n\"v\"=\"x\"", "x\0"s},
        {"CR LF line ends", "\"w\"=\"a\"\r\n\"v\"=\"b\"\r\n", "b\0"s},
        // Wine keeps a malformed value as REG_NONE without data, over an earlier good one.
        {"bad hex", "\"v\"=\"old\"\n\"v\"=hex:4z", ""s},
        {"unterminated string", "\"v\"=\"abc", ""s},
        {"unknown form", "\"v\"=qword:1", ""s},
        {"continued onto an empty line", "\"v\"=hex:01,\\", "\x01"s},
        {"other value only", "\"vv\"=\"x\"", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        write_system("\n[Software\\\\T] 1796868773\n#time=1d9\n" + c.lines + "\n\n[Software\\\\U] 1\n\"v\"=\"other\"\n");
        EXPECT_EQ(read("Software\\T", "v"), c.ansi);
    }
}

struct FileCase {
    const char* what;
    std::string body;                  // after the header
    const char* path;                  // looked up from HKLM
    const char* name;
    std::optional<std::string> ansi;   // what query_value delivers
};

// The rules of Wine's own loader for what a file can hold.
TEST_F(WineRegistryTest, FilesReadAsWineReadsThem) {
    const std::string long_line = "\"pad\"=\"" + std::string(5 << 20, 'x') + "\"\n";
    const std::string name256 = "Software\\" + std::string(256, 'n'), name257 = name256 + 'n';
    const std::vector<FileCase> cases = {
        {"a key in two sections: both read, the later value wins",
         "\n[Software\\\\K] 1\n\"a\"=\"1\"\n\"b\"=\"old\"\n\n[Software\\\\L] 1\n\n[software\\\\k] 2\n\"b\"=\"new\"\n",
         "Software\\K", "b", "new\0"s},
        {"... and the earlier section's other values stay", "\n[Software\\\\K] 1\n\"a\"=\"1\"\n\n[SOFTWARE\\\\K] 2\n\"b\"=\"2\"\n",
         "Software\\K", "a", "1\0"s},
        {"a line over 4 MiB hides nothing after it", "\n[Software\\\\K] 1\n" + long_line + "\"v\"=\"after\"\n",
         "Software\\K", "v", "after\0"s},
        {"indented section and value lines", "\n  \t[Software\\\\K] 1\n \t \"v\" = \"x\"\n", "Software\\K", "v", "x\0"s},
        {"a continuation line that looks like a value belongs to the hex value",
         "\n[Software\\\\K] 1\n\"h\"=hex:01,\\\n\"v\"=\"x\"\n", "Software\\K", "v", std::nullopt},
        {"... and makes that value malformed", "\n[Software\\\\K] 1\n\"h\"=hex:01,\\\n\"v\"=\"x\"\n", "Software\\K", "h", ""s},
        {"a continuation line that looks like a section is no section",
         "\n[Software\\\\K] 1\n\"h\"=hex:01,\\\n[Software\\\\M]\n\"v\"=\"x\"\n", "Software\\M", "v", std::nullopt},
        {"... and the values after it stay in the key", "\n[Software\\\\K] 1\n\"h\"=hex:01,\\\n[Software\\\\M]\n\"v\"=\"x\"\n",
         "Software\\K", "v", "x\0"s},
        {"anything after the continuation mark is ignored", "\n[Software\\\\K] 1\n\"h\"=hex:01,\\ junk\n  02\n",
         "Software\\K", "h", "\x01\x02"s},
        {"hex bytes need no commas, may say 0x", "\n[Software\\\\K] 1\n\"h\"=hex:01 02 0x3,004\n", "Software\\K", "h",
         "\x01\x02\x03\x04"s},
        {"a hex number over 0xff is malformed", "\n[Software\\\\K] 1\n\"h\"=hex:100\n", "Software\\K", "h", ""s},
        {"a type written with 0x", "\n[Software\\\\K] 1\n\"h\"=hex(0x2):41,00,00,00\n", "Software\\K", "h", "A\0"s},
        {"dword read as strtoul reads it", "\n[Software\\\\K] 1\n\"d\"=dword: 0x1fz\n", "Software\\K", "d", "\x1f\0\0\0"s},
        {"dword too long keeps its overflow", "\n[Software\\\\K] 1\n\"d\"=dword:11223344556677889\n", "Software\\K", "d",
         "\xff\xff\xff\xff"s},
        {"dword without digits is zero", "\n[Software\\\\K] 1\n\"d\"=dword:zz\n", "Software\\K", "d", "\0\0\0\0"s},
        {"invalid UTF-8 is dropped", "\n[Software\\\\K] 1\n\"v\"=\"a\xff\xc3(b\"\n", "Software\\K", "v", "a(b\0"s},
        {"a NUL ends the line", "\n[Software\\\\K] 1\n\"v\"=\"ab\"\n\"w\"=\"x\0\"\n\"z\"=\"1\"\n"s, "Software\\K", "w", ""s},
        {"values after a malformed section line belong to no key",
         "\n[Software\\\\K] 1\n\"a\"=\"1\"\n[Software\\\\Bad\n\"v\"=\"x\"\n", "Software\\K", "v", std::nullopt},
        {"a malformed section line between keys that start alike hides none of them",
         "\n[Software\\\\S\\\\A] 1\n\n[Software\\\\S\\\\Broken\n\n[Software\\\\S\\\\U] 1\n\"v\"=\"x\"\n",
         "Software\\S\\U", "v", "x\0"s},
        {"a leading separator counts for nothing", "\n[\\\\Software\\\\K] 1\n\"v\"=\"x\"\n", "Software\\K", "v", "x\0"s},
        {"repeated and trailing separators count once", "\n[Software\\\\\\\\K\\\\] 1\n\"v\"=\"x\"\n", "Software\\K", "v",
         "x\0"s},
        {"a key name over 256 characters makes no key",
         "\n[Software\\\\" + std::string(257, 'n') + "] 1\n\"v\"=\"x\"\n", name257.c_str(), "v", std::nullopt},
        {"... but the keys before that name are made", "\n[Software\\\\Made\\\\" + std::string(257, 'n') + "] 1\n",
         "Software\\Made", "v", std::nullopt},
        {"a key name of 256 characters is fine", "\n[Software\\\\" + std::string(256, 'n') + "] 1\n\"v\"=\"x\"\n",
         nullptr, "v", "x\0"s},
        {"Greek and Cyrillic names ignore case", "\n[Software\\\\\xce\x91\xd0\x96] 1\n\"\xce\xb2\"=\"x\"\n",
         "software\\\xce\xb1\xd0\xb6", "\xce\x92", "x\0"s},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        write_system(c.body);
        EXPECT_EQ(read(c.path ? c.path : name256.c_str(), c.name), c.ansi);
    }
}

TEST_F(WineRegistryTest, KeysBeforeATooLongNameAreMade) {
    write_system("\n[Software\\\\Made\\\\" + std::string(257, 'n') + "\\\\Below] 1\n\"v\"=\"x\"\n");
    WineRegistry reg(prefix_);
    const RegKey made = open_path(reg, kHkeyLocalMachine, "Software\\Made");
    EXPECT_NE(made, 0u);
    EXPECT_EQ(reg.query_string(made, "v"), std::nullopt);
    reg.close_key(made);
    EXPECT_EQ(open_path(reg, kHkeyLocalMachine, "Software\\Made\\" + std::string(257, 'n')), 0u);
}

TEST_F(WineRegistryTest, ArchitectureLines) {
    const std::string body = "\n[Software\\\\Wow6432Node\\\\Q] 1\n\"v\"=\"32\"\n\n[Software\\\\Q] 1\n\"v\"=\"64\"\n";
    const std::vector<std::pair<std::string, std::optional<std::string>>> cases = {
        {"WINE REGISTRY Version 2\n#arch=win64\n", "32\0"s},
        {"WINE REGISTRY Version 2\r\n  #arch=win64\r\n", "32\0"s},
        {"WINE REGISTRY Version 2\n#arch=win32\n", "64\0"s},
        {"WINE REGISTRY Version 2\n#arch=win16\n", std::nullopt},  // Wine loads nothing
        {"WINE REGISTRY Version 2\n#arch=win64\n#arch=win32\n", std::nullopt},
        {"WINE REGISTRY Version 2 \n#arch=win64\n", std::nullopt},
    };
    for (const auto& [head, expected] : cases) {
        SCOPED_TRACE(head);
        write_system(body, head);
        EXPECT_EQ(read("Software\\Q", "v"), expected);
    }
}

TEST_F(WineRegistryTest, ValuesLongerThanKeptAreMeasuredNotStored) {
    std::string hex;
    for (std::size_t i = 0; i < wine_reg::kMaxData + 10; ++i) hex += i % 32 == 31 ? "00,\\\n  " : "00,";
    write_system("\n[Software\\\\K] 1\n\"big\"=hex:" + hex + "01\n\"s\"=\"" + std::string(wine_reg::kMaxData, 'x') +
                 "\"\n\"after\"=\"y\"\n");
    WineRegistry reg(prefix_);
    const RegKey key = open_path(reg, kHkeyLocalMachine, "Software\\K");
    ASSERT_NE(key, 0u);
    const auto big = reg.query_raw(key, "big");
    ASSERT_TRUE(big);
    EXPECT_EQ(big->size, wine_reg::kMaxData + 11);
    EXPECT_EQ(big->data.size(), wine_reg::kMaxData);
    std::vector<std::uint8_t> area(2 * wine_reg::kMaxData);
    std::uint32_t length = 7;
    EXPECT_FALSE(reg.query_value(key, "big", area, length));
    EXPECT_FALSE(reg.query_string(key, "s"));
    EXPECT_EQ(reg.query_string(key, "after"), "y");
    reg.close_key(key);
}

TEST_F(WineRegistryTest, FifoReadsAsEmptyAtOnce) {
    ASSERT_EQ(::mkfifo((prefix_ / "system.reg").c_str(), 0600), 0);
    WineRegistry reg(prefix_);
    EXPECT_EQ(reg.open_key(kHkeyLocalMachine, "Software", reg_access::read), 0u);
}

TEST_F(WineRegistryTest, DefaultValueIsTheEmptyName) {
    write_system("\n[Software\\\\K] 1\n\"Default\"=\"not me\"\n@=\"C:\\\\Prog\\\\quintrel.exe\"\n");
    EXPECT_EQ(read("Software\\K", ""), "C:\\Prog\\quintrel.exe\0"s);
    write_system("\n[Software\\\\K] 1\n\"a\"=\"x\"\n");
    EXPECT_EQ(read("Software\\K", ""), std::nullopt);
}

TEST_F(WineRegistryTest, NamesIgnoreCaseAndEscapes) {
    write_system("\n[Software\\\\Quibex\\\\Quintrel! 4] 1\n\"InstallPath\"=\"a\"\n"
                 "\n[Software\\\\Citt\\xe0\\\\x\\]y] 1\n\"Perc\\xf2\"=\"b\"\n");
    EXPECT_EQ(read("SOFTWARE\\quibex\\QUINTREL! 4", "installPATH"), "a\0"s);
    EXPECT_EQ(read("software\\CITT\xc3\x80\\X]Y", "PERC\xc3\x92"), "b\0"s);
    EXPECT_EQ(read("Software\\Quibex\\Quintrel!4", "InstallPath"), std::nullopt);
    EXPECT_EQ(read("Software\\Quibex\\Quintrel! 4", "InstallPat"), std::nullopt);
    EXPECT_EQ(read("Software\\Quibex\\Quintrel", "InstallPath"), std::nullopt) << "a prefix of a name is not the key";
}

TEST_F(WineRegistryTest, KeysWithoutSectionExistThroughTheirSubkeys) {
    write_system("\n[Software\\\\A\\\\B\\\\C] 1\n\"v\"=\"c\"\n");
    WineRegistry reg(prefix_);
    const RegKey a = open_path(reg, kHkeyLocalMachine, "Software\\A");
    ASSERT_NE(a, 0u);
    std::uint8_t area[16];
    std::uint32_t length = 0;
    EXPECT_FALSE(reg.query_value(a, "v", area, length));
    EXPECT_EQ(reg.open_key(a, "X", 0x3F), 0u);
    const RegKey b = reg.open_key(a, "B", 0x3F);
    ASSERT_NE(b, 0u);
    const RegKey c = reg.open_key(b, "c", 0x3F);
    ASSERT_NE(c, 0u);
    EXPECT_EQ(reg.query_string(c, "v"), "c");
    const RegKey c2 = reg.open_key(a, "B\\C", 0x3F);  // several components at once
    EXPECT_NE(c2, 0u);
    EXPECT_NE(c2, c);
    for (RegKey k : {a, b, c, c2}) reg.close_key(k);
    EXPECT_EQ(reg.open_key_count(), 0u);
}

// Keys are noted under a part of a hash of their path: two names whose hashes share their top 32
// bits must still be told apart by the name itself, whichever of them has a section.
TEST_F(WineRegistryTest, KeysWhoseHashesMeetAreToldApart) {
    std::map<std::uint32_t, std::string> seen;
    std::string a, b;
    for (int i = 0; b.empty(); ++i) {
        const std::string name = "K" + std::to_string(i * 2654435761u);  // spread: found in a few ms
        const auto top = static_cast<std::uint32_t>(wine_reg::path_hash(wine_reg::canonical_path(name)) >> 32);
        if (const auto [it, added] = seen.emplace(top, name); !added) std::tie(a, b) = std::pair(it->second, name);
    }
    struct Case {
        std::string file, present, absent;
    };
    const Case cases[] = {
        {"[" + a + "] 1\n\"v\"=\"A\"\n", a, b},
        {"[" + b + "] 1\n\"v\"=\"A\"\n", b, a},
        {"[" + a + "\\\\Sub] 1\n\"v\"=\"S\"\n", a, b},
        {"[" + b + "\\\\Sub] 1\n\"v\"=\"S\"\n", b, a},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        write_system("\n" + c.file);
        WineRegistry reg(prefix_);
        const RegKey present = reg.open_key(kHkeyLocalMachine, c.present, 0x3F);
        EXPECT_NE(present, 0u);
        EXPECT_EQ(reg.open_key(kHkeyLocalMachine, c.absent, 0x3F), 0u);
        EXPECT_EQ(reg.open_key(kHkeyLocalMachine, c.absent + "\\Sub", 0x3F), 0u);
        reg.close_key(present);
    }
    write_system("\n[" + a + "] 1\n\"v\"=\"A\"\n\n[" + b + "] 1\n\"v\"=\"B\"\n");
    EXPECT_EQ(read(a, "v"), "A\0"s);
    EXPECT_EQ(read(b, "v"), "B\0"s);
}

TEST_F(WineRegistryTest, SectionsNeedNotBeInOrder) {
    // As a hand-edited file may be: a key's sections before and after those of other keys.
    write_system("\n[Software\\\\Microsoft\\\\App Paths\\\\q.exe] 1\n@=\"C:\\\\Q\\\\q.exe\"\n"
                 "\n[Software\\\\Wow6432Node\\\\Microsoft\\\\Other] 1\n\"x\"=\"1\"\n"
                 "\n[Software\\\\Microsoft\\\\App Paths\\\\z.exe] 1\n@=\"z\"\n"
                 "\n[Software\\\\Microsoft\\\\App Paths] 1\n\"own\"=\"yes\"\n"
                 "\n[Software\\\\Microsoft\\\\App Paths\\\\q.exe\\\\Sub] 1\n\"s\"=\"t\"\n");
    EXPECT_EQ(read("Software\\Microsoft\\App Paths\\q.exe", ""), "C:\\Q\\q.exe\0"s);
    EXPECT_EQ(read("Software\\Microsoft\\App Paths", "own"), "yes\0"s);
    EXPECT_EQ(read("Software\\Microsoft\\App Paths\\q.exe\\Sub", "s"), "t\0"s);
    EXPECT_EQ(read("Software\\Microsoft\\App Paths\\y.exe", ""), std::nullopt);
}

struct ViewCase {
    const char* what;
    std::string_view head;
    std::string body;
    RegKey root;
    std::optional<std::string> expected;  // InstallPath of Software\Quibex\Quintrel! 4
};

TEST_F(WineRegistryTest, ThirtyTwoBitViewOnSixtyFourBitPrefixes) {
    const std::string wow = "\n[Software\\\\Wow6432Node\\\\Quibex\\\\Quintrel! 4] 1\n\"InstallPath\"=\"32\"\n";
    const std::string plain = "\n[Software\\\\Quibex\\\\Quintrel! 4] 1\n\"InstallPath\"=\"64\"\n";
    const std::string wow_other = "\n[Software\\\\Wow6432Node\\\\Quibex\\\\Altro] 1\n\"InstallPath\"=\"no\"\n";
    const std::vector<ViewCase> cases = {
        {"both views: the 32-bit one", kWin64Head, plain + wow, kHkeyLocalMachine, "32\0"s},
        {"only the shared key", kWin64Head, plain, kHkeyLocalMachine, "64\0"s},
        {"parent in both views, key only shared", kWin64Head, wow_other + plain, kHkeyLocalMachine, "64\0"s},
        {"win32 prefix: no redirection", kWin32Head, wow + plain, kHkeyLocalMachine, "64\0"s},
        {"win32 prefix: Wow6432Node is an ordinary key", kWin32Head, wow, kHkeyLocalMachine, std::nullopt},
        {"no arch line: no redirection", "WINE REGISTRY Version 2\n", wow + plain, kHkeyLocalMachine, "64\0"s},
        {"HKCU: no redirection", kWin64Head, wow + plain, kHkeyCurrentUser, "64\0"s},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        write(c.root == kHkeyLocalMachine ? "system.reg" : "user.reg", std::string(c.head) + c.body);
        EXPECT_EQ(read("Software\\Quibex\\Quintrel! 4", "InstallPath", 256, c.root), c.expected);
        fs::remove(prefix_ / "system.reg");
        fs::remove(prefix_ / "user.reg");
    }
}

TEST_F(WineRegistryTest, AppPathsSharedBetweenViewsAndAccessMasksIgnored) {
    write_system("\n[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\App Paths\\\\quintrel.exe] 1\n"
                 "@=\"C:\\\\Programmi\\\\Quintrel\\\\quintrel.exe\"\n"
                 "\n[Software\\\\Wow6432Node\\\\Microsoft\\\\Windows\\\\CurrentVersion] 1\n"
                 "\"ProgramFilesDir\"=\"C:\\\\Program Files (x86)\"\n");
    for (std::uint32_t access : {0x3Fu, reg_access::read, reg_access::read | reg_access::wow64_32key}) {
        WineRegistry reg(prefix_);
        const RegKey key = open_path(reg, kHkeyLocalMachine,
                                     "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\quintrel.exe", access);
        ASSERT_NE(key, 0u);
        EXPECT_EQ(reg.query_string(key, ""), "C:\\Programmi\\Quintrel\\quintrel.exe");
        reg.close_key(key);
    }
    // The 32-bit CurrentVersion is read, not the shared one.
    EXPECT_EQ(read("Software\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir"), "C:\\Program Files (x86)\0"s);
}

TEST_F(WineRegistryTest, AreaLimitIncludesTheTerminator) {
    const std::string fits(255, 'x');
    write_system("\n[Software\\\\K] 1\n\"fits\"=\"" + fits + "\"\n\"long\"=\"" + fits + "y\"\n"
                 "\"d\"=dword:00000001\n");
    EXPECT_EQ(read("Software\\K", "fits"), fits + '\0');
    EXPECT_EQ(read("Software\\K", "long"), std::nullopt);
    EXPECT_EQ(read("Software\\K", "d", 4), "\x01\0\0\0"s);
    EXPECT_EQ(read("Software\\K", "d", 3), std::nullopt);
}

TEST_F(WineRegistryTest, QueryStringOnlyForTextValues) {
    write_system("\n[Software\\\\K] 1\n\"sz\"=\"Citt\\xe0 \\x20ac\"\n\"exp\"=str(2):\"%TEMP%\"\n"
                 "\"hexsz\"=hex(1):41,00,00,00,42,00\n\"multi\"=str(7):\"a\\0\"\n"
                 "\"bin\"=hex:41,00\n\"num\"=dword:00000001\n");
    EXPECT_EQ(read_string("Software\\K", "sz"), "Citt\xc3\xa0 \xe2\x82\xac");
    EXPECT_EQ(read_string("Software\\K", "exp"), "%TEMP%");
    EXPECT_EQ(read_string("Software\\K", "hexsz"), "A") << "ends at the first NUL";
    EXPECT_EQ(read_string("Software\\K", "multi"), std::nullopt);
    EXPECT_EQ(read_string("Software\\K", "bin"), std::nullopt);
    EXPECT_EQ(read_string("Software\\K", "num"), std::nullopt);
    EXPECT_EQ(read_string("Software\\K", "missing"), std::nullopt);
    write_system("\n[Software\\\\K] 1\n\"pair\"=\"\\xd83d\\xde00\"\n\"lone\"=\"a\\xdc00\\xd800b\"\n");
    EXPECT_EQ(read_string("Software\\K", "pair"), "\xf0\x9f\x98\x80");
    EXPECT_EQ(read_string("Software\\K", "lone"), "a\xef\xbf\xbd\xef\xbf\xbd" "b") << "unpaired surrogates as U+FFFD";
}

TEST_F(WineRegistryTest, UnusableFilesReadAsAnEmptyRegistry) {
    const std::vector<std::pair<const char*, std::optional<std::string>>> cases = {
        {"no file", std::nullopt},
        {"empty file", ""},
        {"no header", "[Software\\\\K] 1\n\"v\"=\"x\"\n"},
        {"other header", "REGEDIT4\n\n[Software\\\\K] 1\n\"v\"=\"x\"\n"},
        {"header only", "WINE REGISTRY Version 2\n"},
        {"truncated section line", "WINE REGISTRY Version 2\n[Software\\\\K"},
    };
    for (const auto& [what, text] : cases) {
        SCOPED_TRACE(what);
        fs::remove(prefix_ / "system.reg");
        if (text) write("system.reg", *text);
        WineRegistry reg(prefix_);
        EXPECT_EQ(reg.open_key(kHkeyLocalMachine, "Software", 0x3F), 0u);
        EXPECT_EQ(reg.open_key_count(), 0u);
    }
    fs::remove(prefix_ / "system.reg");
    fs::create_directory(prefix_ / "system.reg");
    WineRegistry folder(prefix_);
    EXPECT_EQ(folder.open_key(kHkeyLocalMachine, "Software", 0x3F), 0u);
    WineRegistry missing(prefix_ / "no such prefix");
    EXPECT_EQ(missing.open_key(kHkeyLocalMachine, "Software", 0x3F), 0u);
    EXPECT_EQ(missing.open_key(kHkeyCurrentUser, "Software", 0x3F), 0u);
}

TEST_F(WineRegistryTest, CurrentUserComesFromUserReg) {
    write("user.reg", std::string(kWin64Head) +
                          "\n[Software\\\\VB and VBA Program Settings\\\\Quintrel! 4\\\\Options] 1\n"
                          "\"Ritenuta\"=\"2,5\"\n\"Nome valuta\"=\"\"\n");
    write_system("\n[Software\\\\Other] 1\n\"v\"=\"x\"\n");
    WineRegistry reg(prefix_);
    const RegKey key = open_path(reg, kHkeyCurrentUser, "Software\\VB and VBA Program Settings\\Quintrel! 4\\Options");
    ASSERT_NE(key, 0u);
    EXPECT_EQ(reg.query_string(key, "Ritenuta"), "2,5");
    EXPECT_EQ(reg.query_string(key, "Nome valuta"), "");
    EXPECT_EQ(reg.query_string(key, "End"), std::nullopt);
    reg.close_key(key);
    EXPECT_EQ(open_path(reg, kHkeyLocalMachine, "Software\\VB and VBA Program Settings"), 0u);
    EXPECT_EQ(open_path(reg, kHkeyCurrentUser, "Software\\Other"), 0u);
}

TEST_F(WineRegistryTest, EachKeyIsClosedOnce) {
    write_system("\n[Software\\\\A] 1\n\"v\"=\"x\"\n");
    WineRegistry reg(prefix_);
    const RegKey software = reg.open_key(kHkeyLocalMachine, "Software", 0x3F);
    const RegKey a = reg.open_key(software, "A", 0x3F);
    const RegKey again = reg.open_key(software, "A", 0x3F);
    ASSERT_TRUE(software && a && again);
    EXPECT_NE(a, again);
    EXPECT_EQ(reg.open_key_count(), 3u);
    reg.close_key(a);
    reg.close_key(a);  // a second close does nothing, and does not close `again`
    reg.close_key(kHkeyLocalMachine);
    reg.close_key(0);
    reg.close_key(0xDEAD);
    EXPECT_EQ(reg.open_key_count(), 2u);
    EXPECT_EQ(reg.query_string(again, "v"), "x");
    EXPECT_EQ(reg.query_string(a, "v"), std::nullopt);
    EXPECT_EQ(reg.open_key(a, "B", 0x3F), 0u) << "a closed key is no parent";
    reg.close_key(again);
    reg.close_key(software);
    EXPECT_EQ(reg.open_key_count(), 0u);
    // The file is read again by the next lookup.
    write_system("\n[Software\\\\A] 1\n\"v\"=\"y\"\n");
    const RegKey fresh = open_path(reg, kHkeyLocalMachine, "Software\\A");
    EXPECT_EQ(reg.query_string(fresh, "v"), "y");
    reg.close_key(fresh);
}

// ---------------------------------------------------------------------------------------------
// Random files checked against a plain reading of the same file: what each lookup must find.

// Key names of the random files, as written in the file and as a lookup names them.
struct Component {
    std::string written;  // escaped as in the file
    std::string named;    // as the core names it (UTF-8)
    std::string folded;   // upper case, for the model
};

const std::vector<Component>& components() {
    static const std::vector<Component> all = {
        {"Software", "software", "SOFTWARE"}, {"Wow6432Node", "WOW6432NODE", "WOW6432NODE"},
        {"A", "a", "A"},  {"b", "B", "B"},  {"Ab", "aB", "AB"},  {"a!", "A!", "A!"},
        {"C d", "c D", "C D"}, {"Citt\\x00e0", "CITT\xc3\x80", "CITT\xc3\x80"},
        {"\\x0041x", "Ax", "AX"}, {"z", "Z", "Z"},
    };
    return all;
}

struct ModelFile {
    std::string text;
    std::vector<std::vector<int>> sections;  // component numbers of each section, in file order
};

// Keys in Wine's order (names folded, component by component), then some sections moved to the
// end or repeated, as a hand-edited or freshly extended file has them.
ModelFile random_file(std::mt19937& rng, std::string_view head, std::size_t keys) {
    const auto& comps = components();
    std::set<std::vector<int>> paths;
    std::uniform_int_distribution<int> depth(1, 5), pick(0, static_cast<int>(comps.size()) - 1);
    while (paths.size() < keys) {
        std::vector<int> path;
        // Most keys under Software, a good part of them under Software\Wow6432Node.
        if (rng() % 4 != 0) path.push_back(0);
        if (!path.empty() && rng() % 2 == 0) path.push_back(1);
        for (int n = depth(rng); n > 0; --n) path.push_back(pick(rng));
        paths.insert(path);
    }
    std::vector<std::vector<int>> order(paths.begin(), paths.end());
    auto folded = [&](const std::vector<int>& p) {
        std::vector<std::string> out;
        for (int c : p) out.push_back(comps[c].folded);
        return out;
    };
    std::sort(order.begin(), order.end(), [&](const auto& x, const auto& y) { return folded(x) < folded(y); });
    ModelFile file;
    std::vector<std::vector<int>> moved;
    for (const auto& p : order) {
        const auto r = rng() % 8;
        if (r == 0) file.sections.push_back(p);  // a repeated section
        if (r == 1 || r == 2) moved.push_back(p);
        else file.sections.push_back(p);
        if (r == 3) moved.push_back(p);  // also repeated at the end
    }
    std::shuffle(moved.begin(), moved.end(), rng);
    file.sections.insert(file.sections.end(), moved.begin(), moved.end());
    file.text = std::string(head);
    for (std::size_t i = 0; i < file.sections.size(); ++i) {
        std::string name;
        for (int c : file.sections[i]) name += (name.empty() ? "" : "\\\\") + comps[c].written;
        file.text += "\n[" + name + "] 1796868773\n#time=1d9\n\"v\"=\"" + std::to_string(i) + "\"\n";
    }
    return file;
}

// What a lookup of `path` (component numbers) from HKLM finds: the number of the section whose
// value it reads, -1 when the key has no section, nullopt when the key is missing.
std::optional<int> model_lookup(const ModelFile& file, const std::vector<int>& path, bool win64) {
    const auto& comps = components();
    auto name_of = [&](const std::vector<int>& p) {
        std::vector<std::string> out;
        for (int c : p) out.push_back(comps[c].folded);
        return out;
    };
    std::vector<std::vector<std::string>> sections;
    for (const auto& s : file.sections) sections.push_back(name_of(s));
    auto exists = [&](const std::vector<std::string>& key) {
        return std::any_of(sections.begin(), sections.end(), [&](const auto& s) {
            return s.size() >= key.size() && std::equal(key.begin(), key.end(), s.begin());
        });
    };
    auto wow_of = [](std::vector<std::string> key) {
        key.insert(key.begin() + 1, "WOW6432NODE");
        return key;
    };
    std::vector<std::string> key;
    bool wow = false;
    for (int c : path) {
        const bool parent_root = key.empty();
        key.push_back(comps[c].folded);
        const bool redirectable = key.size() >= 2 && key[0] == "SOFTWARE" && key[1] != "WOW6432NODE";
        const bool redirect = win64 && redirectable && (parent_root || wow || key.size() - 1 < 2);
        if (redirect && exists(wow_of(key))) wow = true;
        else if (exists(key)) wow = false;
        else return std::nullopt;
    }
    const auto physical = wow ? wow_of(key) : key;
    int found = -1;  // the value of the last section of the key wins
    for (std::size_t i = 0; i < sections.size(); ++i)
        if (sections[i] == physical) found = static_cast<int>(i);
    return found;
}

// The lookup through the reader, component by component; the same encoding as model_lookup.
std::optional<int> reader_lookup(WineRegistry& reg, const std::vector<int>& path) {
    std::vector<RegKey> opened;
    RegKey key = kHkeyLocalMachine;
    for (int c : path) {
        key = reg.open_key(key, components()[c].named, reg_access::read | reg_access::wow64_32key);
        if (!key) break;
        opened.push_back(key);
    }
    std::optional<int> result;
    if (key) {
        const auto value = reg.query_string(key, "v");
        result = value ? std::stoi(*value) : -1;
    }
    for (RegKey k : opened) reg.close_key(k);
    return result;
}

// Every section's key and its parents, and `missing` keys that may not be there.
std::set<std::vector<int>> lookups_of(const ModelFile& file, std::mt19937& rng, int missing) {
    std::set<std::vector<int>> lookups;
    for (const auto& s : file.sections)
        for (std::size_t n = 1; n <= s.size(); ++n) lookups.insert(std::vector<int>(s.begin(), s.begin() + n));
    std::uniform_int_distribution<int> pick(0, static_cast<int>(components().size()) - 1);
    for (int i = 0; i < missing; ++i) {
        std::vector<int> p = {0};
        for (int n = 1 + i % 5; n > 0; --n) p.push_back(pick(rng));
        lookups.insert(p);
    }
    return lookups;
}

TEST_F(WineRegistryTest, RandomFilesReadAsTheirPlainReading) {
    std::mt19937 rng(20240611);
    for (int round = 0; round < 12; ++round) {
        const bool win64 = round % 3 != 2;
        const ModelFile file = random_file(rng, win64 ? kWin64Head : kWin32Head, 40 + round * 10);
        write("system.reg", file.text);
        const auto lookups = lookups_of(file, rng, 60);
        // One reader for all lookups, and a fresh one for some.
        WineRegistry shared(prefix_);
        for (const auto& path : lookups) {
            const auto expected = model_lookup(file, path, win64);
            std::string where;
            for (int c : path) where += components()[c].named + "\\";
            SCOPED_TRACE("round " + std::to_string(round) + ": " + where);
            ASSERT_EQ(reader_lookup(shared, path), expected);
            if (path.size() % 2 == 0) {
                WineRegistry fresh(prefix_);
                ASSERT_EQ(reader_lookup(fresh, path), expected);
            }
        }
        EXPECT_EQ(shared.passes(), 1u) << "the notes are kept while the file stays the same";
    }
}

// The same with notes too small for the files: the deepest keys left out, subtrees read for the
// lookups that reach below them, keys with more sections than a subtree keeps read through. What
// each lookup finds is the same. One test for each bound of the notes (0: as many as the file has
// sections), on the same files and lookups, so that they can run side by side.
class RandomFilesWithNotes : public WineRegistryTest, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(RandomFilesWithNotes, ReadTheSame) {
    std::mt19937 rng(20261211);
    for (int round = 0; round < 12; ++round) {
        const bool win64 = round % 3 != 2;
        const ModelFile file = random_file(rng, win64 ? kWin64Head : kWin32Head, 40 + round * 10);
        write("system.reg", file.text);
        const auto lookups = lookups_of(file, rng, 30);
        const std::size_t bound = GetParam() == 0 ? file.sections.size() : GetParam();
        WineRegistry reg(prefix_, bound);
        for (const auto& path : lookups) {
            std::string where;
            for (int c : path) where += components()[c].named + "\\";
            SCOPED_TRACE("round " + std::to_string(round) + ", notes of " + std::to_string(bound) + ": " + where);
            ASSERT_EQ(reader_lookup(reg, path), model_lookup(file, path, win64));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Notes, RandomFilesWithNotes, ::testing::Values(1, 3, 12, 0),
                         [](const auto& info) { return info.param == 0 ? std::string("AllSections")
                                                                         : "Of" + std::to_string(info.param); });

TEST_F(WineRegistryTest, ChangedFileIsIndexedAgain) {
    write_system("\n[Software\\\\A\\\\B\\\\C\\\\D] 1\n\"v\"=\"1\"\n");
    WineRegistry reg(prefix_);
    const auto lookup = [&](std::string_view path) {
        const RegKey key = open_path(reg, kHkeyLocalMachine, path);
        if (!key) return std::optional<std::string>();
        auto v = reg.query_string(key, "v");
        reg.close_key(key);
        return v;
    };
    EXPECT_EQ(lookup("Software\\A\\B\\C\\D"), "1");
    EXPECT_EQ(lookup("Software\\A\\B\\C\\E"), std::nullopt);
    EXPECT_EQ(reg.passes(), 1u);
    // Saved again as Wine does, by a new file renamed over the old one.
    std::ofstream(prefix_ / "new.reg", std::ios::binary)
        << kWin64Head << "\n[Software\\\\A\\\\B\\\\C\\\\E] 1\n\"v\"=\"2\"\n\n[Software\\\\Z] 1\n";
    fs::rename(prefix_ / "new.reg", prefix_ / "system.reg");
    EXPECT_EQ(lookup("Software\\A\\B\\C\\D"), std::nullopt);
    EXPECT_EQ(lookup("Software\\A\\B\\C\\E"), "2");
    EXPECT_EQ(lookup("Software\\Z"), std::nullopt) << "no value";
    EXPECT_EQ(reg.passes(), 2u);
    // Rewritten in place with another size.
    write_system("\n[Software\\\\Y] 1\n\"v\"=\"3\"\n");
    EXPECT_EQ(lookup("Software\\Y"), "3");
    EXPECT_EQ(lookup("Software\\A\\B\\C\\E"), std::nullopt);
}

TEST_F(WineRegistryTest, FileCutShortUnderOpenKeysReadsAsTheShorterFile) {
    std::string body;
    for (int i = 0; i < 2000; ++i) body += "\n[Software\\\\Filler\\\\K" + std::to_string(i) + "] 1\n\"v\"=\"x\"\n";
    body += "\n[Software\\\\Zeta\\\\Deep\\\\Er\\\\Key] 1\n\"v\"=\"end\"\n";
    for (const std::uintmax_t cut : {std::uintmax_t{0}, std::uintmax_t{10}, std::uintmax_t{200}, std::uintmax_t{40000}}) {
        SCOPED_TRACE(cut);
        write_system(body);
        WineRegistry reg(prefix_);
        const RegKey zeta = open_path(reg, kHkeyLocalMachine, "Software\\Zeta");
        ASSERT_NE(zeta, 0u);
        fs::resize_file(prefix_ / "system.reg", cut);
        // What was read before the cut may still be delivered; anything else reads as missing.
        const RegKey deep = open_path(reg, zeta, "Deep\\Er\\Key");
        if (deep) {
            const auto v = reg.query_string(deep, "v");
            EXPECT_TRUE(!v || *v == "end");
            reg.close_key(deep);
        }
        EXPECT_EQ(reg.open_key(zeta, "Missing", 0x3F), 0u);
        reg.close_key(zeta);
        // The next lookup reads the shorter file.
        const RegKey software = reg.open_key(kHkeyLocalMachine, "Software", 0x3F);
        EXPECT_EQ(software != 0, cut >= 200);
        EXPECT_EQ(open_path(reg, kHkeyLocalMachine, "Software\\Zeta"), 0u);
        reg.close_key(software);
        EXPECT_EQ(reg.open_key_count(), 0u);
    }
}

// Files with more sections than the notes keep: every section of a key is still read, whatever
// their number, and the lookups of a run read the file a few times, not once each.
TEST_F(WineRegistryTest, FilesWithMoreSectionsThanTheNotesKeep) {
    constexpr int kMany = 600000;  // more than the notes of a file or a subtree keep
    const auto lookup = [](WineRegistry& reg, RegKey key, std::string_view name) -> std::optional<std::string> {
        std::vector<std::uint8_t> area(256);
        std::uint32_t length = 0;
        if (!key || !reg.query_value(key, name, area, length)) return std::nullopt;
        return std::string(area.begin(), area.begin() + length);
    };
    {
        SCOPED_TRACE("many keys at the top");
        std::string body;
        for (int i = 0; i < kMany; ++i) body += "[K" + std::to_string(i) + "]\n";
        body += "\n[Software\\\\Quibex\\\\Quintrel! 4] 1\n\"InstallPath\"=\"q\"\n"
                "\n[K5\\\\Sub] 1\n\"v\"=\"s\"\n";
        write_system(body, kWin32Head);
        EXPECT_EQ(read("Software\\Quibex\\Quintrel! 4", "InstallPath"), "q\0"s);
        EXPECT_EQ(read("K5\\Sub", "v"), "s\0"s);
        EXPECT_EQ(read("K599999\\Sub", "v"), std::nullopt);
        EXPECT_EQ(read("Software\\Quibex\\Quintrel! 3", "InstallPath"), std::nullopt);
    }
    {
        SCOPED_TRACE("the host's key written in more sections than are noted");
        std::string body;
        body += "\n[Software\\\\Quibex\\\\Quintrel! 4] 1\n\"Version\"=\"3.9\"\n";
        for (int i = 0; i < kMany; ++i) body += "[Software\\\\Quibex\\\\Quintrel! 4]\n\"V" + std::to_string(i) + "\"=\"x\"\n";
        body += "\n[Software\\\\Quibex\\\\Quintrel! 4] 1\n\"InstallPath\"=\"C:\\\\Q4\"\n\"Version\"=\"4.0\"\n";
        write_system(body, kWin32Head);
        WineRegistry reg(prefix_);
        const RegKey key = open_path(reg, kHkeyLocalMachine, "Software\\Quibex\\Quintrel! 4");
        ASSERT_NE(key, 0u);
        EXPECT_EQ(lookup(reg, key, "InstallPath"), "C:\\Q4\0"s);
        EXPECT_EQ(lookup(reg, key, "Version"), "4.0\0"s) << "the later definition wins";
        EXPECT_EQ(lookup(reg, key, "V0"), "x\0"s);
        EXPECT_EQ(lookup(reg, key, "V" + std::to_string(kMany - 1)), "x\0"s);
        EXPECT_EQ(lookup(reg, key, "V" + std::to_string(kMany)), std::nullopt);
        // The notes, the key's subtree, the key itself, and one for each of the five values.
        EXPECT_LE(reg.passes(), 8u);
        reg.close_key(key);
        EXPECT_EQ(open_path(reg, kHkeyLocalMachine, "Software\\Quibex\\Quintrel! 3"), 0u);
    }
    {
        SCOPED_TRACE("many keys deep in another subtree");
        std::string body;
        for (int i = 0; i < kMany; ++i) body += "[Software\\\\Classes\\\\CLSID\\\\K" + std::to_string(i) + "]\n";
        body += "\n[Software\\\\Quibex\\\\Quintrel! 4] 1\n\"InstallPath\"=\"C:\\\\Q4\"\n"
                "\n[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\App Paths\\\\quintrel.exe] 1\n"
                "@=\"C:\\\\Q3\\\\quintrel.exe\"\n";
        write_system(body, kWin32Head);
        // The lookups of a run, one key at a time, in one reader.
        WineRegistry reg(prefix_);
        const RegKey v4 = open_path(reg, kHkeyLocalMachine, "Software\\Quibex\\Quintrel! 4");
        EXPECT_EQ(lookup(reg, v4, "InstallPath"), "C:\\Q4\0"s);
        reg.close_key(v4);
        const RegKey v30 =
            open_path(reg, kHkeyLocalMachine, "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\quintrel.exe");
        EXPECT_EQ(lookup(reg, v30, ""), "C:\\Q3\\quintrel.exe\0"s);
        reg.close_key(v30);
        EXPECT_LE(reg.passes(), 2u) << "the notes, and one subtree for the deepest keys asked";
        EXPECT_EQ(open_path(reg, kHkeyLocalMachine, "Software\\Classes\\CLSID\\K" + std::to_string(kMany)), 0u);
        const RegKey last = open_path(reg, kHkeyLocalMachine, "Software\\Classes\\CLSID\\K" + std::to_string(kMany - 1));
        EXPECT_NE(last, 0u);
        reg.close_key(last);
    }
}

}  // namespace
}  // namespace aggiorna::portable
