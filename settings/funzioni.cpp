// Funzioni: the special-folder path, and the per-user settings read of the host's runtime.
#include "settings/funzioni.h"

#include "settings/catena_chiavi.h"

namespace aggiorna {

std::string Funzioni::PercorsoCartellaSpeciale(Shell& shell, std::int32_t cartella) {
    try {
        std::string percorso = shell.special_folder(cartella);
        if (auto nul = percorso.find('\0'); nul != std::string::npos) percorso.resize(nul);
        return percorso;
    } catch (...) {
        return {};
    }
}

std::string LeggiImpostazione(Registry& registro, std::string_view applicazione,
                              std::string_view sezione, std::string_view nome,
                              std::string_view predefinito) {
    CatenaChiavi catena(registro);
    const RegKey chiave = catena.Apri(
        kHkeyCurrentUser, {"Software", "VB and VBA Program Settings", applicazione, sezione}, reg_access::read);
    if (chiave == 0) return std::string(predefinito);
    std::optional<std::string> valore = registro.query_string(chiave, nome);
    return valore ? *std::move(valore) : std::string(predefinito);
}

}  // namespace aggiorna
