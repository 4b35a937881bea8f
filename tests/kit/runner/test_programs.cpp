// A test program through a pipe, read without blocking so that its bound holds even while it
// prints nothing, and Google Test's closing lines read back.
#include "test_programs.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "platform/windows/handles.h"
#include "platform/windows/text.h"
#include "processes.h"

namespace kit {
namespace {

using aggiorna::windows::ScopedHandle;
using aggiorna::windows::to_utf8;

// "N test." / "N tests." after a mark, or "N test(s), listed below:": the number, when the rest of
// the line is exactly that.
std::optional<int> count_in(const std::string& rest, bool listed) {
    std::size_t digits = 0;
    while (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9') ++digits;
    if (digits == 0 || digits > 9) return std::nullopt;
    const std::string tail = rest.substr(digits);
    const bool matches = listed ? tail == " test, listed below:" || tail == " tests, listed below:"
                                : tail == " test." || tail == " tests.";
    if (!matches) return std::nullopt;
    return std::stoi(rest.substr(0, digits));
}

std::string hex(DWORD value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(value));
    return text;
}

}  // namespace

ProgramResult verdict(const std::string& output, std::optional<DWORD> exit_status, const std::string& why_not) {
    static const std::string kPassed = "[  PASSED  ] ", kFailed = "[  FAILED  ] ", kSkipped = "[  SKIPPED ] ";
    std::optional<int> passed, failed, skipped;
    ProgramResult result;
    // The two counts followed by the names they count.
    struct Listed {
        const std::string& mark;
        std::optional<int>& count;
        std::vector<std::string>& names;
    };
    const Listed listed[] = {{kFailed, failed, result.failed_tests}, {kSkipped, skipped, result.skipped_tests}};
    const Listed* listing = nullptr;  // the list that follows the last count line read
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const auto rest_after = [&](const std::string& mark) {
            return line.compare(0, mark.size(), mark) == 0 ? std::optional(line.substr(mark.size())) : std::nullopt;
        };
        const Listed* next = nullptr;
        if (const auto rest = rest_after(kPassed)) {
            if (const auto n = count_in(*rest, false)) passed = n;
        }
        for (const Listed& list : listed) {
            const auto rest = rest_after(list.mark);
            if (!rest) continue;
            if (const auto n = count_in(*rest, true)) {
                list.count = n;
                list.names.clear();
                next = &list;
            } else if (listing == &list) {
                list.names.push_back(*rest);
                next = &list;
            }
        }
        listing = next;
    }
    result.passed = passed.value_or(0);
    result.failed = failed.value_or(0);
    if (!exit_status) {
        result.problems.push_back(why_not);
    } else if (*exit_status >= 0xC0000000) {
        result.problems.push_back("crashed (status " + hex(*exit_status) + ")");
    } else if (*exit_status != 0) {
        result.problems.push_back("ended with exit status " + std::to_string(*exit_status));
    } else if (!passed) {
        result.problems.push_back("ended without its count line (\"[  PASSED  ] N tests.\")");
    } else if (result.failed > 0) {
        result.problems.push_back("counted " + std::to_string(result.failed) + " failed tests but ended with exit status 0");
    }
    if (!result.problems.empty()) result.failed = std::max(result.failed, 1);
    // Skipped tests are named only where the program counted them.
    if (!skipped) result.skipped_tests.clear();
    return result;
}

ProgramResult run_test_program(const std::wstring& exe, const std::wstring& arguments, DWORD bound_ms) {
    const std::wstring folder = exe.substr(0, exe.find_last_of(L'\\'));
    if (GetFileAttributesW(exe.c_str()) == INVALID_FILE_ATTRIBUTES) {
        return verdict("", std::nullopt, "is not in the kit");
    }
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE read_end = nullptr, write_end = nullptr;
    if (!CreatePipe(&read_end, &write_end, &inherit, 0)) return verdict("", std::nullopt, "no pipe for its output");
    const ScopedHandle reading(read_end);
    ScopedHandle writing(write_end);
    SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = startup.hStdError = write_end;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION info = {};
    // A program that crashes ends at once with its status, instead of waiting on an error dialog
    // that nobody answers (the mode is inherited by the programs a process starts).
    const UINT mode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    const bool started = create_in_job(exe, L"\"" + exe + L"\"" + (arguments.empty() ? L"" : L" " + arguments), folder,
                                       startup, true, info);
    const DWORD error = GetLastError();
    SetErrorMode(mode);
    if (!started) return verdict("", std::nullopt, "did not start (error " + std::to_string(error) + ")");
    const ScopedHandle process(info.hProcess);
    CloseHandle(info.hThread);
    writing.close();

    std::string output;
    const auto drain = [&] {
        char buffer[4096];
        DWORD available = 0, got = 0;
        bool any = false;
        while (PeekNamedPipe(read_end, nullptr, 0, nullptr, &available, nullptr) && available > 0 &&
               ReadFile(read_end, buffer, std::min<DWORD>(available, sizeof buffer), &got, nullptr) && got > 0) {
            output.append(buffer, got);
            std::fwrite(buffer, 1, got, stdout);
            any = true;
        }
        if (any) std::fflush(stdout);
    };
    const ULONGLONG give_up = GetTickCount64() + bound_ms;
    std::string why_not;
    for (;;) {
        drain();
        // A program that ended is read to the end of what it wrote, not to the end of the pipe:
        // a process it left behind may hold the pipe open.
        if (WaitForSingleObject(process.get(), 20) == WAIT_OBJECT_0) break;
        if (stop_requested()) why_not = "stopped with the kit";
        else if (GetTickCount64() > give_up) why_not = "ran past its bound of " + std::to_string(bound_ms / 1000) + " s: ended by the kit";
        if (!why_not.empty()) {
            TerminateProcess(process.get(), 1);
            WaitForSingleObject(process.get(), 5000);
            break;
        }
    }
    drain();
    if (!output.empty() && output.back() != '\n') std::printf("\n");
    DWORD status = 0;
    if (!why_not.empty() || !GetExitCodeProcess(process.get(), &status)) {
        return verdict(output, std::nullopt, why_not.empty() ? "its exit status cannot be read" : why_not);
    }
    return verdict(output, status);
}

}  // namespace kit
