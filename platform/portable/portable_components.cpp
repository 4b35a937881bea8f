// Creation of the portable stand-ins of the outside components.
#include "platform/portable/portable_components.h"

#include "platform/portable/decodifica_sostitutiva.h"
#include "platform/portable/updater_standin.h"

namespace aggiorna::portable {

std::unique_ptr<ComponenteAggiornamento> PortableComponents::create_updater() {
    return std::make_unique<ComponenteAggiornamentoSostitutivo>(prefix_, boxes_);
}

std::unique_ptr<Cifratore> PortableComponents::create_cifratore() {
    return std::make_unique<CifratoreSostitutivo>();
}

std::unique_ptr<Decodificatore> PortableComponents::create_decodificatore() {
    return std::make_unique<DecodificatoreSostitutivo>();
}

}  // namespace aggiorna::portable
