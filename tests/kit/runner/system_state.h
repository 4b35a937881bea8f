// What a scenario writes on the machine and reads back: registry values, files and folders, and
// their removal (never through a link, never the kit's own folder).
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/windows/win.h"
#include "scenarios.h"

namespace kit {

bool set_string(HKEY root, const std::wstring& path, const std::wstring& name, const std::wstring& value,
                REGSAM view = 0);
void delete_key(HKEY root, const std::wstring& path, REGSAM view = 0);

bool make_folders(const std::wstring& folder);
bool write_file(const std::wstring& path, const Bytes& bytes);
std::optional<Bytes> read_file(const std::wstring& path);
// Copies a file of the kit into place, without the mark a downloaded zip gives its files
// (the Zone.Identifier stream): the shell would ask before starting a marked program.
bool copy_file(const std::wstring& from, const std::wstring& to);
// Removes a folder with all it holds (read-only, hidden and system files included). A link inside
// it (a junction, a symbolic link) is removed itself, never what it points to; so is `folder`
// when it is one. The kit's own folder, and a folder that holds it, are never removed. True when
// the folder is gone (or never was).
bool remove_tree(const std::wstring& folder);
// The kit's folder: the one that holds the runner's folder (e2e).
std::wstring kit_folder();
// Whether `inner` is `outer` or lies below it (full paths, compared without regard to case).
bool lies_in(const std::wstring& inner, const std::wstring& outer);
// Every file below `folder`: full path -> content (kUnreadable for a file held from reading).
// Paths in `except` (folders) are left out.
inline const Bytes kUnreadable = "<unreadable>";
std::map<std::wstring, Bytes> files_below(const std::wstring& folder, const std::vector<std::wstring>& except = {});

// Case-insensitive comparison of Windows paths.
bool same_path(const std::wstring& a, const std::wstring& b);

}  // namespace kit
