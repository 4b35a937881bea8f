// The host set to run as administrator: compatibility layers (RegEnumValueW), shortcuts, manifests.
#include "platform/windows/run_as_administrator.h"

#include <algorithm>
#include <vector>

#include "platform/windows/handles.h"
#include "platform/windows/paths.h"
#include "platform/windows/program_manifest.h"
#include "platform/windows/shortcuts.h"
#include "platform/windows/text.h"
#include "platform/windows/win.h"

namespace aggiorna::windows {
namespace {

constexpr const wchar_t* kLayers = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\Layers";

// Whether any value of the Layers key of `root`, in the view `view`, names a program in `folder`
// and asks for administrator rights.
bool layers_key_asks(HKEY root, REGSAM view, const std::wstring& folder) {
    ScopedKey owned;
    if (RegOpenKeyExW(root, kLayers, 0, KEY_QUERY_VALUE | view, owned.put()) != ERROR_SUCCESS) return false;
    const HKEY key = owned.get();
    bool asks = false;
    std::vector<wchar_t> name(32768);
    std::vector<BYTE> data(8192);
    for (DWORD index = 0; !asks; ++index) {
        DWORD name_length = static_cast<DWORD>(name.size());
        DWORD data_size = static_cast<DWORD>(data.size() - sizeof(wchar_t));
        DWORD type = 0;
        const LONG status =
            RegEnumValueW(key, index, name.data(), &name_length, nullptr, &type, data.data(), &data_size);
        if (status == ERROR_NO_MORE_ITEMS) break;
        if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) continue;
        const std::wstring_view layers(reinterpret_cast<const wchar_t*>(data.data()), data_size / sizeof(wchar_t));
        const std::wstring program(name.data(), name_length);
        asks = layers_ask_for_administrator(layers.substr(0, layers.find(L'\0'))) &&
               lies_in(folder_of(program), folder);
    }
    return asks;
}

}  // namespace

bool layers_ask_for_administrator(std::wstring_view layers) {
    constexpr std::wstring_view kWord = L"RUNASADMIN";
    std::size_t at = 0;
    while (at < layers.size()) {
        const std::size_t start = layers.find_first_not_of(L" \t", at);
        if (start == std::wstring_view::npos) break;
        const std::size_t end = std::min(layers.find_first_of(L" \t", start), layers.size());
        const std::wstring_view word = layers.substr(start, end - start);
        if (CompareStringOrdinal(word.data(), static_cast<int>(word.size()), kWord.data(),
                                 static_cast<int>(kWord.size()), TRUE) == CSTR_EQUAL) {
            return true;
        }
        at = end;
    }
    return false;
}

bool folder_has_program_run_as_administrator(const std::string& folder) try {
    const std::wstring wide = to_wide_lossy(folder);
    // The user's own settings, and those for all users, which a 32-bit program finds in either
    // view depending on the tool that wrote them.
    return layers_key_asks(HKEY_CURRENT_USER, 0, wide) ||
           layers_key_asks(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, wide) ||
           layers_key_asks(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, wide);
} catch (...) {
    return false;
}

}  // namespace aggiorna::windows

namespace aggiorna::windows {

bool host_set_to_run_as_administrator(const std::string& folder) try {
    const std::wstring wide = to_wide_lossy(folder);
    return folder_has_program_run_as_administrator(folder) || folder_has_program_with_administrator_manifest(wide) ||
           shortcut_runs_as_administrator(shortcut_places(), wide);
} catch (...) {
    return false;
}

}  // namespace aggiorna::windows
