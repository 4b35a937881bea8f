// Temporary files of a copy over CreateFileW (CREATE_NEW), the delete-on-close mark and FileRenameInfo.
#include "platform/windows/temporary_file.h"

#include <atomic>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "platform/windows/file_errors.h"
#include "platform/windows/paths.h"
#include "platform/windows/text.h"

namespace aggiorna::windows {
namespace {

unsigned random_number() {
    static std::atomic<unsigned> counter{0};
    static const unsigned seed = [] {
        try {
            return std::random_device{}();
        } catch (...) {
            return static_cast<unsigned>(GetTickCount() ^ GetCurrentProcessId());
        }
    }();
    return seed ^ (counter.fetch_add(1) * 2654435761u) ^ GetCurrentProcessId();
}

bool set_delete_mark(HANDLE file, bool delete_on_close) {
    FILE_DISPOSITION_INFO disposition = {};
    disposition.DeleteFile = delete_on_close ? TRUE : FALSE;
    return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition) != 0;
}

bool same_name(std::string_view a, std::string_view b) {
    const std::wstring wide_a = to_wide_lossy(a);
    const std::wstring wide_b = to_wide_lossy(b);
    return CompareStringOrdinal(wide_a.data(), static_cast<int>(wide_a.size()), wide_b.data(),
                                static_cast<int>(wide_b.size()), TRUE) == CSTR_EQUAL;
}

bool is_earlier_versions_temporary(std::string_view name) {
    constexpr std::string_view kOldStart = ".~AggiornaArchivio-";
    constexpr std::string_view kOldEnd = ".tmp";
    if (!name.starts_with(kOldStart) || !name.ends_with(kOldEnd)) return false;
    const std::string_view middle = name.substr(kOldStart.size(), name.size() - kOldStart.size() - kOldEnd.size());
    const std::size_t dash = middle.find('-');
    return dash != std::string_view::npos && dash > 0 && dash + 1 < middle.size() &&
           middle.find_first_not_of("0123456789-") == std::string_view::npos &&
           middle.find('-', dash + 1) == std::string_view::npos;
}

}  // namespace

std::string temporary_name(const std::string& destination_name, unsigned number) {
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, ".~%06x", number & 0xFFFFFFu);
    return destination_name + suffix;
}

bool is_temporary_name(std::string_view name, std::string_view destination_name) {
    constexpr std::size_t kSuffix = 8;  // ".~" and six hex digits
    if (!destination_name.empty() && name.size() == destination_name.size() + kSuffix &&
        name.substr(destination_name.size(), 2) == ".~" &&
        name.substr(destination_name.size() + 2).find_first_not_of("0123456789abcdef") == std::string_view::npos &&
        same_name(name.substr(0, destination_name.size()), destination_name)) {
        return true;
    }
    return is_earlier_versions_temporary(name);
}

void remove_stale_temporaries(const std::string& folder, const std::string& destination_name) {
    const std::wstring wide_folder = wide_path(folder);
    WIN32_FIND_DATAW found;
    const ScopedFind search(FindFirstFileW(api_path(wide_folder + L"*").c_str(), &found));
    if (!search.valid()) return;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
        if (is_temporary_name(to_utf8(found.cFileName), destination_name)) {
            DeleteFileW(api_path(wide_folder + found.cFileName).c_str());
        }
    } while (FindNextFileW(search.get(), &found));
}

TemporaryFile::TemporaryFile(ScopedHandle handle, std::wstring path, bool use_mark)
    : handle_(std::move(handle)), path_(std::move(path)) {
    marked_ = use_mark && set_delete_mark(handle_.get(), true);
}

TemporaryFile::~TemporaryFile() {
    if (kept_) return;
    if (!marked_ || !set_delete_mark(handle_.get(), true)) {
        handle_.close();
        DeleteFileW(path_.c_str());
    }
}

DWORD TemporaryFile::replace(const std::wstring& destination) {
    if (marked_ && !set_delete_mark(handle_.get(), false)) return GetLastError();
    std::vector<std::uint8_t> buffer(offsetof(FILE_RENAME_INFO, FileName) + (destination.size() + 1) * sizeof(wchar_t));
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = TRUE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(destination.size() * sizeof(wchar_t));
    std::memcpy(rename->FileName, destination.c_str(), (destination.size() + 1) * sizeof(wchar_t));
    if (!SetFileInformationByHandle(handle_.get(), FileRenameInfo, rename, static_cast<DWORD>(buffer.size()))) {
        const DWORD error = GetLastError();
        // Marked again at once: a kill while the replace is retried leaves nothing either.
        if (marked_) set_delete_mark(handle_.get(), true);
        return error;
    }
    kept_ = true;
    return ERROR_SUCCESS;
}

TemporaryFile create_temporary(const std::string& destination, bool use_mark, bool with_write_dac) {
    const std::size_t last = destination.find_last_of("\\/");
    const std::string folder = last == std::string::npos ? std::string() : destination.substr(0, last + 1);
    const std::string name = last == std::string::npos ? destination : destination.substr(last + 1);
    const DWORD access = GENERIC_WRITE | DELETE | (with_write_dac ? WRITE_DAC : 0);
    std::string path;
    DWORD error = ERROR_FILE_EXISTS;
    for (int attempt = 0; attempt < 16; ++attempt) {
        path = folder + temporary_name(name, random_number());
        const std::wstring wide = long_path(path);
        ScopedHandle handle(CreateFileW(wide.c_str(), access, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (handle.valid()) return TemporaryFile(std::move(handle), wide, use_mark);
        error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
    }
    fail_not_destination("CreateFileW (temporary)", error, path);
}

}  // namespace aggiorna::windows
