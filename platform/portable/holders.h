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
// The names to give the user for a file of the host in `host_folder` that `holders` hold: empty
// when nobody is named or one of them runs a program file from the host's folder or below (the
// host: the in-use message says it), else each other program once, in order.
std::vector<std::string> other_holders(const std::vector<Holder>& holders, const std::filesystem::path& host_folder);

}  // namespace aggiorna::portable
