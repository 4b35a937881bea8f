// Tests of PosixProcess: the single-run lock on the prefix, held by other processes, and the run's
// facts.
#include "platform/portable/posix_process.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace aggiorna::portable {
namespace {

namespace fs = std::filesystem;

class PosixProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string dir = (fs::temp_directory_path() / "posix_process_test.XXXXXX").string();
        ASSERT_NE(::mkdtemp(dir.data()), nullptr);
        root_ = dir;
        prefix_ = root_ / "pfx";
        fs::create_directories(prefix_);
    }
    void TearDown() override {
        end_child();
        fs::remove_all(root_);
    }

    // A child process that claims the prefix as a run does (its own PosixProcess) and keeps it
    // until it ends; returns whether the child got it.
    bool child_claims() {
        int ready[2];
        EXPECT_EQ(::pipe(ready), 0);
        child_ = ::fork();
        EXPECT_GE(child_, 0);
        if (child_ == 0) {
            PosixProcess run(prefix_);
            const char got = run.claim_single_run() ? 'y' : 'n';
            (void)!::write(ready[1], &got, 1);
            ::pause();
            ::_exit(0);
        }
        ::close(ready[1]);
        char got = 0;
        EXPECT_EQ(::read(ready[0], &got, 1), 1);
        ::close(ready[0]);
        return got == 'y';
    }
    void end_child() {
        if (child_ <= 0) return;
        ::kill(child_, SIGKILL);
        ::waitpid(child_, nullptr, 0);
        child_ = -1;
    }

    fs::path root_, prefix_;
    pid_t child_ = -1;
};

TEST_F(PosixProcessTest, OneRunAtATimePerPrefix) {
    ASSERT_TRUE(child_claims());
    PosixProcess run(prefix_);
    EXPECT_FALSE(run.claim_single_run());
    EXPECT_FALSE(run.claim_single_run());
    // Another prefix is another machine's worth of hosts: not guarded by this lock.
    fs::create_directories(root_ / "altro");
    EXPECT_TRUE(PosixProcess(root_ / "altro").claim_single_run());
    // A run killed while it held the lock does not block the next.
    end_child();
    EXPECT_TRUE(run.claim_single_run());
    EXPECT_TRUE(run.claim_single_run());  // already this run's
    EXPECT_FALSE(child_claims());
}

TEST_F(PosixProcessTest, TheLockIsHeldUntilTheObjectGoes) {
    {
        PosixProcess run(prefix_);
        ASSERT_TRUE(run.claim_single_run());
        EXPECT_FALSE(child_claims());
        end_child();
    }
    EXPECT_TRUE(child_claims());
}

// Nothing to guard, or no way to: the run goes on.
TEST_F(PosixProcessTest, NoPrefixFolderIsNothingToGuard) {
    std::ofstream(root_ / "file") << "x";
    for (const fs::path& prefix : {root_ / "manca", root_ / "file", root_ / "manca" / "sotto"}) {
        SCOPED_TRACE(prefix);
        EXPECT_TRUE(PosixProcess(prefix).claim_single_run());
    }
}

TEST_F(PosixProcessTest, Facts) {
    struct utsname names {};
    ASSERT_EQ(::uname(&names), 0);
    const std::string machine = std::string(names.sysname) + " " + names.release + " " + names.machine;
    const std::string bits = std::to_string(sizeof(void*) * 8);
    const passwd* account = ::getpwuid(::geteuid());
    ASSERT_NE(account, nullptr);
    struct Case {
        const char* what;
        const char* system_reg;  // nullptr: none
        std::string arch;
    };
    const Case cases[] = {
        {"win64", "WINE REGISTRY Version 2\n\n#arch=win64\n", " (win64)"},
        {"win32", "WINE REGISTRY Version 2\n\n#arch=win32\n", " (win32)"},
        {"no arch line", "WINE REGISTRY Version 2\n", " (win32)"},
        {"no registry", nullptr, " (no registry)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(prefix_ / "system.reg");
        if (c.system_reg) std::ofstream(prefix_ / "system.reg") << c.system_reg;
        PosixProcess run(prefix_);
        const RunFacts facts = run.facts();
        EXPECT_EQ(facts.program, std::string("AggiornaArchivio ") + AGGIORNA_VERSION + " (portable, " + bits + "-bit)");
        EXPECT_EQ(facts.system, machine + ", Wine prefix " + prefix_.string() + c.arch);
        EXPECT_EQ(facts.elevated, std::nullopt);
        EXPECT_EQ(facts.virtualized, std::nullopt);
        EXPECT_EQ(facts.user, account->pw_name);
    }
}

// The exit code reaches the parent, and what was printed before the end is not lost.
TEST_F(PosixProcessTest, EndProcessExitsWithTheCode) {
    for (const int code : {0, 5, 10}) {
        SCOPED_TRACE(code);
        int out[2];
        ASSERT_EQ(::pipe(out), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::dup2(out[1], STDOUT_FILENO);
            std::printf("fine");
            PosixProcess(prefix_).end_process(code);
        }
        ::close(out[1]);
        char text[16] = {};
        const ssize_t n = ::read(out[0], text, sizeof text - 1);
        ::close(out[0]);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), code);
        EXPECT_EQ(std::string(text, n > 0 ? static_cast<std::size_t>(n) : 0), "fine");
    }
}

}  // namespace
}  // namespace aggiorna::portable
