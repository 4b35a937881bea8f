// Tests of PosixFileSystem on temporary prefixes: atomic copies, attributes and positioned reads.
#include "platform/portable/posix_files.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <array>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <vector>

#include "platform/portable/path_mapping.h"
#include "portable/posix_files_fixture.h"

namespace aggiorna::portable {
namespace {
namespace fs = std::filesystem;

TEST_F(PosixFilesTest, CopyCreatesThenReplaces) {
    PosixFileSystem files(prefix_);
    files.copy_file("C:\\Upd\\Estr.bin", "C:\\Host\\\\Estr.bi_");
    EXPECT_EQ(read_whole(host_ / "Estr.bi_"), new_archive_);

    write_whole(upd_ / "bl.bin", "");
    write_whole(host_ / "bl.bin", "old companion");
    files.copy_file("C:\\Upd\\bl.bin", "C:\\Host\\bl.bin");
    EXPECT_EQ(read_whole(host_ / "bl.bin"), "");
    EXPECT_TRUE(temporaries().empty());
}

TEST_F(PosixFilesTest, CopyReplacesTheExistingNameWhateverItsCase) {
    PosixFileSystem files(prefix_);
    ::chmod((host_ / "Estr.bin").c_str(), 0640);
    files.copy_file("c:\\upd\\ESTR.BIN", "C:\\HOST\\estr.bin");
    EXPECT_EQ(read_whole(host_ / "Estr.bin"), new_archive_);
    EXPECT_FALSE(fs::exists(host_ / "estr.bin") && !fs::equivalent(host_ / "estr.bin", host_ / "Estr.bin"));
    EXPECT_EQ(fs::status(host_ / "Estr.bin").permissions() & fs::perms::all, fs::perms(0640));
}

TEST_F(PosixFilesTest, CopyErrorCodes) {
    write_whole(host_ / "file", "not a folder");
    struct Case {
        const char* source;
        const char* destination;
        int code;
    };
    const Case cases[] = {
        {"C:\\Upd\\Manca.bin", "C:\\Host\\Estr.bin", code::file_not_found},
        {"C:\\Manca\\Estr.bin", "C:\\Host\\Estr.bin", code::file_not_found},
        {"Q:\\Upd\\Estr.bin", "C:\\Host\\Estr.bin", code::file_not_found},
        {"C:\\Upd", "C:\\Host\\Estr.bin", code::file_not_found},  // a folder is no source file
        {"C:\\Upd\\Estr.bin", "C:\\Manca\\Estr.bin", code::path_not_found},
        {"C:\\Upd\\Estr.bin", "C:\\Host\\file\\Estr.bin", code::path_not_found},
        {"C:\\Upd\\Estr.bin", "Q:\\Host\\Estr.bin", code::path_not_found},
        {"C:\\Upd\\Estr.bin", "Host\\Estr.bin", code::path_not_found},
        {"C:\\Upd\\Estr.bin", "C:\\Host", code::permission_denied},  // a folder in the way
    };
    PosixFileSystem files(prefix_);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.source) + " -> " + c.destination);
        EXPECT_EQ(code_of_copy(files, c.source, c.destination), c.code);
        EXPECT_EQ(read_whole(host_ / "Estr.bin"), old_archive_);
        EXPECT_TRUE(temporaries().empty());
    }
}

TEST_F(PosixFilesTest, CopyIntoAFolderThatCannotBeWrittenIs70) {
    PosixFileSystem files(prefix_);
    if (::geteuid() == 0) {
        make_immutable(host_);
    } else {
        fs::permissions(host_, fs::perms(0555));
    }
    if (IsSkipped()) return;
    EXPECT_EQ(code_of_copy(files, "C:\\Upd\\Estr.bin", "C:\\Host\\Estr.bin"), code::permission_denied);
    EXPECT_EQ(read_whole(host_ / "Estr.bin"), old_archive_);
    if (::geteuid() != 0) fs::permissions(host_, fs::perms(0755));
}

TEST_F(PosixFilesTest, CopyOverAFileThatCannotBeWrittenIs70) {
    PosixFileSystem files(prefix_);
    if (::geteuid() == 0) {
        make_immutable(host_ / "Estr.bin");
    } else {
        fs::permissions(host_ / "Estr.bin", fs::perms(0444));
    }
    if (IsSkipped()) return;
    EXPECT_EQ(code_of_copy(files, "C:\\Upd\\Estr.bin", "C:\\Host\\Estr.bin"), code::permission_denied);
    EXPECT_EQ(read_whole(host_ / "Estr.bin"), old_archive_);
    EXPECT_TRUE(temporaries().empty());
}

TEST_F(PosixFilesTest, CopyOverAFileHeldOpenByAnotherProcessIs75) {
    hold_open(host_ / "Estr.bin");
    PosixFileSystem files(prefix_);
    EXPECT_TRUE(held_open_by_another_process(host_ / "Estr.bin"));
    EXPECT_EQ(code_of_copy(files, "C:\\Upd\\Estr.bin", "C:\\Host\\Estr.bin"), code::path_file_access);
    EXPECT_EQ(read_whole(host_ / "Estr.bin"), old_archive_);
    EXPECT_TRUE(temporaries().empty());

    // Open by this process only (the source, say) does not count.
    std::ifstream own(host_ / "Estr.bin");
    ::kill(children_.back(), SIGKILL);
    ::waitpid(children_.back(), nullptr, 0);
    children_.pop_back();
    EXPECT_FALSE(held_open_by_another_process(host_ / "Estr.bin"));
    files.copy_file("C:\\Upd\\Estr.bin", "C:\\Host\\Estr.bin");
    EXPECT_EQ(read_whole(host_ / "Estr.bin"), new_archive_);
}

// A held destination names the programs that hold it, unless one of them runs from the host's
// folder (the host itself, natively or through Wine): then it is the in-use case, without names.
TEST_F(PosixFilesTest, HoldersOutsideTheHostsFolderAreNamedTheHostIsNot) {
    const fs::path sleep = fs::canonical("/bin/sleep");
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, std::string>> holders;  // program ("host" for a copy in the host's folder), argv[0]
        std::vector<std::string> named;
    };
    const Case cases[] = {
        {"a native program elsewhere", {{"sleep", "sleep"}}, {sleep.filename().string()}},
        {"a Windows program elsewhere", {{"sleep", "C:\\Upd\\OneDrive.exe"}}, {"OneDrive.exe"}},
        {"the host through Wine", {{"sleep", "C:\\HOST\\quintrel.exe"}}, {}},
        {"the host's own program file", {{"host", "quintrel"}}, {}},
        {"the host among others", {{"sleep", "C:\\Upd\\OneDrive.exe"}, {"sleep", "C:\\Host\\quintrel.exe"}}, {}},
        {"two others, one twice",
         {{"sleep", "C:\\Upd\\OneDrive.exe"}, {"sleep", "C:\\Upd\\Backup.exe"}, {"sleep", "C:\\Upd\\OneDrive.exe"}},
         {"OneDrive.exe", "Backup.exe"}},
    };
    fs::copy_file(sleep, host_ / "quintrel");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const auto& [program, argv0] : c.holders) {
            hold_as(host_ / "Estr.bin", program == "host" ? host_ / "quintrel" : sleep, argv0);
        }
        PosixFileSystem files(prefix_);
        std::vector<std::string> named;
        int code = 0;
        try {
            files.copy_file("C:\\Upd\\Estr.bin", "C:\\Host\\Estr.bin");
        } catch (const Error& e) {
            code = e.code();
            named = e.holders();
        }
        EXPECT_EQ(code, code::path_file_access);
        EXPECT_THAT(named, ::testing::UnorderedElementsAreArray(c.named));
        EXPECT_EQ(read_whole(host_ / "Estr.bin"), old_archive_);
        EXPECT_TRUE(temporaries().empty());
        for (pid_t child : children_) {
            ::kill(child, SIGKILL);
            ::waitpid(child, nullptr, 0);
        }
        children_.clear();
    }
}

// Wine keeps a file's DOS attributes (hidden, system) in user.DOSATTRIB: the replaced file's stay,
// the delivered file's do not travel.
TEST_F(PosixFilesTest, TheReplacedFileKeepsItsDosAttributes) {
    const std::string hidden_system = "0x6";
    if (::setxattr((host_ / "Estr.bin").c_str(), "user.DOSATTRIB", hidden_system.data(), hidden_system.size(), 0) != 0)
        GTEST_SKIP() << "no user extended attributes here: " << std::strerror(errno);
    ASSERT_EQ(::setxattr((upd_ / "Estr.bin").c_str(), "user.DOSATTRIB", "0x2", 3, 0), 0);
    PosixFileSystem files(prefix_);
    files.copy_file("C:\\Upd\\Estr.bin", "C:\\Host\\Estr.bin");
    files.copy_file("C:\\Upd\\Estr.bin", "C:\\Host\\Nuovo.bin");
    char value[64] = {};
    const ssize_t n = ::getxattr((host_ / "Estr.bin").c_str(), "user.DOSATTRIB", value, sizeof value);
    EXPECT_EQ(std::string(value, n > 0 ? static_cast<std::size_t>(n) : 0), hidden_system);
    EXPECT_EQ(files.attributes("C:\\Host\\Estr.bin").value_or(0) & (file_attribute::hidden | file_attribute::system),
              file_attribute::hidden | file_attribute::system);
    EXPECT_LT(::getxattr((host_ / "Nuovo.bin").c_str(), "user.DOSATTRIB", value, sizeof value), 0);
    EXPECT_EQ(read_whole(host_ / "Estr.bin"), new_archive_);
}

// A temporary is stale when no live writer holds its lock, whatever its pid: the pid of a run
// cut off before a reboot may belong to a live process now, and a run killed a moment ago has a
// pid that may not be reused yet.
TEST_F(PosixFilesTest, CopyRemovesTemporariesNobodyHoldsLocked) {
    const std::string reused_pid = ".~AggiornaArchivio-" + std::to_string(::getppid()) + "-0123abcd.tmp";
    const std::string own_pid = temporary_name(::getpid());
    const std::string locked = temporary_name(::getpid());
    const std::string foreign = ".~AggiornaArchivio-" + std::to_string(::getppid()) + "-note.txt";
    for (const std::string& name : {reused_pid, own_pid, locked, foreign}) write_whole(host_ / name, "x");
    hold_open(host_ / locked, /*locked=*/true);
    // A run killed in the middle of its copy: the lock went with it.
    const pid_t killed = ::fork();
    ASSERT_GE(killed, 0);
    if (killed == 0) {
        const int fd = ::open((host_ / own_pid).c_str(), O_RDONLY);
        if (fd >= 0) ::flock(fd, LOCK_EX);
        ::_exit(0);
    }
    ASSERT_EQ(::waitpid(killed, nullptr, 0), killed);

    PosixFileSystem files(prefix_);
    files.copy_file("C:\\Upd\\Estr.bin", "C:\\Host\\Estr.bin");
    EXPECT_EQ(read_whole(host_ / "Estr.bin"), new_archive_);
    EXPECT_FALSE(fs::exists(host_ / reused_pid));
    EXPECT_FALSE(fs::exists(host_ / own_pid));
    EXPECT_TRUE(fs::exists(host_ / locked));
    EXPECT_TRUE(fs::exists(host_ / foreign));
}

// A file without any write bit is read-only for everyone: root, who may write it anyway, is
// refused too, as Windows refuses a read-only file.
TEST_F(PosixFilesTest, ADestinationWithoutWriteBitsIs70EvenForRoot) {
    ::chmod((host_ / "Estr.bin").c_str(), 0444);
    PosixFileSystem files(prefix_);
    EXPECT_EQ(code_of_copy(files, "C:\\Upd\\Estr.bin", "C:\\Host\\Estr.bin"), code::permission_denied);
    EXPECT_EQ(read_whole(host_ / "Estr.bin"), old_archive_);
    EXPECT_TRUE(temporaries().empty());
    EXPECT_EQ(files.attributes("C:\\Host\\Estr.bin").value_or(0) & file_attribute::readonly,
              file_attribute::readonly);
}

// The replaced archive keeps its mode and group (and, for root, its owner), as an editor that
// saves a file keeps them.
TEST_F(PosixFilesTest, TheReplacedFileKeepsItsModeAndGroup) {
    const fs::path archive = host_ / "Estr.bin";
    struct stat before;
    ASSERT_EQ(::stat(archive.c_str(), &before), 0);
    gid_t other_group = before.st_gid;
    if (::geteuid() == 0) {
        other_group = before.st_gid == 0 ? 1 : 0;
        ASSERT_EQ(::chown(archive.c_str(), 65534, other_group), 0);
    } else {
        gid_t groups[64];
        const int n = ::getgroups(64, groups);
        for (int i = 0; i < n; ++i) {
            if (groups[i] != ::getegid()) other_group = groups[i];
        }
        if (other_group == before.st_gid) GTEST_SKIP() << "this user belongs to no second group";
        ASSERT_EQ(::chown(archive.c_str(), static_cast<uid_t>(-1), other_group), 0);
    }
    ASSERT_EQ(::chmod(archive.c_str(), 0604), 0);

    PosixFileSystem files(prefix_);
    files.copy_file("C:\\Upd\\Estr.bin", "C:\\Host\\Estr.bin");
    struct stat after;
    ASSERT_EQ(::stat(archive.c_str(), &after), 0);
    EXPECT_EQ(read_whole(archive), new_archive_);
    EXPECT_NE(after.st_ino, before.st_ino);  // a new file, not the old one rewritten
    EXPECT_EQ(after.st_mode & 07777, 0604u);
    EXPECT_EQ(after.st_gid, other_group);
    if (::geteuid() == 0) {
        EXPECT_EQ(after.st_uid, 65534u);
    }
}

TEST(TemporaryNames, OwnPatternOnly) {
    EXPECT_EQ(temporary_owner(temporary_name(4321)), 4321);
    EXPECT_NE(temporary_name(1), temporary_name(1));
    for (const char* other : {"Estr.bin", ".~AggiornaArchivio-12.tmp", ".~AggiornaArchivio--ab.tmp",
                              ".~AggiornaArchivio-x1-ab.tmp", ".~AggiornaArchivio-12-.tmp",
                              ".~AggiornaArchivio-12-zz.tmp", ".~AggiornaArchivio-0-ab.tmp",
                              ".~AggiornaArchivio-12-ab.tmp.bak"}) {
        EXPECT_FALSE(temporary_owner(other).has_value()) << other;
    }
}

// Failures at chosen calls: the code that reaches the core and the side it tells, the old archive
// whole, no temporary.
TEST_F(PosixFilesTest, InjectedFailuresKeepTheOldFile) {
    struct Case {
        const char* kind;
        int nth;
        int err;
        int code;
        Side side;
    };
    const Case cases[] = {
        {"open", 1, EACCES, code::permission_denied, Side::source},   // the source
        {"open", 2, EDQUOT, code::disk_full, Side::destination},      // the temporary
        {"write", 1, ENOSPC, code::disk_full, Side::destination},
        {"write", 2, ENOSPC, code::disk_full, Side::destination},
        {"write", 3, ETXTBSY, code::permission_denied, Side::destination},
        {"write", 4, EIO, 57, Side::destination},
        {"read", 1, EIO, 57, Side::source},
        {"read", 2, EIO, 57, Side::source},
        {"fsync", 1, EIO, 57, Side::destination},
        {"close", 1, EIO, 57, Side::destination},  // the temporary, closed and checked before the rename
        {"rename", 1, EXDEV, 57, Side::destination},
        // Only a process holding the destination is the host running; a busy name is not.
        {"rename", 1, EBUSY, code::permission_denied, Side::destination},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.kind) + " #" + std::to_string(c.nth) + " errno " + std::to_string(c.err));
        auto injector = std::make_shared<Injector>(Injector{c.kind, c.nth, c.err, 0});
        PosixFileSystem files(prefix_, injected_calls(injector));
        const Thrown t = thrown_by([&] { files.copy_file("C:\\Upd\\Estr.bin", "C:\\Host\\Estr.bin"); });
        EXPECT_EQ(t.code, c.code);
        EXPECT_EQ(t.side, c.side);
        EXPECT_EQ(read_whole(host_ / "Estr.bin"), old_archive_);
        EXPECT_TRUE(temporaries().empty());
    }
}

// A delivered file that changes while it is copied (an extraction or a download still writing
// it): cut short, grown or rewritten between the first read and the last, it is a failed copy of
// the delivered file, never an archive installed cut short; nothing is left behind.
TEST_F(PosixFilesTest, ADeliveredFileThatChangesWhileCopiedIsAFailedCopy) {
    struct Case { const char* what; std::function<void(const fs::path&)> change; };
    const Case cases[] = {
        {"cut short", [](const fs::path& p) { fs::resize_file(p, 1000); }},
        {"grown", [](const fs::path& p) { std::ofstream(p, std::ios::app) << "more"; }},
        {"rewritten, same size", [](const fs::path& p) {
             std::fstream f(p, std::ios::in | std::ios::out | std::ios::binary);
             f.seekp(10);
             f << "X";
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        write_whole(upd_ / "Estr.bin", new_archive_);
        write_whole(host_ / "Estr.bin", old_archive_);
        SystemCalls calls = posix_calls();
        bool changed = false;
        const fs::path source = upd_ / "Estr.bin";
        const auto real = calls.read;
        calls.read = [&, real](int fd, void* b, std::size_t n) {
            const ssize_t done = real(fd, b, n);
            if (!changed) {
                changed = true;
                ::usleep(20000);  // a later time stamp than the file's
                c.change(source);
            }
            return done;
        };
        PosixFileSystem files(prefix_, calls);
        const Thrown t = thrown_by([&] { files.copy_file("C:\\Upd\\Estr.bin", "C:\\Host\\Estr.bin"); });
        EXPECT_NE(t.code, 0);
        EXPECT_NE(t.code, code::path_file_access);
        EXPECT_EQ(t.side, Side::source);
        EXPECT_TRUE(read_whole(host_ / "Estr.bin") == old_archive_) << "the host's archive changed";
        EXPECT_TRUE(temporaries().empty());
    }
}

// A delivered file that another process holds open for writing is not copied; one that is only
// read by others is, and so is one whose writer lets go within the wait.
TEST_F(PosixFilesTest, ADeliveredFileStillOpenForWritingIsNotCopied) {
    PosixFileSystem files(prefix_);
    const pid_t reader = ::fork();
    ASSERT_GE(reader, 0);
    if (reader == 0) {
        if (::open((upd_ / "Estr.bin").c_str(), O_RDONLY) < 0) ::_exit(1);
        ::pause();
        ::_exit(0);
    }
    children_.push_back(reader);
    while (processes_holding(upd_ / "Estr.bin").empty()) ::usleep(1000);
    EXPECT_EQ(code_of_copy(files, "C:\\Upd\\Estr.bin", "C:\\Host\\Estr.bin"), 0);
    EXPECT_TRUE(read_whole(host_ / "Estr.bin") == new_archive_) << "the new archive is not in place";

    write_whole(host_ / "Estr.bin", old_archive_);
    for (const int hold_ms : {60000, 500}) {
        SCOPED_TRACE(hold_ms);
        const pid_t writer = ::fork();
        ASSERT_GE(writer, 0);
        if (writer == 0) {
            if (::open((upd_ / "Estr.bin").c_str(), O_WRONLY | O_APPEND) < 0) ::_exit(1);
            ::usleep(hold_ms * 1000);
            ::_exit(0);
        }
        children_.push_back(writer);
        while (processes_holding(upd_ / "Estr.bin", true, true).empty()) ::usleep(1000);
        const int code = code_of_copy(files, "C:\\Upd\\Estr.bin", "C:\\Host\\Estr.bin");
        if (hold_ms > 2000) {
            EXPECT_NE(code, 0);
            EXPECT_NE(code, code::path_file_access);
            EXPECT_TRUE(read_whole(host_ / "Estr.bin") == old_archive_) << "the host's archive changed";
        } else {
            EXPECT_EQ(code, 0);
            EXPECT_TRUE(read_whole(host_ / "Estr.bin") == new_archive_) << "the new archive is not in place";
        }
        EXPECT_TRUE(temporaries().empty());
        ::kill(writer, SIGKILL);
        ::waitpid(writer, nullptr, 0);
        children_.pop_back();
    }
}

// Two runs at once into one folder: each keeps its temporary locked until its rename, so that the
// other's clean-up of leftovers, run in that moment, never removes it.
TEST_F(PosixFilesTest, AnotherCopysCleanUpBeforeTheRenameLeavesTheTemporary) {
    write_whole(upd_ / "bl.bin", "companion");
    SystemCalls calls = posix_calls();
    const auto real_rename = calls.rename;
    const fs::path prefix = prefix_;
    calls.rename = [=](const char* from, const char* to) {
        PosixFileSystem(prefix).copy_file("C:\\Upd\\bl.bin", "C:\\Host\\bl.bin");  // the other run
        return real_rename(from, to);
    };
    PosixFileSystem files(prefix_, calls);
    EXPECT_EQ(code_of_copy(files, "C:\\Upd\\Estr.bin", "C:\\Host\\Estr.bin"), 0);
    EXPECT_TRUE(read_whole(host_ / "Estr.bin") == new_archive_) << "the new archive is not in place";
    EXPECT_EQ(read_whole(host_ / "bl.bin"), "companion");
    EXPECT_TRUE(temporaries().empty());
}

// A destination the system cannot replace for another reason than a holder (a mount point:
// EBUSY) is a failed copy, not the host running.
TEST_F(PosixFilesTest, AMountPointDestinationIsAFailedCopyNotTheHost) {
    write_whole(root_ / "elsewhere", "mounted");
    if (::mount((root_ / "elsewhere").c_str(), (host_ / "Estr.bin").c_str(), nullptr, MS_BIND, nullptr) != 0)
        GTEST_SKIP() << "cannot bind-mount here: " << std::strerror(errno);
    PosixFileSystem files(prefix_);
    const int code = code_of_copy(files, "C:\\Upd\\Estr.bin", "C:\\Host\\Estr.bin");
    const auto left = temporaries();
    ::umount2((host_ / "Estr.bin").c_str(), MNT_DETACH);
    EXPECT_EQ(code, code::permission_denied);
    EXPECT_TRUE(left.empty());
    EXPECT_TRUE(read_whole(host_ / "Estr.bin") == old_archive_) << "the host's archive changed";
}

// Every call of a copy failing in turn: the destination is the old file or the whole new one,
// never anything between, and no temporary is left.
TEST_F(PosixFilesTest, EveryFailingCallLeavesOldOrNewFile) {
    auto counter = std::make_shared<Injector>(Injector{"", 0, EIO, 0});
    PosixFileSystem counting(prefix_, injected_calls(counter));
    counting.copy_file("C:\\Upd\\Estr.bin", "C:\\Host\\Estr.bin");
    const int total = counter->seen;
    ASSERT_GT(total, 5);
    for (int n = 1; n <= total; ++n) {
        SCOPED_TRACE("call " + std::to_string(n));
        write_whole(host_ / "Estr.bin", old_archive_);
        auto injector = std::make_shared<Injector>(Injector{"", n, EIO, 0});
        PosixFileSystem files(prefix_, injected_calls(injector));
        const int code = code_of_copy(files, "C:\\Upd\\Estr.bin", "C:\\Host\\Estr.bin");
        const std::string now = read_whole(host_ / "Estr.bin");
        EXPECT_TRUE(now == old_archive_ || now == new_archive_);
        if (code == 0) {
            EXPECT_EQ(now, new_archive_);
        }
        EXPECT_TRUE(temporaries().empty());
    }
}

TEST_F(PosixFilesTest, Attributes) {
    fs::create_directories(host_ / "Cartella");
    write_whole(host_ / ".nascosto", "x");
    write_whole(host_ / "Dati.lib", "x");
    struct Case {
        const char* path;
        std::optional<std::uint32_t> bits;
    };
    const Case cases[] = {
        {"C:\\Host\\Dati.lib", file_attribute::archive},
        {"C:\\HOST\\dati.LIB", file_attribute::archive},
        {"C:\\Host\\Cartella", file_attribute::directory},
        {"C:\\Host\\.nascosto", file_attribute::archive | file_attribute::hidden},
        {"C:\\Host\\Manca.lib", std::nullopt},
        {"C:\\Manca\\Dati.lib", std::nullopt},
        {"C:\\Host\\Dati.lib\\x", std::nullopt},
        {"Q:\\Host\\Dati.lib", std::nullopt},
    };
    PosixFileSystem files(prefix_);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(files.attributes(c.path), c.bits);
    }
}

// A file without write bits is read-only for root too, as the copy treats it.
TEST_F(PosixFilesTest, AttributesReadOnlyForTheUser) {
    write_whole(host_ / "Dati.lib", "x");
    fs::permissions(host_ / "Dati.lib", fs::perms(0444));
    PosixFileSystem files(prefix_);
    EXPECT_EQ(files.attributes("C:\\Host\\Dati.lib"), file_attribute::archive | file_attribute::readonly);
}

TEST_F(PosixFilesTest, AttributesFromWineDosAttributes) {
    struct Case {
        std::string value;
        std::uint32_t bits;
    };
    const Case cases[] = {
        {"0x2", file_attribute::archive | file_attribute::hidden},
        {"0x4", file_attribute::archive | file_attribute::system},
        {"0x26", file_attribute::archive | file_attribute::hidden | file_attribute::system},
        {"0x20", file_attribute::archive},
        {"0x1", file_attribute::archive},  // read-only comes from the permissions, as in Wine
        {"rubbish", file_attribute::archive},
    };
    PosixFileSystem files(prefix_);
    const fs::path file = host_ / "Dati.lib";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        write_whole(file, "x");
        if (::setxattr(file.c_str(), "user.DOSATTRIB", c.value.data(), c.value.size(), 0) != 0)
            GTEST_SKIP() << "no user extended attributes here: " << std::strerror(errno);
        EXPECT_EQ(files.attributes("C:\\Host\\Dati.lib"), c.bits);
    }
}

TEST(ParseDosAttributes, TextAndSambaForms) {
    using namespace std::string_literals;
    struct Case {
        std::string value;
        std::optional<std::uint32_t> bits;
    };
    const Case cases[] = {
        {"0x2", 2u},
        {"0X22\0"s, 0x22u},
        {"34", 34u},
        {"\x01\x00\x01\x00\x06\x00\x00\x00"s, 6u},                  // version 1: attribute first
        {"\x03\x00\x03\x00\xff\x00\x00\x00\x02\x00\x00\x00"s, 2u},  // version 3: after the flags
        {"\x05\x00\x05\x00\xff\x00\x00\x00\x04\x00\x00\x00"s, 4u},
        {"\x03\x00\x03\x00\xff\x00"s, std::nullopt},                // cut short
        {"0x", std::nullopt},
        {"0xZZ", std::nullopt},
        {"", std::nullopt},
        {"nascosto", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.value));
        EXPECT_EQ(parse_dos_attributes(c.value), c.bits);
    }
}

TEST_F(PosixFilesTest, ReadAtOffsetsAndEnd) {
    write_whole(host_ / "Dati.lib", "0123456789");
    PosixFileSystem files(prefix_);
    auto file = files.open_for_reading("C:\\host\\DATI.LIB");
    struct Case {
        std::uint64_t offset;
        std::size_t size;
        std::string expected;
    };
    const Case cases[] = {
        {0, 4, "0123"}, {6, 4, "6789"}, {8, 4, "89"}, {10, 4, ""}, {1000, 4, ""}, {3, 0, ""},
        {UINT64_MAX, 4, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.offset);
        std::vector<std::uint8_t> out(c.size, 0xEE);
        const std::size_t n = file->read_at(c.offset, out);
        EXPECT_EQ(std::string(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(n)), c.expected);
        EXPECT_TRUE(std::all_of(out.begin() + static_cast<std::ptrdiff_t>(n), out.end(),
                                [](std::uint8_t b) { return b == 0xEE; }));
    }
    // Others may replace the file while it is open: the open file goes on reading the old one.
    files.copy_file("C:\\Upd\\Estr.bin", "C:\\Host\\Dati.lib");
    std::vector<std::uint8_t> out(2);
    EXPECT_EQ(file->read_at(0, out), 2u);
    EXPECT_EQ(out[0], '0');
}

TEST_F(PosixFilesTest, ReadAtRetriesInterruptionsAndShortReads) {
    write_whole(host_ / "Dati.lib", "0123456789");
    auto injector = std::make_shared<Injector>(Injector{"pread", 1, EINTR, 0});
    SystemCalls calls = injected_calls(injector);
    const auto inner = calls.pread;
    calls.pread = [inner](int fd, void* b, std::size_t, off_t o) { return inner(fd, b, 1, o); };  // a byte a call
    PosixFileSystem files(prefix_, calls);
    auto file = files.open_for_reading("C:\\Host\\Dati.lib");
    std::vector<std::uint8_t> out(8);
    ASSERT_EQ(file->read_at(1, out), 8u);
    EXPECT_EQ(std::string(out.begin(), out.end()), "12345678");

    injector->kind = "pread";
    injector->err = EIO;
    injector->fail_at = injector->seen + 1;
    try {
        file->read_at(0, out);
        ADD_FAILURE() << "no error";
    } catch (const Error& e) {
        EXPECT_EQ(e.code(), 57);
    }
}

TEST_F(PosixFilesTest, OpenForReadingErrors) {
    PosixFileSystem files(prefix_);
    for (const char* path : {"C:\\Host\\Manca.lib", "C:\\Manca\\Dati.lib", "C:\\Host", "Q:\\Host\\Dati.lib"}) {
        SCOPED_TRACE(path);
        try {
            files.open_for_reading(path);
            ADD_FAILURE() << "opened";
        } catch (const Error& e) {
            EXPECT_EQ(e.code(), code::file_not_found);
        }
    }
    if (::geteuid() != 0) {
        write_whole(host_ / "Chiuso.lib", "x");
        fs::permissions(host_ / "Chiuso.lib", fs::perms::none);
        try {
            files.open_for_reading("C:\\Host\\Chiuso.lib");
            ADD_FAILURE() << "opened";
        } catch (const Error& e) {
            EXPECT_EQ(e.code(), code::permission_denied);
        }
    }
}

TEST_F(PosixFilesTest, ExecutableFolderMapsBackToTheExecutable) {
    PosixFileSystem files(prefix_);
    const std::string folder = files.executable_folder();
    ASSERT_GE(folder.size(), 3u);
    EXPECT_NE(folder.back(), '\\');
    EXPECT_EQ(map_windows_path(prefix_, folder), fs::canonical("/proc/self/exe").parent_path());
}

}  // namespace
}  // namespace aggiorna::portable
