// The kit's Google Test programs: each run to its end or to its bound, its output passed through
// as it comes, and its verdict taken from its exit status first and its own count lines after.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/windows/win.h"

namespace kit {

struct ProgramResult {
    int passed = 0;
    int failed = 0;
    std::vector<std::string> failed_tests;  // as the program names them
    std::vector<std::string> skipped_tests;
    // Why the program counts as failing beyond its own count: its exit status, a crash, no
    // summary, its bound. Each makes it at least one failure.
    std::vector<std::string> problems;
};

// The verdict from what a program printed and how it ended. The counts come from Google Test's
// count lines only ("[  PASSED  ] N tests.", "[  FAILED  ] N tests, listed below:",
// "[  SKIPPED ] N tests, listed below:"), never from a line naming a test; the names listed after
// them are kept for the report. An exit status other than 0 is a failure whatever was printed.
// `exit_status` is nullopt when the program did not end by itself: `why_not` says why.
ProgramResult verdict(const std::string& output, std::optional<DWORD> exit_status, const std::string& why_not = {});

// Runs `exe` with `arguments` in its own folder, inside the kit's job, its output and errors
// passed through to the runner's output. Past `bound_ms`, or when the kit is asked to stop, it is
// ended and counts as failed.
ProgramResult run_test_program(const std::wstring& exe, const std::wstring& arguments, DWORD bound_ms);

}  // namespace kit
