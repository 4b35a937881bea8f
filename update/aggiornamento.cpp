// The update run: finds the hosts, asks per version, copies the new archive and reports.
#include "update/aggiornamento.h"

#include <cstdlib>
#include <memory>
#include <vector>

#include "settings/impostazioni.h"
#include "update/consegna.h"
#include "update/diario.h"
#include "update/esito.h"
#include "update/gestore_errori.h"
#include "update/messaggi.h"
#include "update/passo_impostazioni.h"

namespace aggiorna {
namespace {

using namespace messaggi;
static_assert(esito::kImpostazioni == kEsitoFileImpostazioni);

std::string SiNo(const std::optional<bool>& valore) {
    return !valore ? "(not on this system)" : *valore ? "yes" : "no";
}

// The platform's end of the process, with the end and its exit code written to the log first,
// whichever step ends the run (the settings file's messages included).
class ProcessoConDiario final : public Process {
public:
    ProcessoConDiario(Process& processo, Diario& diario) : processo_(processo), diario_(diario) {}
    bool claim_single_run() override { return processo_.claim_single_run(); }
    RunFacts facts() override { return processo_.facts(); }
    [[noreturn]] void end_process(int codice) override {
        diario_.Riga("end: exit code " + std::to_string(codice) + " (" + esito::Significato(codice) + ")");
        processo_.end_process(codice);
        std::abort();  // not reached: the platform ends the process
    }

private:
    Process& processo_;
    Diario& diario_;
};

class Aggiornamento {
public:
    explicit Aggiornamento(Platform& p)
        : diario_(p.log),
          scatole_(p.boxes, diario_),
          processo_(p.process, diario_),
          p_{p.registry, scatole_, p.files, p.shell, p.locale, p.components, processo_, p.log},
          gestore_(p_, diario_) {}

    [[noreturn]] void Esegui() {
        Intestazione();
        if (!p_.process.claim_single_run()) {
            // A double click: the first run is still asking or copying.
            Messaggio(GiaInCorso(), box_style::information);
            Fine(esito::kGiaInCorso);
        }
        gestore_.Esegui("creating ComponenteAggiornamento", [&] { componente_ = p_.components.create_updater(); });
        Ricerche();

        if (cartella4_.empty() && cartella30_.empty()) {
            Messaggio(NonTrovato(), box_style::error);
            Esito(esito::kNessunaVersione);
        } else if (ConsegnaCompleta()) {
            // Nothing of the version 3.0 installation is read here. A folder that is no full path
            // names no settings file of the host's.
            if (!cartella4_.empty() && PercorsoAssoluto(cartella4_)) PassoImpostazioni(p_, gestore_, cartella4_);
            if (!cartella4_.empty()) Versione4();
            if (!cartella30_.empty()) Versione30();
        }

        Rilascia();
        Fine(esito_);
    }

private:
    int Messaggio(const std::string& testo, std::uint32_t stile) {
        return p_.boxes.message_box(testo, stile, kTitoloAggiornamento);
    }
    // The first failure of the run gives its exit code.
    void Esito(int codice) {
        if (esito_ == esito::kRiuscito) esito_ = codice;
    }
    [[noreturn]] void Fine(int codice) {
        p_.process.end_process(codice);
        std::abort();  // not reached: the platform ends the process
    }
    void Rilascia() {
        if (componente_) gestore_.Esegui("releasing ComponenteAggiornamento", [&] { componente_.reset(); });
    }

    void Intestazione() {
        fatti_ = p_.process.facts();
        diario_.Riga("Aggiorna Archivio: the log of one run");
        diario_.Riga("program: " + fatti_.program);
        diario_.Riga("system: " + fatti_.system);
        diario_.Riga("run as administrator: " + SiNo(fatti_.elevated));
        diario_.Riga("virtualized (UAC): " + SiNo(fatti_.virtualized));
        diario_.Riga("user: " + fatti_.user);
        diario_.Riga("log: " + p_.log.where());
        if (!gestore_.Esegui("finding the program's folder", [&] { origine_ = p_.files.executable_folder(); })) return;
        diario_.Riga("program's folder: " + Citato(origine_));
        for (const char* nome : {"Estr.bin", "bl.bin", "SHA256SUMS"}) {
            const auto fatti = p_.files.file_facts(origine_ + "\\" + nome);
            diario_.Riga(std::string("  ") + nome + ": " +
                         (!fatti             ? std::string("missing")
                          : fatti->directory ? std::string("a folder")
                          : !fatti->regular  ? std::string("not a plain file")
                                             : std::to_string(fatti->size) + " bytes, last written " + fatti->modified));
        }
    }

    void Ricerche() {
        LetturaRegistro letto4, letto30;
        gestore_.Esegui("looking up version 4", [&] { cartella4_ = PercorsoVersione4(p_.registry, p_.locale, &letto4); });
        diario_.Riga("HKLM\\Software\\Quibex\\Quintrel! 4 \"InstallPath\" (32-bit view): " + letto4.come +
                     (letto4.come == "missing" ? "" : " " + Citato(letto4.valore)) + " -> version 4 " +
                     (cartella4_.empty() ? "not installed" : "in " + Citato(cartella4_)));
        gestore_.Esegui("looking up version 3.0",
                        [&] { cartella30_ = PercorsoVersione30(p_.registry, p_.locale, &letto30); });
        diario_.Riga("HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\quintrel.exe (default, "
                     "32-bit view): " + letto30.come + (letto30.come == "missing" ? "" : " " + Citato(letto30.valore)) +
                     " -> version 3.0 " + (cartella30_.empty() ? "not installed" : "in " + Citato(cartella30_)));
    }

    // Opened from inside the downloaded zip, the program is extracted alone into a temporary
    // folder, without the files it installs; an extraction or a download that failed leaves them
    // empty or cut short. That is said before anything is asked, instead of a confirmation
    // followed by failed copies, or by a host's archive replaced with nothing. A folder that
    // cannot be had is left to the copies, which report it.
    bool ConsegnaCompleta() {
        if (origine_.empty()) return true;
        std::vector<std::string> nomi = {"Estr.bin"};
        if (!cartella4_.empty()) nomi.push_back("bl.bin");
        const Consegna consegna = ControllaConsegna(p_.files, diario_, origine_, nomi);
        if (!consegna.mancanti.empty()) {
            Messaggio(Mancanti(consegna.mancanti, origine_), box_style::error);
            Esito(esito::kConsegnaMancante);
            return false;
        }
        if (!consegna.danneggiati.empty()) {
            Messaggio(Danneggiati(consegna.danneggiati, origine_), box_style::error);
            Esito(esito::kConsegnaDanneggiata);
            return false;
        }
        return true;
    }

    // A run that Windows virtualizes writes only the user's VirtualStore, which a host set to run
    // as administrator never reads: its update would be invisible to it, and nothing is written.
    bool OspiteAmministratore(const char* prodotto, const std::string& cartella) {
        if (!p_.files.host_runs_elevated(cartella)) return false;
        diario_.Riga(std::string(prodotto) + ": set to run as administrator, and this run's writes there would land "
                     "in the VirtualStore");
        Messaggio(messaggi::OspiteAmministratore(prodotto), box_style::error);
        Esito(esito::kOspiteAmministratore);
        return true;
    }

    // What the user can do about a failed write of `file`; `consegnato`: its source was a delivered
    // file (a download not done shows there), not one of the host's.
    Rimedio RimedioPer(const Error& e, const std::string& file, bool consegnato = true) {
        if (e.side() == Side::source || e.code() == code::file_not_found) {
            return consegnato ? Rimedio::scaricamento : Rimedio::nessuno;
        }
        if (e.code() == code::disk_full) return Rimedio::spazio;
        if (e.code() == code::permission_denied && e.side() != Side::source && fatti_.elevated == false) {
            // A read-only file, or a folder in its place, stays so for an administrator too.
            const auto attributi = p_.files.attributes(file);
            if (!attributi || (*attributi & (file_attribute::readonly | file_attribute::directory)) == 0) {
                return Rimedio::amministratore;
            }
        }
        return Rimedio::nessuno;
    }

    // A file of the host's that the update must replace is held open: by the host (the in-use
    // message), or by other programs, which are named. Either way the run ends here.
    [[noreturn]] void Tenuto(const Error& e, const std::string& file) {
        if (e.holders().empty()) gestore_.InUso();
        diario_.Riga(std::string("held by ") + (e.holders_are_services() ? "services: " : "other programs: ") +
                     Elenco(e.holders()));
        Messaggio(AltriProgrammi(e.holders(), e.holders_are_services(), file), box_style::error);
        Fine(esito::kAltriProgrammi);
    }

    // One write into a host folder: `passo` puts what the user has as `consegnato` there as
    // `nome`. A host holding the destination open (75) stops the run, and so does another program
    // named as holding it; any other failure is reported and ends this version's update, so that
    // nothing claims or completes an update whose files did not arrive. The message names the
    // file the user has, not the name it takes in the host folder.
    template <class Passo>
    bool Scrivi(const std::string& cosa, Passo&& passo, const char* consegnato, const std::string& cartella,
                const char* nome, bool dalla_consegna = true) {
        const std::string file = cartella + "\\" + nome;
        try {
            const CopyReport resoconto = passo();
            if (!resoconto.landed.empty() || resoconto.bytes != 0) {
                std::string riga = cosa + ": " + std::to_string(resoconto.bytes) + " bytes";
                if (!resoconto.sha256.empty()) riga += ", SHA-256 " + resoconto.sha256;
                for (const std::string& dove : resoconto.landed) riga += ", written to " + Citato(dove);
                diario_.Riga(riga);
            } else {
                diario_.Riga(cosa + ": nothing to do");
            }
            if (resoconto.user_copy_unknown) {
                diario_.Riga("  the desktop user's folders could not be had: their virtual copy, if any, is not updated");
                copia_utente_ = true;
            }
            return true;
        } catch (const Error& e) {
            diario_.Riga(cosa + ": failed with code " + std::to_string(e.code()) + " (" + e.what() + ")");
            if (e.code() == code::path_file_access) Tenuto(e, file);
            Messaggio(CopiaFallita(consegnato, cartella, RimedioPer(e, file, dalla_consegna)), box_style::error);
            Esito(esito::kCopiaFallita);
            return false;
        }
    }

    bool Copia(const char* consegnato, const std::string& cartella, const char* nome) {
        const std::string da = origine_ + "\\" + consegnato;
        const std::string a = cartella + "\\" + nome;
        return Scrivi(
            "copy " + Citato(da) + " to " + Citato(a),
            [&] {
                // Without its own folder the program has no file of its own to install: a path
                // made from nothing could only name another file.
                if (origine_.empty()) throw Error(code::path_not_found, "the program's folder is unknown");
                // Nor is a folder that is not a full path the host's: Windows would take it from
                // wherever the program was started.
                if (!PercorsoAssoluto(cartella)) {
                    throw Error(code::path_not_found, "the host's folder is not a full path", Side::destination);
                }
                return p_.files.copy_file(da, a);
            },
            consegnato, cartella, nome);
    }

    // Nothing of version 4 is written unless all of it can be: the host running, another program
    // holding one of its files, or one that cannot be replaced (read-only, as installed from a
    // CD; a folder in its place) would leave it with a new bl.bin beside the old archive. The
    // message is the one the copy would give, naming the file that stands in the way.
    bool Sostituibili(const std::string& cartella) {
        for (const char* nome : {"Estr.bin", "bl.bin", "Estr.bi_"}) {
            const std::string file = cartella + "\\" + nome;
            try {
                p_.files.check_replaceable(file);
            } catch (const Error& e) {
                diario_.Riga("check of " + Citato(file) + ": cannot be replaced, code " + std::to_string(e.code()) +
                             " (" + e.what() + ")");
                if (e.code() == code::path_file_access) Tenuto(e, file);
                Messaggio(CopiaFallita(nome, cartella, RimedioPer(e, file)), box_style::error);
                Esito(esito::kCopiaFallita);
                return false;
            }
        }
        diario_.Riga("check of version 4's files: all can be replaced");
        return true;
    }

    // Run as administrator with another account's password, the run could not look after the
    // copy that Windows keeps for the user at the desktop: that user is told, never shown success.
    bool CopiaUtente(const char* prodotto) {
        if (!std::exchange(copia_utente_, false)) return false;
        Messaggio(messaggi::CopiaUtente(prodotto), box_style::information);
        Esito(esito::kCopiaUtente);
        return true;
    }

    void Versione4() {
        if (OspiteAmministratore(kProdotto4, cartella4_)) return;
        // Without its component the update cannot be completed: said now, before anything is
        // written that would stay half done.
        if (!componente_) {
            Messaggio(ComponenteMancante(), box_style::error);
            Esito(esito::kComponente);
            return;
        }
        if (Messaggio(Conferma(kProdotto4), box_style::confirmation) != box_answer::ok) return;
        if (PercorsoAssoluto(cartella4_) && !Sostituibili(cartella4_)) return;
        if (!Copia("Estr.bin", cartella4_, "Estr.bi_")) return;
        if (!Copia("bl.bin", cartella4_, "bl.bin")) return;
        // From here on the component tells the user how the update went.
        const bool completato = gestore_.Esegui("CompletaAggiornamento", [&] {
            componente_->CompletaAggiornamento(cartella4_);
            diario_.Riga("CompletaAggiornamento(" + Citato(cartella4_) + "): completed");
        });
        // Released before anything else touches the archive: a component may keep it open until
        // it goes.
        Rilascia();
        if (!completato) {
            Esito(esito::kComponente);
            return;
        }
        // Run as administrator, the component completed the real archive; a host that runs
        // virtualized goes on reading its own copy unless that is replaced too.
        const std::string archivio = cartella4_ + "\\Estr.bin";
        // Its source is the host's completed archive, not a delivered file.
        if (!Scrivi("refresh of the user's virtual copy of " + Citato(archivio),
                    [&] { return p_.files.refresh_virtual_copy(archivio); }, "Estr.bin", cartella4_, "Estr.bin",
                    false)) {
            return;
        }
        CopiaUtente(kProdotto4);
    }

    void Versione30() {
        if (OspiteAmministratore(kProdotto30, cartella30_)) return;
        if (Messaggio(Conferma(kProdotto30), box_style::confirmation) != box_answer::ok) return;
        if (!Copia("Estr.bin", cartella30_, "Estr.bin")) return;
        if (CopiaUtente(kProdotto30)) return;
        Messaggio(Riuscito(), box_style::information);
    }

    Diario diario_;
    ScatoleConDiario scatole_;
    ProcessoConDiario processo_;
    Platform p_;  // the platform, its boxes and its end of the process written to the log
    GestoreErrori gestore_;
    RunFacts fatti_;
    std::unique_ptr<ComponenteAggiornamento> componente_;
    std::string cartella4_;
    std::string cartella30_;
    std::string origine_;  // the program's own folder, where the new files are delivered
    int esito_ = esito::kRiuscito;
    bool copia_utente_ = false;  // a copy could not look after the desktop user's own copy
};

}  // namespace

void GestoreErrori::InUso() {
    piattaforma_.boxes.message_box(messaggi::InUso(), box_style::error, kTitoloAggiornamento);
    piattaforma_.process.end_process(esito::kInUso);
    std::abort();  // not reached: the platform ends the process
}

const char* esito::Significato(int codice) {
    switch (codice) {
        case kRiuscito: return "every host found updated, or left as the user chose";
        case kNessunaVersione: return "no host installed";
        case kConsegnaMancante: return "a delivered file missing";
        case kConsegnaDanneggiata: return "a delivered file empty or damaged";
        case kImpostazioni: return "the settings file missing or not valid";
        case kInUso: return "the host running";
        case kAltriProgrammi: return "a file held by another program";
        case kCopiaFallita: return "a copy failed";
        case kComponente: return "the update component missing or failed";
        case kOspiteAmministratore: return "a host set to run as administrator would not see the update";
        case kGiaInCorso: return "another run under way";
        case kCopiaUtente: return "the user's own copy not updated";
        default: return "unknown";
    }
}

void EseguiAggiornamento(Platform& piattaforma) {
    Aggiornamento(piattaforma).Esegui();
}

}  // namespace aggiorna
