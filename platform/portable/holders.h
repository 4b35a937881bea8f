// Which processes hold a file open, and which of them are the host, through /proc.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace aggiorna::portable {

// The processes other than this one that hold the file at `path` open (by device and inode,
// through /proc/<pid>/fd), for writing only when `writing_only`; the first one only when
// `first_only`. Processes whose descriptors we may not see are not counted.
std::vector<pid_t> processes_holding(const std::filesystem::path& path, bool first_only = false,
                                     bool writing_only = false);
inline bool held_open_by_another_process(const std::filesystem::path& path) {
    return !processes_holding(path, true).empty();
}

// A process as the user knows it: a Windows program that Wine runs by its program file in the
// prefix (its command line starts with that Windows path), any other by its program file.
struct Holder {
    std::string name;               // the program file's name
    std::filesystem::path program;  // native path of the program file; empty when not ours to see
};
Holder holder_of(pid_t pid, const std::filesystem::path& prefix);
// Whether `holder` runs a program file from `folder` or below (the host, for a host's folder).
bool runs_from(const Holder& holder, const std::filesystem::path& folder);

// Who holds a file of the host in `host_folder`, as the user is told: nobody (every process seen
// let go of it before it could be named), the host (a holder runs a program file from the host's
// folder or below), or other programs, each named once, in order.
enum class HeldBy { nobody, host, others };
struct Holding {
    HeldBy by = HeldBy::nobody;
    std::vector<std::string> others;  // with HeldBy::others only
};
// Names those of the processes `seen` that hold `path`: each is named first, then counts only if
// it still holds the file, so that one that let go (or ended) meanwhile is not blamed.
Holding name_holders(const std::vector<pid_t>& seen, const std::filesystem::path& path,
                     const std::filesystem::path& host_folder, const std::filesystem::path& prefix);
// name_holders of the processes that hold `path` now.
inline Holding who_holds(const std::filesystem::path& path, const std::filesystem::path& host_folder,
                         const std::filesystem::path& prefix) {
    return name_holders(processes_holding(path), path, host_folder, prefix);
}

}  // namespace aggiorna::portable
