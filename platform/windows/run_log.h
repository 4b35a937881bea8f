// The run's log of the Windows build: one file per run under the desktop user's
// %LOCALAPPDATA%\Aggiorna Archivio, the last runs' kept.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "platform/windows/handles.h"
#include "platform/windows/win.h"

namespace aggiorna::windows {

// How many runs' logs are kept.
inline constexpr std::size_t kRunLogsKept = 20;

// The name of a run's log: "AggiornaArchivio-YYYYMMDD-HHMMSS-mmm-<process id>.log", the run's
// start in universal time (so that names sort by time whatever the clock's zone and its summer
// time), to the millisecond.
std::string run_log_name(const SYSTEMTIME& utc, DWORD process_id);
// Whether a file name is one of those (and so one the rotation may remove).
bool is_run_log_name(std::string_view name);
// Removes the oldest run logs of `folder` (by name) beyond the last `kept`; no other file.
void keep_last_run_logs(const std::string& folder, std::size_t kept);

class FileRunLog final : public RunLog {
public:
    // The desktop user's %LOCALAPPDATA%\Aggiorna Archivio (the user whose VirtualStore the run
    // looks after); this run's own where that user's folders cannot be had.
    FileRunLog();
    // Logs into `folder`, made when missing; no log at all when empty.
    explicit FileRunLog(std::string folder);

    // The file is made at the first line, and each line is appended (UTF-8, CR LF) and handed to
    // Windows at once (FILE_APPEND_DATA): a crash keeps what was written. Never throws: a folder
    // that cannot be made or written leaves the lines out.
    void write_line(std::string_view line) noexcept override;
    // The log's path once its file exists; empty before the first line and when it cannot be made.
    std::string where() override { return file_.valid() ? path_ : std::string(); }

private:
    bool open();

    std::string folder_;
    std::string name_;
    std::string path_;
    ScopedHandle file_;
    bool tried_ = false;
};

}  // namespace aggiorna::windows
