// Path comparison over GetLongPathNameW and CompareStringOrdinal.
#include "platform/windows/paths.h"

#include "platform/windows/win.h"

namespace aggiorna::windows {
namespace {

// The long form of the part of `path` that exists; the rest as written (a file not there yet).
std::wstring long_form(const std::wstring& path) {
    const DWORD needed = GetLongPathNameW(path.c_str(), nullptr, 0);
    if (needed == 0) {
        const std::size_t separator = path.find_last_of(L"\\/");
        if (separator == std::wstring::npos || separator == 0) return path;
        return long_form(path.substr(0, separator)) + path.substr(separator);
    }
    std::wstring full(needed, L'\0');
    const DWORD length = GetLongPathNameW(path.c_str(), full.data(), needed);
    if (length == 0 || length >= needed) return path;
    full.resize(length);
    return full;
}

bool same_text(std::wstring_view a, std::wstring_view b) {
    return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace

std::wstring with_plain_separators(std::wstring_view path) {
    std::wstring out;
    for (wchar_t c : path) {
        if (c == L'/') c = L'\\';
        if (c == L'\\' && !out.empty() && out.back() == L'\\') continue;
        out.push_back(c);
    }
    while (!out.empty() && out.back() == L'\\') out.pop_back();
    return out;
}

bool lies_in(std::wstring_view path, std::wstring_view folder) {
    const std::wstring inner = with_plain_separators(long_form(std::wstring(path)));
    const std::wstring outer = with_plain_separators(long_form(std::wstring(folder)));
    if (outer.empty() || inner.size() < outer.size()) return false;
    if (inner.size() > outer.size() && inner[outer.size()] != L'\\') return false;
    return same_text(std::wstring_view(inner).substr(0, outer.size()), outer);
}

std::wstring api_path(const std::wstring& path) {
    if (path.size() < MAX_PATH || path.starts_with(L"\\\\?\\")) return path;
    const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return path;
    std::wstring full(needed, L'\0');
    const DWORD length = GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
    if (length == 0 || length >= needed) return path;
    full.resize(length);
    if (full.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

std::wstring folder_of(std::wstring_view path) {
    const std::size_t separator = path.find_last_of(L"\\/");
    if (separator == std::wstring_view::npos) return {};
    // "C:\a.exe" lies in the root "C:\", not in "C:" (the current folder of drive C:).
    if (separator == 2 && path.size() > 1 && path[1] == L':') return std::wstring(path.substr(0, 3));
    return std::wstring(path.substr(0, separator));
}

}  // namespace aggiorna::windows
