// The shell and locale backends under Wine: desktop folder, number format, ANSI text (the
// UTF-8 system code page included).
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <string>

#include "platform/windows/locale.h"
#include "platform/windows/registry.h"
#include "platform/windows/shell.h"
#include "platform/windows/text.h"
#include "platform/windows/win.h"

namespace aggiorna::windows {
namespace {

TEST(Desktop, IsAnExistingFolder) {
    WindowsShell shell;
    const std::string desktop = shell.special_folder(kCsidlDesktop);
    ASSERT_FALSE(desktop.empty());
    EXPECT_NE(desktop.find(":\\"), std::string::npos) << desktop;
    EXPECT_NE(desktop.back(), '\0');
    const DWORD found = GetFileAttributesW(to_wide(desktop, 52).c_str());
    ASSERT_NE(found, INVALID_FILE_ATTRIBUTES) << desktop;
    EXPECT_TRUE(found & FILE_ATTRIBUTE_DIRECTORY);
}

TEST(Desktop, AnUnknownFolderGivesEmptyText) {
    WindowsShell shell;
    EXPECT_EQ(shell.special_folder(0x7FFF), "");
    EXPECT_EQ(shell.special_folder(-1), "");
}

// Run by CTest under LC_ALL=it_IT.UTF-8 and LC_ALL=en_US.UTF-8, with the separators expected.
TEST(UserLocale, NumberFormatFollowsTheUsersLocale) {
    const char* decimal = std::getenv("AGGIORNA_EXPECTED_DECIMAL");
    const char* thousands = std::getenv("AGGIORNA_EXPECTED_THOUSANDS");
    WindowsLocale locale;
    const NumberFormat format = locale.number_format();
    if (decimal == nullptr || thousands == nullptr) {
        EXPECT_FALSE(format.decimal_separator.empty());
        GTEST_SKIP() << "no locale chosen for this run";
    }
    EXPECT_EQ(format.decimal_separator, decimal);
    EXPECT_EQ(format.thousands_separator, thousands);
    EXPECT_EQ(format.grouping, "3;0");
}

TEST(AnsiText, ConvertsTheCodePageAndKeepsNuls) {
    ASSERT_EQ(GetACP(), 1252u) << "the cases below are Windows-1252 bytes";
    WindowsLocale locale;
    const struct {
        std::string ansi;
        std::string utf8;
    } cases[] = {
        {"", ""},
        {"C:\\Programmi\\Quintrel4", "C:\\Programmi\\Quintrel4"},
        {"perch\xE8 \x80 \x9C", "perchè € œ"},
        {std::string("ab\0\0", 4), std::string("ab\0\0", 4)},
        {"\x81", "\xC2\x81"},  // undefined in the code page: the C1 control, as Windows maps it
    };
    for (const auto& c : cases) EXPECT_EQ(locale.ansi_to_utf8(c.ansi), c.utf8);
}

TEST(AnsiText, Utf8ToAnsiRefusesWhatTheCodePageCannotHold) {
    EXPECT_EQ(utf8_to_ansi("Città"), std::string("Citt\xE0"));
    EXPECT_EQ(utf8_to_ansi(""), std::string());
    EXPECT_EQ(utf8_to_ansi("Ω"), std::nullopt);
    EXPECT_EQ(utf8_to_ansi("\xFF"), std::nullopt);
}

// The arguments chosen for each code page are the ones Windows accepts: with the UTF-8 system
// code page, WC_NO_BEST_FIT_CHARS or a default-character argument makes the conversion fail.
// (Wine accepts them all, so only the choice can be tested here.)
TEST(AnsiText, ConversionArgumentsSuitTheCodePage) {
    const struct {
        std::uint32_t code_page;
        std::uint32_t flags;
        bool asks_used_default;
    } cases[] = {
        {1252, WC_NO_BEST_FIT_CHARS, true},  {932, WC_NO_BEST_FIT_CHARS, true},
        {1250, WC_NO_BEST_FIT_CHARS, true},  {CP_UTF8, WC_ERR_INVALID_CHARS, false},
        {CP_UTF7, 0, false},                 {50220, 0, false},
        {54936, 0, false},                   {57011, 0, false},
        {42, 0, false},
    };
    for (const auto& c : cases) {
        const CodePageArguments arguments = code_page_arguments(c.code_page);
        EXPECT_EQ(arguments.flags, c.flags) << c.code_page;
        EXPECT_EQ(arguments.asks_used_default, c.asks_used_default) << c.code_page;
    }
}

TEST(AnsiText, ConvertsIntoUtf8AndOtherCodePages) {
    EXPECT_EQ(utf8_to_code_page("Città Ω 😀", CP_UTF8), "Città Ω 😀");
    EXPECT_EQ(utf8_to_code_page("\xED\xA0\x80", CP_UTF8), std::nullopt);  // a lone surrogate
    EXPECT_EQ(utf8_to_code_page("Città", 1252), std::string("Citt\xE0"));
    EXPECT_EQ(utf8_to_code_page("Ω", 1252), std::nullopt);
    EXPECT_EQ(utf8_to_code_page("Città", CP_UTF7), "Citt+AOA-");
}

// Run by CTest under a locale whose Windows code page is UTF-8 (Wine gives the Unicode-only
// locales, Hindi among them, the ANSI code page 65001): the ANSI registry read still finds its
// values, accented names included.
TEST(AnsiCodePageUtf8, RegistryValuesAreStillRead) {
    if (std::getenv("AGGIORNA_EXPECTED_ACP") == nullptr) GTEST_SKIP() << "not the UTF-8 run";
    ASSERT_EQ(std::to_string(GetACP()), std::getenv("AGGIORNA_EXPECTED_ACP"));
    EXPECT_EQ(utf8_to_ansi("InstallPath"), "InstallPath");
    EXPECT_EQ(utf8_to_ansi("Città"), "Città");

    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\AggiornaTest Utf8", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const DWORD value = 0x04030201;
    RegSetValueExW(key, L"Citt\u00e0", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                   sizeof value);
    RegCloseKey(key);

    WindowsRegistry registry;
    RegKey software = registry.open_key(kHkeyCurrentUser, "Software", reg_access::read);
    RegKey test = registry.open_key(software, "AggiornaTest Utf8", reg_access::read);
    std::array<std::uint8_t, 8> area{};
    std::uint32_t length = 0;
    EXPECT_TRUE(registry.query_value(test, "Città", area, length));
    EXPECT_EQ(length, 4u);
    EXPECT_EQ(area[0], 1);
    registry.close_key(test);
    registry.close_key(software);
    RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\AggiornaTest Utf8");
}

TEST(WideText, RoundTripsAndRejectsInvalidUtf8) {
    using namespace std::string_literals;
    const std::string text = "Aggiornamento è \0 fatto 😀"s;
    ASSERT_EQ(text.size(), 29u);
    EXPECT_EQ(to_utf8(to_wide(text, 5)), text);
    try {
        to_wide("\xC3", 52);
        FAIL() << "accepted a cut sequence";
    } catch (const Error& error) {
        EXPECT_EQ(error.code(), 52);
    }
    EXPECT_EQ(to_wide_lossy("a\xC3"), L"a\uFFFD");
}

}  // namespace
}  // namespace aggiorna::windows
