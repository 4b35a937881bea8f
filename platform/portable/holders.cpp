// The holders of a file from /proc/<pid>/fd, fdinfo, cmdline and exe.
#include "platform/portable/holders.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string_view>
#include <system_error>

#include "platform/portable/path_mapping.h"

namespace aggiorna::portable {
namespace fs = std::filesystem;

namespace {

// Whether the descriptor `fd` of the process `pid` was opened for writing: the access mode in its
// fdinfo flags (octal).
bool opened_for_writing(const std::string& pid, const char* fd) {
    FILE* info = std::fopen(("/proc/" + pid + "/fdinfo/" + fd).c_str(), "r");
    if (!info) return false;
    bool writing = false;
    char line[128];
    while (std::fgets(line, sizeof line, info)) {
        unsigned long flags = 0;
        if (std::sscanf(line, "flags: %lo", &flags) == 1) {
            writing = (flags & O_ACCMODE) != O_RDONLY;
            break;
        }
    }
    std::fclose(info);
    return writing;
}

}  // namespace

std::vector<pid_t> processes_holding(const fs::path& path, bool first_only, bool writing_only) {
    std::vector<pid_t> holders;
    struct stat target;
    if (::stat(path.c_str(), &target) != 0) return holders;
    DIR* proc = ::opendir("/proc");
    if (!proc) return holders;
    const std::string self = std::to_string(::getpid());
    while (!(first_only && !holders.empty())) {
        const dirent* process = ::readdir(proc);
        if (!process) break;
        const std::string_view pid = process->d_name;
        if (pid.empty() || pid.find_first_not_of("0123456789") != std::string_view::npos || pid == self) continue;
        const std::string fd_folder = "/proc/" + std::string(pid) + "/fd";
        DIR* fds = ::opendir(fd_folder.c_str());
        if (!fds) continue;  // gone meanwhile, or not ours to look at
        while (const dirent* fd = ::readdir(fds)) {
            if (fd->d_name[0] == '.') continue;
            struct stat st;
            if (::fstatat(::dirfd(fds), fd->d_name, &st, 0) == 0 && st.st_dev == target.st_dev &&
                st.st_ino == target.st_ino && (!writing_only || opened_for_writing(std::string(pid), fd->d_name))) {
                holders.push_back(static_cast<pid_t>(std::stol(std::string(pid))));
                break;
            }
        }
        ::closedir(fds);
    }
    ::closedir(proc);
    return holders;
}

Holder holder_of(pid_t pid, const fs::path& prefix) {
    const std::string at = "/proc/" + std::to_string(pid);
    Holder holder;
    std::string command;
    if (FILE* f = std::fopen((at + "/cmdline").c_str(), "rb")) {
        for (int c; (c = std::fgetc(f)) != EOF && c != '\0';) command += static_cast<char>(c);
        std::fclose(f);
    }
    // Wine shows each Windows process with its program's Windows path as its first argument.
    const bool windows_program = command.size() > 3 && std::isalpha(static_cast<unsigned char>(command[0])) &&
                                 command[1] == ':' && command[2] == '\\';
    if (windows_program) {
        holder.name = command.substr(command.find_last_of('\\') + 1);
        if (const auto native = map_windows_path(prefix, command)) holder.program = *native;
    } else {
        std::error_code ec;
        holder.program = fs::read_symlink(at + "/exe", ec);
        if (ec) holder.program.clear();
        holder.name = holder.program.filename().string();
        if (holder.name.empty()) {
            if (FILE* f = std::fopen((at + "/comm").c_str(), "rb")) {
                char comm[64] = {};
                if (std::fgets(comm, sizeof comm, f)) holder.name = comm;
                std::fclose(f);
                while (!holder.name.empty() && holder.name.back() == '\n') holder.name.pop_back();
            }
        }
    }
    return holder;
}

bool runs_from(const Holder& holder, const fs::path& folder) {
    if (holder.program.empty()) return false;
    std::error_code ec;
    const fs::path canonical_folder = fs::weakly_canonical(folder, ec);
    if (ec) return false;
    const fs::path program_folder = fs::weakly_canonical(holder.program, ec).parent_path();
    if (ec) return false;
    const auto [end, _] = std::mismatch(canonical_folder.begin(), canonical_folder.end(), program_folder.begin(),
                                        program_folder.end());
    return end == canonical_folder.end();
}

Holding name_holders(const std::vector<pid_t>& seen, const fs::path& path, const fs::path& host_folder,
                     const fs::path& prefix) {
    std::vector<std::pair<pid_t, Holder>> named;
    for (const pid_t pid : seen) {
        Holder holder = holder_of(pid, prefix);
        if (!holder.name.empty() || !holder.program.empty()) named.emplace_back(pid, std::move(holder));
    }
    // Named after they were found: only those that still hold the file count.
    const std::vector<pid_t> still = processes_holding(path);
    std::erase_if(named, [&still](const auto& n) { return std::find(still.begin(), still.end(), n.first) == still.end(); });
    Holding holding;
    for (const auto& [pid, holder] : named) {
        if (runs_from(holder, host_folder)) {
            holding.by = HeldBy::host;
            holding.others.clear();
            return holding;
        }
        if (!holder.name.empty() &&
            std::find(holding.others.begin(), holding.others.end(), holder.name) == holding.others.end())
            holding.others.push_back(holder.name);
    }
    holding.by = holding.others.empty() ? HeldBy::nobody : HeldBy::others;
    return holding;
}

}  // namespace aggiorna::portable
