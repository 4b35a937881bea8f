// The kit runner's decisions on tables of cases: a test program's verdict from its output and exit
// status, and whether a standard user's run through the desktop shell can show what it claims.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "tests/kit/runner/system_facts.h"
#include "tests/kit/runner/test_programs.h"

namespace kit {
namespace {

TEST(Verdict, ComesFromTheExitStatusAndTheCountLinesOnly) {
    const std::string failing =
        "[ RUN      ] A.Ok\n[       OK ] A.Ok (0 ms)\n[ RUN      ] A.Ko\n[  FAILED  ] A.Ko (1 ms)\n"
        "[==========] 2 tests from 1 test suite ran. (1 ms total)\n[  PASSED  ] 1 test.\n"
        "[  FAILED  ] 1 test, listed below:\n[  FAILED  ] A.Ko\n\n 1 FAILED TEST\n";
    const struct {
        const char* what;
        std::string output;
        std::optional<DWORD> status;
        int passed, failed;
        const char* problem;  // a part of the one problem expected; empty: none
        std::vector<std::string> failed_tests;
    } cases[] = {
        {"all passed", "[==========] 3 tests ran.\n[  PASSED  ] 3 tests.\n", 0, 3, 0, "", {}},
        {"one test, CR LF", "[  PASSED  ] 1 test.\r\n", 0, 1, 0, "", {}},
        {"a failing test", failing, 1, 1, 1, "ended with exit status 1", {"A.Ko"}},
        // The last FAILED line names a test: it counts nothing, the status decides.
        {"failures named, never counted", "[ RUN      ] A.Ko\n[  FAILED  ] A.Ko (1 ms)\n", 1, 0, 1,
         "ended with exit status 1", {}},
        {"a clean summary and a failing status", "[  PASSED  ] 2 tests.\n", 1, 2, 1, "ended with exit status 1", {}},
        {"a crash", "[ RUN      ] A.Crash\n", 0xC0000005, 0, 1, "crashed (status 0xC0000005)", {}},
        {"no count line", "[ RUN      ] A.Ok\n[       OK ] A.Ok (0 ms)\n", 0, 0, 1, "without its count line", {}},
        {"failures counted and status 0", "[  PASSED  ] 1 test.\n[  FAILED  ] 2 tests, listed below:\n[  FAILED  ] A.X\n"
         "[  FAILED  ] A.Y\n", 0, 1, 2, "counted 2 failed tests but ended with exit status 0", {"A.X", "A.Y"}},
        {"a count line inside another line", "note: [  PASSED  ] 5 tests.\n", 0, 0, 1, "without its count line", {}},
        {"a count line with more after it", "[  PASSED  ] 5 tests. (and some)\n", 0, 0, 1, "without its count line", {}},
        {"past its bound", "[  PASSED  ] 1 test.\n", std::nullopt, 1, 1, "ran past its bound", {}},
    };
    for (const auto& c : cases) {
        const ProgramResult r = verdict(c.output, c.status, "ran past its bound of 5 s");
        EXPECT_EQ(r.passed, c.passed) << c.what;
        EXPECT_EQ(r.failed, c.failed) << c.what;
        EXPECT_EQ(r.failed_tests, c.failed_tests) << c.what;
        if (*c.problem == '\0') {
            EXPECT_TRUE(r.problems.empty()) << c.what << ": " << (r.problems.empty() ? "" : r.problems[0]);
        } else {
            ASSERT_EQ(r.problems.size(), 1u) << c.what;
            EXPECT_NE(r.problems[0].find(c.problem), std::string::npos) << c.what << ": " << r.problems[0];
        }
    }
}

TEST(Verdict, NamesTheSkippedTestsItCounted) {
    const ProgramResult r = verdict(
        "[  PASSED  ] 1 test.\n[  SKIPPED ] 2 tests, listed below:\n[  SKIPPED ] A.X\n[  SKIPPED ] A.Y\n\n", 0);
    EXPECT_EQ(r.skipped_tests, (std::vector<std::string>{"A.X", "A.Y"}));
    EXPECT_EQ(r.failed, 0);
    // A skip printed while the tests run is no count: nothing is named from it.
    EXPECT_TRUE(verdict("[  SKIPPED ] A.X (0 ms)\n[  PASSED  ] 0 tests.\n", 0).skipped_tests.empty());
}

TEST(StandardUserRun, RunsOnlyThroughTheRunnersOwnUserWithAFilteredShellToken) {
    TokenFacts admin;
    admin.user = {1, 1, 0, 0, 0, 0, 0, 5, 21, 0, 0, 0, 1, 0, 0, 0};
    admin.user_name = "PC\\vendor";
    admin.elevation_type = TokenElevationTypeFull;
    admin.elevated = true;
    TokenFacts filtered = admin;
    filtered.elevation_type = TokenElevationTypeLimited;
    filtered.elevated = false;
    filtered.virtualization_allowed = true;
    const auto shell = [](std::optional<TokenFacts> token, DWORD id = 1234) { return ShellFacts{id, std::move(token)}; };
    TokenFacts other = filtered;
    other.user.back() = 9;
    other.user_name = "PC\\other";
    TokenFacts elevated_shell = admin;
    TokenFacts unfiltered_shell = filtered;
    unfiltered_shell.elevation_type = TokenElevationTypeDefault;
    TokenFacts no_virtualization = filtered;
    no_virtualization.virtualization_allowed = false;
    TokenFacts runner_not_elevated = filtered;

    const struct {
        const char* what;
        bool uac;
        TokenFacts runner;
        ShellFacts shell;
        const char* reason;  // a part of the reason expected; empty: it can run
    } cases[] = {
        {"as it should be", true, admin, shell(filtered), ""},
        {"UAC off", false, admin, shell(filtered), "UAC is off"},
        {"a runner not elevated", true, runner_not_elevated, shell(filtered), "not elevated"},
        {"no shell", true, admin, shell(std::nullopt, 0), "no desktop shell"},
        {"a shell whose token cannot be read", true, admin, shell(std::nullopt), "cannot be read"},
        {"a shell of another user", true, admin, shell(other), "runs as PC\\other, the runner as PC\\vendor"},
        {"an elevated shell", true, admin, shell(elevated_shell), "not a filtered (limited) one"},
        {"a shell with an unfiltered token", true, admin, shell(unfiltered_shell), "not a filtered (limited) one"},
        {"virtualization not allowed", true, admin, shell(no_virtualization), "does not allow UAC virtualization"},
    };
    for (const auto& c : cases) {
        const std::string reason = standard_user_unavailable(c.uac, c.runner, c.shell);
        if (*c.reason == '\0') {
            EXPECT_EQ(reason, "") << c.what;
        } else {
            EXPECT_NE(reason.find(c.reason), std::string::npos) << c.what << ": \"" << reason << "\"";
        }
    }
}

}  // namespace
}  // namespace kit
