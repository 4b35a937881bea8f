// A shortcut of the kit's, set to run its program as administrator as the shortcut's "Esegui come
// amministratore" box sets it.
#pragma once

#include <string>

namespace kit {

// Saves the shortcut `link` (a .lnk file) to `target` with SLDF_RUNAS_USER set. Needs a COM
// apartment on the thread. Throws std::runtime_error, saying which step failed, when it cannot.
void make_run_as_administrator_shortcut(const std::wstring& link, const std::wstring& target);

}  // namespace kit
