// The host lookups over a fake registry: the two cuts, the access asked for, keys closed.
#include <gtest/gtest.h>

#include "fakes/fake_platform.h"
#include "update/aggiornamento.h"

namespace aggiorna {
namespace {

using testing::FakePlatform;

constexpr const char* kChiave4 = "Software\\Quibex\\Quintrel! 4";
constexpr const char* kChiave30 = "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\quintrel.exe";

struct CasoTaglio {
    const char* nome;
    std::string memorizzato;
    std::string atteso;
};

class TaglioVersione4 : public ::testing::TestWithParam<CasoTaglio> {};

TEST_P(TaglioVersione4, ReturnsTheStoredFolderUnchanged) {
    FakePlatform f;
    f.registry.set_string(kHkeyLocalMachine, kChiave4, "InstallPath", GetParam().memorizzato);
    EXPECT_EQ(PercorsoVersione4(f.registry, f.locale), GetParam().atteso);
    EXPECT_EQ(f.registry.open_handles(), 0u);
    EXPECT_EQ(f.registry.bad_closes, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Casi, TaglioVersione4,
    ::testing::Values(CasoTaglio{"plain", "C:\\Programmi\\Quintrel4", "C:\\Programmi\\Quintrel4"},
                      CasoTaglio{"trailing_backslash", "C:\\Programmi\\Quintrel4\\", "C:\\Programmi\\Quintrel4\\"},
                      CasoTaglio{"blanks_kept", " C:\\Q 4 ", " C:\\Q 4 "},
                      CasoTaglio{"empty", "", ""},
                      CasoTaglio{"exactly_255", std::string(255, 'x'), std::string(255, 'x')},
                      // A string value is read whole: a long folder is still the host's.
                      CasoTaglio{"longer_than_the_area", std::string(300, 'x'), std::string(300, 'x')},
                      CasoTaglio{"ansi_accent", "C:\\Citt\xe0", "C:\\Citt\xc3\xa0"}),
    [](const auto& info) { return std::string(info.param.nome); });

class TaglioVersione30 : public ::testing::TestWithParam<CasoTaglio> {};

TEST_P(TaglioVersione30, CutsTheProgramFolder) {
    FakePlatform f;
    f.registry.set_string(kHkeyLocalMachine, kChiave30, "", GetParam().memorizzato);
    EXPECT_EQ(PercorsoVersione30(f.registry, f.locale), GetParam().atteso);
    EXPECT_EQ(f.registry.open_handles(), 0u);
    EXPECT_EQ(f.registry.bad_closes, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Casi, TaglioVersione30,
    ::testing::Values(CasoTaglio{"plain", "C:\\Programmi\\Quintrel\\quintrel.exe", "C:\\Programmi\\Quintrel"},
                      CasoTaglio{"upper_case", "C:\\PROGRA~1\\QUINTREL\\QUINTREL.EXE", "C:\\PROGRA~1\\QUINTREL"},
                      CasoTaglio{"mixed_case", "C:\\Q\\quintrel.Exe", "C:\\Q"},
                      // The last ".exe" names the program file; a folder may contain ".exe".
                      CasoTaglio{"exe_in_folder_name", "D:\\a.exe.dir\\quintrel.exe", "D:\\a.exe.dir"},
                      CasoTaglio{"quoted", "\"C:\\Prog\\quintrel.exe\"", "C:\\Prog"},
                      CasoTaglio{"quoted_with_argument", "\"C:\\Prog\\quintrel.exe\" /x", "C:\\Prog"},
                      CasoTaglio{"no_backslash", "quintrel.exe", ""},
                      CasoTaglio{"no_exe", "C:\\Prog\\quintrel", ""},
                      CasoTaglio{"backslash_only_at_start", "\\quintrel.exe", ""},
                      // Windows takes "/" for a separator too.
                      CasoTaglio{"slash_separates", "C:/Prog/quintrel.exe", "C:/Prog"},
                      CasoTaglio{"slash_and_backslash", "C:\\Prog/Q3\\quintrel.exe", "C:\\Prog/Q3"},
                      CasoTaglio{"empty", "", ""}),
    [](const auto& info) { return std::string(info.param.nome); });

TEST(Percorsi, MissingKeysOrValuesGiveEmptyText) {
    FakePlatform f;
    EXPECT_EQ(PercorsoVersione4(f.registry, f.locale), "");
    EXPECT_EQ(PercorsoVersione30(f.registry, f.locale), "");
    f.registry.set_string(kHkeyLocalMachine, kChiave4, "Altro", "C:\\Q4");
    EXPECT_EQ(PercorsoVersione4(f.registry, f.locale), "");
    EXPECT_EQ(f.registry.open_handles(), 0u);
    EXPECT_EQ(f.registry.bad_closes, 0);
}

TEST(Percorsi, AValueOfAnotherTypeIsReadAsText) {
    FakePlatform f;
    f.registry.set_binary(kHkeyLocalMachine, kChiave4, "InstallPath", std::string("C:\\Q4\0junk", 10));
    f.registry.set_binary(kHkeyLocalMachine, kChiave30, "", "C:\\Q3\\quintrel.exe");
    EXPECT_EQ(PercorsoVersione4(f.registry, f.locale), "C:\\Q4");
    EXPECT_EQ(PercorsoVersione30(f.registry, f.locale), "C:\\Q3");
}

TEST(Percorsi, ABinaryValueThatDoesNotFitTheAreaIsNoFolder) {
    FakePlatform f;
    f.registry.set_binary(kHkeyLocalMachine, kChiave4, "InstallPath", std::string(256, 'x'));
    EXPECT_EQ(PercorsoVersione4(f.registry, f.locale), "");
}

// A string value is read as Windows reads it for a Unicode program: an expandable one with its
// variables expanded, and no character taken for another of the ANSI code page.
TEST(Percorsi, StringValuesAreReadAsUnicodeAndExpanded) {
    struct Caso { const char* nome; bool espandibile; std::string ansi, unicode; std::string atteso4, atteso30; };
    const Caso casi[] = {
        {"expanded", true, "%SystemDrive%\\Q", "C:\\Q", "C:\\Q", "C:"},
        // "C:\Ｑ30" (a fullwidth letter) has no ANSI spelling: the ANSI calls give its best fit.
        {"no_best_fit", false, "C:\\Q30", "C:\\\xEF\xBC\xB1" "30", "C:\\\xEF\xBC\xB1" "30", "C:"},
        {"unknown_variable_stays", true, "%NOPE%\\Q", "%NOPE%\\Q", "%NOPE%\\Q", "%NOPE%"},
    };
    for (const Caso& c : casi) {
        SCOPED_TRACE(c.nome);
        FakePlatform f;
        const std::string exe = c.unicode + "\\quintrel.exe";
        if (c.espandibile) {
            f.registry.set_expand_string(kHkeyLocalMachine, kChiave4, "InstallPath", c.ansi, c.unicode);
            f.registry.set_expand_string(kHkeyLocalMachine, kChiave30, "", c.ansi + "\\quintrel.exe", exe);
        } else {
            f.registry.set_unicode_string(kHkeyLocalMachine, kChiave4, "InstallPath", c.ansi, c.unicode);
            f.registry.set_unicode_string(kHkeyLocalMachine, kChiave30, "", c.ansi + "\\quintrel.exe", exe);
        }
        EXPECT_EQ(PercorsoVersione4(f.registry, f.locale), c.atteso4);
        EXPECT_EQ(PercorsoVersione30(f.registry, f.locale), c.unicode);
        EXPECT_EQ(f.registry.open_handles(), 0u);
    }
}

TEST(Percorsi, AFullPathHasADriveOrIsANetworkPath) {
    struct Caso { const char* cartella; bool assoluto; };
    const Caso casi[] = {
        {"C:\\Q30", true},   {"c:/Q30", true},         {"C:\\", true},           {"\\\\server\\share\\Q", true},
        {"//server/share", true}, {"C:Q30", false},     {"C:", false},            {"\\Q30", false},
        {"Q30", false},        {"%SystemDrive%\\Q30", false}, {"\\\\\\x", false}, {"", false},
        {"1:\\Q", false},
    };
    for (const Caso& c : casi) EXPECT_EQ(PercorsoAssoluto(c.cartella), c.assoluto) << c.cartella;
}

TEST(Percorsi, AskForReadAccessInTheThirtyTwoBitViewOnly) {
    FakePlatform f;
    // A user without write rights on HKEY_LOCAL_MACHINE.
    f.registry.refused_access = reg_access::set_value | reg_access::create_sub_key | reg_access::create_link;
    f.registry.set_string(kHkeyLocalMachine, kChiave4, "InstallPath", "C:\\Q4");
    f.registry.set_string(kHkeyLocalMachine, kChiave30, "", "C:\\Q3\\quintrel.exe");
    EXPECT_EQ(PercorsoVersione4(f.registry, f.locale), "C:\\Q4");
    EXPECT_EQ(PercorsoVersione30(f.registry, f.locale), "C:\\Q3");
    ASSERT_EQ(f.registry.opens.size(), 3u + 6u);
    for (const auto& o : f.registry.opens) EXPECT_EQ(o.access, reg_access::read | reg_access::wow64_32key) << o.path;
}

TEST(Percorsi, AKeyMissingHalfWayClosesWhatWasOpened) {
    FakePlatform f;
    f.registry.add_key(kHkeyLocalMachine, "Software\\Quibex");
    EXPECT_EQ(PercorsoVersione4(f.registry, f.locale), "");
    EXPECT_EQ(f.registry.opens.size(), 3u);
    EXPECT_EQ(f.registry.closes, 2);
    EXPECT_EQ(f.registry.open_handles(), 0u);
}

}  // namespace
}  // namespace aggiorna
