// Registry trees saved and restored with the advapi32 calls, files through the wide-character calls.
#include "system_state.h"

#include <algorithm>
#include <tuple>

namespace kit {

struct SavedKey::Node {
    std::vector<std::tuple<std::wstring, DWORD, std::vector<BYTE>>> values;
    std::map<std::wstring, Node> keys;
};

namespace {

bool read_into(HKEY key, SavedKey::Node& node) {
    DWORD subkeys = 0, max_subkey = 0, values = 0, max_name = 0, max_data = 0;
    if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, &max_subkey, nullptr, &values, &max_name,
                         &max_data, nullptr, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    for (DWORD i = 0; i < values; ++i) {
        std::wstring name(max_name + 1, L'\0');
        std::vector<BYTE> data(max_data + 2);
        DWORD name_length = max_name + 1, size = static_cast<DWORD>(data.size()), type = 0;
        if (RegEnumValueW(key, i, name.data(), &name_length, nullptr, &type, data.data(), &size) != ERROR_SUCCESS) {
            continue;
        }
        name.resize(name_length);
        data.resize(size);
        node.values.emplace_back(name, type, data);
    }
    for (DWORD i = 0; i < subkeys; ++i) {
        std::wstring name(max_subkey + 1, L'\0');
        DWORD length = max_subkey + 1;
        if (RegEnumKeyExW(key, i, name.data(), &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) continue;
        name.resize(length);
        HKEY child = nullptr;
        if (RegOpenKeyExW(key, name.c_str(), 0, KEY_READ, &child) != ERROR_SUCCESS) continue;
        read_into(child, node.keys[name]);
        RegCloseKey(child);
    }
    return true;
}

void write_tree(HKEY key, const SavedKey::Node& node) {
    for (const auto& [name, type, data] : node.values) {
        RegSetValueExW(key, name.empty() ? nullptr : name.c_str(), 0, type, data.data(),
                       static_cast<DWORD>(data.size()));
    }
    for (const auto& [name, child_node] : node.keys) {
        HKEY child = nullptr;
        if (RegCreateKeyExW(key, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child, nullptr) ==
            ERROR_SUCCESS) {
            write_tree(child, child_node);
            RegCloseKey(child);
        }
    }
}

}  // namespace

SavedKey::SavedKey(HKEY root, std::wstring path, REGSAM view) : root_(root), path_(std::move(path)), view_(view) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root_, path_.c_str(), 0, KEY_READ | view_, &key) != ERROR_SUCCESS) return;
    saved_ = std::make_unique<Node>();
    if (!read_into(key, *saved_)) saved_.reset();
    RegCloseKey(key);
}

SavedKey::~SavedKey() = default;

void SavedKey::restore() const {
    delete_key(root_, path_, view_);
    if (!saved_) return;
    HKEY key = nullptr;
    if (RegCreateKeyExW(root_, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view_, nullptr, &key, nullptr) !=
        ERROR_SUCCESS) {
        return;
    }
    write_tree(key, *saved_);
    RegCloseKey(key);
}

SavedValue::SavedValue(HKEY root, std::wstring path, std::wstring name)
    : root_(root), path_(std::move(path)), name_(std::move(name)) {
    DWORD type = 0, size = 0;
    if (RegGetValueW(root_, path_.c_str(), name_.c_str(), RRF_RT_ANY | RRF_NOEXPAND, &type, nullptr, &size) !=
        ERROR_SUCCESS) {
        return;
    }
    std::vector<BYTE> data(size);
    if (RegGetValueW(root_, path_.c_str(), name_.c_str(), RRF_RT_ANY | RRF_NOEXPAND, &type, data.data(), &size) ==
        ERROR_SUCCESS) {
        data.resize(size);
        saved_.emplace(type, std::move(data));
    }
}

void SavedValue::restore() const {
    if (!saved_) {
        RegDeleteKeyValueW(root_, path_.c_str(), name_.c_str());
        return;
    }
    RegSetKeyValueW(root_, path_.c_str(), name_.c_str(), saved_->first, saved_->second.data(),
                    static_cast<DWORD>(saved_->second.size()));
}

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

void remove_tree(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring path = folder + L"\\" + name;
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                remove_tree(path);
            } else {
                DeleteFileW(path.c_str());
            }
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    SetFileAttributesW(folder.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryW(folder.c_str());
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
