// Every process the kit starts, held in one job object so that none outlives the kit, the bound
// on each scenario, and the request to stop that Ctrl+C or a closed console makes.
#pragma once

#include <string>

#include "platform/windows/win.h"

namespace kit {

// Makes the job: its processes end when its last handle closes, so also when the runner itself is
// killed (Task Manager, a power cut ends them anyway). Starts the watch over the scenarios' bound.
// False when the job cannot be made: the kit then ends each process it started by its handle.
bool open_job();

// Puts a process the kit started into the job. One that cannot join it (already in another job
// on Windows 7, which nests no jobs, or started by the shell inside a job of its own) is kept by
// its handle and ended with the others. `process` stays the caller's.
void adopt(HANDLE process);

// CreateProcessW, the process put into the job before its first instruction runs. The caller owns
// the handles in `info`.
bool create_in_job(const std::wstring& exe, std::wstring command, const std::wstring& folder, STARTUPINFOW& startup,
                   bool inherit_handles, PROCESS_INFORMATION& info);

// Ends every process of the job and every one kept by its handle.
void end_all_processes();

// The bound of the scenario that runs now: past `deadline` (GetTickCount64), every process the kit
// started is ended, so that every wait of the scenario ends too. 0: no scenario runs.
void set_scenario_deadline(ULONGLONG deadline);
// Whether the bound of the scenario that ran last was reached.
bool scenario_deadline_passed();

// Ctrl+C, Ctrl+Break or a closed console asked the kit to stop: every process it started is
// ended at once, and the runner stops before its next step.
void request_stop();
bool stop_requested();

}  // namespace kit
