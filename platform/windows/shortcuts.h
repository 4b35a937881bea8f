// Shortcuts set to run their program as administrator ("Esegui come amministratore" in a
// shortcut's Advanced properties): a host started through one runs elevated, and reads the real files.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/windows/win.h"

namespace aggiorna::windows {

// What a shortcut holds that matters here.
struct Shortcut {
    std::wstring target;  // the program file, variables expanded
    DWORD flags = 0;      // SLDF_*: SLDF_RUNAS_USER when set to run as administrator
};
// A shortcut file read through the shell's link object (IShellLinkW, IShellLinkDataList::GetFlags);
// nullopt when it cannot be read. Needs a COM apartment on the calling thread.
std::optional<Shortcut> read_shortcut(const std::wstring& link);
using ShortcutReader = std::function<std::optional<Shortcut>(const std::wstring& link)>;

// Whether a shortcut (.lnk) in one of `places` or in a folder below them targets a program file
// in `folder` (or below it) and is set to run as administrator (SLDF_RUNAS_USER). A shortcut that
// cannot be read counts as not set. Opens a COM apartment on the calling thread when it has none.
// `read` reads each one (a test's stand-in where Wine's link object keeps no flags).
bool shortcut_runs_as_administrator(const std::vector<std::wstring>& places, const std::wstring& folder,
                                    const ShortcutReader& read = read_shortcut);

// Where the host's shortcuts are: the desktop user's Desktop and Start menu, and the common ones.
std::vector<std::wstring> shortcut_places();

}  // namespace aggiorna::windows
