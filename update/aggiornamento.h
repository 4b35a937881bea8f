// The update run: the program's whole life, from the host lookups to the end of the process.
#pragma once

#include <string>

#include "platform/platform.h"

namespace aggiorna {

// Fixed texts of the run's message boxes.
inline constexpr const char* kTitoloAggiornamento = "Aggiornamento Archivio";

// Runs the update once and ends the process through platform.process; it does not return.
[[noreturn]] void EseguiAggiornamento(Platform& piattaforma);

// The installation folder of the version 4 host, exactly as stored; empty when not installed.
std::string PercorsoVersione4(Registry& registro, Locale& locale);
// The folder of the version 3.0 host's program file, without a trailing backslash; empty when
// not installed.
std::string PercorsoVersione30(Registry& registro, Locale& locale);

}  // namespace aggiorna
