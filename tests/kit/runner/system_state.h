// What a scenario changes on the machine, and how it is put back: registry keys and values saved
// before and restored after, files and folders written, read and removed.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/windows/win.h"
#include "scenarios.h"

namespace kit {

// A registry key with all that lies below it, as it was when saved; restore() puts it back
// exactly (or removes it, when it did not exist). `view` is 0 or KEY_WOW64_32KEY / _64KEY.
class SavedKey {
public:
    SavedKey(HKEY root, std::wstring path, REGSAM view);
    ~SavedKey();
    SavedKey(const SavedKey&) = delete;
    SavedKey& operator=(const SavedKey&) = delete;
    void restore() const;
    struct Node;  // a key's values and subkeys

private:
    HKEY root_;
    std::wstring path_;
    REGSAM view_;
    std::unique_ptr<Node> saved_;  // null: the key did not exist
};

// One registry value as it was; restore() puts it back or removes it.
class SavedValue {
public:
    SavedValue(HKEY root, std::wstring path, std::wstring name);
    void restore() const;

private:
    HKEY root_;
    std::wstring path_, name_;
    std::optional<std::pair<DWORD, std::vector<BYTE>>> saved_;
};

bool set_string(HKEY root, const std::wstring& path, const std::wstring& name, const std::wstring& value,
                REGSAM view = 0);
void delete_key(HKEY root, const std::wstring& path, REGSAM view = 0);

bool make_folders(const std::wstring& folder);
bool write_file(const std::wstring& path, const Bytes& bytes);
std::optional<Bytes> read_file(const std::wstring& path);
// Removes a folder with all it holds (read-only, hidden and system files included).
void remove_tree(const std::wstring& folder);
// Every file below `folder`: full path -> content (kUnreadable for a file held from reading).
// Paths in `except` (folders) are left out.
inline const Bytes kUnreadable = "<unreadable>";
std::map<std::wstring, Bytes> files_below(const std::wstring& folder, const std::vector<std::wstring>& except = {});

// Case-insensitive comparison of Windows paths.
bool same_path(const std::wstring& a, const std::wstring& b);

}  // namespace kit
