// Shortcut files read through the shell's link object (IShellLinkW, IShellLinkDataList).
#include "platform/windows/shortcuts.h"

#include "platform/windows/desktop_user.h"
#include "platform/windows/handles.h"
#include "platform/windows/paths.h"
#include "platform/windows/text.h"
#include "platform/windows/win.h"

#include <shobjidl.h>

namespace aggiorna::windows {
namespace {

// A COM apartment for this scope where the thread has none (the run has one already: then
// nothing changes).
class Apartment {
public:
    Apartment() : initialized_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
    ~Apartment() {
        if (initialized_) CoUninitialize();
    }
    Apartment(const Apartment&) = delete;
    Apartment& operator=(const Apartment&) = delete;

private:
    bool initialized_;
};

bool runs_as_administrator(const std::optional<Shortcut>& shortcut, const std::wstring& folder) {
    return shortcut && (shortcut->flags & SLDF_RUNAS_USER) != 0 && lies_in(folder_of(shortcut->target), folder);
}

bool any_link_in(const std::wstring& place, const std::wstring& folder, const ShortcutReader& read, int depth) {
    if (place.empty() || depth > 8) return false;
    const std::wstring base = with_plain_separators(place) + L"\\";
    WIN32_FIND_DATAW found;
    const ScopedFind search(FindFirstFileW(api_path(base + L"*").c_str(), &found));
    if (!search.valid()) return false;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            // A link to a folder elsewhere is not followed: the Start menu's own folders only.
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 &&
                any_link_in(base + name, folder, read, depth + 1)) {
                return true;
            }
            continue;
        }
        if (name.size() > 4 &&
            CompareStringOrdinal(name.c_str() + name.size() - 4, 4, L".lnk", 4, TRUE) == CSTR_EQUAL &&
            runs_as_administrator(read(base + name), folder)) {
            return true;
        }
    } while (FindNextFileW(search.get(), &found));
    return false;
}

}  // namespace

std::optional<Shortcut> read_shortcut(const std::wstring& link) {
    ComPtr<IShellLinkW> shell_link;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                shell_link.put_void()))) {
        return std::nullopt;
    }
    ComPtr<IPersistFile> file;
    if (FAILED(shell_link->QueryInterface(IID_IPersistFile, file.put_void())) ||
        FAILED(file->Load(link.c_str(), STGM_READ))) {
        return std::nullopt;
    }
    wchar_t target[MAX_PATH + 1] = {};
    if (shell_link->GetPath(target, MAX_PATH + 1, nullptr, SLGP_RAWPATH) != S_OK || target[0] == L'\0') {
        return std::nullopt;
    }
    Shortcut shortcut{target, 0};
    // A raw target may hold variables ("%ProgramFiles%\...").
    wchar_t expanded[MAX_PATH + 1] = {};
    const DWORD length = ExpandEnvironmentStringsW(target, expanded, MAX_PATH + 1);
    if (length > 0 && length <= MAX_PATH + 1) shortcut.target = expanded;
    ComPtr<IShellLinkDataList> data;
    if (FAILED(shell_link->QueryInterface(IID_IShellLinkDataList, data.put_void())) ||
        FAILED(data->GetFlags(&shortcut.flags))) {
        shortcut.flags = 0;
    }
    return shortcut;
}

bool shortcut_runs_as_administrator(const std::vector<std::wstring>& places, const std::wstring& folder,
                                    const ShortcutReader& read) try {
    const Apartment apartment;
    for (const std::wstring& place : places) {
        if (any_link_in(place, folder, read, 0)) return true;
    }
    return false;
} catch (...) {
    return false;
}

std::vector<std::wstring> shortcut_places() {
    std::vector<std::wstring> places;
    for (const int csidl : {CSIDL_DESKTOPDIRECTORY, CSIDL_STARTMENU}) {
        const std::string place = desktop_user_folder(csidl);
        if (!place.empty()) places.push_back(to_wide_lossy(place));
    }
    for (const int csidl : {CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_COMMON_STARTMENU}) {
        const std::string place = user_folder(csidl, nullptr);
        if (!place.empty()) places.push_back(to_wide_lossy(place));
    }
    return places;
}

}  // namespace aggiorna::windows
