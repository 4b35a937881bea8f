// Tests of LetturaImpostazioni: defaults, stored values through each conversion, partial failure, keys.
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "fakes/fake_platform.h"
#include "settings/funzioni.h"
#include "settings/impostazioni.h"

namespace aggiorna {
namespace {

using testing::FakeLocale;
using testing::FakePlatform;

const std::string kChiave = "Software\\VB and VBA Program Settings\\Quintrel! 4\\";

class Preferenze : public ::testing::Test {
protected:
    void memorizza(const std::string& sezione, const std::string& nome, const std::string& testo) {
        p.registry.set_string(kHkeyCurrentUser, kChiave + sezione, nome, testo);
    }
    // The run-time code LetturaImpostazioni raised, 0 when it did not fail.
    int leggi() {
        try {
            impostazioni.LetturaImpostazioni();
        } catch (const Error& e) {
            return e.code();
        }
        return 0;
    }

    FakePlatform p;
    OggettiDecodifica decodifica;
    Impostazioni impostazioni{p.platform, decodifica};
};

void verifica_predefiniti(const Impostazioni& s) {
    EXPECT_EQ(s.Ritenuta(), 3.0f);
    EXPECT_EQ(s.FormatoValuta(), "#,##0");
    EXPECT_EQ(s.NomeValuta(), "Lire");
    EXPECT_EQ(s.PrimaEsecuzione(), 0);
    EXPECT_EQ(s.MostraSuggerimenti(), "1");
    EXPECT_EQ(s.ChiusuraProgramma(), 0);
    EXPECT_EQ(s.VersioneDisponibile(), 0);
    EXPECT_EQ(s.NomeVersDisp(), "");
    EXPECT_EQ(static_cast<double>(s.Premio(1)), 11.232000350952148);
    EXPECT_EQ(s.Premio(2), 250.0f);
    EXPECT_EQ(s.Premio(3), 4250.0f);
    EXPECT_EQ(s.Premio(4), 80000.0f);
    EXPECT_EQ(s.Premio(5), 1000000.0f);
}

TEST_F(Preferenze, NothingStoredGivesEveryDefaultUnderAnItalianLocale) {
    p.locale.format = FakeLocale::italian();
    p.shell.desktop = "C:\\Documents and Settings\\Mario\\Desktop";
    ASSERT_EQ(leggi(), 0);
    verifica_predefiniti(impostazioni);
    EXPECT_EQ(impostazioni.SeparatoreDecimale(), "virgola");
    EXPECT_EQ(impostazioni.Desktop(), "C:\\Documents and Settings\\Mario\\Desktop");
}

TEST_F(Preferenze, NothingStoredGivesEveryDefaultUnderAnEnglishLocale) {
    p.locale.format = FakeLocale::english();
    // The sections exist but hold none of the values.
    p.registry.add_key(kHkeyCurrentUser, kChiave + "Options");
    p.registry.set_string(kHkeyCurrentUser, kChiave + "Startup", "Altro", "9");
    ASSERT_EQ(leggi(), 0);
    verifica_predefiniti(impostazioni);
    EXPECT_EQ(impostazioni.SeparatoreDecimale(), "punto");
    EXPECT_EQ(impostazioni.Desktop(), p.shell.desktop);
}

// One stored value and what its property reads afterwards, or the code the operation raises.
struct CasoValore {
    const char* sezione;
    const char* nome;
    const char* memorizzato;
    bool italiano;
    std::function<std::string(const Impostazioni&)> proprieta;
    std::string atteso;  // the property as text when the operation succeeds
    int codice = 0;
};

std::string ritenuta(const Impostazioni& s) { return std::to_string(s.Ritenuta()); }
std::string mostra(const Impostazioni& s) { return s.MostraSuggerimenti(); }
std::string prima(const Impostazioni& s) { return std::to_string(s.PrimaEsecuzione()); }
std::string chiusura(const Impostazioni& s) { return std::to_string(s.ChiusuraProgramma()); }
std::string versione(const Impostazioni& s) { return std::to_string(s.VersioneDisponibile()); }
std::string nome_vers(const Impostazioni& s) { return s.NomeVersDisp(); }
std::string formato(const Impostazioni& s) { return s.FormatoValuta(); }
std::string valuta(const Impostazioni& s) { return s.NomeValuta(); }

TEST_F(Preferenze, StoredValuesGoThroughTheirConversions) {
    const CasoValore casi[] = {
        {"Options", "Ritenuta", "2,5", true, ritenuta, std::to_string(2.5f)},
        {"Options", "Ritenuta", "2.5", false, ritenuta, std::to_string(2.5f)},
        {"Options", "Ritenuta", " -1,25 ", true, ritenuta, std::to_string(-1.25f)},
        {"Options", "Ritenuta", "", true, ritenuta, "", code::type_mismatch},
        {"Options", "Ritenuta", "2.5", true, ritenuta, "", code::type_mismatch},
        {"Options", "Ritenuta", "1E39", false, ritenuta, "", code::overflow},
        {"Options", "Formato valuta", "\xE2\x82\xAC #.##0,00", true, formato, "\xE2\x82\xAC #.##0,00"},
        {"Options", "Nome valuta", "", true, valuta, ""},
        {"Options", "Nome valuta", "Euro", true, valuta, "Euro"},
        {"Startup", "Prima esecuzione", "1", true, prima, "1"},
        {"Startup", "Prima esecuzione", "-32768", true, prima, "-32768"},
        {"Startup", "Prima esecuzione", "sì", true, prima, "", code::type_mismatch},
        {"Startup", "Prima esecuzione", "32768", true, prima, "", code::overflow},
        {"Options", "Show Tips at Startup", "0", true, mostra, "0"},
        {"Options", "Show Tips at Startup", "-1", true, mostra, "-1"},
        {"Options", "Show Tips at Startup", "1,5", true, mostra, "2"},
        {"Options", "Show Tips at Startup", "2,5", true, mostra, "2"},
        {"Startup", "End", "255", true, chiusura, "255"},
        {"Startup", "End", "256", true, chiusura, "", code::overflow},
        {"Startup", "End", "-1", true, chiusura, "", code::overflow},
        {"Startup", "End", "-0,5", true, chiusura, "0"},
        {"Startup", "NewVersNumber", "4.5", true, versione, "4"},
        {"Startup", "NewVersNumber", "5.5", true, versione, "6"},
        {"Startup", "NewVersNumber", "4,7", true, versione, "4"},
        {"Startup", "NewVersNumber", "12 3", true, versione, "123"},
        {"Startup", "NewVersNumber", "&H10", true, versione, "16"},
        {"Startup", "NewVersNumber", "abc", true, versione, "0"},
        {"Startup", "NewVersNumber", "", true, versione, "0"},
        {"Startup", "NewVersNumber", "40000", true, versione, "", code::overflow},
        {"Startup", "NewVersName", "  4.1 beta ", true, nome_vers, "  4.1 beta "},
    };
    for (const auto& c : casi) {
        FakePlatform piattaforma;
        piattaforma.locale.format = c.italiano ? FakeLocale::italian() : FakeLocale::english();
        piattaforma.registry.set_string(kHkeyCurrentUser, kChiave + c.sezione, c.nome, c.memorizzato);
        Impostazioni s{piattaforma.platform, decodifica};
        int codice = 0;
        try {
            s.LetturaImpostazioni();
        } catch (const Error& e) {
            codice = e.code();
        }
        SCOPED_TRACE(std::string(c.nome) + " = \"" + c.memorizzato + "\"");
        EXPECT_EQ(codice, c.codice);
        if (c.codice == 0) {
            EXPECT_EQ(c.proprieta(s), c.atteso);
        }
        EXPECT_EQ(piattaforma.registry.open_handles(), 0u);
    }
}

TEST_F(Preferenze, FailureAtPrimaEsecuzioneLeavesEarlierValuesSetAndLaterOnesAsTheyWere) {
    p.locale.format = FakeLocale::italian();
    impostazioni.Ritenuta(9.0f);
    impostazioni.FormatoValuta("prima");
    impostazioni.NomeValuta("prima");
    impostazioni.PrimaEsecuzione(7);
    impostazioni.ChiusuraProgramma(8);
    impostazioni.VersioneDisponibile(9);
    impostazioni.NomeVersDisp("prima");
    memorizza("Options", "Ritenuta", "4,5");
    memorizza("Options", "Nome valuta", "Euro");
    memorizza("Startup", "Prima esecuzione", "uno");
    memorizza("Options", "Show Tips at Startup", "1");
    memorizza("Startup", "End", "3");
    memorizza("Startup", "NewVersNumber", "5");
    memorizza("Startup", "NewVersName", "5.0");

    EXPECT_EQ(leggi(), code::type_mismatch);

    EXPECT_EQ(impostazioni.Premio(5), 1000000.0f);
    EXPECT_EQ(impostazioni.Ritenuta(), 4.5f);
    EXPECT_EQ(impostazioni.FormatoValuta(), "#,##0");
    EXPECT_EQ(impostazioni.NomeValuta(), "Euro");
    EXPECT_EQ(impostazioni.PrimaEsecuzione(), 7);
    EXPECT_EQ(impostazioni.SeparatoreDecimale(), "");
    EXPECT_EQ(impostazioni.MostraSuggerimenti(), "0");  // its value at creation; the stored 1 was not read
    EXPECT_EQ(impostazioni.ChiusuraProgramma(), 8);
    EXPECT_EQ(impostazioni.VersioneDisponibile(), 9);
    EXPECT_EQ(impostazioni.NomeVersDisp(), "prima");
    EXPECT_EQ(impostazioni.Desktop(), "");
    EXPECT_EQ(p.registry.open_handles(), 0u);
}

TEST_F(Preferenze, SeparatoreDecimaleLooksAtTheFirstCharacterOfTheSeparator) {
    const std::pair<const char*, const char*> casi[] = {
        {",", "virgola"}, {".", "punto"}, {"\xC2\xB7", "punto"}, {"'", "punto"}, {", ", "virgola"}, {"", "punto"}};
    for (auto [separatore, atteso] : casi) {
        FakePlatform piattaforma;
        piattaforma.locale.format = NumberFormat{separatore, "", "0"};
        Impostazioni s{piattaforma.platform, decodifica};
        s.LetturaImpostazioni();
        EXPECT_EQ(s.SeparatoreDecimale(), atteso) << '"' << separatore << '"';
    }
}

TEST_F(Preferenze, EveryKeyOpenedForReadingIsClosedOnce) {
    memorizza("Options", "Ritenuta", "3");
    memorizza("Startup", "End", "1");
    ASSERT_EQ(leggi(), 0);
    EXPECT_EQ(p.registry.open_handles(), 0u);
    EXPECT_EQ(p.registry.bad_closes, 0);
    // Eight values read through a chain of four keys each, all of which exist here.
    EXPECT_EQ(p.registry.opens.size(), 8u * 4u);
    EXPECT_EQ(p.registry.closes, 8 * 4);
    for (const auto& o : p.registry.opens) {
        EXPECT_EQ(o.access & (reg_access::set_value | reg_access::create_sub_key | reg_access::create_link), 0u);
        EXPECT_EQ(o.path.rfind("hkcu\\software", 0), 0u) << o.path;
    }
}

TEST_F(Preferenze, ChainBrokenHalfwayClosesWhatWasOpened) {
    // "Quintrel! 4" exists under another application name only: the chain stops at the third key.
    p.registry.set_string(kHkeyCurrentUser, "Software\\VB and VBA Program Settings\\Altro\\Options", "Ritenuta", "9");
    ASSERT_EQ(leggi(), 0);
    EXPECT_EQ(impostazioni.Ritenuta(), 3.0f);
    EXPECT_EQ(p.registry.open_handles(), 0u);
    EXPECT_EQ(p.registry.bad_closes, 0);
    EXPECT_EQ(p.registry.closes, 8 * 2);
}

TEST_F(Preferenze, ValueStoredAsBinaryCountsAsMissing) {
    p.registry.set_binary(kHkeyCurrentUser, kChiave + "Options", "Ritenuta", std::string("\x02\x00\x00\x00", 4));
    p.registry.set_binary(kHkeyCurrentUser, kChiave + "Options", "Nome valuta", "Euro");
    ASSERT_EQ(leggi(), 0);
    EXPECT_EQ(impostazioni.Ritenuta(), 3.0f);
    EXPECT_EQ(impostazioni.NomeValuta(), "Lire");
}

TEST_F(Preferenze, RunningAgainReadsEverythingAgain) {
    memorizza("Options", "Nome valuta", "Euro");
    ASSERT_EQ(leggi(), 0);
    impostazioni.NomeValuta("altro");
    memorizza("Startup", "NewVersName", "5.0");
    ASSERT_EQ(leggi(), 0);
    EXPECT_EQ(impostazioni.NomeValuta(), "Euro");
    EXPECT_EQ(impostazioni.NomeVersDisp(), "5.0");
}

class ShellCheFallisce final : public Shell {
public:
    std::string special_folder(int) override { throw Error(code::path_not_found, "no shell"); }
};

class ShellConNul final : public Shell {
public:
    std::string special_folder(int) override { return std::string("C:\\Desktop\0   ", 14); }
};

TEST(PercorsoCartellaSpeciale, ShellFailureGivesEmptyTextNeverAnError) {
    ShellCheFallisce shell;
    EXPECT_EQ(Funzioni::PercorsoCartellaSpeciale(shell, 0), "");
}

TEST(PercorsoCartellaSpeciale, PathEndsAtItsFirstNul) {
    ShellConNul shell;
    EXPECT_EQ(Funzioni::PercorsoCartellaSpeciale(shell, 0), "C:\\Desktop");
}

TEST(PercorsoCartellaSpeciale, FolderTheShellDoesNotGiveIsEmpty) {
    testing::FakeShell shell;
    EXPECT_EQ(Funzioni::PercorsoCartellaSpeciale(shell, 5), "");
    EXPECT_EQ(Funzioni::PercorsoCartellaSpeciale(shell, 0), shell.desktop);
}

}  // namespace
}  // namespace aggiorna
