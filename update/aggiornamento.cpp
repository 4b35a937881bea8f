// The update run: finds the hosts, asks per version, copies the new archive and reports.
#include "update/aggiornamento.h"

#include <cstdlib>
#include <memory>
#include <vector>

#include "update/esito.h"
#include "update/gestore_errori.h"
#include "update/passo_impostazioni.h"

namespace aggiorna {
namespace {

constexpr const char* kCR = "\r";
constexpr const char* kProdotto = "Quintrel! Professional";
constexpr const char* kProdotto4 = "Quintrel! Professional 4";
constexpr const char* kProdotto30 = "Quintrel! Professional 3.0";
constexpr const char* kImpossibile = "Impossibile effettuare l'aggiornamento dell'archivio estrazioni.";

std::string MessaggioConferma(const char* prodotto) {
    return std::string("Prima di continuare accertarsi che ") + prodotto + " non sia in esecuzione.";
}

// "a", "a e b", "a, b e c".
std::string Elenco(const std::vector<std::string>& nomi) {
    std::string testo;
    for (std::size_t i = 0; i < nomi.size(); ++i) {
        if (i > 0) testo += i + 1 == nomi.size() ? " e " : ", ";
        testo += nomi[i];
    }
    return testo;
}

class Aggiornamento {
public:
    explicit Aggiornamento(Platform& p) : p_(p), gestore_(p) {}

    [[noreturn]] void Esegui() {
        gestore_.Esegui([&] { componente_ = p_.components.create_updater(); });
        gestore_.Esegui([&] { cartella4_ = PercorsoVersione4(p_.registry, p_.locale); });
        gestore_.Esegui([&] { cartella30_ = PercorsoVersione30(p_.registry, p_.locale); });

        if (cartella4_.empty() && cartella30_.empty()) {
            Messaggio(std::string("Non è presente alcuna versione di ") + kProdotto + "." + kCR + kCR + kImpossibile,
                      box_style::error);
        } else if (ConsegnaCompleta()) {
            // Nothing of the version 3.0 installation is read here.
            if (!cartella4_.empty()) PassoImpostazioni(p_, gestore_, cartella4_);
            if (!cartella4_.empty()) Versione4();
            if (!cartella30_.empty()) Versione30();
        }

        gestore_.Esegui([&] { componente_.reset(); });
        p_.process.end_process(esito::kRiuscito);
        std::abort();  // not reached: the platform ends the process
    }

private:
    int Messaggio(const std::string& testo, std::uint32_t stile) {
        return p_.boxes.message_box(testo, stile, kTitoloAggiornamento);
    }

    // Opened from inside the downloaded zip, the program is extracted alone into a temporary
    // folder, without the files it installs. That is said before anything is asked, instead of
    // a confirmation followed by failed copies that blame the host's folder. A folder that
    // cannot be had is left to the copies, which report it.
    bool ConsegnaCompleta() {
        if (!gestore_.Esegui([&] { origine_ = p_.files.executable_folder(); }) || origine_.empty()) return true;
        std::vector<std::string> mancanti;
        for (const char* nome : {"Estr.bin", "bl.bin"}) {
            if (std::string_view(nome) == "bl.bin" && cartella4_.empty()) continue;
            const auto attributi = p_.files.attributes(origine_ + "\\" + nome);
            if (!attributi || (*attributi & file_attribute::directory) != 0) mancanti.push_back(nome);
        }
        if (mancanti.empty()) return true;
        Messaggio((mancanti.size() == 1 ? "Il file " + mancanti[0] + " non si trova"
                                        : "I file " + Elenco(mancanti) + " non si trovano") +
                      " nella cartella del programma:" + kCR + origine_ + kCR + kCR +
                      "Estrarre tutti i file dell'archivio scaricato in un'unica cartella e avviare il "
                      "programma da quella cartella.",
                  box_style::error);
        return false;
    }

    // A run that Windows virtualizes writes only the user's VirtualStore, which a host set to run
    // as administrator never reads: its update would be invisible to it, and nothing is written.
    bool OspiteAmministratore(const char* prodotto, const std::string& cartella) {
        if (!p_.files.host_runs_elevated(cartella)) return false;
        Messaggio(std::string(prodotto) +
                      " è impostato per essere eseguito come amministratore e non vedrebbe l'archivio "
                      "aggiornato." + kCR + kCR +
                      "Per aggiornarlo avviare l'aggiornamento con \"Esegui come amministratore\" (clic con il "
                      "pulsante destro del mouse sul programma di aggiornamento).",
                  box_style::error);
        return true;
    }

    // One write of the new archive into a host folder: `passo` puts the delivered file
    // `consegnato` there as `nome`. A host holding the destination open (75) stops the run, and
    // so does another program named as holding it; any other failure is reported and ends this
    // version's update, so that nothing claims or completes an update whose files did not
    // arrive. The message names the file the user has, not the name it takes in the host folder.
    template <class Passo>
    bool Scrivi(Passo&& passo, const char* consegnato, const std::string& cartella, const char* nome) {
        try {
            passo();
            return true;
        } catch (const Error& e) {
            if (e.code() == code::path_file_access) {
                if (!e.holders().empty()) AltriProgrammi(e.holders(), cartella + "\\" + nome);
                gestore_.InUso();
            }
            Messaggio(std::string("Non è stato possibile copiare il file ") + consegnato + " in " + cartella + "." +
                          kCR + kCR + kImpossibile,
                      box_style::error);
            return false;
        }
    }

    bool Copia(const char* consegnato, const std::string& cartella, const char* nome) {
        return Scrivi(
            [&] {
                // Without its own folder the program has no file of its own to install: a path
                // made from nothing could only name another file.
                if (origine_.empty()) throw Error(code::path_not_found, "the program's folder is unknown");
                p_.files.copy_file(origine_ + "\\" + consegnato, cartella + "\\" + nome);
            },
            consegnato, cartella, nome);
    }

    // Another program (a backup or sync program, a scanner, a preview) holds a file the update
    // must replace: the user can close it, which the in-use message would not say.
    [[noreturn]] void AltriProgrammi(const std::vector<std::string>& programmi, const std::string& file) {
        const std::string nomi = Elenco(programmi);
        Messaggio("Non è stato possibile aggiornare il file " + file + " perché è in uso da parte di " + nomi + "." +
                      kCR + kCR + "Chiudere " + nomi + " e avviare di nuovo l'aggiornamento.",
                  box_style::error);
        p_.process.end_process(esito::kAltriProgrammi);
        std::abort();  // not reached: the platform ends the process
    }

    void Versione4() {
        if (OspiteAmministratore(kProdotto4, cartella4_)) return;
        if (Messaggio(MessaggioConferma(kProdotto4), box_style::confirmation) != box_answer::ok) return;
        if (!Copia("Estr.bin", cartella4_, "Estr.bi_")) return;
        if (!Copia("bl.bin", cartella4_, "bl.bin")) return;
        // From here on the component tells the user how the update went.
        const bool completato = gestore_.Esegui([&] {
            if (!componente_) throw Error(code::object_not_set, "ComponenteAggiornamento not created");
            componente_->CompletaAggiornamento(cartella4_);
        });
        // Run as administrator, the component completed the real archive; a host that runs
        // virtualized goes on reading its own copy unless that is replaced too.
        if (completato) {
            Scrivi([&] { p_.files.refresh_virtual_copy(cartella4_ + "\\Estr.bin"); }, "Estr.bin", cartella4_,
                   "Estr.bin");
        }
    }

    void Versione30() {
        if (OspiteAmministratore(kProdotto30, cartella30_)) return;
        if (Messaggio(MessaggioConferma(kProdotto30), box_style::confirmation) != box_answer::ok) return;
        if (!Copia("Estr.bin", cartella30_, "Estr.bin")) return;
        Messaggio("L'aggiornamento è stato eseguito correttamente.", box_style::information);
    }

    Platform& p_;
    GestoreErrori gestore_;
    std::unique_ptr<ComponenteAggiornamento> componente_;
    std::string cartella4_;
    std::string cartella30_;
    std::string origine_;  // the program's own folder, where the new files are delivered
};

}  // namespace

void GestoreErrori::InUso() {
    piattaforma_.boxes.message_box(std::string("Non è stato possibile effettuare l'aggiornamento perchè ") + kProdotto +
                                       " è in esecuzione.",
                                   box_style::error, kTitoloAggiornamento);
    piattaforma_.process.end_process(esito::kInUso);
    std::abort();  // not reached: the platform ends the process
}

void EseguiAggiornamento(Platform& piattaforma) {
    Aggiornamento(piattaforma).Esegui();
}

}  // namespace aggiorna
