// Impostazioni: construction, destruction, the indexed properties and the file channels.
#include "settings/impostazioni.h"

#include "settings/canali.h"

#include <bitset>

namespace aggiorna {
namespace {

// File channel numbers in use in the process, as the host's runtime hands them out: the lowest
// free number from 1 up.
std::bitset<512> canali_in_uso;

}  // namespace

std::int16_t CanaleLibero() {
    for (std::size_t n = 1; n < canali_in_uso.size(); ++n)
        if (!canali_in_uso[n]) {
            canali_in_uso[n] = true;
            return static_cast<std::int16_t>(n);
        }
    throw Error(67, "too many files open");
}

void RilasciaCanale(std::int16_t canale) {
    if (canale > 0 && static_cast<std::size_t>(canale) < canali_in_uso.size()) canali_in_uso[canale] = false;
}

std::string OggettiDecodifica::DecodificaTesto(const std::string& testo) const {
    if (!decodificatore || !cifratore) throw Error(code::object_not_set, "decoding component not created");
    std::string intermedio = decodificatore->Decodifica(testo);
    return cifratore->Decifra(intermedio);
}

Impostazioni::Impostazioni(Platform& piattaforma, const OggettiDecodifica& decodifica)
    : piattaforma_(piattaforma), decodifica_(decodifica) {}

Impostazioni::~Impostazioni() {
    file_.reset();
    RilasciaCanale(NFile_);
}

float Impostazioni::Premio(std::int16_t indice) const {
    if (indice < 1 || indice > 5) throw Error(code::subscript_out_of_range, "Premio index");
    return Premio_[indice - 1];
}

std::string Impostazioni::PW(std::int16_t indice) const {
    if (indice < 0 || indice > 9) throw Error(code::subscript_out_of_range, "PW index");
    return PW_[indice];
}

VoceElenco Impostazioni::Suggerimento(std::int16_t indice) const {
    if (indice < 0 || indice > 500) throw Error(code::subscript_out_of_range, "Suggerimento index");
    return Suggerimenti_[indice];
}

}  // namespace aggiorna
