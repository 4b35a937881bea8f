// The update run: finds the hosts, asks per version, copies the new archive and reports.
#include "update/aggiornamento.h"

#include <cstdlib>
#include <memory>

#include "update/gestore_errori.h"
#include "update/passo_impostazioni.h"

namespace aggiorna {
namespace {

constexpr const char* kCR = "\r";
constexpr const char* kProdotto = "Quintrel! Professional";
constexpr const char* kImpossibile = "Impossibile effettuare l'aggiornamento dell'archivio estrazioni.";

std::string MessaggioConferma(const char* prodotto) {
    return std::string("Prima di continuare accertarsi che ") + prodotto + " non sia in esecuzione.";
}

class Aggiornamento {
public:
    explicit Aggiornamento(Platform& p) : p_(p), gestore_(p) {}

    [[noreturn]] void Esegui() {
        gestore_.Esegui([&] { componente_ = p_.components.create_updater(); });
        gestore_.Esegui([&] { cartella4_ = PercorsoVersione4(p_.registry, p_.locale); });
        gestore_.Esegui([&] { cartella30_ = PercorsoVersione30(p_.registry, p_.locale); });
        // Nothing of the version 3.0 installation is read here.
        if (!cartella4_.empty()) PassoImpostazioni(p_, gestore_, cartella4_);

        if (cartella4_.empty() && cartella30_.empty()) {
            Messaggio(std::string("Non è presente alcuna versione di ") + kProdotto + "." + kCR + kCR + kImpossibile,
                      box_style::error);
        }
        if (!cartella4_.empty()) Versione4();
        if (!cartella30_.empty()) Versione30();

        gestore_.Esegui([&] { componente_.reset(); });
        p_.process.end_process();
        std::abort();  // not reached: the platform ends the process
    }

private:
    int Messaggio(const std::string& testo, std::uint32_t stile) {
        return p_.boxes.message_box(testo, stile, kTitoloAggiornamento);
    }

    // The folder of the program, where the new files are shipped; empty if it cannot be had.
    std::string CartellaAggiornamento() {
        std::string cartella;
        gestore_.Esegui([&] { cartella = p_.files.executable_folder(); });
        return cartella;
    }

    // One copy of the delivered file `consegnato` into a host folder, as `nome`. A host holding
    // the destination open (75) stops the run; any other failure is reported and ends this
    // version's update, so that nothing claims or completes an update whose files did not arrive.
    // The message names the file the user has, not the name it takes in the host folder.
    bool Copia(const std::string& origine, const char* consegnato, const std::string& cartella, const char* nome) {
        try {
            // Without its own folder the program has no file of its own to install: a path made
            // from nothing could only name another file.
            if (origine.empty()) throw Error(code::path_not_found, "the program's folder is unknown");
            p_.files.copy_file(origine + "\\" + consegnato, cartella + "\\" + nome);
            return true;
        } catch (const Error& e) {
            if (e.code() == code::path_file_access) gestore_.InUso();
            Messaggio(std::string("Non è stato possibile copiare il file ") + consegnato + " in " + cartella + "." +
                          kCR + kCR + kImpossibile,
                      box_style::error);
            return false;
        }
    }

    void Versione4() {
        if (Messaggio(MessaggioConferma("Quintrel! Professional 4"), box_style::confirmation) != box_answer::ok) return;
        const std::string origine = CartellaAggiornamento();
        if (!Copia(origine, "Estr.bin", cartella4_, "Estr.bi_")) return;
        if (!Copia(origine, "bl.bin", cartella4_, "bl.bin")) return;
        // From here on the component tells the user how the update went.
        gestore_.Esegui([&] {
            if (!componente_) throw Error(code::object_not_set, "ComponenteAggiornamento not created");
            componente_->CompletaAggiornamento(cartella4_);
        });
    }

    void Versione30() {
        if (Messaggio(MessaggioConferma("Quintrel! Professional 3.0"), box_style::confirmation) != box_answer::ok)
            return;
        const std::string origine = CartellaAggiornamento();
        if (!Copia(origine, "Estr.bin", cartella30_, "Estr.bin")) return;
        Messaggio("L'aggiornamento è stato eseguito correttamente.", box_style::information);
    }

    Platform& p_;
    GestoreErrori gestore_;
    std::unique_ptr<ComponenteAggiornamento> componente_;
    std::string cartella4_;
    std::string cartella30_;
};

}  // namespace

void GestoreErrori::InUso() {
    piattaforma_.boxes.message_box(std::string("Non è stato possibile effettuare l'aggiornamento perchè ") + kProdotto +
                                       " è in esecuzione.",
                                   box_style::error, kTitoloAggiornamento);
    piattaforma_.process.end_process();
    std::abort();  // not reached: the platform ends the process
}

void EseguiAggiornamento(Platform& piattaforma) {
    Aggiornamento(piattaforma).Esegui();
}

}  // namespace aggiorna
