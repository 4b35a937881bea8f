// The run's log and exit code: what support reads of a run, and what a script reads of its end.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>

#include "fakes/fake_platform.h"
#include "settings/chiave.h"
#include "update/aggiornamento.h"

namespace aggiorna {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using testing::FakeFiles;
using testing::FakePlatform;

// A "Dati.lib" whose general data begin at 32500: every field a blank text, a file list of one
// entry and no tips.
std::string DatiLib() {
    std::string s = "\x84\x57\x98\x56";
    s.resize(32499, '\0');
    s.append(19 * 160, ' ');
    for (int i = 0; i < 11; ++i) s.append(2, '\0');
    s += std::string("\x01\x00\x00\x00\x01\x00x\x00\x00", 9);
    return s;
}

struct Ambiente {
    FakePlatform f;
    Ambiente() {
        f.files.exe_folder = "C:\\Download";
        f.files.put("C:\\Download\\Estr.bin", "new archive");
        f.files.put("C:\\Download\\bl.bin", "new bl");
        f.registry.set_string(kHkeyLocalMachine, "Software\\Quibex\\Quintrel! 4", "InstallPath", "C:\\Q4");
        f.files.put("C:\\Q4\\Dati.lib", DatiLib());
        f.registry.set_string(kHkeyLocalMachine, "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\quintrel.exe",
                              "", "C:\\Q3\\quintrel.exe");
        f.files.put("C:\\Q3\\Estr.bin", "old archive 3");
        f.boxes.answers = {box_answer::ok, box_answer::ok};
    }
    void Esegui() { EXPECT_THROW(EseguiAggiornamento(f.platform), testing::ProcessEnded); }
    std::string Log() const { return f.run_log.text(); }
};

TEST(RunLog, TellsTheWholeRunLineByLineWithItsTime) {
    Ambiente a;
    a.Esegui();
    const std::string log = a.Log();
    const std::string sha = FakeFiles::FakeSha("new archive");
    for (const std::string& atteso : {
             std::string("program: AggiornaArchivio (test)"),
             std::string("system: Test system"),
             std::string("run as administrator: no"),
             std::string("virtualized (UAC): no"),
             std::string("user: utente"),
             std::string("log: C:\\Users\\utente\\AppData\\Local\\Aggiorna Archivio\\test.log"),
             std::string("program's folder: \"C:\\Download\""),
             std::string("  Estr.bin: 11 bytes, last written 2026-12-01 10:00:00"),
             std::string("  SHA256SUMS: missing"),
             std::string("HKLM\\Software\\Quibex\\Quintrel! 4 \"InstallPath\" (32-bit view): a string value \"C:\\Q4\" -> "
                         "version 4 in \"C:\\Q4\""),
             std::string("quintrel.exe (default, 32-bit view): a string value \"C:\\Q3\\quintrel.exe\" -> version 3.0 in "
                         "\"C:\\Q3\""),
             std::string("settings: opening and checking Dati.lib: done"),
             std::string("settings: reading the general data of Dati.lib: done"),
             std::string("box (confirmation, caption \"Aggiornamento Archivio\"): \"Prima di continuare accertarsi che "
                         "Quintrel! Professional 4 non sia in esecuzione.\""),
             std::string("  answered OK"),
             std::string("check of version 4's files: all can be replaced"),
             "copy \"C:\\Download\\Estr.bin\" to \"C:\\Q4\\Estr.bi_\": 11 bytes, SHA-256 " + sha +
                 ", written to \"C:\\Q4\\Estr.bi_\"",
             std::string("CompletaAggiornamento(\"C:\\Q4\"): completed"),
             std::string("box (information, caption \"Aggiornamento Archivio\"): \"L'aggiornamento è stato eseguito "
                         "correttamente.\""),
             std::string("end: exit code 0 ("),
         }) {
        EXPECT_THAT(log, HasSubstr(atteso));
    }
    // Each line after its time, to the millisecond; the end last.
    const std::regex ora(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} .*)");
    for (const std::string& riga : a.f.run_log.lines) EXPECT_TRUE(std::regex_match(riga, ora)) << riga;
    ASSERT_FALSE(a.f.run_log.lines.empty());
    EXPECT_THAT(a.f.run_log.lines.back(), HasSubstr("end: exit code 0"));
}

TEST(RunLog, FailuresCarryTheirCodeDetailAndHolders) {
    Ambiente a;
    a.f.components.call_failures["CompletaAggiornamento"] = 5;
    a.f.files.held_by[testing::lower("C:\\Q3\\Estr.bin")] = {"Backup Facile"};
    a.f.files.lands_in[testing::lower("C:\\Q4\\bl.bin")] = "C:\\Users\\utente\\AppData\\Local\\VirtualStore\\Q4\\bl.bin";
    a.Esegui();
    const std::string log = a.Log();
    EXPECT_THAT(log, HasSubstr("CompletaAggiornamento: failed with code 5 (fake CompletaAggiornamento)"));
    EXPECT_THAT(log, HasSubstr("written to \"C:\\Users\\utente\\AppData\\Local\\VirtualStore\\Q4\\bl.bin\""));
    EXPECT_THAT(log, HasSubstr("copy \"C:\\Download\\Estr.bin\" to \"C:\\Q3\\Estr.bin\": failed with code 75 "
                               "(fake: held by others)"));
    EXPECT_THAT(log, HasSubstr("held by other programs: Backup Facile"));
    // A run that stops short ends with the code of what stopped it.
    EXPECT_THAT(log, HasSubstr("end: exit code 6 ("));
}

// The settings hold the host's passwords and the user's data: neither a decoded value nor the
// key reaches the log, not even through a failure's detail.
TEST(RunLog, HoldsNoSecretOfTheSettings) {
    Ambiente a;
    // Every field decodes to a text whose leading number is too large for a single: the first
    // number field fails with a detail that quotes it.
    a.f.components.decifra = [](const std::string&) { return std::string("1e99SEGRETO"); };
    a.Esegui();
    EXPECT_THAT(a.f.events({"Decifra:"}), Not(::testing::IsEmpty()));
    const std::string log = a.Log();
    EXPECT_THAT(log, HasSubstr("settings: reading the general data of Dati.lib: failed with code 6"));
    EXPECT_THAT(log, Not(HasSubstr("SEGRETO")));
    EXPECT_THAT(log, Not(HasSubstr(CostruisciChiave())));
}

// A log that cannot be written changes nothing of the run.
TEST(RunLog, ABrokenLogLeavesTheRunAsItWas) {
    Ambiente scritto, perso;
    perso.f.run_log.broken = true;
    scritto.Esegui();
    perso.Esegui();
    EXPECT_FALSE(scritto.f.run_log.lines.empty());
    EXPECT_TRUE(perso.f.run_log.lines.empty());
    EXPECT_EQ(perso.f.log, scritto.f.log);
    EXPECT_EQ(perso.f.process.exit_code, scritto.f.process.exit_code);
}

TEST(ExitCode, EachWayARunEndsHasItsOwn) {
    struct Caso { const char* nome; std::function<void(FakePlatform&)> prepara; int esito; };
    const Caso casi[] = {
        {"updated", [](FakePlatform&) {}, 0},
        {"cancelled", [](FakePlatform& f) { f.boxes.answers = {box_answer::cancel, box_answer::cancel}; }, 0},
        {"no_host", [](FakePlatform& f) { f.registry.refused_access = ~0u; }, 1},
        {"settings_file_missing", [](FakePlatform& f) { f.files.files.erase(testing::lower("C:\\Q4\\Dati.lib")); }, 4},
        {"host_running",
         [](FakePlatform& f) { f.files.copy_failures[testing::lower("C:\\Q3\\Estr.bin")] = code::path_file_access; }, 5},
        // Of the failures a run goes on after, the first decides.
        {"component_failed_then_copy_failed",
         [](FakePlatform& f) {
             f.components.call_failures["CompletaAggiornamento"] = 5;
             f.files.copy_failures[testing::lower("C:\\Q3\\Estr.bin")] = code::disk_full;
         },
         8},
    };
    for (const Caso& c : casi) {
        SCOPED_TRACE(c.nome);
        Ambiente a;
        c.prepara(a.f);
        a.Esegui();
        EXPECT_EQ(a.f.process.exit_code, c.esito);
        EXPECT_THAT(a.Log(), HasSubstr("end: exit code " + std::to_string(c.esito) + " ("));
    }
}

}  // namespace
}  // namespace aggiorna
