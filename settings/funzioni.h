// Funzioni: the utility procedures of the program, and the per-user settings read of the host's runtime.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace aggiorna {

namespace Funzioni {

// The file-system path of the shell special folder `cartella` (0: the user's desktop), cut at its
// first NUL, or the empty text when the platform gives none. Never fails: whatever the shell
// throws yields the empty text.
std::string PercorsoCartellaSpeciale(Shell& shell, std::int32_t cartella);

}  // namespace Funzioni

// The per-user setting `nome` of `applicazione`, section `sezione`, as the host's runtime keeps it:
// the string value in the key (applicazione)\(sezione) under
// HKEY_CURRENT_USER\Software\VB and VBA Program Settings. The text as stored, also when empty;
// `predefinito` when a key on the way or the value is missing, or the value is not a string. Only
// reads; every key it opens is closed before it returns, also when the registry throws.
std::string LeggiImpostazione(Registry& registro, std::string_view applicazione,
                              std::string_view sezione, std::string_view nome,
                              std::string_view predefinito);

}  // namespace aggiorna
