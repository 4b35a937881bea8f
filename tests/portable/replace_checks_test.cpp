// Tests of what the file layer tells before and after a copy: whether a file could be replaced,
// how brief holds are waited out and holders named, what stands at a path, SHA-256 sums and the
// copy's report.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "platform/portable/holders.h"
#include "platform/portable/posix_files.h"
#include "platform/portable/sha256.h"
#include "portable/posix_files_fixture.h"

namespace aggiorna::portable {
namespace {

using Clock = std::chrono::steady_clock;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

// The name the tests' own forked holders are shown by: this program's file.
std::string own_program_name() { return fs::read_symlink("/proc/self/exe").filename().string(); }

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// check_replaceable decides as the copy does for its destination, without writing anything.
TEST_F(PosixFilesTest, CheckReplaceableDecidesWithoutWriting) {
    fs::create_directories(host_ / "Cartella");
    ASSERT_EQ(::mkfifo((host_ / "coda").c_str(), 0666), 0);
    write_whole(host_ / "Sola.bin", "x");
    ::chmod((host_ / "Sola.bin").c_str(), 0444);
    // A read-only "Estr.bi_" left by an earlier run: the copy of the new one over it is refused.
    write_whole(host_ / "Estr.bi_", "leftover");
    ::chmod((host_ / "Estr.bi_").c_str(), 0400);
    struct Case {
        const char* path;
        int code;
    };
    const Case cases[] = {
        {"C:\\Host\\Estr.bin", 0},
        {"c:\\HOST\\estr.BIN", 0},
        {"C:\\Host\\Manca.bin", 0},          // nothing there yet
        {"C:\\Manca\\Estr.bin", 0},          // nor its folder
        {"C:\\Host\\Estr.bin\\x", 0},        // a file on the way: nothing there either
        {"Q:\\Host\\Estr.bin", 0},           // an unknown drive: a missing path
        {"C:\\Host\\Cartella", code::permission_denied},
        {"C:\\Host\\coda", code::permission_denied},     // a FIFO, never opened
        {"Z:\\dev\\null", code::permission_denied},      // a device
        {"C:\\Host\\Sola.bin", code::permission_denied}, // no write bit, for root too
        {"C:\\Host\\Estr.bi_", code::permission_denied},
    };
    const auto before = temporaries();
    PosixFileSystem files(prefix_);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const Thrown t = thrown_by([&] { files.check_replaceable(c.path); });
        EXPECT_EQ(t.code, c.code);
        EXPECT_THAT(t.holders, IsEmpty());
        if (c.code) {
            EXPECT_EQ(t.side, Side::destination);
        }
    }
    EXPECT_EQ(read_whole(host_ / "Estr.bin"), old_archive_);
    EXPECT_EQ(temporaries(), before);
    EXPECT_FALSE(fs::exists(host_ / "Manca.bin"));
    EXPECT_FALSE(fs::exists(prefix_ / "drive_c" / "Manca"));
}

// A file the user may not write is read-only to check_replaceable as to the copy.
TEST_F(PosixFilesTest, CheckReplaceableRefusesAFileThatCannotBeWritten) {
    if (::geteuid() == 0) {
        make_immutable(host_ / "Estr.bin");
    } else {
        fs::permissions(host_ / "Estr.bin", fs::perms(0444));
    }
    if (IsSkipped()) return;
    PosixFileSystem files(prefix_);
    EXPECT_EQ(thrown_by([&] { files.check_replaceable("C:\\Host\\Estr.bin"); }).code, code::permission_denied);
    EXPECT_EQ(code_of_copy(files, "C:\\Upd\\Estr.bin", "C:\\Host\\Estr.bin"), code::permission_denied);
}

// Held past the wait: 75, the host not named, others named; held briefly: replaceable.
TEST_F(PosixFilesTest, CheckReplaceableWaitsOutBriefHoldsAndNamesTheOthers) {
    const fs::path sleep = fs::canonical("/bin/sleep");
    fs::copy_file(sleep, host_ / "quintrel");
    struct Case {
        const char* what;
        std::function<void()> hold;
        int code;
        std::vector<std::string> named;
        double at_least, at_most;  // seconds the check takes
    };
    const Case cases[] = {
        {"nobody", [] {}, 0, {}, 0, 1},
        {"a brief hold", [&] { hold_for(host_ / "Estr.bin", 500); }, 0, {}, 0.4, 1.9},
        {"another program", [&] { hold_for(host_ / "Estr.bin", 60000); }, code::path_file_access,
         {own_program_name()}, 1.9, 4},
        {"a Windows program elsewhere", [&] { hold_as(host_ / "Estr.bin", sleep, "C:\\Upd\\OneDrive.exe"); },
         code::path_file_access, {"OneDrive.exe"}, 1.9, 4},
        {"the host", [&] { hold_as(host_ / "Estr.bin", host_ / "quintrel", "quintrel"); }, code::path_file_access,
         {}, 1.9, 4},
        {"the host through Wine, among others",
         [&] {
             hold_for(host_ / "Estr.bin", 60000);
             hold_as(host_ / "Estr.bin", sleep, "C:\\Host\\quintrel.exe");
         },
         code::path_file_access, {}, 1.9, 4},
    };
    PosixFileSystem files(prefix_);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.hold();
        const auto start = Clock::now();
        const Thrown t = thrown_by([&] { files.check_replaceable("C:\\Host\\Estr.bin"); });
        const double took = seconds_since(start);
        EXPECT_EQ(t.code, c.code);
        EXPECT_EQ(t.holders, c.named);
        EXPECT_GE(took, c.at_least);
        EXPECT_LE(took, c.at_most);
        release_holders();
    }
    EXPECT_EQ(read_whole(host_ / "Estr.bin"), old_archive_);
}

// A holder that lets go around the end of the wait is either named or gone: the host is never
// blamed for it (nobody named used to read as the host running).
TEST_F(PosixFilesTest, AHolderLettingGoAtTheEndOfTheWaitIsNeverTheHost) {
    PosixFileSystem files(prefix_);
    for (const int hold_ms : {1950, 2000, 2030, 2060, 2100}) {
        SCOPED_TRACE(hold_ms);
        hold_for(host_ / "Estr.bin", hold_ms);
        const Thrown t = thrown_by([&] { files.check_replaceable("C:\\Host\\Estr.bin"); });
        if (t.code) {
            EXPECT_EQ(t.code, code::path_file_access);
            EXPECT_THAT(t.holders, ElementsAre(own_program_name()));
        }
        release_holders();
    }
}

// Naming counts only the processes that still hold the file once named.
TEST_F(PosixFilesTest, HoldersGoneBeforeTheyAreNamedAreNotCounted) {
    hold_for(host_ / "Estr.bin", 60000);
    const pid_t live = children_.back();
    const pid_t gone = ::fork();
    ASSERT_GE(gone, 0);
    if (gone == 0) ::_exit(0);
    ASSERT_EQ(::waitpid(gone, nullptr, 0), gone);
    const fs::path file = host_ / "Estr.bin";
    struct Case {
        const char* what;
        std::vector<pid_t> seen;
        HeldBy by;
        std::vector<std::string> named;
    };
    const Case cases[] = {
        {"seen and gone", {gone}, HeldBy::nobody, {}},
        {"seen, alive, but not holding", {::getppid()}, HeldBy::nobody, {}},
        {"one gone, one holding", {gone, live}, HeldBy::others, {own_program_name()}},
        {"nobody seen", {}, HeldBy::nobody, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Holding holding = name_holders(c.seen, file, host_, prefix_);
        EXPECT_EQ(holding.by, c.by);
        EXPECT_EQ(holding.others, c.named);
    }
    EXPECT_EQ(who_holds(file, host_, prefix_).by, HeldBy::others);
    release_holders();
    EXPECT_EQ(who_holds(file, host_, prefix_).by, HeldBy::nobody);
}

// The copy waits out brief holds of its destination before it starts and before its rename.
TEST_F(PosixFilesTest, TheCopyWaitsOutBriefHoldsBeforeItStartsAndBeforeTheRename) {
    struct Case {
        const char* what;
        bool before_rename;
        int hold_ms;
        int code;
    };
    const Case cases[] = {
        {"held briefly before the copy", false, 500, 0},
        {"held briefly before the rename", true, 500, 0},
        {"held before the rename past the wait", true, 60000, code::path_file_access},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        write_whole(host_ / "Estr.bin", old_archive_);
        SystemCalls calls = posix_calls();
        bool held = false;
        if (c.before_rename) {
            const auto real = calls.fsync;
            calls.fsync = [&, real](int fd) {
                if (!held) {
                    held = true;  // the temporary's flush: the rename comes next
                    hold_for(host_ / "Estr.bin", c.hold_ms);
                }
                return real(fd);
            };
        } else {
            hold_for(host_ / "Estr.bin", c.hold_ms);
        }
        PosixFileSystem files(prefix_, calls);
        const auto start = Clock::now();
        const Thrown t = thrown_by([&] { files.copy_file("C:\\Upd\\Estr.bin", "C:\\Host\\Estr.bin"); });
        EXPECT_EQ(t.code, c.code);
        EXPECT_GE(seconds_since(start), 0.4);
        EXPECT_EQ(read_whole(host_ / "Estr.bin") == new_archive_, c.code == 0);
        if (c.code) {
            EXPECT_EQ(read_whole(host_ / "Estr.bin"), old_archive_);
            EXPECT_THAT(t.holders, ElementsAre(own_program_name()));
        }
        EXPECT_TRUE(temporaries().empty());
        release_holders();
    }
}

// What stands at a path, never opened: a FIFO does not block.
TEST_F(PosixFilesTest, FileFacts) {
    const char* tz = std::getenv("TZ");
    const std::optional<std::string> saved_tz = tz ? std::optional<std::string>(tz) : std::nullopt;
    ::setenv("TZ", "ITA-1", 1);  // one hour east of UTC, without summer time
    ::tzset();
    write_whole(host_ / "Vuoto.bin", "");
    fs::create_directories(host_ / "Cartella");
    ASSERT_EQ(::mkfifo((host_ / "coda").c_str(), 0666), 0);
    fs::create_symlink("Estr.bin", host_ / "Collegamento.bin");
    fs::create_symlink("Manca.bin", host_ / "Rotto.bin");
    const struct timespec times[2] = {{1700000000, 0}, {1700000000, 0}};  // 2023-11-14 22:13:20 UTC
    ASSERT_EQ(::utimensat(AT_FDCWD, (host_ / "Estr.bin").c_str(), times, 0), 0);
    struct Case {
        const char* path;
        std::optional<FileFacts> facts;  // modified checked only when not empty here
    };
    const Case cases[] = {
        {"C:\\Host\\Estr.bin", FileFacts{false, true, 4000, "2023-11-14 23:13:20"}},
        {"c:\\host\\ESTR.BIN", FileFacts{false, true, 4000, "2023-11-14 23:13:20"}},
        {"C:\\Host\\Collegamento.bin", FileFacts{false, true, 4000, "2023-11-14 23:13:20"}},
        {"C:\\Host\\Vuoto.bin", FileFacts{false, true, 0, ""}},
        {"C:\\Host\\Cartella", FileFacts{true, false, 0, ""}},
        {"C:\\Host\\coda", FileFacts{false, false, 0, ""}},
        {"Z:\\dev\\null", FileFacts{false, false, 0, ""}},
        {"C:\\Host\\Manca.bin", std::nullopt},
        {"C:\\Host\\Rotto.bin", std::nullopt},
        {"C:\\Manca\\Estr.bin", std::nullopt},
        {"C:\\Host\\Estr.bin\\x", std::nullopt},
        {"Q:\\Host\\Estr.bin", std::nullopt},
        {"Host\\Estr.bin", std::nullopt},
    };
    PosixFileSystem files(prefix_);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const auto facts = files.file_facts(c.path);
        ASSERT_EQ(facts.has_value(), c.facts.has_value());
        if (!facts) continue;
        EXPECT_EQ(facts->directory, c.facts->directory);
        EXPECT_EQ(facts->regular, c.facts->regular);
        EXPECT_EQ(facts->size, c.facts->size);
        if (!c.facts->modified.empty()) {
            EXPECT_EQ(facts->modified, c.facts->modified);
        }
        EXPECT_THAT(facts->modified, ::testing::MatchesRegex("[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}"));
    }
    if (saved_tz) ::setenv("TZ", saved_tz->c_str(), 1);
    else ::unsetenv("TZ");
    ::tzset();
}

struct SumCase {
    const char* what;
    std::string content;
    const char* sha256;
};

// Published test vectors (FIPS 180-2).
std::vector<SumCase> sum_cases() {
    return {
        {"empty", "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"two blocks", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"a million a", std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
}

TEST_F(PosixFilesTest, Sha256OfKnownContents) {
    PosixFileSystem files(prefix_);
    for (const SumCase& c : sum_cases()) {
        SCOPED_TRACE(c.what);
        write_whole(upd_ / "Somma.bin", c.content);
        EXPECT_EQ(files.sha256("C:\\Upd\\somma.BIN"), c.sha256);
    }
}

TEST_F(PosixFilesTest, Sha256ErrorsAreThoseOfOpenForReading) {
    fs::create_directories(host_ / "Cartella");
    ASSERT_EQ(::mkfifo((host_ / "coda").c_str(), 0666), 0);
    struct Case {
        const char* path;
        int code;
    };
    const Case cases[] = {
        {"C:\\Host\\Manca.bin", code::file_not_found},
        {"C:\\Manca\\Estr.bin", code::file_not_found},
        {"C:\\Host\\Cartella", code::file_not_found},
        {"C:\\Host\\coda", code::file_not_found},  // not a file, and never blocks
        {"Z:\\dev\\null", code::file_not_found},
        {"Q:\\Host\\Estr.bin", code::file_not_found},
    };
    PosixFileSystem files(prefix_);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const Thrown t = thrown_by([&] { files.sha256(c.path); });
        EXPECT_EQ(t.code, c.code);
        EXPECT_EQ(t.side, Side::source);
    }
    if (::geteuid() != 0) {
        fs::permissions(host_ / "Estr.bin", fs::perms::none);
        EXPECT_EQ(thrown_by([&] { files.sha256("C:\\Host\\Estr.bin"); }).code, code::permission_denied);
    }
    auto injector = std::make_shared<Injector>(Injector{"read", 1, EIO, 0});
    PosixFileSystem failing(prefix_, injected_calls(injector));
    EXPECT_EQ(thrown_by([&] { failing.sha256("C:\\Upd\\Estr.bin"); }).code, 57);
}

// The copy's report: the bytes, their SHA-256 taken while copying, where the file landed.
TEST_F(PosixFilesTest, TheCopyReportsBytesSumAndWhereTheyLanded) {
    std::vector<SumCase> cases = sum_cases();
    PosixFileSystem files(prefix_);
    // Around the chunks the copy reads and the buffers it keeps: the sum of sha256() is the reference.
    constexpr std::size_t kChunk = BackgroundSha256::kChunk, kAll = BackgroundSha256::kChunks * kChunk;
    for (const std::size_t size : {kChunk - 1, kChunk, kChunk + 1, kAll, kAll + 1, new_archive_.size()}) {
        cases.push_back({"pattern", pattern(size, 's'), nullptr});
    }
    for (const SumCase& c : cases) {
        SCOPED_TRACE(std::string(c.what) + ", " + std::to_string(c.content.size()) + " bytes");
        write_whole(upd_ / "Somma.bin", c.content);
        const std::string expected = c.sha256 ? c.sha256 : files.sha256("C:\\Upd\\Somma.bin");
        for (const char* destination : {"C:\\Host\\Nuovo.bin", "c:\\host\\estr.BIN"}) {
            const CopyReport report = files.copy_file("C:\\Upd\\Somma.bin", destination);
            EXPECT_EQ(report.bytes, c.content.size());
            EXPECT_EQ(report.sha256, expected);
            EXPECT_THAT(report.landed, ElementsAre(destination));
            EXPECT_FALSE(report.user_copy_unknown);
            EXPECT_EQ(files.sha256(destination), expected);
        }
    }
}

// Wine's DOS attributes of any length: kept exactly by a copy over the file, read by attributes().
TEST_F(PosixFilesTest, DosAttributesLongerThan256BytesAreKept) {
    // Samba's binary form, version 3: hidden in the attribute word, the rest times and padding.
    std::string value("\x03\x00\x03\x00\xff\x00\x00\x00\x02\x00\x00\x00", 12);
    value += std::string(300, '\x5a');
    if (::setxattr((host_ / "Estr.bin").c_str(), "user.DOSATTRIB", value.data(), value.size(), 0) != 0)
        GTEST_SKIP() << "no user extended attributes of this size here: " << std::strerror(errno);
    PosixFileSystem files(prefix_);
    EXPECT_EQ(files.attributes("C:\\Host\\Estr.bin").value_or(0) & file_attribute::hidden, file_attribute::hidden);
    files.copy_file("C:\\Upd\\Estr.bin", "C:\\Host\\Estr.bin");
    std::string kept(1024, '\0');
    const ssize_t n = ::getxattr((host_ / "Estr.bin").c_str(), "user.DOSATTRIB", kept.data(), kept.size());
    ASSERT_GT(n, 0);
    kept.resize(static_cast<std::size_t>(n));
    EXPECT_EQ(kept, value);
    EXPECT_EQ(read_whole(host_ / "Estr.bin"), new_archive_);
}

// keep_dos_attributes gives exactly the old file's: none where it has none.
TEST_F(PosixFilesTest, KeepDosAttributesGivesExactlyTheOldOnes) {
    const fs::path old_file = host_ / "Estr.bin", new_file = host_ / "Estr.bi_";
    struct Case {
        const char* what;
        std::optional<std::string> old_value, new_value;
    };
    const Case cases[] = {
        {"old hidden, new none", "0x2", std::nullopt},
        {"old none, new hidden", std::nullopt, "0x2"},
        {"old none, new none", std::nullopt, std::nullopt},
        {"old system, new hidden", "0x4", "0x2"},
        {"old long, new short", std::string(400, '7'), "0x2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        write_whole(old_file, "old");
        write_whole(new_file, "new");
        if (c.old_value &&
            ::setxattr(old_file.c_str(), "user.DOSATTRIB", c.old_value->data(), c.old_value->size(), 0) != 0)
            GTEST_SKIP() << "no user extended attributes here: " << std::strerror(errno);
        if (c.new_value) {
            ASSERT_EQ(::setxattr(new_file.c_str(), "user.DOSATTRIB", c.new_value->data(), c.new_value->size(), 0), 0);
        }
        const int fd = ::open(new_file.c_str(), O_RDONLY);
        ASSERT_GE(fd, 0);
        EXPECT_TRUE(keep_dos_attributes(fd, old_file));
        ::close(fd);
        std::string now(1024, '\0');
        const ssize_t n = ::getxattr(new_file.c_str(), "user.DOSATTRIB", now.data(), now.size());
        EXPECT_EQ(n >= 0 ? std::optional<std::string>(now.substr(0, static_cast<std::size_t>(n))) : std::nullopt,
                  c.old_value);
        fs::remove(old_file);
        fs::remove(new_file);
    }
}

}  // namespace
}  // namespace aggiorna::portable
