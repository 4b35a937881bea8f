// The kit's job object, the processes kept by their handle beside it, and a watch thread for the
// scenarios' bound.
#include "processes.h"

#include <atomic>
#include <vector>

namespace kit {
namespace {

HANDLE job = nullptr;
// Processes outside the job, ended by their handle. Guarded: the console's handler runs on a
// thread of its own.
CRITICAL_SECTION kept_lock;
std::vector<HANDLE> kept;
std::atomic<ULONGLONG> deadline{0};
std::atomic<bool> deadline_passed{false};
std::atomic<bool> stopping{false};

void keep(HANDLE process) {
    HANDLE copy = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), process, GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
        return;
    }
    EnterCriticalSection(&kept_lock);
    // Those that ended are let go, so that the list stays short.
    std::erase_if(kept, [](HANDLE h) {
        if (WaitForSingleObject(h, 0) != WAIT_OBJECT_0) return false;
        CloseHandle(h);
        return true;
    });
    kept.push_back(copy);
    LeaveCriticalSection(&kept_lock);
}

DWORD WINAPI watch(void*) {
    for (;;) {
        const ULONGLONG until = deadline.load();
        if (until != 0 && GetTickCount64() > until && !deadline_passed.exchange(true)) end_all_processes();
        Sleep(200);
    }
}

}  // namespace

bool open_job() {
    InitializeCriticalSection(&kept_lock);
    job = CreateJobObjectW(nullptr, nullptr);
    if (job != nullptr) {
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
            CloseHandle(job);
            job = nullptr;
        }
    }
    if (HANDLE thread = CreateThread(nullptr, 0, watch, nullptr, 0, nullptr)) CloseHandle(thread);
    return job != nullptr;
}

void adopt(HANDLE process) {
    if (job != nullptr && AssignProcessToJobObject(job, process)) return;
    keep(process);
}

bool create_in_job(const std::wstring& exe, std::wstring command, const std::wstring& folder, STARTUPINFOW& startup,
                   bool inherit_handles, PROCESS_INFORMATION& info) {
    if (!CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, inherit_handles ? TRUE : FALSE, CREATE_SUSPENDED,
                        nullptr, folder.empty() ? nullptr : folder.c_str(), &startup, &info)) {
        return false;
    }
    adopt(info.hProcess);
    ResumeThread(info.hThread);
    return true;
}

void end_all_processes() {
    if (job != nullptr) TerminateJobObject(job, 1);
    EnterCriticalSection(&kept_lock);
    for (HANDLE process : kept) TerminateProcess(process, 1);
    LeaveCriticalSection(&kept_lock);
}

void set_scenario_deadline(ULONGLONG until) {
    deadline = 0;
    deadline_passed = false;
    deadline = until;
}

bool scenario_deadline_passed() { return deadline_passed.load(); }

void request_stop() {
    stopping = true;
    end_all_processes();
}

bool stop_requested() { return stopping.load(); }

}  // namespace kit
