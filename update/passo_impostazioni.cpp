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
    // The log says how each step went, never what was read: the settings hold the host's
    // passwords and the user's data, and a failure's detail may quote a decoded field.
    Diario& diario = gestore.diario();
    const auto passo = [&](const char* cosa, auto&& fai) {
        if (gestore.Esegui(cosa, fai, false)) diario.Riga(std::string(cosa) + ": done");
    };

    diario.Riga("settings step for " + Citato(cartella4));
    passo("settings: creating the settings object",
          [&] { impostazioni = std::make_unique<Impostazioni>(piattaforma, decodifica); });
    passo("settings: opening and checking Dati.lib", [&] { oggetto().Inizializzazione(cartella4); });
    passo("settings: creating Cifratore", [&] { decodifica.cifratore = piattaforma.components.create_cifratore(); });
    passo("settings: creating Decodificatore",
          [&] { decodifica.decodificatore = piattaforma.components.create_decodificatore(); });
    passo("settings: handing Cifratore its key", [&] {
        if (!decodifica.cifratore) throw Error(code::object_not_set, "Cifratore not created");
        std::string chiave = CostruisciChiave();
        decodifica.cifratore->ImpostaChiave(chiave);
    });
    passo("settings: reading the general data of Dati.lib",
          [&] { oggetto().LetturaDatiGenerali(kPosizioneDatiGenerali); });
    passo("settings: reading the preferences", [&] { oggetto().LetturaImpostazioni(); });
    passo("settings: closing Dati.lib", [&] { impostazioni.reset(); });
    passo("settings: releasing Cifratore", [&] { decodifica.cifratore.reset(); });
    passo("settings: releasing Decodificatore", [&] { decodifica.decodificatore.reset(); });
}

}  // namespace aggiorna
