// The process DLL search path over SetDefaultDllDirectories, AddDllDirectory and
// RemoveDllDirectory, looked up by name: Windows 8 has them, Vista and 7 only with KB2533623.
#include "platform/windows/dll_search.h"

#include "platform/windows/handles.h"
#include "platform/windows/paths.h"
#include "platform/windows/registry.h"

namespace aggiorna::windows {
namespace {

template <typename Function>
Function kernel32_function(const char* name) {
    HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    if (kernel32 == nullptr) return nullptr;
    return reinterpret_cast<Function>(
        reinterpret_cast<void (*)()>(GetProcAddress(kernel32, name)));
}

std::wstring unquoted(const std::wstring& text) {
    const std::size_t first = text.find_first_not_of(L" \t");
    if (first == std::wstring::npos) return {};
    if (text[first] == L'"') {
        const std::size_t close = text.find(L'"', first + 1);
        return text.substr(first + 1, close == std::wstring::npos ? std::wstring::npos
                                                                   : close - first - 1);
    }
    const std::size_t last = text.find_last_not_of(L" \t");
    return text.substr(first, last - first + 1);
}

}  // namespace

bool restrict_dll_search() {
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    const auto set_default =
        kernel32_function<SetDefaultDllDirectoriesFn>("SetDefaultDllDirectories");
    return set_default != nullptr &&
           set_default(LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_SEARCH_USER_DIRS) != FALSE;
}

std::wstring registered_server_folder(const CLSID& clsid) {
    wchar_t class_id[40] = {};
    if (StringFromGUID2(clsid, class_id, 40) == 0) return {};
    const std::wstring name = std::wstring(L"CLSID\\") + class_id + L"\\InprocServer32";
    ScopedKey key;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, name.c_str(), 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS) {
        return {};
    }
    const auto path = registry_path_value(key.get(), L"");
    if (!path) return {};
    return folder_of(unquoted(*path));
}

DllFolder::DllFolder(const std::wstring& folder) {
    if (folder.empty()) return;
    using AddDllDirectoryFn = void*(WINAPI*)(PCWSTR);
    const auto add = kernel32_function<AddDllDirectoryFn>("AddDllDirectory");
    if (add != nullptr) cookie_ = add(folder.c_str());
}

DllFolder::~DllFolder() {
    if (cookie_ == nullptr) return;
    using RemoveDllDirectoryFn = BOOL(WINAPI*)(void*);
    const auto remove = kernel32_function<RemoveDllDirectoryFn>("RemoveDllDirectory");
    if (remove != nullptr) remove(cookie_);
}

}  // namespace aggiorna::windows
