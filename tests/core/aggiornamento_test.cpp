// The update run through fakes of the platform: which boxes, copies and component calls follow
// from which hosts are installed, the user's answers and the failures met on the way.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fakes/fake_platform.h"
#include "update/aggiornamento.h"

namespace aggiorna {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::FakePlatform;

constexpr int OK = box_answer::ok;
constexpr int ANNULLA = box_answer::cancel;

const std::string kNonTrovato =
    "Non è presente alcuna versione di Quintrel! Professional.\r\r"
    "Impossibile effettuare l'aggiornamento dell'archivio estrazioni.";
const std::string kConferma4 = "Prima di continuare accertarsi che Quintrel! Professional 4 non sia in esecuzione.";
const std::string kConferma30 = "Prima di continuare accertarsi che Quintrel! Professional 3.0 non sia in esecuzione.";
const std::string kSuccesso = "L'aggiornamento è stato eseguito correttamente.";
const std::string kInUso = "Non è stato possibile effettuare l'aggiornamento perchè Quintrel! Professional è in esecuzione.";
std::string CopiaFallita(const std::string& nome, const std::string& cartella) {
    return "Non è stato possibile copiare il file " + nome + " in " + cartella +
           ".\r\rImpossibile effettuare l'aggiornamento dell'archivio estrazioni.";
}

class Run : public ::testing::Test {
protected:
    void SetUp() override { Nuovo(); }
    // Fresh fakes, with the new files shipped beside the program.
    void Nuovo() {
        p_ = std::make_unique<FakePlatform>();
        p_->files.exe_folder = "C:\\Download";
        p_->files.put("C:\\Download\\Estr.bin", "new archive");
        p_->files.put("C:\\Download\\bl.bin", "new bl");
    }
    void Installa4(const std::string& cartella = "C:\\Q4") {
        p_->registry.set_string(kHkeyLocalMachine, "Software\\Quibex\\Quintrel! 4", "InstallPath", cartella);
        // A settings file that passes the check; what follows its identifying number is not needed here.
        p_->files.put(cartella + "\\Dati.lib", "\x84\x57\x98\x56");
        p_->files.put(cartella + "\\Estr.bin", "old archive 4");
    }
    void Installa30(const std::string& programma = "C:\\Q3\\quintrel.exe") {
        p_->registry.set_string(kHkeyLocalMachine, "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\quintrel.exe",
                              "", programma);
        p_->files.put("C:\\Q3\\Estr.bin", "old archive 3");
    }
    void Risposte(std::initializer_list<int> risposte) { p_->boxes.answers.assign(risposte); }
    void Esegui() { EXPECT_THROW(EseguiAggiornamento(p_->platform), testing::ProcessEnded); }

    std::vector<std::string> Testi() const {
        std::vector<std::string> out;
        for (const auto& b : p_->boxes.shown) out.push_back(b.text);
        return out;
    }
    std::vector<std::string> Copie() const { return p_->events({"copy:"}); }
    std::vector<std::string> Completamenti() const { return p_->events({"CompletaAggiornamento:"}); }

    std::unique_ptr<FakePlatform> p_;
};

TEST_F(Run, NeitherVersionShowsOnlyTheNotFoundMessage) {
    Esegui();
    ASSERT_EQ(p_->boxes.shown.size(), 1u);
    EXPECT_EQ(p_->boxes.shown[0].text, kNonTrovato);
    EXPECT_EQ(p_->boxes.shown[0].style, box_style::error);
    EXPECT_EQ(p_->boxes.shown[0].caption, "Aggiornamento Archivio");
    EXPECT_THAT(Copie(), IsEmpty());
    EXPECT_THAT(p_->events({"attributes:", "open:", "create:Cif", "create:Dec"}), IsEmpty());
    EXPECT_THAT(p_->events({"create:", "release:", "end"}),
                ElementsAre("create:ComponenteAggiornamento", "release:ComponenteAggiornamento", "end"));
}

TEST_F(Run, OnlyVersion30) {
    struct Caso { int risposta; std::vector<std::string> testi; bool copiato; };
    for (const Caso& c : {Caso{OK, {kConferma30, kSuccesso}, true}, Caso{ANNULLA, {kConferma30}, false}}) {
        SCOPED_TRACE(c.risposta);
        Nuovo();
        Installa30();
        Risposte({c.risposta});
        Esegui();
        EXPECT_EQ(Testi(), c.testi);
        for (const auto& b : p_->boxes.shown) EXPECT_EQ(b.caption, "Aggiornamento Archivio");
        EXPECT_EQ(p_->boxes.shown[0].style, box_style::confirmation);
        if (c.copiato) {
            EXPECT_EQ(p_->boxes.shown[1].style, box_style::information);
        }
        EXPECT_EQ(*p_->files.get("C:\\Q3\\Estr.bin"), c.copiato ? "new archive" : "old archive 3");
        // No settings of any host are looked at for version 3.0.
        EXPECT_THAT(p_->events({"attributes:C:\\Q", "open:", "create:Cif", "create:Dec"}), IsEmpty());
    }
}

TEST_F(Run, OnlyVersion4WithOk) {
    Installa4();
    Risposte({OK});
    Esegui();
    EXPECT_THAT(Testi(), ElementsAre(kConferma4));  // the component reports from here on
    EXPECT_THAT(Copie(), ElementsAre("copy:C:\\Download\\Estr.bin->C:\\Q4\\Estr.bi_",
                                     "copy:C:\\Download\\bl.bin->C:\\Q4\\bl.bin"));
    EXPECT_EQ(*p_->files.get("C:\\Q4\\Estr.bi_"), "new archive");
    EXPECT_EQ(*p_->files.get("C:\\Q4\\bl.bin"), "new bl");
    EXPECT_EQ(*p_->files.get("C:\\Q4\\Estr.bin"), "old archive 4");
    EXPECT_THAT(Completamenti(), ElementsAre("CompletaAggiornamento:C:\\Q4"));
    // The component lives until the end of the run.
    EXPECT_THAT(p_->events({"CompletaAggiornamento:", "release:ComponenteAggiornamento", "end"}),
                ElementsAre("CompletaAggiornamento:C:\\Q4", "release:ComponenteAggiornamento", "end"));
}

TEST_F(Run, OnlyVersion4WithCancelWritesNothing) {
    Installa4();
    Risposte({ANNULLA});
    Esegui();
    EXPECT_THAT(Testi(), ElementsAre(kConferma4));
    EXPECT_THAT(Copie(), IsEmpty());
    EXPECT_THAT(Completamenti(), IsEmpty());
}

TEST_F(Run, BothVersionsAskVersion4FirstWhateverTheAnswers) {
    struct Caso { int r4, r30; };
    for (Caso c : {Caso{OK, OK}, Caso{OK, ANNULLA}, Caso{ANNULLA, OK}, Caso{ANNULLA, ANNULLA}}) {
        SCOPED_TRACE(::testing::Message() << c.r4 << "/" << c.r30);
        Nuovo();
        Installa4();
        Installa30();
        Risposte({c.r4, c.r30});
        Esegui();
        std::vector<std::string> attesi = {kConferma4, kConferma30};
        if (c.r30 == OK) attesi.push_back(kSuccesso);
        EXPECT_EQ(Testi(), attesi);
        EXPECT_EQ(p_->files.get("C:\\Q4\\Estr.bi_") != nullptr, c.r4 == OK);
        EXPECT_EQ(Completamenti().size(), c.r4 == OK ? 1u : 0u);
        EXPECT_EQ(*p_->files.get("C:\\Q3\\Estr.bin"), c.r30 == OK ? "new archive" : "old archive 3");
        EXPECT_EQ(Copie().size(), (c.r4 == OK ? 2u : 0u) + (c.r30 == OK ? 1u : 0u));
    }
}

TEST_F(Run, TrailingBackslashIsKeptAndJoinedPlainly) {
    Installa4("C:\\Q4\\");
    Risposte({OK});
    Esegui();
    EXPECT_THAT(Copie(), ElementsAre("copy:C:\\Download\\Estr.bin->C:\\Q4\\\\Estr.bi_",
                                     "copy:C:\\Download\\bl.bin->C:\\Q4\\\\bl.bin"));
    EXPECT_THAT(Completamenti(), ElementsAre("CompletaAggiornamento:C:\\Q4\\"));
    EXPECT_THAT(p_->events({"attributes:C:\\Q4"}), ElementsAre("attributes:C:\\Q4\\\\Dati.lib"));
}

// The host holding a destination open: the in-use message, then the end; files already written stay.
TEST_F(Run, HostHoldingADestinationStopsTheRun) {
    struct Caso { const char* destinazione; std::vector<std::string> testi; std::vector<std::string> scritti; };
    const Caso casi[] = {
        {"C:\\Q4\\Estr.bi_", {kConferma4, kInUso}, {}},
        {"C:\\Q4\\bl.bin", {kConferma4, kInUso}, {"C:\\Q4\\Estr.bi_"}},
        {"C:\\Q3\\Estr.bin", {kConferma4, kConferma30, kInUso}, {"C:\\Q4\\Estr.bi_", "C:\\Q4\\bl.bin"}},
    };
    for (const Caso& c : casi) {
        SCOPED_TRACE(c.destinazione);
        Nuovo();
        Installa4();
        Installa30();
        Risposte({OK, OK});
        p_->files.copy_failures[testing::lower(c.destinazione)] = code::path_file_access;
        Esegui();
        EXPECT_EQ(Testi(), c.testi);
        EXPECT_EQ(p_->boxes.shown.back().style, box_style::error);
        EXPECT_EQ(p_->boxes.shown.back().caption, "Aggiornamento Archivio");
        for (const auto& s : c.scritti) EXPECT_NE(p_->files.get(s), nullptr) << s;
        EXPECT_EQ(p_->events({"end"}).size(), 1u);
        // Nothing after the in-use message but the end.
        const auto passi = p_->events({"box:", "copy:", "CompletaAggiornamento:", "end"});
        ASSERT_GE(passi.size(), 2u);
        EXPECT_EQ(passi[passi.size() - 2], "box:" + kInUso);
        EXPECT_EQ(passi.back(), "end");
        if (std::string(c.destinazione) != "C:\\Q3\\Estr.bin") {
            EXPECT_THAT(Completamenti(), IsEmpty());
        }
        EXPECT_EQ(*p_->files.get("C:\\Q3\\Estr.bin"), "old archive 3");
    }
}

// Any other copy failure is reported and ends that version's update only.
TEST_F(Run, AFailedCopyIsReportedAndNotFollowedBySuccess) {
    struct Caso { const char* destinazione; int codice; std::vector<std::string> testi; std::size_t copie; std::size_t completamenti; };
    const Caso casi[] = {
        {"C:\\Q4\\Estr.bi_", code::permission_denied, {kConferma4, CopiaFallita("Estr.bin", "C:\\Q4"), kConferma30, kSuccesso}, 2, 0},
        {"C:\\Q4\\bl.bin", code::disk_full, {kConferma4, CopiaFallita("bl.bin", "C:\\Q4"), kConferma30, kSuccesso}, 3, 0},
        {"C:\\Q3\\Estr.bin", code::file_not_found, {kConferma4, kConferma30, CopiaFallita("Estr.bin", "C:\\Q3")}, 3, 1},
    };
    for (const Caso& c : casi) {
        SCOPED_TRACE(c.destinazione);
        Nuovo();
        Installa4();
        Installa30();
        Risposte({OK, OK});
        p_->files.copy_failures[testing::lower(c.destinazione)] = c.codice;
        Esegui();
        EXPECT_EQ(Testi(), c.testi);
        EXPECT_EQ(Copie().size(), c.copie);
        EXPECT_EQ(Completamenti().size(), c.completamenti);
    }
}

// Opened from inside the downloaded zip, the program stands alone in a temporary folder: one
// message names what is missing and where, before any confirmation, settings step or copy.
TEST_F(Run, DeliveredFilesMissingBesideTheProgramAreNamedBeforeAnythingIsAsked) {
    const std::string kEstrai =
        "\r\rEstrarre tutti i file dell'archivio scaricato in un'unica cartella e avviare il programma da "
        "quella cartella.";
    struct Caso {
        bool v4, v30;
        std::vector<std::string> tolti;  // delivered files removed (a folder in their place with "dir:")
        std::string messaggio;           // empty: the run goes on to its confirmations
    };
    const Caso casi[] = {
        {true, true, {"bl.bin"}, "Il file bl.bin non si trova nella cartella del programma:\rC:\\Download" + kEstrai},
        {true, false, {"Estr.bin", "bl.bin"},
         "I file Estr.bin e bl.bin non si trovano nella cartella del programma:\rC:\\Download" + kEstrai},
        {false, true, {"Estr.bin"}, "Il file Estr.bin non si trova nella cartella del programma:\rC:\\Download" + kEstrai},
        {true, false, {"dir:Estr.bin"}, "Il file Estr.bin non si trova nella cartella del programma:\rC:\\Download" + kEstrai},
        // Version 3.0 alone needs no bl.bin.
        {false, true, {"bl.bin"}, ""},
    };
    for (const Caso& c : casi) {
        SCOPED_TRACE(::testing::Message() << c.v4 << c.v30 << " " << c.tolti.front());
        Nuovo();
        if (c.v4) Installa4();
        if (c.v30) Installa30();
        for (std::string nome : c.tolti) {
            const bool cartella = nome.rfind("dir:", 0) == 0;
            if (cartella) nome = nome.substr(4);
            p_->files.files.erase(testing::lower("C:\\Download\\" + nome));
            if (cartella) p_->files.folders.insert(testing::lower("C:\\Download\\" + nome));
        }
        Risposte({ANNULLA});
        Esegui();
        if (c.messaggio.empty()) {
            EXPECT_THAT(Testi(), ElementsAre(kConferma30));
            continue;
        }
        ASSERT_THAT(Testi(), ElementsAre(c.messaggio));
        EXPECT_EQ(p_->boxes.shown[0].style, box_style::error);
        EXPECT_EQ(p_->boxes.shown[0].caption, "Aggiornamento Archivio");
        EXPECT_THAT(Copie(), IsEmpty());
        EXPECT_THAT(p_->events({"attributes:C:\\Q", "open:", "create:Cif", "refresh:"}), IsEmpty());
        EXPECT_THAT(p_->events({"create:", "release:", "end"}),
                    ElementsAre("create:ComponenteAggiornamento", "release:ComponenteAggiornamento", "end"));
    }
}

// The copy-failed message stays for a delivered file that goes after the check.
TEST_F(Run, ADeliveredFileThatGoesAfterTheCheckIsACopyFailure) {
    p_->files.copy_failures[testing::lower("C:\\Q3\\Estr.bin")] = code::file_not_found;
    Installa30();
    Risposte({OK});
    Esegui();
    EXPECT_THAT(Testi(), ElementsAre(kConferma30, CopiaFallita("Estr.bin", "C:\\Q3")));
    EXPECT_EQ(p_->boxes.shown[1].style, box_style::error);
    EXPECT_EQ(*p_->files.get("C:\\Q3\\Estr.bin"), "old archive 3");
}

// Another program holding a destination (a backup or sync program, a scanner): the user is told
// which, and that closing it lets the update through; the run ends as on the in-use path.
TEST_F(Run, OtherProgramsHoldingADestinationAreNamed) {
    struct Caso { const char* destinazione; std::vector<std::string> programmi; std::string nomi; std::vector<std::string> prima; };
    const Caso casi[] = {
        {"C:\\Q4\\bl.bin", {"OneDrive"}, "OneDrive", {kConferma4}},
        {"C:\\Q3\\Estr.bin", {"Anteprima", "Backup Facile", "Indicizzazione"}, "Anteprima, Backup Facile e Indicizzazione",
         {kConferma4, kConferma30}},
    };
    for (const Caso& c : casi) {
        SCOPED_TRACE(c.destinazione);
        Nuovo();
        Installa4();
        Installa30();
        Risposte({OK, OK});
        p_->files.held_by[testing::lower(c.destinazione)] = c.programmi;
        Esegui();
        auto attesi = c.prima;
        attesi.push_back(std::string("Non è stato possibile aggiornare il file ") + c.destinazione +
                         " perché è in uso da parte di " + c.nomi + ".\r\rChiudere " + c.nomi +
                         " e avviare di nuovo l'aggiornamento.");
        EXPECT_EQ(Testi(), attesi);
        EXPECT_EQ(p_->boxes.shown.back().style, box_style::error);
        EXPECT_EQ(p_->boxes.shown.back().caption, "Aggiornamento Archivio");
        EXPECT_EQ(*p_->files.get("C:\\Q3\\Estr.bin"), "old archive 3");
        const auto passi = p_->events({"box:", "copy:", "CompletaAggiornamento:", "end"});
        EXPECT_EQ(passi.back(), "end");
        EXPECT_EQ(passi[passi.size() - 2], "box:" + attesi.back());
    }
}

// A virtualized run cannot reach a host set to run as administrator (it reads the real files):
// that version gets its own message instead of a confirmation, and nothing is written for it.
TEST_F(Run, AHostSetToRunAsAdministratorIsNotUpdatedByAVirtualizedRun) {
    const auto messaggio = [](const std::string& prodotto) {
        return prodotto +
               " è impostato per essere eseguito come amministratore e non vedrebbe l'archivio aggiornato.\r\r"
               "Per aggiornarlo avviare l'aggiornamento con \"Esegui come amministratore\" (clic con il pulsante "
               "destro del mouse sul programma di aggiornamento).";
    };
    struct Caso { const char* cartella; std::vector<std::string> testi; std::size_t copie; };
    const Caso casi[] = {
        {"C:\\Q4", {messaggio("Quintrel! Professional 4"), kConferma30, kSuccesso}, 1},
        {"C:\\Q3", {kConferma4, messaggio("Quintrel! Professional 3.0")}, 2},
    };
    for (const Caso& c : casi) {
        SCOPED_TRACE(c.cartella);
        Nuovo();
        Installa4();
        Installa30();
        p_->files.elevated_hosts.insert(testing::lower(c.cartella));
        Risposte({OK});
        Esegui();
        EXPECT_EQ(Testi(), c.testi);
        EXPECT_EQ(p_->boxes.shown[std::string(c.cartella) == "C:\\Q4" ? 0 : 1].style, box_style::error);
        EXPECT_EQ(Copie().size(), c.copie);
        for (const auto& copia : Copie()) EXPECT_EQ(copia.find(std::string("->") + c.cartella), std::string::npos) << copia;
    }
}

// Run as administrator, the component completes the real archive: the user's virtual copy of
// it, which a virtualized host reads, is replaced afterwards, and only after a completed update.
TEST_F(Run, TheVirtualCopyOfTheVersion4ArchiveFollowsACompletedUpdate) {
    struct Caso { int completa; int refresh; std::vector<std::string> testi; std::vector<std::string> passi; };
    const std::string completa = "CompletaAggiornamento:C:\\Q4";
    const std::string refresh = "refresh:C:\\Q4\\Estr.bin";
    const Caso casi[] = {
        {0, 0, {kConferma4, kConferma30, kSuccesso}, {completa, refresh}},
        {5, 0, {kConferma4, kConferma30, kSuccesso}, {completa}},
        {0, code::permission_denied, {kConferma4, CopiaFallita("Estr.bin", "C:\\Q4"), kConferma30, kSuccesso}, {completa, refresh}},
        {0, code::path_file_access, {kConferma4, kInUso}, {completa, refresh}},
    };
    for (const Caso& c : casi) {
        SCOPED_TRACE(::testing::Message() << c.completa << "/" << c.refresh);
        Nuovo();
        Installa4();
        Installa30();
        Risposte({OK, OK});
        if (c.completa) p_->components.call_failures["CompletaAggiornamento"] = c.completa;
        if (c.refresh) p_->files.refresh_failures[testing::lower("C:\\Q4\\Estr.bin")] = c.refresh;
        Esegui();
        EXPECT_EQ(Testi(), c.testi);
        EXPECT_EQ(p_->events({"CompletaAggiornamento:", "refresh:"}), c.passi);
    }
}

TEST_F(Run, UnknownProgramFolderIsACopyFailureWithoutACopy) {
    p_->files.exe_folder_failure = code::path_not_found;
    p_->files.put("\\Estr.bin", "a file of the drive's root");
    Installa4();
    Installa30();
    Risposte({OK, OK});
    Esegui();
    EXPECT_THAT(Testi(), ElementsAre(kConferma4, CopiaFallita("Estr.bin", "C:\\Q4"), kConferma30,
                                     CopiaFallita("Estr.bin", "C:\\Q3")));
    EXPECT_THAT(Copie(), IsEmpty());
    EXPECT_EQ(*p_->files.get("C:\\Q3\\Estr.bin"), "old archive 3");
}

TEST_F(Run, UpdateComponentNotInstalledStillWritesTheFiles) {
    p_->components.not_installed.insert("ComponenteAggiornamento");
    Installa4();
    Installa30();
    Risposte({OK, OK});
    Esegui();
    EXPECT_THAT(Testi(), ElementsAre(kConferma4, kConferma30, kSuccesso));
    EXPECT_NE(p_->files.get("C:\\Q4\\Estr.bi_"), nullptr);
    EXPECT_NE(p_->files.get("C:\\Q4\\bl.bin"), nullptr);
    EXPECT_THAT(Completamenti(), IsEmpty());
}

TEST_F(Run, ComponentFailuresFollowTheHandler) {
    struct Caso { int codice; std::vector<std::string> testi; };
    for (const Caso& c : {Caso{5, {kConferma4, kConferma30, kSuccesso}}, Caso{code::path_file_access, {kConferma4, kInUso}}}) {
        SCOPED_TRACE(c.codice);
        Nuovo();
        Installa4();
        Installa30();
        Risposte({OK, OK});
        p_->components.call_failures["CompletaAggiornamento"] = c.codice;
        Esegui();
        EXPECT_EQ(Testi(), c.testi);
    }
}

TEST_F(Run, HostsAreFoundWithoutWriteRights) {
    p_->registry.refused_access = reg_access::set_value | reg_access::create_sub_key | reg_access::create_link;
    Installa30();
    Risposte({ANNULLA});
    Esegui();
    EXPECT_THAT(Testi(), ElementsAre(kConferma30));
}

TEST_F(Run, QuotedAppPathIsUpdated) {
    Installa30("\"C:\\Q3\\quintrel.exe\"");
    Risposte({OK});
    Esegui();
    EXPECT_THAT(Copie(), ElementsAre("copy:C:\\Download\\Estr.bin->C:\\Q3\\Estr.bin"));
}

}  // namespace
}  // namespace aggiorna
