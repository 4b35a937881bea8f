// The update run: the program's whole life, from the host lookups to the end of the process.
#pragma once

#include <string>

#include "platform/platform.h"

namespace aggiorna {

// Fixed texts of the run's message boxes.
inline constexpr const char* kTitoloAggiornamento = "Aggiornamento Archivio";

// Runs the update once and ends the process through platform.process; it does not return.
[[noreturn]] void EseguiAggiornamento(Platform& piattaforma);

// What a lookup read, for the run's log.
struct LetturaRegistro {
    std::string valore;  // the value as text ("" when missing)
    std::string come;    // how it was read: a string value, another type taken as text, missing
};

// The installation folder of the version 4 host, exactly as stored (an expandable value's
// variables expanded); empty when not installed.
std::string PercorsoVersione4(Registry& registro, Locale& locale, LetturaRegistro* letto = nullptr);
// The folder of the version 3.0 host's program file, without a trailing separator; empty when
// not installed.
std::string PercorsoVersione30(Registry& registro, Locale& locale, LetturaRegistro* letto = nullptr);
// Whether a folder is a full path: a drive and its separator ("C:", "C:/"), or a network path
// ("\server\share"). Any other is taken by Windows relative to the current folder, which would
// write somewhere else.
bool PercorsoAssoluto(std::string_view cartella);

}  // namespace aggiorna
