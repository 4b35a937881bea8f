// The run's log over CreateDirectoryW, CreateFileW (FILE_APPEND_DATA) and WriteFile.
#include "platform/windows/run_log.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "platform/windows/desktop_user.h"
#include "platform/windows/paths.h"
#include "platform/windows/text.h"

namespace aggiorna::windows {
namespace {

constexpr std::string_view kPrefix = "AggiornaArchivio-";
constexpr std::string_view kSuffix = ".log";

std::string default_folder() {
    UserFolder local = desktop_user_folder_of(CSIDL_LOCAL_APPDATA, system_desktop_user_queries());
    if (local.path.empty()) local.path = user_folder(CSIDL_LOCAL_APPDATA, nullptr);
    return local.path.empty() ? std::string() : local.path + "\\Aggiorna Archivio";
}

bool digits(std::string_view text, std::size_t count) {
    return text.size() == count && text.find_first_not_of("0123456789") == std::string_view::npos;
}

}  // namespace

std::string run_log_name(const SYSTEMTIME& utc, DWORD process_id) {
    char name[96];
    std::snprintf(name, sizeof name, "AggiornaArchivio-%04u%02u%02u-%02u%02u%02u-%03u-%lu.log", unsigned{utc.wYear},
                  unsigned{utc.wMonth}, unsigned{utc.wDay}, unsigned{utc.wHour}, unsigned{utc.wMinute},
                  unsigned{utc.wSecond}, unsigned{utc.wMilliseconds}, static_cast<unsigned long>(process_id));
    return name;
}

bool is_run_log_name(std::string_view name) {
    if (!name.starts_with(kPrefix) || !name.ends_with(kSuffix)) return false;
    const std::string_view middle = name.substr(kPrefix.size(), name.size() - kPrefix.size() - kSuffix.size());
    // YYYYMMDD-HHMMSS-mmm-pid
    if (middle.size() < 21 || middle[8] != '-' || middle[15] != '-' || middle[19] != '-') return false;
    return digits(middle.substr(0, 8), 8) && digits(middle.substr(9, 6), 6) && digits(middle.substr(16, 3), 3) &&
           digits(middle.substr(20), middle.size() - 20);
}

void keep_last_run_logs(const std::string& folder, std::size_t kept) {
    const std::wstring base = with_plain_separators(to_wide_lossy(folder)) + L"\\";
    std::vector<std::wstring> logs;
    WIN32_FIND_DATAW found;
    const ScopedFind search(FindFirstFileW(api_path(base + L"AggiornaArchivio-*.log").c_str(), &found));
    if (!search.valid()) return;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && is_run_log_name(to_utf8(found.cFileName))) {
            logs.emplace_back(found.cFileName);
        }
    } while (FindNextFileW(search.get(), &found));
    if (logs.size() <= kept) return;
    std::sort(logs.begin(), logs.end());
    for (std::size_t i = 0; i + kept < logs.size(); ++i) DeleteFileW(api_path(base + logs[i]).c_str());
}

FileRunLog::FileRunLog() : FileRunLog(default_folder()) {}

FileRunLog::FileRunLog(std::string folder) : folder_(std::move(folder)) {
    SYSTEMTIME now = {};
    GetSystemTime(&now);
    name_ = run_log_name(now, GetCurrentProcessId());
}

bool FileRunLog::open() {
    if (tried_) return file_.valid();
    tried_ = true;
    if (folder_.empty()) return false;
    const std::wstring folder = to_wide_lossy(folder_);
    if (!CreateDirectoryW(api_path(folder).c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return false;
    path_ = folder_ + "\\" + name_;
    file_ = ScopedHandle(CreateFileW(api_path(to_wide_lossy(path_)).c_str(), FILE_APPEND_DATA,
                                     FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file_.valid()) return false;
    keep_last_run_logs(folder_, kRunLogsKept);
    return true;
}

void FileRunLog::write_line(std::string_view line) noexcept try {
    if (!open()) return;
    std::string text(line);
    text += "\r\n";
    DWORD written = 0;
    WriteFile(file_.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
} catch (...) {
}

}  // namespace aggiorna::windows
