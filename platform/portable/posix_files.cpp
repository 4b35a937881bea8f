// PosixFileSystem: atomic copies, attributes and positioned reads on the mapped native paths.
#include "platform/portable/posix_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>
#include <random>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "platform/portable/path_mapping.h"
#include "platform/portable/sha256.h"

namespace aggiorna::portable {
namespace fs = std::filesystem;

namespace {

constexpr int kTooManyFiles = 67;
constexpr int kDeviceIoError = 57;
constexpr std::string_view kTemporaryStart = ".~AggiornaArchivio-";
constexpr std::string_view kTemporaryEnd = ".tmp";
constexpr std::size_t kBufferSize = 1 << 20;
// The copy asks the kernel to start writing out what it copied every so many bytes, so that the
// flush at the end finds little left to write.
constexpr std::uint64_t kWritebackStep = std::uint64_t{32} << 20;
// Brief holds of a file (a backup or sync program, an indexer, a preview) are waited out for about
// two seconds, in steps of 50 ms, as the Windows build does.
constexpr auto kHoldWait = std::chrono::milliseconds(2000);
constexpr auto kHoldStep = std::chrono::milliseconds(50);
constexpr const char* kDosAttributes = "user.DOSATTRIB";

// What a path was to the operation that failed: a missing source is "file not found", a
// missing destination folder is "path not found".
enum class Role { source, destination };

int code_for_errno(int err, Role role) {
    switch (err) {
        case ENOENT:
        case ENOTDIR:
        case ENAMETOOLONG:
        case ELOOP:
            return role == Role::source ? code::file_not_found : code::path_not_found;
        case EACCES:
        case EPERM:
        case EROFS:
        case EISDIR:
            return code::permission_denied;
        case ENOSPC:
        case EDQUOT:
            return code::disk_full;
        // The host running is told only by the processes that hold the file (fail_held): a busy
        // file or mount point is refused for another reason.
        case ETXTBSY:
        case EBUSY:
            return code::permission_denied;
        case EMFILE:
        case ENFILE:
            return kTooManyFiles;
        default:
            return kDeviceIoError;
    }
}

Side side_of(Role role) { return role == Role::source ? Side::source : Side::destination; }

[[noreturn]] void fail(int code, std::string_view call, int err, const fs::path& path, Side side = Side::unknown) {
    std::string detail{call};
    detail += ": ";
    detail += err ? std::strerror(err) : "failed";
    detail += " (errno " + std::to_string(err) + "): " + path.string();
    throw Error(code, detail, side);
}

[[noreturn]] void fail_errno(std::string_view call, int err, const fs::path& path, Role role) {
    fail(code_for_errno(err, role), call, err, path, side_of(role));
}

// Waits while another process holds `file` open, for about two seconds. Then, if one still does,
// fails with 75: without names when one of the holders runs from the file's folder (the host's),
// else naming them. Holders that let go before they could be named leave the file free.
void wait_out_holders(const fs::path& file, const fs::path& prefix) {
    const auto give_up = std::chrono::steady_clock::now() + kHoldWait;
    while (held_open_by_another_process(file)) {
        if (std::chrono::steady_clock::now() < give_up) {
            std::this_thread::sleep_for(kHoldStep);
            continue;
        }
        const Holding holding = who_holds(file, file.parent_path(), prefix);
        if (holding.by == HeldBy::nobody) return;
        throw Error(code::path_file_access, "open by another process: " + file.string(), holding.others);
    }
}

// A descriptor closed on every path out of a scope; close errors there are of no interest
// (the descriptors that matter are closed and checked explicitly).
class ScopedFd {
public:
    ScopedFd(int fd, const SystemCalls& calls) : fd_(fd), calls_(calls) {}
    ScopedFd(const ScopedFd&) = delete;
    ScopedFd& operator=(const ScopedFd&) = delete;
    ~ScopedFd() {
        if (fd_ >= 0) calls_.close(fd_);
    }
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

private:
    int fd_;
    const SystemCalls& calls_;
};

// The temporary file of one copy, removed unless the copy kept it (by renaming it away).
class TemporaryFile {
public:
    explicit TemporaryFile(fs::path path) : path_(std::move(path)) {}
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile() {
        if (!path_.empty()) ::unlink(path_.c_str());
    }
    const fs::path& path() const { return path_; }
    void keep() { path_.clear(); }

private:
    fs::path path_;
};

template <typename Call>
auto retrying(Call call) {
    for (;;) {
        auto result = call();
        if (!(result < 0 && errno == EINTR)) return result;
    }
}

// A temporary file is in use while its writer holds an exclusive flock on it (a lock goes with
// its process, however that process ends). One that can be locked here belongs to a run that was
// cut off, whatever became of its pid, and is removed. A file system without flock keeps them all.
void remove_stale_temporaries(const fs::path& folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return;
    while (const dirent* entry = ::readdir(dir)) {
        if (!temporary_owner(entry->d_name)) continue;
        const int fd = ::openat(::dirfd(dir), entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat opened, named;
        // The name must still be the file locked: a live writer may have replaced it meanwhile.
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) &&
            ::fstatat(::dirfd(dir), entry->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            named.st_dev == opened.st_dev && named.st_ino == opened.st_ino) {
            ::unlinkat(::dirfd(dir), entry->d_name, 0);
        }
        ::close(fd);
    }
    ::closedir(dir);
}

// Takes the writer's lock on a new temporary file. False when a cleaner of another run had it
// for a moment and may have removed the name: the caller then starts again under a new name.
bool lock_temporary(int fd, const fs::path& path) {
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return errno != EWOULDBLOCK && errno != EINTR;
    struct stat opened, named;
    return ::fstat(fd, &opened) == 0 && ::lstat(path.c_str(), &named) == 0 &&
           opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

void write_all(const SystemCalls& calls, int fd, const char* data, std::size_t size, const fs::path& path) {
    while (size > 0) {
        const ssize_t n = retrying([&] { return calls.write(fd, data, size); });
        if (n < 0) fail_errno("write", errno, path, Role::destination);
        if (n == 0) fail(code::disk_full, "write", ENOSPC, path, Side::destination);
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

struct Copied {
    std::uint64_t bytes = 0;
    std::string sha256;
};

// Copies from the current offset of `in` to its end: the bytes copied and their SHA-256, taken of
// each chunk as it was read (the source is read once). The sum is taken on another thread while
// the chunk is written, and the kernel is asked to start writing the copy out as it grows; the
// memory used stays the sum's buffers (1 MiB) whatever the size of the file.
Copied copy_contents(const SystemCalls& calls, int in, int out, const fs::path& source, const fs::path& temporary) {
    ::posix_fadvise(in, 0, 0, POSIX_FADV_SEQUENTIAL);
    BackgroundSha256 sum;
    std::uint64_t copied = 0, started = 0;
    for (;;) {
        const std::span<std::uint8_t> chunk = sum.next();
        const ssize_t n = retrying([&] { return calls.read(in, chunk.data(), chunk.size()); });
        if (n < 0) fail_errno("read", errno, source, Role::source);
        if (n == 0) break;
        sum.hash(static_cast<std::size_t>(n));
        write_all(calls, out, reinterpret_cast<const char*>(chunk.data()), static_cast<std::size_t>(n), temporary);
        copied += static_cast<std::uint64_t>(n);
        if (copied - started >= kWritebackStep) {
            // Only a hint: where the file system cannot, the flush at the end writes it all.
            ::sync_file_range(out, static_cast<off_t>(started), static_cast<off_t>(copied - started),
                              SYNC_FILE_RANGE_WRITE);
            started = copied;
        }
    }
    return {copied, sum.hex()};
}

// A delivered file that another process still holds open for writing (an extraction or a
// download not yet done) is not copied: brief holds are waited out for about two seconds, as on
// Windows, then the copy fails.
void wait_for_writers(const fs::path& source) {
    for (int waited_ms = 0; !processes_holding(source, true, true).empty(); waited_ms += 50) {
        if (waited_ms >= 2000) fail(kDeviceIoError, "open for writing by another process", EBUSY, source, Side::source);
        ::usleep(50 * 1000);
    }
}

bool same_version(const struct stat& a, const struct stat& b) {
    return a.st_size == b.st_size && a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
           a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

class PosixInputFile : public InputFile {
public:
    PosixInputFile(int fd, fs::path path, const SystemCalls& calls)
        : fd_(fd), path_(std::move(path)), close_(calls.close), pread_(calls.pread) {}
    ~PosixInputFile() override { close_(fd_); }

    std::size_t read_at(std::uint64_t offset, std::span<std::uint8_t> out) override {
        constexpr auto kMaxOffset = static_cast<std::uint64_t>(std::numeric_limits<off_t>::max());
        if (offset > kMaxOffset) return 0;  // no file reaches that far
        std::size_t done = 0;
        while (done < out.size()) {
            if (offset + done > kMaxOffset) break;
            const ssize_t n = retrying([&] {
                return pread_(fd_, out.data() + done, out.size() - done, static_cast<off_t>(offset + done));
            });
            if (n < 0) fail_errno("pread", errno, path_, Role::source);
            if (n == 0) break;
            done += static_cast<std::size_t>(n);
        }
        return done;
    }

private:
    int fd_;
    fs::path path_;
    std::function<int(int)> close_;
    std::function<ssize_t(int, void*, std::size_t, off_t)> pread_;
};

std::uint32_t little_endian(std::string_view bytes, std::size_t at, std::size_t size) {
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < size; ++i) v |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + i])) << (8 * i);
    return v;
}

// Wine's DOS attributes of the file at `path` (user.DOSATTRIB), whatever their length; nullopt
// when it has none or they cannot be read.
std::optional<std::string> read_dos_attributes(const fs::path& path) {
    for (int attempt = 0; attempt < 8; ++attempt) {
        const ssize_t size = ::getxattr(path.c_str(), kDosAttributes, nullptr, 0);
        if (size < 0) return std::nullopt;
        std::string value(static_cast<std::size_t>(size), '\0');
        const ssize_t n = ::getxattr(path.c_str(), kDosAttributes, value.data(), value.size());
        if (n >= 0) {
            value.resize(static_cast<std::size_t>(n));
            return value;
        }
        if (errno != ERANGE) return std::nullopt;  // ERANGE: it grew meanwhile, ask again
    }
    return std::nullopt;
}

// The modification time as local time, "YYYY-MM-DD HH:MM:SS"; empty when it cannot be told.
std::string local_time(std::time_t t) {
    std::tm parts{};
    char text[32];
    if (!::localtime_r(&t, &parts) || std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts) == 0) return {};
    return text;
}

}  // namespace

SystemCalls posix_calls() {
    SystemCalls c;
    c.open = [](const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); };
    c.close = [](int fd) { return ::close(fd); };
    c.read = [](int fd, void* buffer, std::size_t size) { return ::read(fd, buffer, size); };
    c.pread = [](int fd, void* buffer, std::size_t size, off_t offset) { return ::pread(fd, buffer, size, offset); };
    c.write = [](int fd, const void* buffer, std::size_t size) { return ::write(fd, buffer, size); };
    c.fsync = [](int fd) { return ::fsync(fd); };
    c.rename = [](const char* from, const char* to) { return ::rename(from, to); };
    return c;
}

std::string temporary_name(pid_t pid) {
    static thread_local std::mt19937_64 random{std::random_device{}()};
    char hex[17];
    const auto value = random();
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(value));
    return std::string(kTemporaryStart) + std::to_string(pid) + "-" + hex + std::string(kTemporaryEnd);
}

std::optional<pid_t> temporary_owner(const std::string& name) {
    std::string_view s = name;
    if (!s.starts_with(kTemporaryStart) || !s.ends_with(kTemporaryEnd)) return std::nullopt;
    s.remove_prefix(kTemporaryStart.size());
    s.remove_suffix(kTemporaryEnd.size());
    const auto dash = s.find('-');
    if (dash == std::string_view::npos || dash == 0 || dash + 1 == s.size()) return std::nullopt;
    pid_t pid = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + dash, pid);
    if (ec != std::errc{} || end != s.data() + dash || pid <= 0) return std::nullopt;
    for (char c : s.substr(dash + 1)) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
    }
    return pid;
}

bool without_write_bits(const struct stat& st) { return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0; }

bool keep_dos_attributes(int fd, const fs::path& old) {
    const std::optional<std::string> value = read_dos_attributes(old);
    if (value) return ::fsetxattr(fd, kDosAttributes, value->data(), value->size(), 0) == 0;
    // None on the old file: none on the new one either, whatever it was given on its way.
    return ::fremovexattr(fd, kDosAttributes) == 0 || errno == ENODATA || errno == ENOTSUP;
}

void keep_owner_and_mode(int fd, const struct stat& old) {
    // Before the mode: a change of owner or group may clear the set-user and set-group bits.
    const uid_t owner = ::geteuid() == 0 ? old.st_uid : static_cast<uid_t>(-1);
    if (::fchown(fd, owner, old.st_gid) != 0) {
        // Not a member of that group: the file takes this user's, as any new file would.
    }
    ::fchmod(fd, old.st_mode & 07777);
}

std::optional<std::uint32_t> parse_dos_attributes(std::string_view value) {
    const auto text = value.substr(0, value.find('\0'));
    const auto parse_text = [](std::string_view digits, int base) -> std::optional<std::uint32_t> {
        std::uint32_t v = 0;
        if (digits.empty()) return std::nullopt;
        const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), v, base);
        if (ec != std::errc{} || end != digits.data() + digits.size()) return std::nullopt;
        return v;
    };
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        return parse_text(text.substr(2), 16);
    if (auto decimal = parse_text(text, 10)) return decimal;
    // Samba's NDR form: version, the union level (the same number), then the version's record,
    // whose attribute word comes first in version 1 and after a flags word from version 2 on.
    if (value.size() >= 4) {
        const auto version = little_endian(value, 0, 2);
        if (version >= 1 && version <= 5 && little_endian(value, 2, 2) == version) {
            const std::size_t at = version == 1 ? 4 : 8;
            if (value.size() >= at + 4) return little_endian(value, at, 4);
        }
    }
    return std::nullopt;
}

PosixFileSystem::PosixFileSystem(fs::path prefix, SystemCalls calls)
    : prefix_(std::move(prefix)), calls_(std::move(calls)) {}

std::optional<struct stat> PosixFileSystem::check_destination(const fs::path& to) {
    struct stat st;
    if (::stat(to.c_str(), &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) return std::nullopt;  // nothing there yet
        fail_errno("stat", errno, to, Role::destination);
    }
    if (S_ISDIR(st.st_mode)) fail_errno("stat", EISDIR, to, Role::destination);
    if (!S_ISREG(st.st_mode)) fail(code::permission_denied, "not a file", EINVAL, to, Side::destination);
    if (without_write_bits(st)) fail(code::permission_denied, "no write permission", EACCES, to, Side::destination);
    if (::access(to.c_str(), W_OK) != 0 && (errno == EACCES || errno == EROFS || errno == EPERM))
        fail_errno("access", errno, to, Role::destination);
    wait_out_holders(to, prefix_);
    return st;
}

CopyReport PosixFileSystem::copy_file(const std::string& source, const std::string& destination) {
    const auto from = map_windows_path(prefix_, source);
    if (!from) fail(code::file_not_found, "map", ENOENT, source, Side::source);
    const auto to = map_windows_path(prefix_, destination);
    if (!to) fail(code::path_not_found, "map", ENOENT, destination, Side::destination);
    const fs::path folder = to->parent_path();

    struct stat st;
    if (::stat(folder.c_str(), &st) != 0) fail_errno("stat", errno, folder, Role::destination);
    if (!S_ISDIR(st.st_mode)) fail_errno("stat", ENOTDIR, folder, Role::destination);

    // O_NONBLOCK keeps a FIFO of that name from blocking the run; such a source is refused below.
    ScopedFd in(retrying([&] { return calls_.open(from->c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK, 0); }), calls_);
    if (in.get() < 0) fail_errno("open", errno, *from, Role::source);
    struct stat source_st;
    if (::fstat(in.get(), &source_st) != 0) fail_errno("fstat", errno, *from, Role::source);
    if (!S_ISREG(source_st.st_mode)) fail(code::file_not_found, "open", EISDIR, *from, Side::source);
    wait_for_writers(*from);
    // A writer that let go meanwhile may have changed it: the version copied is the one now.
    if (::fstat(in.get(), &source_st) != 0) fail_errno("fstat", errno, *from, Role::source);

    // Checked now as well as before the rename, so that a running host does not cost a whole
    // copy first.
    const std::optional<struct stat> replaced = check_destination(*to);
    const bool replacing = replaced.has_value();

    remove_stale_temporaries(folder);

    const mode_t mode = replacing ? (replaced->st_mode & 07777) : 0666;
    std::optional<TemporaryFile> temporary;
    int out_fd = -1;
    for (int attempt = 0; out_fd < 0; ++attempt) {
        fs::path candidate = folder / temporary_name(::getpid());
        out_fd = retrying([&] {
            return calls_.open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        });
        if (out_fd >= 0) {
            if (lock_temporary(out_fd, candidate)) {
                temporary.emplace(std::move(candidate));
            } else {
                calls_.close(out_fd);
                out_fd = -1;
            }
        } else if (errno != EEXIST || attempt == 10) {
            fail_errno("open", errno, candidate, Role::destination);
        }
        if (out_fd < 0 && attempt == 10) fail(kDeviceIoError, "flock", EWOULDBLOCK, candidate, Side::destination);
    }
    ScopedFd out(out_fd, calls_);
    if (replacing) {
        keep_owner_and_mode(out.get(), *replaced);
        if (!keep_dos_attributes(out.get(), *to)) fail_errno("fsetxattr", errno, temporary->path(), Role::destination);
    }

    const Copied copied = copy_contents(calls_, in.get(), out.get(), *from, temporary->path());
    // What was copied must be the file as it was opened: not cut short, grown or rewritten
    // meanwhile by a writer that was not seen at the start.
    struct stat after;
    if (::fstat(in.get(), &after) != 0) fail_errno("fstat", errno, *from, Role::source);
    if (copied.bytes != static_cast<std::uint64_t>(source_st.st_size) || !same_version(source_st, after))
        fail(kDeviceIoError, "changed while it was copied", EIO, *from, Side::source);
    if (retrying([&] { return calls_.fsync(out.get()); }) != 0)
        fail_errno("fsync", errno, temporary->path(), Role::destination);
    // The writer's lock goes with the last descriptor of the temporary: a duplicate keeps it until
    // the rename is done, so that another run's clean-up never takes the file for a leftover.
    ScopedFd lock(::dup(out.get()), calls_);
    if (lock.get() < 0) fail_errno("dup", errno, temporary->path(), Role::destination);
    // Some file systems report a failed write only when the file is closed.
    if (calls_.close(out.release()) != 0) fail_errno("close", errno, temporary->path(), Role::destination);

    if (replacing) wait_out_holders(*to, prefix_);
    if (calls_.rename(temporary->path().c_str(), to->c_str()) != 0)
        fail_errno("rename", errno, *to, Role::destination);
    temporary->keep();

    // The new name must survive a crash too: sync the folder that holds it.
    ScopedFd dir(retrying([&] { return calls_.open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0); }), calls_);
    if (dir.get() < 0) fail_errno("open", errno, folder, Role::destination);
    if (retrying([&] { return calls_.fsync(dir.get()); }) != 0 && errno != EINVAL)
        fail_errno("fsync", errno, folder, Role::destination);
    return CopyReport{copied.bytes, copied.sha256, {destination}, false};
}

void PosixFileSystem::check_replaceable(const std::string& path) {
    if (const auto native = map_windows_path(prefix_, path)) check_destination(*native);
}

std::optional<FileFacts> PosixFileSystem::file_facts(const std::string& path) {
    try {
        const auto native = map_windows_path(prefix_, path);
        if (!native) return std::nullopt;
        struct stat st;
        if (::stat(native->c_str(), &st) != 0) return std::nullopt;
        const bool regular = S_ISREG(st.st_mode);
        return FileFacts{S_ISDIR(st.st_mode), regular, regular ? static_cast<std::uint64_t>(st.st_size) : 0,
                         local_time(st.st_mtime)};
    } catch (...) {
        return std::nullopt;  // a path that cannot even be looked at is not there for the caller
    }
}

std::string PosixFileSystem::sha256(const std::string& path) {
    fs::path native;
    ScopedFd fd(open_regular(path, native), calls_);
    Sha256 sum;
    std::vector<char> buffer(kBufferSize);
    for (;;) {
        const ssize_t n = retrying([&] { return calls_.read(fd.get(), buffer.data(), buffer.size()); });
        if (n < 0) fail_errno("read", errno, native, Role::source);
        if (n == 0) break;
        sum.update(buffer.data(), static_cast<std::size_t>(n));
    }
    return sum.hex();
}

std::optional<std::uint32_t> PosixFileSystem::attributes(const std::string& path) {
    const auto native = map_windows_path(prefix_, path);
    if (!native) return std::nullopt;
    struct stat st;
    if (::stat(native->c_str(), &st) != 0) return std::nullopt;

    std::uint32_t bits = 0;
    if (S_ISDIR(st.st_mode)) bits |= file_attribute::directory;
    else if (S_ISREG(st.st_mode)) bits |= file_attribute::archive;
    if ((S_ISREG(st.st_mode) && without_write_bits(st)) ||
        (::access(native->c_str(), W_OK) != 0 && (errno == EACCES || errno == EROFS || errno == EPERM)))
        bits |= file_attribute::readonly;
    // Wine shows names starting with a dot as hidden files.
    const std::string name = native->filename().string();
    if (name.size() > 1 && name[0] == '.' && name != "..") bits |= file_attribute::hidden;

    if (const auto value = read_dos_attributes(*native)) {
        if (const auto dos = parse_dos_attributes(*value)) bits |= *dos & (file_attribute::hidden | file_attribute::system);
    }
    return bits ? bits : file_attribute::normal;
}

int PosixFileSystem::open_regular(const std::string& path, fs::path& native) {
    const auto mapped = map_windows_path(prefix_, path);
    if (!mapped) fail(code::file_not_found, "map", ENOENT, path, Side::source);
    native = *mapped;
    ScopedFd fd(retrying([&] { return calls_.open(native.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK, 0); }), calls_);
    if (fd.get() < 0) fail_errno("open", errno, native, Role::source);
    struct stat st;
    if (::fstat(fd.get(), &st) != 0) fail_errno("fstat", errno, native, Role::source);
    if (!S_ISREG(st.st_mode)) fail(code::file_not_found, "open", EISDIR, native, Side::source);
    return fd.release();
}

std::unique_ptr<InputFile> PosixFileSystem::open_for_reading(const std::string& path) {
    fs::path native;
    const int fd = open_regular(path, native);
    return std::make_unique<PosixInputFile>(fd, native, calls_);
}

std::string PosixFileSystem::executable_folder() {
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec) fail(code::path_not_found, "readlink", ec.value(), "/proc/self/exe");
    // A native name holding "\\" has no Windows spelling: written as one it would name another
    // folder, and the files found there are not the ones shipped with the program.
    for (const auto& part : exe.parent_path())
        if (part.native().find('\\') != std::string::npos)
            fail(code::path_not_found, "executable_folder", ENOENT, exe.parent_path());
    std::string folder = to_windows_path(prefix_, exe.parent_path());
    while (!folder.empty() && folder.back() == '\\') folder.pop_back();
    return folder;
}

}  // namespace aggiorna::portable
