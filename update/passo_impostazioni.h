// The settings step: before version 4 is offered, its host's settings are checked and read.
#pragma once

#include <string>

#include "platform/platform.h"
#include "update/gestore_errori.h"

namespace aggiorna {

// Position of the general data in the version 4 host's "Dati.lib".
inline constexpr std::int32_t kPosizioneDatiGenerali = 32500;

// Checks and reads the settings of the version 4 host installed in `cartella4`. A missing or
// invalid "Dati.lib" ends the process with its message; any other failure goes to `gestore` as
// a failure of the sub-step it happened in. Nothing it creates outlives the call.
void PassoImpostazioni(Platform& piattaforma, GestoreErrori& gestore, const std::string& cartella4);

}  // namespace aggiorna
