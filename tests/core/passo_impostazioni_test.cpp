// The settings step inside the update run: what is created, keyed, read and released, in which
// order, and how its failures meet the run's handler.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fakes/fake_platform.h"
#include "settings/chiave.h"
#include "update/aggiornamento.h"

namespace aggiorna {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::FakePlatform;

const std::string kConferma4 = "Prima di continuare accertarsi che Quintrel! Professional 4 non sia in esecuzione.";
const std::string kConferma30 = "Prima di continuare accertarsi che Quintrel! Professional 3.0 non sia in esecuzione.";

// A "Dati.lib" whose general data begin at 32500: blank fields, empty access texts, a file list
// of `file_count` entries and no tips.
std::string DatiLib(std::int16_t file_count) {
    std::string s = "\x84\x57\x98\x56";
    s.resize(32499, '\0');
    s.append(19 * 160, ' ');
    for (int i = 0; i < 11; ++i) s.append(2, '\0');
    auto int16 = [&](std::int16_t v) { s += static_cast<char>(v & 0xFF); s += static_cast<char>((v >> 8) & 0xFF); };
    int16(file_count);
    for (int i = 0; i < file_count; ++i) { int16(0); int16(1); s += 'x'; }
    int16(0);
    return s;
}

class SettingsStep : public ::testing::Test {
protected:
    void SetUp() override {
        f.files.put("C:\\Aggiornamento\\Estr.bin", "new");
        f.files.put("C:\\Aggiornamento\\bl.bin", "bl");
        f.registry.set_string(kHkeyLocalMachine, "Software\\Quibex\\Quintrel! 4", "InstallPath", "C:\\Q4");
    }
    void Installa30() {
        f.registry.set_string(kHkeyLocalMachine, "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\quintrel.exe",
                              "", "C:\\Q3\\quintrel.exe");
    }
    void Esegui() { EXPECT_THROW(EseguiAggiornamento(f.platform), testing::ProcessEnded); }
    std::vector<std::string> Testi() const {
        std::vector<std::string> out;
        for (const auto& b : f.boxes.shown) out.push_back(b.text);
        return out;
    }
    FakePlatform f;
};

TEST_F(SettingsStep, RunsInItsFixedOrderBeforeTheConfirmation) {
    f.files.put("C:\\Q4\\Dati.lib", DatiLib(1));
    f.boxes.answers = {box_answer::cancel};
    Esegui();
    const auto passi = f.events({"open:", "close:", "create:Cif", "create:Dec", "ImpostaChiave:", "release:Cif",
                                 "release:Dec", "box:"});
    EXPECT_THAT(passi, ElementsAre("open:C:\\Q4\\Dati.lib", "create:Cifratore", "create:Decodificatore",
                                   "ImpostaChiave:" + CostruisciChiave(), "close:C:\\Q4\\Dati.lib",
                                   "release:Cifratore", "release:Decodificatore", "box:" + kConferma4));
    // The file is checked before any decoding object exists; the key comes before any decoding;
    // the preferences are read after the general data and before the file is closed.
    const auto& log = f.log;
    auto at = [&](const std::string& prefix) {
        return std::find_if(log.begin(), log.end(), [&](const std::string& e) { return e.rfind(prefix, 0) == 0; }) - log.begin();
    };
    ASSERT_LT(at("Decodifica:"), static_cast<std::ptrdiff_t>(log.size()));
    EXPECT_LT(at("ImpostaChiave:"), at("Decodifica:"));
    EXPECT_LT(at("Decifra:"), at("reg-open:hkcu"));
    EXPECT_LT(at("reg-open:hkcu"), at("close:C:\\Q4\\Dati.lib"));
    EXPECT_EQ(f.files.open_readers, 0);
    EXPECT_EQ(f.registry.open_handles(), 0u);
}

TEST_F(SettingsStep, MissingOrInvalidSettingsFileEndsTheRunBeforeAnyConfirmation) {
    struct Caso { const char* nome; std::function<void(FakePlatform&)> prepara; std::string testo; };
    const Caso casi[] = {
        {"missing", [](FakePlatform&) {}, "File delle impostazioni mancante. Impossibile continuare."},
        {"hidden", [](FakePlatform& g) { g.files.put("C:\\Q4\\Dati.lib", DatiLib(1), file_attribute::hidden); },
         "File delle impostazioni mancante. Impossibile continuare."},
        {"invalid", [](FakePlatform& g) { g.files.put("C:\\Q4\\Dati.lib", "\x84\x57\x98"); },
         "Il file delle impostazioni non è valido. Impossibile continuare"},
    };
    for (const Caso& c : casi) {
        SCOPED_TRACE(c.nome);
        FakePlatform g;
        g.files.put("C:\\Aggiornamento\\Estr.bin", "new");
        g.files.put("C:\\Aggiornamento\\bl.bin", "bl");
        g.registry.set_string(kHkeyLocalMachine, "Software\\Quibex\\Quintrel! 4", "InstallPath", "C:\\Q4");
        g.registry.set_string(kHkeyLocalMachine,
                              "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\quintrel.exe", "",
                              "C:\\Q3\\quintrel.exe");
        c.prepara(g);
        g.boxes.answers = {box_answer::ok, box_answer::ok};
        EXPECT_THROW(EseguiAggiornamento(g.platform), testing::ProcessEnded);
        ASSERT_EQ(g.boxes.shown.size(), 1u);
        EXPECT_EQ(g.boxes.shown[0].text, c.testo);
        EXPECT_EQ(g.boxes.shown[0].caption, "Quintrel! Professional");
        EXPECT_EQ(g.boxes.shown[0].style, box_style::error);
        EXPECT_THAT(g.events({"create:Cif", "create:Dec", "copy:"}), IsEmpty());
        EXPECT_EQ(g.process.exit_code, 4);
    }
}

TEST_F(SettingsStep, AnUnreadableFileIsIgnoredAndEverythingStillFollows) {
    f.files.put("C:\\Q4\\Dati.lib", DatiLib(0));  // a file list of 0 entries fails the read (9)
    f.boxes.answers = {box_answer::cancel};
    Esegui();
    EXPECT_THAT(f.events({"reg-open:hkcu\\software"}), ::testing::Not(IsEmpty()));
    EXPECT_THAT(f.events({"release:Cif", "release:Dec", "box:"}),
                ElementsAre("release:Cifratore", "release:Decodificatore", "box:" + kConferma4));
    EXPECT_EQ(f.files.open_readers, 0);
}

TEST_F(SettingsStep, MissingDecodingObjectsAreSkippedWithoutStoppingTheRun) {
    f.files.put("C:\\Q4\\Dati.lib", DatiLib(1));
    f.components.not_installed = {"Cifratore", "Decodificatore"};
    f.boxes.answers = {box_answer::cancel};
    Esegui();
    EXPECT_THAT(f.events({"ImpostaChiave:", "Decodifica:", "Decifra:"}), IsEmpty());
    EXPECT_THAT(f.events({"reg-open:hkcu\\software"}), ::testing::Not(IsEmpty()));
    EXPECT_THAT(Testi(), ElementsAre(kConferma4));
    EXPECT_EQ(f.files.open_readers, 0);
}

TEST_F(SettingsStep, SettingsFileHeldByTheHostIsTheInUseMessage) {
    f.files.put("C:\\Q4\\Dati.lib", DatiLib(1));
    f.files.open_failures["c:\\q4\\dati.lib"] = code::path_file_access;
    Installa30();
    Esegui();
    EXPECT_THAT(Testi(), ElementsAre("Non è stato possibile effettuare l'aggiornamento perchè Quintrel! Professional è in esecuzione."));
    EXPECT_THAT(f.events({"create:Cif"}), IsEmpty());
}

TEST_F(SettingsStep, OtherFailuresInsideTheStepAreIgnored) {
    f.files.put("C:\\Q4\\Dati.lib", DatiLib(1));
    f.components.call_failures["ImpostaChiave"] = 5;
    f.components.call_failures["Decodifica"] = -2147467259;  // a failure status of the component
    Installa30();
    f.boxes.answers = {box_answer::cancel, box_answer::cancel};
    Esegui();
    EXPECT_THAT(Testi(), ElementsAre(kConferma4, kConferma30));
    EXPECT_EQ(f.files.open_readers, 0);
}

TEST_F(SettingsStep, DoesNotRunWithoutVersion4) {
    FakePlatform g;
    g.files.put("C:\\Aggiornamento\\Estr.bin", "new");
    g.registry.set_string(kHkeyLocalMachine, "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\quintrel.exe",
                          "", "C:\\Q3\\quintrel.exe");
    EXPECT_THROW(EseguiAggiornamento(g.platform), testing::ProcessEnded);
    EXPECT_THAT(g.events({"box:Prima"}), ::testing::SizeIs(1));
    EXPECT_THAT(g.events({"attributes:C:\\Q", "open:", "create:Cif", "create:Dec", "reg-open:hkcu"}), IsEmpty());
}

}  // namespace
}  // namespace aggiorna
