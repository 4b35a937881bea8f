// The log of one run of the program, as the runner finds it after a scenario and checks what the
// boxes cannot show: where each copy landed, the elevation and virtualization the program saw, and
// the exit code it ended with.
#pragma once

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/windows/win.h"
#include "scenarios.h"

namespace kit {

struct ProgramLog {
    std::string elevated;     // "run as administrator: ..." as written ("yes", "no", ...)
    std::string virtualized;  // "virtualized (UAC): ..."
    std::optional<int> exit_code;         // "end: exit code N (...)"
    std::vector<std::wstring> written_to;  // every path of a "written to "..."" of a copy, in order
};

// What the log's UTF-8 text says.
ProgramLog read_program_log(const std::string& text);

// The log of the run of process `process_id` in `folder` (one of the program's run logs, named
// with that process id, not among `before`); empty when there is none.
std::wstring log_of_process(const std::wstring& folder, DWORD process_id, const std::vector<std::wstring>& before);

// What the program must have seen of itself.
struct RunSeen {
    std::string elevated;
    std::string virtualized;
};

// What differs between the log and the scenario: the exit code, what the program saw, and where
// the copies landed (every path of `landed`, or of `written` where the row names none, exactly
// once, and nothing else; paths compared without regard to case or doubled backslashes).
std::vector<std::string> check_program_log(const ProgramLog& log, const Scenario& s, const RunSeen& seen);

}  // namespace kit
