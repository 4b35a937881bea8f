// The user's VirtualStore: the path rule, and this process's folders from the token and the shell.
#include "platform/windows/virtual_store.h"

#include "platform/windows/desktop_user.h"
#include "platform/windows/handles.h"
#include "platform/windows/paths.h"
#include "platform/windows/text.h"
#include "platform/windows/win.h"

namespace aggiorna::windows {
namespace {

bool process_is_virtualized() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    const ScopedHandle owned(token);
    DWORD enabled = 0;
    DWORD size = 0;
    // Refused before Vista and where the system has no virtualization: then nothing redirects.
    if (!GetTokenInformation(token, TokenVirtualizationEnabled, &enabled, sizeof enabled, &size)) {
        return false;
    }
    return enabled != 0;
}

std::string environment(const wchar_t* name) {
    wchar_t value[MAX_PATH + 1] = {};
    const DWORD length = GetEnvironmentVariableW(name, value, MAX_PATH + 1);
    return length == 0 || length > MAX_PATH ? std::string() : to_utf8(value);
}

// The protected folder that holds `target` (plain separators), or nothing.
const std::string* protecting_folder(const VirtualStore& store, const std::wstring& target) {
    if (target.size() < 3 || target[1] != L':' || target[2] != L'\\') return nullptr;
    for (const std::string& folder : store.protected_folders) {
        const std::wstring inside = with_plain_separators(to_wide_lossy(folder));
        if (inside.size() < 3 || target.size() <= inside.size() + 1) continue;
        if (target[inside.size()] == L'\\' &&
            CompareStringOrdinal(target.data(), static_cast<int>(inside.size()), inside.data(),
                                 static_cast<int>(inside.size()), TRUE) == CSTR_EQUAL) {
            return &folder;
        }
    }
    return nullptr;
}

}  // namespace

bool in_protected_folder(const VirtualStore& store, const std::string& path) {
    return protecting_folder(store, with_plain_separators(to_wide_lossy(path))) != nullptr;
}

std::optional<std::string> virtual_copy_path(const VirtualStore& store, const std::string& path) {
    if (store.root.empty()) return std::nullopt;
    const std::wstring target = with_plain_separators(to_wide_lossy(path));
    if (protecting_folder(store, target) == nullptr) return std::nullopt;
    return store.root + (store.root.back() == '\\' ? "" : "\\") + to_utf8(target.substr(3));
}

VirtualStore system_virtual_store() try {
    VirtualStore store;
    store.virtualized = process_is_virtualized();
    const UserFolder local = desktop_user_folder_of(CSIDL_LOCAL_APPDATA, system_desktop_user_queries());
    if (!local.path.empty()) store.root = local.path + "\\VirtualStore";
    store.other_user_unknown = local.unknown;
    // A 32-bit process sees "Program Files (x86)" as ProgramFiles; ProgramW6432 names the other.
    for (const wchar_t* name : {L"ProgramFiles", L"ProgramFiles(x86)", L"ProgramW6432",
                                L"ProgramData", L"SystemRoot"}) {
        std::string folder = environment(name);
        if (!folder.empty()) store.protected_folders.push_back(std::move(folder));
    }
    return store;
} catch (...) {
    return {};
}

}  // namespace aggiorna::windows
