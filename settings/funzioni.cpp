// Funzioni: the special-folder path, and the per-user settings read of the host's runtime.
#include "settings/funzioni.h"

#include <array>

namespace aggiorna {
namespace {

// A registry key that is closed exactly once, when its holder goes out of scope.
class ChiaveAperta {
public:
    ChiaveAperta() = default;
    ChiaveAperta(Registry& registro, RegKey chiave) : registro_(&registro), chiave_(chiave) {}
    ChiaveAperta(const ChiaveAperta&) = delete;
    ChiaveAperta& operator=(const ChiaveAperta&) = delete;
    ChiaveAperta& operator=(ChiaveAperta&& altra) noexcept {
        chiudi();
        registro_ = altra.registro_;
        chiave_ = altra.chiave_;
        altra.chiave_ = 0;
        return *this;
    }
    ~ChiaveAperta() { chiudi(); }

    RegKey get() const { return chiave_; }
    explicit operator bool() const { return chiave_ != 0; }

private:
    void chiudi() noexcept {
        if (chiave_ != 0 && registro_) {
            try {
                registro_->close_key(chiave_);
            } catch (...) {
                // A key that cannot be closed is lost; the setting was already read.
            }
        }
        chiave_ = 0;
    }

    Registry* registro_ = nullptr;
    RegKey chiave_ = 0;
};

}  // namespace

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
    const std::array<std::string_view, 4> percorso{"Software", "VB and VBA Program Settings", applicazione, sezione};
    // Each key is held until the read is over; they are closed in the reverse order of opening.
    std::array<ChiaveAperta, 4> chiavi;
    RegKey genitore = kHkeyCurrentUser;
    for (std::size_t i = 0; i < percorso.size(); ++i) {
        chiavi[i] = ChiaveAperta(registro, registro.open_key(genitore, percorso[i], reg_access::read));
        if (!chiavi[i]) return std::string(predefinito);
        genitore = chiavi[i].get();
    }
    std::optional<std::string> valore = registro.query_string(genitore, nome);
    return valore ? *std::move(valore) : std::string(predefinito);
}

}  // namespace aggiorna
