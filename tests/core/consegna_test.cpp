// The delivered files checked before anything is asked: missing, empty or not a file, or not what
// the delivery's sums say.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fakes/fake_platform.h"
#include "update/aggiornamento.h"
#include "update/consegna.h"

namespace aggiorna {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::FakeFiles;
using testing::FakePlatform;

const std::string kConferma30 = "Prima di continuare accertarsi che Quintrel! Professional 3.0 non sia in esecuzione.";
std::string Danneggiati(const std::string& testa) {
    return testa + "\rC:\\Download\r\rScaricare nuovamente il file ZIP, estrarne tutti i file e avviare di nuovo "
                   "l'aggiornamento.";
}
const std::string kEstrDanneggiato =
    Danneggiati("Il file Estr.bin nella cartella del programma di aggiornamento è vuoto o danneggiato:");
const std::string kBlDanneggiato =
    Danneggiati("Il file bl.bin nella cartella del programma di aggiornamento è vuoto o danneggiato:");
const std::string kEntrambiDanneggiati =
    Danneggiati("I file Estr.bin e bl.bin nella cartella del programma di aggiornamento sono vuoti o danneggiati:");

std::string Riga(const std::string& contenuto, const std::string& nome, const char* separatore = "  ") {
    return FakeFiles::FakeSha(contenuto) + separatore + nome + "\n";
}

struct Caso {
    const char* nome;
    std::string estr = "new archive";    // the delivered Estr.bin; "<pipe>" a pipe, "<none>" missing
    std::string bl = "new bl";
    std::optional<std::string> somme;    // SHA256SUMS beside them
    std::vector<std::string> testi;      // empty: the confirmations follow
    int esito = 0;
};

void PrintTo(const Caso& c, std::ostream* os) { *os << c.nome; }

class Delivery : public ::testing::TestWithParam<Caso> {};

// Both versions installed, so that both files are needed; the first answer is Cancel.
TEST_P(Delivery, IsCheckedBeforeAnythingIsAsked) {
    const Caso& c = GetParam();
    FakePlatform f;
    f.files.exe_folder = "C:\\Download";
    for (const auto& [nome, contenuto] : {std::pair{"Estr.bin", c.estr}, std::pair{"bl.bin", c.bl}}) {
        const std::string percorso = std::string("C:\\Download\\") + nome;
        if (contenuto == "<none>") continue;
        f.files.put(percorso, contenuto == "<pipe>" ? "" : contenuto);
        if (contenuto == "<pipe>") f.files.special.insert(testing::lower(percorso));
    }
    if (c.somme) f.files.put("C:\\Download\\SHA256SUMS", *c.somme);
    f.registry.set_string(kHkeyLocalMachine, "Software\\Quibex\\Quintrel! 4", "InstallPath", "C:\\Q4");
    f.files.put("C:\\Q4\\Dati.lib", "\x84\x57\x98\x56");
    f.registry.set_string(kHkeyLocalMachine, "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\quintrel.exe", "",
                          "C:\\Q3\\quintrel.exe");
    f.files.put("C:\\Q3\\Estr.bin", "old archive 3");
    EXPECT_THROW(EseguiAggiornamento(f.platform), testing::ProcessEnded);

    std::vector<std::string> testi;
    for (const auto& b : f.boxes.shown) testi.push_back(b.text);
    if (c.testi.empty()) {
        ASSERT_FALSE(testi.empty());
        EXPECT_EQ(testi[0], "Prima di continuare accertarsi che Quintrel! Professional 4 non sia in esecuzione.");
    } else {
        EXPECT_EQ(testi, c.testi);
        EXPECT_EQ(f.boxes.shown[0].style, box_style::error);
        EXPECT_THAT(f.events({"copy:", "open:C:\\Q4", "create:Cif"}), IsEmpty());
    }
    EXPECT_EQ(f.process.exit_code, c.esito);
    EXPECT_EQ(*f.files.get("C:\\Q3\\Estr.bin"), "old archive 3");
}

const std::string kSommeGiuste = Riga("new archive", "Estr.bin") + Riga("new bl", "bl.bin");

INSTANTIATE_TEST_SUITE_P(
    Casi, Delivery,
    ::testing::Values(
        Caso{"whole", "new archive", "new bl", std::nullopt, {}, 0},
        Caso{"empty_archive", "", "new bl", std::nullopt, {kEstrDanneggiato}, 3},
        Caso{"pipe_in_place_of_bl", "new archive", "<pipe>", std::nullopt, {kBlDanneggiato}, 3},
        Caso{"both_empty", "", "", std::nullopt, {kEntrambiDanneggiati}, 3},
        // A missing file is named first, with its own message.
        Caso{"missing_before_empty", "<none>", "", std::nullopt,
             {"Il file Estr.bin non si trova nella cartella del programma di aggiornamento:\rC:\\Download\r\rFare clic "
              "con il pulsante destro del mouse sul file ZIP scaricato, scegliere \"Estrai tutto\" e avviare il "
              "programma di aggiornamento dalla cartella estratta."},
             2},
        Caso{"sums_match", "new archive", "new bl", kSommeGiuste, {}, 0},
        Caso{"sums_in_binary_mode_any_case", "new archive", "new bl",
             Riga("new archive", "estr.bin", " *") + Riga("new bl", "BL.BIN"), {}, 0},
        Caso{"archive_cut_short", "new arch", "new bl", kSommeGiuste, {kEstrDanneggiato}, 3},
        Caso{"bl_damaged", "new archive", "new bX", kSommeGiuste, {kBlDanneggiato}, 3},
        // A file the sums do not name is not checked; nor are files when the sums say nothing.
        Caso{"no_line_for_bl", "new archive", "anything", Riga("new archive", "Estr.bin"), {}, 0},
        Caso{"sums_of_other_files", "new archive", "new bl", Riga("x", "AggiornaArchivio.exe") + "garbage line\n", {}, 0}),
    [](const auto& info) { return std::string(info.param.nome); });

// A delivered file that cannot be read while its sum is taken is no delivery either.
TEST(DeliverySums, AnUnreadableFileIsDamaged) {
    FakePlatform f;
    f.files.put("C:\\D\\Estr.bin", "new archive");
    f.files.put("C:\\D\\SHA256SUMS", Riga("new archive", "Estr.bin"));
    f.files.open_failures[testing::lower("C:\\D\\Estr.bin")] = code::permission_denied;
    Diario diario(f.run_log);
    const Consegna consegna = ControllaConsegna(f.files, diario, "C:\\D", {"Estr.bin"});
    EXPECT_THAT(consegna.mancanti, IsEmpty());
    EXPECT_THAT(consegna.danneggiati, ElementsAre("Estr.bin"));
}

TEST(DeliverySums, LinesAreReadAsSha256sumWritesThem) {
    const std::string somma(64, 'a');
    struct Riga { const char* testo; const char* nome; std::string attesa; };
    const Riga casi[] = {
        {"AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA  Estr.bin", "Estr.bin", somma},
        {"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa *Estr.bin\r", "estr.bin", somma},
        {"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa  Estr.bin.old", "Estr.bin", ""},
        {"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa  Estr.bin", "Estr.bin", ""},  // 63 digits
        {"gaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa  Estr.bin", "Estr.bin", ""},
        {"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa Estr.bin", "Estr.bin", ""},
    };
    for (const Riga& r : casi) EXPECT_EQ(SommaDi(r.testo, r.nome), r.attesa) << r.testo;
}

}  // namespace
}  // namespace aggiorna
