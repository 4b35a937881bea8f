// One copy that replaces its destination in one step, and the checks of a destination.
#pragma once

#include <cstdint>
#include <string>

#include "platform/windows/system_queries.h"

namespace aggiorna::windows {

// Where one copy goes.
struct CopyTarget {
    std::string destination;
    std::wstring host_folder;         // where the host's program files are: the holders that count
    bool first_virtual_copy = false;  // the copy makes the user's first virtual copy (decide_dacl_handover)
};

struct CopyResult {
    std::uint64_t bytes = 0;
    std::string sha256;  // of the bytes copied, taken as they were read
};

// See WindowsFileSystem::copy_file.
CopyResult replace_file(const std::string& source, const CopyTarget& target, const SystemQueries& system);

// Whether the file at `path` could be replaced now (see FileSystem::check_replaceable): nothing
// for a missing file or folder; 70 for a read-only file or a folder; 75 when another program
// holds it after the wait for brief holds, naming the holders that are not the host in
// `host_folder`.
void check_destination(const std::string& path, const std::wstring& host_folder, const SystemQueries& system);

}  // namespace aggiorna::windows
