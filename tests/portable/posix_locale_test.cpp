// Tests of PosixLocale under real locales, the grouping conversion and the cp1252 text conversion.
#include "platform/portable/posix_locale.h"

#include <cstdlib>
#include <optional>
#include <string>

#include <locale.h>

#include <gtest/gtest.h>

#include "settings/conversioni.h"

namespace aggiorna::portable {
namespace {

// Sets LC_ALL for the test and puts back what was there before.
class ConLocale : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* v = std::getenv("LC_ALL")) precedente_ = v;
    }
    void TearDown() override {
        if (precedente_) setenv("LC_ALL", precedente_->c_str(), 1);
        else unsetenv("LC_ALL");
    }
    // False when this machine lacks the locale.
    static bool imposta(const char* nome) {
        locale_t l = newlocale(LC_ALL_MASK, nome, static_cast<locale_t>(0));
        if (!l) return false;
        freelocale(l);
        setenv("LC_ALL", nome, 1);
        return true;
    }

private:
    std::optional<std::string> precedente_;
};

TEST_F(ConLocale, ItalianWritesCommaAndPointGroups) {
    if (!imposta("it_IT.UTF-8")) GTEST_SKIP() << "locale it_IT.UTF-8 not installed (Debian: locales-all)";
    PosixLocale locale;
    NumberFormat f = locale.number_format();
    EXPECT_EQ(f.decimal_separator, ",");
    EXPECT_EQ(f.thousands_separator, ".");
    EXPECT_EQ(f.grouping, "3;0");
    EXPECT_EQ(LeggiNumeroLocale("1.234,5", f), 1234.5);
}

TEST_F(ConLocale, EnglishWritesPointAndCommaGroups) {
    if (!imposta("en_US.UTF-8")) GTEST_SKIP() << "locale en_US.UTF-8 not installed (Debian: locales-all)";
    PosixLocale locale;
    NumberFormat f = locale.number_format();
    EXPECT_EQ(f.decimal_separator, ".");
    EXPECT_EQ(f.thousands_separator, ",");
    EXPECT_EQ(f.grouping, "3;0");
}

TEST_F(ConLocale, MultiByteThousandsSeparatorArrivesWhole) {
    // glibc's French locale groups with U+202F, three bytes in UTF-8.
    if (!imposta("fr_FR.UTF-8")) GTEST_SKIP() << "locale fr_FR.UTF-8 not installed (Debian: locales-all)";
    PosixLocale locale;
    NumberFormat f = locale.number_format();
    EXPECT_EQ(f.decimal_separator, ",");
    EXPECT_EQ(f.thousands_separator, "\xE2\x80\xAF");
    EXPECT_EQ(f.grouping, "3;0");
}

TEST_F(ConLocale, SeparatorsOfAnEightBitLocaleArriveAsUtf8) {
    // fr_FR is ISO-8859-1 and groups with the no-break space, byte 0xA0 there.
    if (!imposta("fr_FR")) GTEST_SKIP() << "locale fr_FR (ISO-8859-1) not installed (Debian: locales-all)";
    PosixLocale locale;
    NumberFormat f = locale.number_format();
    EXPECT_EQ(f.decimal_separator, ",");
    EXPECT_EQ(f.thousands_separator, "\xC2\xA0");
}

TEST_F(ConLocale, LocaleTheLibraryCannotLoadFallsBackToC) {
    setenv("LC_ALL", "xx_NOWHERE.UTF-8", 1);
    PosixLocale locale;
    NumberFormat f = locale.number_format();
    EXPECT_EQ(f.decimal_separator, ".");
    EXPECT_EQ(f.thousands_separator, "");
    EXPECT_EQ(f.grouping, "0");
}

TEST_F(ConLocale, FormatIsTheOneAtConstruction) {
    if (!imposta("it_IT.UTF-8")) GTEST_SKIP() << "locale it_IT.UTF-8 not installed (Debian: locales-all)";
    PosixLocale locale;
    setenv("LC_ALL", "C", 1);
    EXPECT_EQ(locale.number_format().decimal_separator, ",");
}

TEST(GroupingFromC, ToTheSemicolonForm) {
    const std::pair<std::string, std::string> casi[] = {
        {"", "0"},           {"\3", "3;0"},     {"\3\3", "3;0"},   {"\3\2", "3;2;0"},
        {"\3\x7f", "3"},     {"\3\3\x7f", "3;3"}, {"\x7f", "0"},    {"\4", "4;0"},
    };
    for (const auto& [c, atteso] : casi) EXPECT_EQ(grouping_from_c(c.c_str()), atteso);
    EXPECT_EQ(grouping_from_c(nullptr), "0");
}

TEST(PosixLocaleAnsi, Cp1252ToUtf8) {
    PosixLocale locale;
    EXPECT_EQ(locale.ansi_to_utf8("\xE8"), "\xC3\xA8");      // è
    EXPECT_EQ(locale.ansi_to_utf8("\x80"), "\xE2\x82\xAC");  // €
    EXPECT_EQ(locale.ansi_to_utf8("Citt\xE0 100\x80"), "Citt\xC3\xA0 100\xE2\x82\xAC");
}

}  // namespace
}  // namespace aggiorna::portable
