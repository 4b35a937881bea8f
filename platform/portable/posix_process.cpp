// PosixProcess: the prefix lock (flock), uname and getpwuid for the facts, _Exit for the end.
#include "platform/portable/posix_process.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "platform/portable/wine_registry.h"

namespace aggiorna::portable {

PosixProcess::PosixProcess(std::filesystem::path prefix) : prefix_(std::move(prefix)) {}

PosixProcess::~PosixProcess() {
    if (lock_ >= 0) ::close(lock_);
}

bool PosixProcess::claim_single_run() {
    if (lock_ >= 0) return true;
    const int fd = ::open(prefix_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return true;  // no prefix folder: nothing to guard
    int locked;
    while ((locked = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    if (locked != 0) {
        const bool another_run = errno == EWOULDBLOCK;
        ::close(fd);
        return !another_run;  // a file system without locks cannot guard: the run goes on
    }
    lock_ = fd;
    return true;
}

RunFacts PosixProcess::facts() {
    RunFacts facts;
    facts.program = std::string("AggiornaArchivio ") + AGGIORNA_VERSION + " (portable, " +
                    std::to_string(sizeof(void*) * 8) + "-bit)";
    struct utsname names {};
    if (::uname(&names) == 0)
        facts.system = std::string(names.sysname) + " " + names.release + " " + names.machine + ", ";
    const auto arch = registry_arch(prefix_ / "system.reg");
    facts.system += "Wine prefix " + prefix_.string() +
                    (!arch ? " (no registry)" : *arch == RegistryArch::win64 ? " (win64)" : " (win32)");
    const uid_t uid = ::geteuid();
    // getpwuid_r with a buffer of the size the system suggests; the name only is kept.
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::string buffer(size > 0 ? static_cast<std::size_t>(size) : 16384, '\0');
    struct passwd entry {};
    struct passwd* found = nullptr;
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_name)
        facts.user = found->pw_name;
    else
        facts.user = "uid " + std::to_string(uid);
    return facts;
}

void PosixProcess::end_process(int exit_code) {
    // _Exit skips the stream buffers; what the boxes printed must still reach the terminal.
    std::cout.flush();
    std::cerr.flush();
    std::clog.flush();
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(exit_code);
}

}  // namespace aggiorna::portable
