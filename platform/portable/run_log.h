// The run's log of the portable build: one file per run under $XDG_STATE_HOME/aggiorna-archivio.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace aggiorna::portable {

// One text file per run in the log folder, named by the run's start (UTC, to the millisecond) and
// its pid, so that names sort by time: "aggiorna-20261211T120304.123Z-4567.log". The file is
// made (O_EXCL, mode 0600) at the first line, and each line is appended with its "\n" in one
// write (O_APPEND) at once: a run that crashes keeps what it wrote. Once the file is made, the
// oldest logs of this pattern beyond the last kKept runs' are removed; other files in the folder
// are never touched. Nothing here throws or changes the run: a folder that cannot be made or
// written (read-only, a file in its place, no HOME) leaves the lines out, silently.
class FileRunLog final : public RunLog {
public:
    static constexpr std::size_t kKept = 20;
    // The folder: $XDG_STATE_HOME/aggiorna-archivio when XDG_STATE_HOME is an absolute path, else
    // $HOME/.local/state/aggiorna-archivio; none without either. Missing folders on the way are
    // made with mode 0700, as the XDG base directory rules ask.
    FileRunLog();
    // A log in `folder` (empty: none), started at `start` by process `pid`: for tests.
    FileRunLog(std::filesystem::path folder, std::chrono::system_clock::time_point start, pid_t pid);
    ~FileRunLog() override;
    FileRunLog(const FileRunLog&) = delete;
    FileRunLog& operator=(const FileRunLog&) = delete;

    void write_line(std::string_view line) noexcept override;
    // The file once the first line made it; empty before that, and when it could not be made.
    std::string where() noexcept override;

    // Whether `name` is a log file's name of this program.
    static bool is_log_name(std::string_view name);

private:
    void open_file() noexcept;

    std::filesystem::path folder_;
    std::string name_;
    std::filesystem::path file_;  // set once the file is made
    int fd_ = -1;
    bool tried_ = false;
};

// The log folder the environment gives (see FileRunLog()); nullopt without one.
std::optional<std::filesystem::path> run_log_folder();

}  // namespace aggiorna::portable
