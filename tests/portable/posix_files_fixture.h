// The temporary prefix the tests of PosixFileSystem work in, its helpers and the fault injector.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "platform/portable/posix_files.h"

namespace aggiorna::portable {
namespace fs = std::filesystem;

inline std::string read_whole(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void write_whole(const fs::path& p, const std::string& content) {
    std::ofstream(p, std::ios::binary | std::ios::trunc) << content;
}

inline std::string pattern(std::size_t size, char seed) {
    std::string s(size, '\0');
    for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>(seed + i * 7 + i / 4096);
    return s;
}

// Turns the immutable flag of a file or folder on or off; false where the file system or the
// user's rights do not allow it.
inline bool set_immutable(const fs::path& p, bool on) {
    const int fd = ::open(p.c_str(), O_RDONLY | O_NONBLOCK);
    if (fd < 0) return false;
    int flags = 0;
    bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (done) {
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        done = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(fd);
    return done;
}

// Makes the call of one kind fail once, on its Nth use (or the Nth call of any kind), with a
// chosen errno; counts the calls so that a test can reach every one of them.
struct Injector {
    std::string kind;  // empty: every kind counts
    int fail_at = 0;   // 0: nothing fails
    int err = EIO;
    int seen = 0;

    bool hit(const std::string& call) {
        if (!kind.empty() && call != kind) return false;
        return ++seen == fail_at;
    }
};

inline SystemCalls injected_calls(std::shared_ptr<Injector> in) {
    const SystemCalls real = posix_calls();
    SystemCalls c;
    c.open = [=](const char* p, int f, mode_t m) { return in->hit("open") ? (errno = in->err, -1) : real.open(p, f, m); };
    // A failing close has still closed the descriptor, as on Linux.
    c.close = [=](int fd) { const int r = real.close(fd); return in->hit("close") ? (errno = in->err, -1) : r; };
    c.read = [=](int fd, void* b, std::size_t n) -> ssize_t { return in->hit("read") ? (errno = in->err, -1) : real.read(fd, b, n); };
    c.pread = [=](int fd, void* b, std::size_t n, off_t o) -> ssize_t {
        return in->hit("pread") ? (errno = in->err, -1) : real.pread(fd, b, n, o);
    };
    c.write = [=](int fd, const void* b, std::size_t n) -> ssize_t {
        return in->hit("write") ? (errno = in->err, -1) : real.write(fd, b, std::min<std::size_t>(n, 1 << 20));
    };
    c.fsync = [=](int fd) { return in->hit("fsync") ? (errno = in->err, -1) : real.fsync(fd); };
    c.rename = [=](const char* a, const char* b) { return in->hit("rename") ? (errno = in->err, -1) : real.rename(a, b); };
    return c;
}

// What a call of the file layer threw: its code (0: nothing), holders and side.
struct Thrown {
    int code = 0;
    std::vector<std::string> holders;
    Side side = Side::unknown;
};
template <typename Call>
Thrown thrown_by(Call call) {
    try {
        call();
    } catch (const Error& e) {
        return {e.code(), e.holders(), e.side()};
    }
    return {};
}

// A prefix whose C: holds the updater's folder "Upd" and a host folder "Host" with an archive.
class PosixFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        char name[] = "/tmp/aggiorna-files-XXXXXX";
        ASSERT_NE(::mkdtemp(name), nullptr);
        root_ = fs::canonical(name);
        prefix_ = root_ / "pfx";
        fs::create_directories(prefix_ / "dosdevices");
        fs::create_directories(prefix_ / "drive_c" / "Upd");
        fs::create_directories(prefix_ / "drive_c" / "Host");
        fs::create_symlink("../drive_c", prefix_ / "dosdevices" / "c:");
        upd_ = prefix_ / "drive_c" / "Upd";
        host_ = prefix_ / "drive_c" / "Host";
        write_whole(upd_ / "Estr.bin", new_archive_);
        write_whole(host_ / "Estr.bin", old_archive_);
    }
    void TearDown() override {
        for (const fs::path& p : immutable_) set_immutable(p, false);
        release_holders();
        fs::remove_all(root_);
    }

    std::vector<std::string> temporaries() const {
        std::vector<std::string> found;
        for (const auto& e : fs::directory_iterator(host_)) {
            if (temporary_owner(e.path().filename().string())) found.push_back(e.path().filename().string());
        }
        return found;
    }

    int code_of_copy(FileSystem& files, const std::string& from, const std::string& to) {
        try {
            files.copy_file(from, to);
        } catch (const Error& e) {
            return e.code();
        }
        return 0;
    }

    // A child process that holds `p` open until the test ends, or for `ms` milliseconds and then
    // ends; `locked`: with an exclusive flock, as a running copy holds its temporary file.
    // Returns once it holds the file.
    void hold_open(const fs::path& p, bool locked = false, int ms = -1) {
        int ready[2];
        ASSERT_EQ(::pipe(ready), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const int fd = ::open(p.c_str(), O_RDONLY);
            const char ok = fd >= 0 && (!locked || ::flock(fd, LOCK_EX | LOCK_NB) == 0) ? 'y' : 'n';
            (void)!::write(ready[1], &ok, 1);
            if (ms < 0) ::pause();
            else ::usleep(static_cast<useconds_t>(ms) * 1000);
            ::_exit(0);
        }
        children_.push_back(child);
        ::close(ready[1]);
        char ok = 0;
        ASSERT_EQ(::read(ready[0], &ok, 1), 1);
        ::close(ready[0]);
        ASSERT_EQ(ok, 'y');
    }
    void hold_for(const fs::path& p, int ms) { hold_open(p, false, ms); }

    // A child process that holds `p` open while it runs `program` under the name `argv0` (Wine
    // shows a Windows program by its Windows path); returns once it holds the file.
    void hold_as(const fs::path& p, const fs::path& program, const std::string& argv0) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (::open(p.c_str(), O_RDONLY) < 0) ::_exit(1);  // kept open across exec
            ::execl(program.c_str(), argv0.c_str(), "600", static_cast<char*>(nullptr));
            ::_exit(1);
        }
        children_.push_back(child);
        // Held, and past the exec: the child shows as the program it runs.
        const std::string shown = argv0.find('\\') != std::string::npos ? argv0.substr(argv0.rfind('\\') + 1)
                                                                       : program.filename().string();
        for (int i = 0; i < 500; ++i) {
            const auto pids = processes_holding(p);
            if (std::find(pids.begin(), pids.end(), child) != pids.end() && holder_of(child, prefix_).name == shown)
                return;
            ::usleep(10000);
        }
        FAIL() << "the child never held " << p;
    }

    void release_holders() {
        for (pid_t child : children_) {
            ::kill(child, SIGKILL);
            ::waitpid(child, nullptr, 0);
        }
        children_.clear();
    }

    void make_immutable(const fs::path& p) {
        if (!set_immutable(p, true)) GTEST_SKIP() << "the immutable flag is not available here";
        immutable_.push_back(p);
    }

    const std::string new_archive_ = pattern((5 << 19) + 123, 'n');  // 2.5 MiB: several buffers
    const std::string old_archive_ = pattern(4000, 'o');
    fs::path root_, prefix_, upd_, host_;
    std::vector<fs::path> immutable_;
    std::vector<pid_t> children_;
};

}  // namespace aggiorna::portable
