// The settings step of the update run.
#include "update/passo_impostazioni.h"

#include <memory>

#include "settings/chiave.h"
#include "settings/impostazioni.h"

namespace aggiorna {

void PassoImpostazioni(Platform& piattaforma, GestoreErrori& gestore, const std::string& cartella4) {
    // Declared before the settings object, so that on every path the object goes first and the
    // decoding objects after it, whatever failed on the way.
    OggettiDecodifica decodifica;
    std::unique_ptr<Impostazioni> impostazioni;

    auto oggetto = [&]() -> Impostazioni& {
        if (!impostazioni) throw Error(code::object_not_set, "settings object not created");
        return *impostazioni;
    };

    gestore.Esegui([&] { impostazioni = std::make_unique<Impostazioni>(piattaforma, decodifica); });
    gestore.Esegui([&] { oggetto().Inizializzazione(cartella4); });
    gestore.Esegui([&] { decodifica.cifratore = piattaforma.components.create_cifratore(); });
    gestore.Esegui([&] { decodifica.decodificatore = piattaforma.components.create_decodificatore(); });
    gestore.Esegui([&] {
        if (!decodifica.cifratore) throw Error(code::object_not_set, "Cifratore not created");
        std::string chiave = CostruisciChiave();
        decodifica.cifratore->ImpostaChiave(chiave);
    });
    gestore.Esegui([&] { oggetto().LetturaDatiGenerali(kPosizioneDatiGenerali); });
    gestore.Esegui([&] { oggetto().LetturaImpostazioni(); });
    gestore.Esegui([&] { impostazioni.reset(); });  // closes "Dati.lib"
    gestore.Esegui([&] { decodifica.cifratore.reset(); });
    gestore.Esegui([&] { decodifica.decodificatore.reset(); });
}

}  // namespace aggiorna
