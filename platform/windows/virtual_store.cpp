// The user's VirtualStore: the path rule, and this process's folders from the token and the shell.
#include "platform/windows/virtual_store.h"

#include "platform/windows/handles.h"
#include "platform/windows/text.h"
#include "platform/windows/win.h"

namespace aggiorna::windows {
namespace {

// Backslashes only, none repeated and none at the end.
std::wstring normalized(const std::string& path) {
    std::wstring wide = to_wide_lossy(path);
    std::wstring out;
    for (wchar_t c : wide) {
        if (c == L'/') c = L'\\';
        if (c == L'\\' && !out.empty() && out.back() == L'\\') continue;
        out.push_back(c);
    }
    while (!out.empty() && out.back() == L'\\') out.pop_back();
    return out;
}

bool same_text(std::wstring_view a, std::wstring_view b) {
    return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

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

}  // namespace

std::optional<std::string> virtual_copy_path(const VirtualStore& store, const std::string& path) {
    if (store.root.empty()) return std::nullopt;
    const std::wstring target = normalized(path);
    if (target.size() < 3 || target[1] != L':' || target[2] != L'\\') return std::nullopt;
    for (const std::string& folder : store.protected_folders) {
        const std::wstring inside = normalized(folder);
        if (inside.size() < 3 || target.size() <= inside.size() + 1) continue;
        if (target[inside.size()] != L'\\' ||
            !same_text(std::wstring_view(target).substr(0, inside.size()), inside)) {
            continue;
        }
        return store.root + (store.root.back() == '\\' ? "" : "\\") + to_utf8(target.substr(3));
    }
    return std::nullopt;
}

VirtualStore system_virtual_store() try {
    if (process_is_virtualized()) return {};
    wchar_t local[MAX_PATH + 1] = {};
    const HRESULT found =
        SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, local);
    if (found != S_OK) return {};
    VirtualStore store;
    store.root = to_utf8(local) + "\\VirtualStore";
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
