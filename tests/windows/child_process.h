// This test program started again as a child process that runs one disabled test, for the tests
// that need another process (a holder, a killed copy, a second run).
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/windows/handles.h"
#include "platform/windows/win.h"

namespace aggiorna::windows::test_children {

// Starts this program with --gtest_filter=`test` (a DISABLED_ one), with `variables` in its
// environment (a null value: left out), and returns its process; empty when it cannot start.
inline ScopedHandle start_child_test(const std::wstring& test,
                                     const std::vector<std::pair<std::wstring, const wchar_t*>>& variables) {
    wchar_t self[MAX_PATH] = {};
    if (GetModuleFileNameW(nullptr, self, MAX_PATH) == 0) return {};
    std::wstring command = L"\"" + std::wstring(self) + L"\" --gtest_also_run_disabled_tests --gtest_filter=" + test;
    for (const auto& [name, value] : variables) SetEnvironmentVariableW(name.c_str(), value);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child = {};
    const BOOL started =
        CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child);
    for (const auto& variable : variables) SetEnvironmentVariableW(variable.first.c_str(), nullptr);
    if (!started) return {};
    CloseHandle(child.hThread);
    return ScopedHandle(child.hProcess);
}

// Ends a child and waits for it to be gone.
inline void kill_child(const ScopedHandle& child) {
    TerminateProcess(child.get(), 9);
    WaitForSingleObject(child.get(), 10000);
}

}  // namespace aggiorna::windows::test_children
