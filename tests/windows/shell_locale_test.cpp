// The shell and locale backends under Wine: desktop folder, number format, ANSI text.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/windows/locale.h"
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
