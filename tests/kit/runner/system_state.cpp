// Registry values through the advapi32 calls, files and folders through the wide-character calls.
#include "system_state.h"

#include <algorithm>

namespace kit {

namespace {

// A path in its final form (links and short names resolved) where it exists, else as given in full.
std::wstring final_path(const std::wstring& path) {
    wchar_t full[MAX_PATH * 2] = {};
    const DWORD length = GetFullPathNameW(path.c_str(), MAX_PATH * 2, full, nullptr);
    std::wstring result = length > 0 && length < MAX_PATH * 2 ? std::wstring(full, length) : path;
    const HANDLE handle = CreateFileW(result.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        wchar_t resolved[MAX_PATH * 2] = {};
        const DWORD got = GetFinalPathNameByHandleW(handle, resolved, MAX_PATH * 2, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        CloseHandle(handle);
        if (got > 0 && got < MAX_PATH * 2) {
            result.assign(resolved, got);
            if (result.starts_with(L"\\\\?\\UNC\\")) result = L"\\" + result.substr(7);
            else if (result.starts_with(L"\\\\?\\")) result = result.substr(4);
        }
    }
    while (result.size() > 3 && result.back() == L'\\') result.pop_back();
    return result;
}

// Removes what `path` names without entering it: a link, a file or an empty folder.
void remove_entry(const std::wstring& path, DWORD attributes) {
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) RemoveDirectoryW(path.c_str());
    else DeleteFileW(path.c_str());
}

}  // namespace

bool set_string(HKEY root, const std::wstring& path, const std::wstring& name, const std::wstring& value,
                REGSAM view) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE | view, nullptr, &key, nullptr) !=
        ERROR_SUCCESS) {
        return false;
    }
    const LONG status = RegSetValueExW(key, name.empty() ? nullptr : name.c_str(), 0, REG_SZ,
                                       reinterpret_cast<const BYTE*>(value.c_str()),
                                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

void delete_key(HKEY root, const std::wstring& path, REGSAM view) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_ALL_ACCESS | view, &key) == ERROR_SUCCESS) {
        RegDeleteTreeW(key, nullptr);
        RegCloseKey(key);
    }
    RegDeleteKeyExW(root, path.c_str(), view, 0);
}

bool make_folders(const std::wstring& folder) {
    for (std::size_t at = folder.find(L'\\', 3); ; at = folder.find(L'\\', at + 1)) {
        const std::wstring part = at == std::wstring::npos ? folder : folder.substr(0, at);
        // A share's server and name ("\\server\share") are no folders to make.
        if (!(part.starts_with(L"\\\\") && std::count(part.begin(), part.end(), L'\\') < 4)) {
            CreateDirectoryW(part.c_str(), nullptr);
        }
        if (at == std::wstring::npos) break;
    }
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool write_file(const std::wstring& path, const Bytes& bytes) {
    make_folders(path.substr(0, path.find_last_of(L'\\')));
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == bytes.size();
}

std::optional<Bytes> read_file(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    Bytes bytes;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
    CloseHandle(file);
    return bytes;
}

bool remove_tree(const std::wstring& folder) {
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return true;
    if (lies_in(kit_folder(), folder)) return false;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        remove_entry(folder, attributes);
        return GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES;
    }
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring path = folder + L"\\" + name;
            const bool link = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && !link) {
                remove_tree(path);
            } else {
                remove_entry(path, found.dwFileAttributes);
            }
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    remove_entry(folder, attributes);
    return GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES;
}

bool copy_file(const std::wstring& from, const std::wstring& to) {
    if (!CopyFileW(from.c_str(), to.c_str(), FALSE)) return false;
    DeleteFileW((to + L":Zone.Identifier").c_str());
    return true;
}

std::wstring kit_folder() {
    wchar_t self[MAX_PATH * 2] = {};
    const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH * 2);
    std::wstring runner(self, length);
    runner = runner.substr(0, runner.find_last_of(L'\\'));  // e2e
    return runner.substr(0, runner.find_last_of(L'\\'));
}

bool lies_in(const std::wstring& inner, const std::wstring& outer) {
    const std::wstring a = final_path(inner), b = final_path(outer);
    if (a.size() < b.size()) return false;
    const bool prefix = CompareStringOrdinal(a.c_str(), static_cast<int>(b.size()), b.c_str(), static_cast<int>(b.size()),
                                             TRUE) == CSTR_EQUAL;
    return prefix && (a.size() == b.size() || a[b.size()] == L'\\' || b.back() == L'\\');
}

bool same_path(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                TRUE) == CSTR_EQUAL;
}

std::map<std::wstring, Bytes> files_below(const std::wstring& folder, const std::vector<std::wstring>& except) {
    std::map<std::wstring, Bytes> files;
    for (const std::wstring& skip : except) {
        if (same_path(folder, skip)) return files;
    }
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return files;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring path = folder + L"\\" + name;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            files.merge(files_below(path, except));
        } else {
            files[path] = read_file(path).value_or(kUnreadable);
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return files;
}

}  // namespace kit
