// Shell special folders: SHGetSpecialFolderLocation and SHGetPathFromIDListW.
#include "platform/windows/shell.h"

#include "platform/windows/text.h"
#include "platform/windows/win.h"

namespace aggiorna::windows {

std::string WindowsShell::special_folder(int csidl) noexcept try {
    PIDLIST_ABSOLUTE items = nullptr;
    if (SHGetSpecialFolderLocation(nullptr, csidl, &items) != S_OK || items == nullptr) return {};
    wchar_t path[MAX_PATH + 1] = {};
    const BOOL ok = SHGetPathFromIDListW(items, path);
    CoTaskMemFree(items);
    if (!ok) return {};
    return to_utf8(path);
} catch (...) {
    return {};
}

}  // namespace aggiorna::windows
