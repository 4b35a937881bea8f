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
std::string CopiaFallita(const std::string& nome, const std::string& cartella, const std::string& rimedio = "") {
    return "Non è stato possibile copiare il file " + nome + " nella cartella:\r" + cartella +
           "\r\rImpossibile effettuare l'aggiornamento dell'archivio estrazioni." + (rimedio.empty() ? "" : "\r\r" + rimedio);
}
const std::string kScaricamento = "Accertarsi che il download sia terminato e avviare di nuovo l'aggiornamento.";
const std::string kSpazio = "Liberare spazio su disco e avviare di nuovo l'aggiornamento.";
const std::string kAmministratore =
    "Fare clic con il pulsante destro del mouse sul programma di aggiornamento e scegliere \"Esegui come amministratore\".";

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

// Any other copy failure is reported, with what the user can do about it where that is known,
// and ends that version's update only.
TEST_F(Run, AFailedCopyIsReportedAndNotFollowedBySuccess) {
    struct Caso {
        const char* destinazione;
        int codice;
        Side lato;
        bool amministratore;  // the run is elevated
        std::vector<std::string> testi;
        std::size_t copie, completamenti;
    };
    const Caso casi[] = {
        // Access refused in the host's folder to a run that is not elevated: run it as administrator.
        {"C:\\Q4\\Estr.bi_", code::permission_denied, Side::destination, false,
         {kConferma4, CopiaFallita("Estr.bin", "C:\\Q4", kAmministratore), kConferma30, kSuccesso}, 2, 0},
        // Elevated already: nothing more to suggest.
        {"C:\\Q4\\Estr.bi_", code::permission_denied, Side::destination, true,
         {kConferma4, CopiaFallita("Estr.bin", "C:\\Q4"), kConferma30, kSuccesso}, 2, 0},
        {"C:\\Q4\\bl.bin", code::disk_full, Side::destination, false,
         {kConferma4, CopiaFallita("bl.bin", "C:\\Q4", kSpazio), kConferma30, kSuccesso}, 3, 0},
        // The delivered file missing, still being written or changed while it was read.
        {"C:\\Q3\\Estr.bin", code::file_not_found, Side::source, false,
         {kConferma4, kConferma30, CopiaFallita("Estr.bin", "C:\\Q3", kScaricamento)}, 3, 1},
        {"C:\\Q3\\Estr.bin", 57, Side::source, false,
         {kConferma4, kConferma30, CopiaFallita("Estr.bin", "C:\\Q3", kScaricamento)}, 3, 1},
        {"C:\\Q3\\Estr.bin", 57, Side::unknown, false, {kConferma4, kConferma30, CopiaFallita("Estr.bin", "C:\\Q3")}, 3, 1},
    };
    for (const Caso& c : casi) {
        SCOPED_TRACE(::testing::Message() << c.destinazione << " " << c.codice << " " << c.amministratore);
        Nuovo();
        Installa4();
        Installa30();
        Risposte({OK, OK});
        p_->process.run_facts.elevated = c.amministratore;
        p_->files.copy_failures_at[testing::lower(c.destinazione)] = {c.codice, c.lato};
        Esegui();
        EXPECT_EQ(Testi(), c.testi);
        EXPECT_EQ(Copie().size(), c.copie);
        EXPECT_EQ(Completamenti().size(), c.completamenti);
        EXPECT_EQ(p_->process.exit_code, 7);
    }
}

// A read-only file the copy must replace stays so for an administrator too: no advice to run as one.
TEST_F(Run, AReadOnlyDestinationGetsNoAdviceToRunAsAdministrator) {
    Installa30();
    p_->files.put("C:\\Q3\\Estr.bin", "old archive 3", file_attribute::readonly);
    p_->files.copy_failures_at[testing::lower("C:\\Q3\\Estr.bin")] = {code::permission_denied, Side::destination};
    Risposte({OK});
    Esegui();
    EXPECT_THAT(Testi(), ElementsAre(kConferma30, CopiaFallita("Estr.bin", "C:\\Q3")));
}

// Opened from inside the downloaded zip, the program stands alone in a temporary folder: one
// message names what is missing and where, before any confirmation, settings step or copy.
TEST_F(Run, DeliveredFilesMissingBesideTheProgramAreNamedBeforeAnythingIsAsked) {
    const std::string kEstrai =
        "\r\rFare clic con il pulsante destro del mouse sul file ZIP scaricato, scegliere \"Estrai tutto\" e avviare il "
        "programma di aggiornamento dalla cartella estratta.";
    struct Caso {
        bool v4, v30;
        std::vector<std::string> tolti;  // delivered files removed (a folder in their place with "dir:")
        std::string messaggio;           // empty: the run goes on to its confirmations
    };
    const Caso casi[] = {
        {true, true, {"bl.bin"}, "Il file bl.bin non si trova nella cartella del programma di aggiornamento:\rC:\\Download" + kEstrai},
        {true, false, {"Estr.bin", "bl.bin"},
         "I file Estr.bin e bl.bin non si trovano nella cartella del programma di aggiornamento:\rC:\\Download" + kEstrai},
        {false, true, {"Estr.bin"}, "Il file Estr.bin non si trova nella cartella del programma di aggiornamento:\rC:\\Download" + kEstrai},
        {true, false, {"dir:Estr.bin"}, "Il file Estr.bin non si trova nella cartella del programma di aggiornamento:\rC:\\Download" + kEstrai},
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
        EXPECT_EQ(p_->process.exit_code, 2);
    }
}

// The copy-failed message stays for a delivered file that goes after the check.
TEST_F(Run, ADeliveredFileThatGoesAfterTheCheckIsACopyFailure) {
    p_->files.copy_failures[testing::lower("C:\\Q3\\Estr.bin")] = code::file_not_found;
    Installa30();
    Risposte({OK});
    Esegui();
    EXPECT_THAT(Testi(), ElementsAre(kConferma30, CopiaFallita("Estr.bin", "C:\\Q3", kScaricamento)));
    EXPECT_EQ(p_->boxes.shown[1].style, box_style::error);
    EXPECT_EQ(*p_->files.get("C:\\Q3\\Estr.bin"), "old archive 3");
}

// Another program holding a destination (a backup or sync program, a scanner): the user is told
// which, and that closing it lets the update through, or, for services, that waiting does; the
// run ends as on the in-use path. Version 4's files are looked at before any is written.
TEST_F(Run, OtherProgramsHoldingADestinationAreNamed) {
    struct Caso {
        const char* destinazione;
        std::vector<std::string> programmi;
        bool servizi;
        std::string seguito;  // the message after the path
        std::vector<std::string> prima;
    };
    const std::string riavvia = " e avviare di nuovo l'aggiornamento.";
    const Caso casi[] = {
        {"C:\\Q4\\bl.bin", {"Microsoft OneDrive"}, false,
         "Il file è aperto in Microsoft OneDrive. Chiudere Microsoft OneDrive" + riavvia, {kConferma4}},
        {"C:\\Q3\\Estr.bin", {"Anteprima", "Backup Facile", "Indicizzazione"}, false,
         "Il file è aperto in Anteprima, Backup Facile e Indicizzazione. Chiudere questi programmi" + riavvia,
         {kConferma4, kConferma30}},
        {"C:\\Q3\\Estr.bin", {"A", "B", "C", "D", "E"}, false,
         "Il file è aperto in A, B, C, D e E. Chiudere questi programmi" + riavvia, {kConferma4, kConferma30}},
        // Beyond five names, the first four and how many more.
        {"C:\\Q3\\Estr.bin", {"A", "B", "C", "D", "E", "F", "G"}, false,
         "Il file è aperto in A, B, C, D e altri 3 programmi. Chiudere questi programmi" + riavvia,
         {kConferma4, kConferma30}},
        {"C:\\Q4\\Estr.bin", {"Windows Search"}, true,
         "Il file è utilizzato da Windows Search. Attendere qualche minuto e avviare di nuovo l'aggiornamento.",
         {kConferma4}},
    };
    for (const Caso& c : casi) {
        SCOPED_TRACE(::testing::Message() << c.destinazione << " " << c.programmi.size());
        Nuovo();
        Installa4();
        Installa30();
        Risposte({OK, OK});
        p_->files.held_by[testing::lower(c.destinazione)] = c.programmi;
        if (c.servizi) p_->files.held_by_services.insert(testing::lower(c.destinazione));
        Esegui();
        auto attesi = c.prima;
        attesi.push_back(std::string("Non è stato possibile aggiornare il file:\r") + c.destinazione + "\r\r" + c.seguito);
        EXPECT_EQ(Testi(), attesi);
        EXPECT_EQ(p_->boxes.shown.back().style, box_style::error);
        EXPECT_EQ(p_->boxes.shown.back().caption, "Aggiornamento Archivio");
        EXPECT_EQ(*p_->files.get("C:\\Q3\\Estr.bin"), "old archive 3");
        const auto passi = p_->events({"box:", "copy:", "CompletaAggiornamento:", "end"});
        EXPECT_EQ(passi.back(), "end");
        EXPECT_EQ(passi[passi.size() - 2], "box:" + attesi.back());
        EXPECT_EQ(p_->process.exit_code, 6);
        // A file of version 4 held: nothing of version 4 was written.
        if (std::string(c.destinazione).rfind("C:\\Q4", 0) == 0) {
            EXPECT_THAT(Copie(), IsEmpty());
        }
    }
}

// A virtualized run cannot reach a host set to run as administrator (it reads the real files):
// that version gets its own message instead of a confirmation, and nothing is written for it.
TEST_F(Run, AHostSetToRunAsAdministratorIsNotUpdatedByAVirtualizedRun) {
    const auto messaggio = [](const std::string& prodotto) {
        return prodotto +
               " è impostato per essere eseguito come amministratore: l'archivio estrazioni non è stato aggiornato.\r\r" +
               kAmministratore;
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
        EXPECT_EQ(p_->process.exit_code, 9);
    }
}

// Run as administrator, the component completes the real archive: the user's virtual copy of
// it, which a virtualized host reads, is replaced afterwards, and only after a completed update.
// The component is released first: it may keep the archive open until it goes.
TEST_F(Run, TheVirtualCopyOfTheVersion4ArchiveFollowsACompletedUpdate) {
    struct Caso { int completa; int refresh; std::vector<std::string> testi; std::vector<std::string> passi; int esito; };
    const std::string completa = "CompletaAggiornamento:C:\\Q4";
    const std::string rilascio = "release:ComponenteAggiornamento";
    const std::string refresh = "refresh:C:\\Q4\\Estr.bin";
    const Caso casi[] = {
        {0, 0, {kConferma4, kConferma30, kSuccesso}, {completa, rilascio, refresh}, 0},
        {5, 0, {kConferma4, kConferma30, kSuccesso}, {completa, rilascio}, 8},
        {0, code::permission_denied, {kConferma4, CopiaFallita("Estr.bin", "C:\\Q4"), kConferma30, kSuccesso},
         {completa, rilascio, refresh}, 7},
        {0, code::path_file_access, {kConferma4, kInUso}, {completa, rilascio, refresh}, 5},
        // The completed archive, the refresh's source, could not be read: no word of a download.
        {0, code::file_not_found, {kConferma4, CopiaFallita("Estr.bin", "C:\\Q4"), kConferma30, kSuccesso},
         {completa, rilascio, refresh}, 7},
    };
    for (const Caso& c : casi) {
        SCOPED_TRACE(::testing::Message() << c.completa << "/" << c.refresh);
        Nuovo();
        Installa4();
        Installa30();
        Risposte({OK, OK});
        if (c.completa) p_->components.call_failures["CompletaAggiornamento"] = c.completa;
        if (c.refresh) p_->files.refresh_failures[testing::lower("C:\\Q4\\Estr.bin")] = c.refresh;
        p_->process.run_facts.elevated = true;
        Esegui();
        EXPECT_EQ(Testi(), c.testi);
        EXPECT_EQ(p_->events({"CompletaAggiornamento:", "release:ComponenteAggiornamento", "refresh:"}), c.passi);
        EXPECT_EQ(p_->process.exit_code, c.esito);
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

// Without its update component version 4 cannot be completed: that is said instead of its
// confirmation, nothing of it is written, and version 3.0 is still offered.
TEST_F(Run, AMissingUpdateComponentIsSaidAndNothingOfVersion4Written) {
    const std::string kComponente =
        "Impossibile aggiornare l'archivio estrazioni di Quintrel! Professional 4: il componente di aggiornamento del "
        "programma non è installato correttamente.\r\rReinstallare Quintrel! Professional 4 e avviare di nuovo "
        "l'aggiornamento.";
    p_->components.not_installed.insert("ComponenteAggiornamento");
    Installa4();
    Installa30();
    Risposte({OK});
    Esegui();
    EXPECT_THAT(Testi(), ElementsAre(kComponente, kConferma30, kSuccesso));
    EXPECT_EQ(p_->boxes.shown[0].style, box_style::error);
    EXPECT_EQ(p_->files.get("C:\\Q4\\Estr.bi_"), nullptr);
    EXPECT_EQ(p_->files.get("C:\\Q4\\bl.bin"), nullptr);
    EXPECT_THAT(Copie(), ElementsAre("copy:C:\\Download\\Estr.bin->C:\\Q3\\Estr.bin"));
    EXPECT_EQ(p_->process.exit_code, 8);
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

// Version 4's files are looked at after its confirmation and before any is written: a file that
// cannot be replaced gives the message its copy would give, naming it, and nothing of version 4
// is written. Version 3.0 is still offered unless the run ends.
TEST_F(Run, Version4IsCheckedBeforeAnythingOfItIsWritten) {
    struct Caso {
        const char* file;
        int codice;
        std::uint32_t attributi;  // of the file in the way
        std::vector<std::string> testi;
        int esito;
    };
    const Caso casi[] = {
        {"C:\\Q4\\Estr.bin", code::path_file_access, file_attribute::archive, {kConferma4, kInUso}, 5},
        // A read-only file stays so for an administrator: no advice to run as one.
        {"C:\\Q4\\Estr.bin", code::permission_denied, file_attribute::readonly,
         {kConferma4, CopiaFallita("Estr.bin", "C:\\Q4"), kConferma30, kSuccesso}, 7},
        {"C:\\Q4\\Estr.bi_", code::permission_denied, file_attribute::readonly,
         {kConferma4, CopiaFallita("Estr.bi_", "C:\\Q4"), kConferma30, kSuccesso}, 7},
        {"C:\\Q4\\bl.bin", code::permission_denied, file_attribute::directory,
         {kConferma4, CopiaFallita("bl.bin", "C:\\Q4"), kConferma30, kSuccesso}, 7},
        // Refused to a run that is not elevated: running as administrator may help.
        {"C:\\Q4\\bl.bin", code::permission_denied, file_attribute::archive,
         {kConferma4, CopiaFallita("bl.bin", "C:\\Q4", kAmministratore), kConferma30, kSuccesso}, 7},
    };
    for (const Caso& c : casi) {
        SCOPED_TRACE(::testing::Message() << c.file << " " << c.codice << " " << c.attributi);
        Nuovo();
        Installa4();
        Installa30();
        p_->files.put(c.file, "in the way", c.attributi);
        p_->files.replace_failures[testing::lower(c.file)] = c.codice;
        Risposte({OK, OK});
        Esegui();
        EXPECT_EQ(Testi(), c.testi);
        for (const auto& copia : Copie()) EXPECT_EQ(copia.find("->C:\\Q4"), std::string::npos) << copia;
        EXPECT_THAT(Completamenti(), IsEmpty());
        EXPECT_EQ(p_->process.exit_code, c.esito);
    }
    // All three are looked at, and only after the confirmation.
    Nuovo();
    Installa4();
    Risposte({OK});
    Esegui();
    EXPECT_THAT(p_->events({"box:", "check:", "copy:"}),
                ElementsAre("box:" + kConferma4, "check:C:\\Q4\\Estr.bin", "check:C:\\Q4\\bl.bin",
                            "check:C:\\Q4\\Estr.bi_", "copy:C:\\Download\\Estr.bin->C:\\Q4\\Estr.bi_",
                            "copy:C:\\Download\\bl.bin->C:\\Q4\\bl.bin"));
}

// A double click starts a second run while the first one asks: it says so and does nothing else.
TEST_F(Run, ASecondRunAtOnceSaysSoAndWritesNothing) {
    Installa4();
    Installa30();
    p_->process.another_run = true;
    Risposte({OK, OK});
    Esegui();
    EXPECT_THAT(Testi(), ElementsAre("È già in corso un aggiornamento dell'archivio estrazioni. Attenderne il completamento."));
    EXPECT_EQ(p_->boxes.shown[0].caption, "Aggiornamento Archivio");
    EXPECT_THAT(p_->events({"copy:", "open:", "create:", "check:"}), IsEmpty());
    EXPECT_EQ(p_->process.exit_code, 10);
}

// A folder that is no full path ("%SystemDrive%\Q30" with an unknown variable, "Q30") would be
// taken from wherever the program was started: never written to, nor read for settings.
TEST_F(Run, AFolderThatIsNoFullPathIsNeverWritten) {
    p_->registry.set_string(kHkeyLocalMachine, "Software\\Quibex\\Quintrel! 4", "InstallPath", "Q4\\");
    p_->registry.set_expand_string(kHkeyLocalMachine,
                                   "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\quintrel.exe", "",
                                   "%SystemDrive%\\Q30\\quintrel.exe", "%SystemDrive%\\Q30\\quintrel.exe");
    Risposte({OK, OK});
    Esegui();
    EXPECT_THAT(Testi(), ElementsAre(kConferma4, CopiaFallita("Estr.bin", "Q4"), kConferma30,
                                     CopiaFallita("Estr.bin", "%SystemDrive%\\Q30")));
    EXPECT_THAT(Copie(), IsEmpty());
    EXPECT_THAT(p_->events({"attributes:", "open:", "check:", "create:Cif"}), IsEmpty());
    EXPECT_EQ(p_->process.exit_code, 7);
}

// A folder stored with a trailing backslash is shown without it, and never with "\\" inside.
TEST_F(Run, PathsAreShownWithoutTrailingOrDoubledBackslashes) {
    Installa4("C:\\Q4\\");
    p_->files.held_by[testing::lower("C:\\Q4\\\\bl.bin")] = {"Backup"};
    Risposte({OK});
    Esegui();
    EXPECT_THAT(Testi(), ElementsAre(kConferma4, "Non è stato possibile aggiornare il file:\rC:\\Q4\\bl.bin\r\r"
                                                 "Il file è aperto in Backup. Chiudere Backup e avviare di nuovo "
                                                 "l'aggiornamento."));
    Nuovo();
    Installa4("C:\\Q4\\");
    p_->files.copy_failures_at[testing::lower("C:\\Q4\\\\bl.bin")] = {code::disk_full, Side::destination};
    Risposte({OK});
    Esegui();
    EXPECT_THAT(Testi(), ElementsAre(kConferma4, CopiaFallita("bl.bin", "C:\\Q4", kSpazio)));
}

// Started with another account's password, the run could not reach the copy Windows keeps for
// the user at the desktop: that user is told so, and never shown success for it.
TEST_F(Run, TheUserIsToldWhenTheirOwnCopyCouldNotBeUpdated) {
    const auto messaggio = [](const std::string& prodotto) {
        return "L'archivio estrazioni di " + prodotto +
               " è stato aggiornato, ma non la copia che Windows ne conserva per l'utente collegato.\r\r"
               "Per aggiornare anche quella, avviare di nuovo il programma di aggiornamento con un doppio clic, senza "
               "\"Esegui come amministratore\".";
    };
    struct Caso { const char* destinazione; std::vector<std::string> testi; };
    const Caso casi[] = {
        {"C:\\Q3\\Estr.bin", {kConferma4, kConferma30, messaggio("Quintrel! Professional 3.0")}},
        {"C:\\Q4\\bl.bin", {kConferma4, messaggio("Quintrel! Professional 4"), kConferma30, kSuccesso}},
    };
    for (const Caso& c : casi) {
        SCOPED_TRACE(c.destinazione);
        Nuovo();
        Installa4();
        Installa30();
        p_->files.user_copy_unknown.insert(testing::lower(c.destinazione));
        Risposte({OK, OK});
        Esegui();
        EXPECT_EQ(Testi(), c.testi);
        EXPECT_EQ(p_->process.exit_code, 11);
    }
}

}  // namespace
}  // namespace aggiorna
