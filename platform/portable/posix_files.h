// The file layer of the portable backend: Windows paths mapped into a Wine prefix, POSIX calls.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "platform/portable/holders.h"

namespace aggiorna::portable {

// The system calls the file layer makes while copying and reading, in one table so that a test
// can make any one of them fail. Each behaves as the POSIX call of that name: result and errno.
struct SystemCalls {
    std::function<int(const char* path, int flags, mode_t mode)> open;
    std::function<int(int fd)> close;
    std::function<ssize_t(int fd, void* buffer, std::size_t size)> read;
    std::function<ssize_t(int fd, void* buffer, std::size_t size, off_t offset)> pread;
    std::function<ssize_t(int fd, const void* buffer, std::size_t size)> write;
    std::function<int(int fd)> fsync;
    std::function<int(const char* from, const char* to)> rename;
};

// The real calls.
SystemCalls posix_calls();

// The program's own temporary files: ".~AggiornaArchivio-<pid>-<random>.tmp". They live only
// during one copy, under an exclusive flock of their writer; one that nobody holds locked belongs
// to a run that was cut off (the pid in the name is only part of a unique name).
std::string temporary_name(pid_t pid);
// The pid in a name of that pattern, or nullopt for any other name.
std::optional<pid_t> temporary_owner(const std::string& name);

// A file without any write bit is read-only to everyone, root included, as a read-only file is on
// Windows.
bool without_write_bits(const struct stat& st);
// Gives the file open as `fd`, about to replace a file whose status is `old`, that file's mode
// and, where this user may set it, its group; run as root, its owner too. As an editor saving a
// file keeps them.
void keep_owner_and_mode(int fd, const struct stat& old);
// Gives the file open as `fd` exactly the DOS attributes (hidden, system, ...) that Wine keeps for
// the file at `old` in its user.DOSATTRIB attribute, of any length: where `old` has none, the
// file's own are removed. False, with errno, when they could not be given.
bool keep_dos_attributes(int fd, const std::filesystem::path& old);

class PosixFileSystem : public FileSystem {
public:
    explicit PosixFileSystem(std::filesystem::path prefix, SystemCalls calls = posix_calls());

    // Replaces `destination` through a temporary file in its folder that is synced and renamed
    // over it; the folder is synced after the rename. The source is read once, in chunks that are
    // hashed (on a thread of their own) and written: the report has the bytes and their SHA-256,
    // and `landed` the destination. The replaced file keeps its mode, its group where the user
    // may set it, its owner when run as root, and exactly its DOS attributes. Beyond the codes of
    // the interface: an existing destination that is not a regular file, one the user may not
    // write, or one without any write bit (even for root), is refused with 70, as Windows refuses
    // a read-only file; 57 for an I/O error. Another process holding the destination open is
    // waited for about two seconds, before the copy and again before the rename (see
    // check_replaceable). Stale temporary files (not locked by a live writer) in the destination
    // folder are removed first. Error::side tells the delivered file from the destination's side.
    CopyReport copy_file(const std::string& source, const std::string& destination) override;
    // Wine virtualizes nothing: no run has a virtual copy to refresh, nor writes beside the files
    // a host reads.
    CopyReport refresh_virtual_copy(const std::string&) override { return {}; }
    // The destination checks of copy_file, writing nothing: nothing there (or no such folder, or a
    // path with no drive) is fine; a folder, a FIFO or any other file that is not regular is 70;
    // a file without write bits or that the user may not write, 70; one that another process
    // holds open past about two seconds (50 ms steps), 75: without Error::holders when one of the
    // holders runs a program file from the file's folder or below (the host), else naming them;
    // holders that let go before they could be named leave the file replaceable.
    void check_replaceable(const std::string& path) override;
    // Follows symbolic links; the time is the last modification's. Never opens the file (a FIFO
    // never blocks) and never throws.
    std::optional<FileFacts> file_facts(const std::string& path) override;
    // Read in full through the read call of the table; errors as open_for_reading.
    std::string sha256(const std::string& path) override;
    bool host_runs_elevated(const std::string&) override { return false; }
    // Directory for a folder, archive for a file, readonly when the user may not write it or a
    // file has no write bit, hidden for a name starting with "." or when Wine's user.DOSATTRIB
    // says so, system from user.DOSATTRIB too.
    std::optional<std::uint32_t> attributes(const std::string& path) override;
    // 53 when the path names no regular file (unmappable, missing, a folder), 70 access denied.
    std::unique_ptr<InputFile> open_for_reading(const std::string& path) override;
    // The folder of /proc/self/exe as a Windows path of the prefix; 76 when a name on its way
    // holds "\\", which no Windows path can.
    std::string executable_folder() override;

private:
    // The checks of a destination (check_replaceable); its status when there is a file to replace.
    std::optional<struct stat> check_destination(const std::filesystem::path& to);
    // Opens `path` for reading, as a regular file only: the descriptor, and its native path.
    int open_regular(const std::string& path, std::filesystem::path& native);

    std::filesystem::path prefix_;
    SystemCalls calls_;
};

// The file attribute bits held in a user.DOSATTRIB value: Wine's text form ("0x2"), a decimal
// text, or Samba's binary form (version 1 to 5). nullopt when the value is none of these.
std::optional<std::uint32_t> parse_dos_attributes(std::string_view value);

}  // namespace aggiorna::portable
