// FileRunLog: the folder, the file of one run, its lines, and the removal of old runs' files.
#include "platform/portable/run_log.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

namespace aggiorna::portable {
namespace fs = std::filesystem;

namespace {

constexpr std::string_view kStart = "aggiorna-";
constexpr std::string_view kEnd = ".log";

bool digits(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// "aggiorna-YYYYMMDDTHHMMSS.mmmZ-PID.log" for a start and a pid.
std::string log_name(std::chrono::system_clock::time_point start, pid_t pid) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(start.time_since_epoch()).count();
    const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    std::tm utc{};
    char stamp[32] = "00000000T000000";
    if (::gmtime_r(&seconds, &utc)) std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%S", &utc);
    char name[96];
    std::snprintf(name, sizeof name, "%s%s.%03dZ-%ld%s", kStart.data(), stamp, static_cast<int>(ms % 1000),
                  static_cast<long>(pid), kEnd.data());
    return name;
}

// Makes `folder` and any missing folder above it with mode 0700. False when it is not a folder
// afterwards.
bool make_folder(const fs::path& folder) {
    struct stat st;
    if (::stat(folder.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    if (errno != ENOENT || folder == folder.parent_path()) return false;
    if (!make_folder(folder.parent_path())) return false;
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
    return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Removes the oldest logs of the folder beyond the last `kept` (names sort by time).
void remove_old_logs(const fs::path& folder, std::size_t kept) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return;
    std::vector<std::string> logs;
    while (const dirent* entry = ::readdir(dir)) {
        if (FileRunLog::is_log_name(entry->d_name)) logs.emplace_back(entry->d_name);
    }
    if (logs.size() > kept) {
        std::sort(logs.begin(), logs.end());
        for (std::size_t i = 0; i + kept < logs.size(); ++i) ::unlinkat(::dirfd(dir), logs[i].c_str(), 0);
    }
    ::closedir(dir);
}

}  // namespace

std::optional<fs::path> run_log_folder() {
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state && state[0] == '/') return fs::path(state) / "aggiorna-archivio";
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/') return fs::path(home) / ".local" / "state" / "aggiorna-archivio";
    return std::nullopt;
}

FileRunLog::FileRunLog()
    : FileRunLog(run_log_folder().value_or(fs::path()), std::chrono::system_clock::now(), ::getpid()) {}

FileRunLog::FileRunLog(fs::path folder, std::chrono::system_clock::time_point start, pid_t pid)
    : folder_(std::move(folder)), name_(log_name(start, pid)) {}

FileRunLog::~FileRunLog() {
    if (fd_ >= 0) ::close(fd_);
}

bool FileRunLog::is_log_name(std::string_view name) {
    // aggiorna-YYYYMMDDTHHMMSS.mmmZ-PID.log
    if (!name.starts_with(kStart) || !name.ends_with(kEnd)) return false;
    name.remove_prefix(kStart.size());
    name.remove_suffix(kEnd.size());
    return name.size() > 21 && digits(name.substr(0, 8)) && name[8] == 'T' && digits(name.substr(9, 6)) &&
           name[15] == '.' && digits(name.substr(16, 3)) && name.substr(19, 2) == "Z-" && digits(name.substr(21));
}

void FileRunLog::open_file() noexcept {
    tried_ = true;
    try {
        if (folder_.empty() || !make_folder(folder_)) return;
        const fs::path file = folder_ / name_;
        const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) return;
        fd_ = fd;
        file_ = file;
        remove_old_logs(folder_, kKept);
    } catch (...) {
        // Out of memory for a path: no log, as for a folder that cannot be written.
    }
}

void FileRunLog::write_line(std::string_view line) noexcept {
    if (!tried_) open_file();
    if (fd_ < 0) return;
    try {
        std::string text;
        text.reserve(line.size() + 1);
        text.append(line);
        text += '\n';
        for (std::size_t done = 0; done < text.size();) {
            const ssize_t n = ::write(fd_, text.data() + done, text.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return;  // disk full or worse: the line is lost
            done += static_cast<std::size_t>(n);
        }
    } catch (...) {
        // Out of memory for the line: it is lost.
    }
}

std::string FileRunLog::where() noexcept {
    try {
        return file_.string();
    } catch (...) {
        return {};
    }
}

}  // namespace aggiorna::portable
