// Shortcuts set to run their program as administrator ("Esegui come amministratore" in a
// shortcut's Advanced properties): a host started through one runs elevated, and reads the real files.
#pragma once

#include <string>
#include <vector>

namespace aggiorna::windows {

// Whether a shortcut (.lnk) in one of `places` or in a folder below them targets a program file
// in `folder` (or below it) and is set to run as administrator (SLDF_RUNAS_USER). A shortcut that
// cannot be read counts as not set. Opens a COM apartment on the calling thread when it has none.
bool shortcut_runs_as_administrator(const std::vector<std::wstring>& places, const std::wstring& folder);

// Where the host's shortcuts are: the desktop user's Desktop and Start menu, and the common ones.
std::vector<std::wstring> shortcut_places();

}  // namespace aggiorna::windows
