// The file backend over CreateFileW, GetFileAttributesExW, ReadFile and the copy of replace.cpp.
#include "platform/windows/files.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "platform/windows/handles.h"
#include "platform/windows/paths.h"
#include "platform/windows/replace.h"
#include "platform/windows/sha256.h"
#include "platform/windows/text.h"
#include "platform/windows/win.h"

namespace aggiorna::windows {
namespace {

class WindowsInputFile final : public InputFile {
public:
    WindowsInputFile(ScopedHandle handle, std::string path)
        : handle_(std::move(handle)), path_(std::move(path)) {}

    std::size_t read_at(std::uint64_t offset, std::span<std::uint8_t> out) override {
        std::size_t total = 0;
        while (total < out.size()) {
            const std::size_t wanted = std::min<std::size_t>(out.size() - total, 1u << 20);
            const std::uint64_t position = offset + total;
            OVERLAPPED at = {};
            at.Offset = static_cast<DWORD>(position & 0xFFFFFFFFu);
            at.OffsetHigh = static_cast<DWORD>(position >> 32);
            DWORD got = 0;
            if (!ReadFile(handle_.get(), out.data() + total, static_cast<DWORD>(wanted), &got,
                          &at)) {
                const DWORD error = GetLastError();
                if (error == ERROR_HANDLE_EOF) break;
                fail("ReadFile", error, path_);
            }
            if (got == 0) break;
            total += got;
        }
        return total;
    }

private:
    ScopedHandle handle_;
    std::string path_;
};

std::optional<std::uint32_t> attributes_of(const std::string& path) {
    std::wstring wide;
    try {
        wide = wide_path(path);
    } catch (const Error&) {
        return std::nullopt;
    }
    const DWORD found = GetFileAttributesW(api_path(wide).c_str());
    if (found == INVALID_FILE_ATTRIBUTES) return std::nullopt;
    return static_cast<std::uint32_t>(found);
}

// Last write in local time, "YYYY-MM-DD HH:MM:SS"; empty when it cannot be converted.
std::string local_time_text(const FILETIME& utc) {
    SYSTEMTIME universal = {};
    SYSTEMTIME local = {};
    if (!FileTimeToSystemTime(&utc, &universal) || !SystemTimeToTzSpecificLocalTime(nullptr, &universal, &local)) {
        return {};
    }
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", unsigned{local.wYear}, unsigned{local.wMonth},
                  unsigned{local.wDay}, unsigned{local.wHour}, unsigned{local.wMinute}, unsigned{local.wSecond});
    return text;
}

}  // namespace

WindowsFileSystem::WindowsFileSystem() = default;

WindowsFileSystem::WindowsFileSystem(VirtualStore store) { system_.store = std::move(store); }

WindowsFileSystem::WindowsFileSystem(SystemQueries system) : system_(std::move(system)) {}

std::optional<std::string> WindowsFileSystem::existing_virtual_copy(const std::string& path) const {
    // A virtualized run is redirected by Windows itself.
    if (system_.store.virtualized) return std::nullopt;
    auto copy = virtual_copy_path(system_.store, path);
    if (copy && !attributes_of(*copy)) copy.reset();
    return copy;
}

std::optional<std::string> WindowsFileSystem::redirected_to(const std::string& path) const {
    if (!system_.store.virtualized || !in_protected_folder(system_.store, path)) return std::nullopt;
    const std::wstring file = wide_path(path);
    const bool exists = attributes_of(path).has_value();
    if (!system_.writes_redirected(folder_of(file), exists ? file : std::wstring())) return std::nullopt;
    return virtual_copy_path(system_.store, path);
}

bool WindowsFileSystem::user_copy_unknown(const std::string& path) const {
    return system_.store.other_user_unknown && in_protected_folder(system_.store, path);
}

CopyReport WindowsFileSystem::copy_file(const std::string& source, const std::string& destination) {
    const auto virtual_copy = existing_virtual_copy(destination);
    const std::wstring host_folder = folder_of(wide_path(destination));
    const auto redirected = redirected_to(destination);
    // Windows makes the user's first virtual copy where none exists: it takes nothing of the real
    // file's DACL.
    const bool first_virtual_copy = redirected && !attributes_of(*redirected);
    const CopyResult copied = replace_file(source, {destination, host_folder, first_virtual_copy}, system_);
    CopyReport report{copied.bytes, copied.sha256, {redirected.value_or(destination)}, user_copy_unknown(destination)};
    if (virtual_copy) {
        replace_file(source, {*virtual_copy, host_folder, false}, system_);
        report.landed.push_back(*virtual_copy);
    }
    return report;
}

CopyReport WindowsFileSystem::refresh_virtual_copy(const std::string& path) {
    CopyReport report;
    report.user_copy_unknown = user_copy_unknown(path);
    if (const auto virtual_copy = existing_virtual_copy(path)) {
        const CopyResult copied = replace_file(path, {*virtual_copy, folder_of(wide_path(path)), false}, system_);
        report.bytes = copied.bytes;
        report.sha256 = copied.sha256;
        report.landed.push_back(*virtual_copy);
    }
    return report;
}

void WindowsFileSystem::check_replaceable(const std::string& path) {
    const std::wstring host_folder = folder_of(wide_path(path));
    check_destination(path, host_folder, system_);
    if (const auto virtual_copy = existing_virtual_copy(path)) check_destination(*virtual_copy, host_folder, system_);
}

std::optional<FileFacts> WindowsFileSystem::file_facts(const std::string& path) try {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!GetFileAttributesExW(long_path(path).c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
    FileFacts facts;
    facts.directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    facts.regular = !facts.directory && (data.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) == 0;
    if (facts.regular) facts.size = (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
    facts.modified = local_time_text(data.ftLastWriteTime);
    return facts;
} catch (...) {
    return std::nullopt;
}

std::string WindowsFileSystem::sha256(const std::string& path) {
    ScopedHandle file(CreateFileW(long_path(path).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file.valid()) fail("CreateFileW", GetLastError(), path);
    Sha256 hash;
    std::vector<std::uint8_t> buffer(1u << 16);
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
            fail("ReadFile", GetLastError(), path);
        }
        if (got == 0) break;
        hash.add(buffer.data(), got);
    }
    return hash.finish();
}

bool WindowsFileSystem::host_runs_elevated(const std::string& folder) {
    try {
        return system_.store.virtualized && in_protected_folder(system_.store, folder) &&
               system_.writes_redirected(wide_path(folder), {}) && system_.runs_as_administrator(folder);
    } catch (...) {
        return false;
    }
}

std::optional<std::uint32_t> WindowsFileSystem::attributes(const std::string& path) {
    if (const auto copy = existing_virtual_copy(path)) return attributes_of(*copy);
    return attributes_of(path);
}

std::unique_ptr<InputFile> WindowsFileSystem::open_for_reading(const std::string& wanted) {
    const std::string path = existing_virtual_copy(wanted).value_or(wanted);
    ScopedHandle handle(CreateFileW(long_path(path).c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!handle.valid()) fail("CreateFileW", GetLastError(), path);
    return std::make_unique<WindowsInputFile>(std::move(handle), path);
}

std::string WindowsFileSystem::executable_folder() {
    std::wstring name(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
        if (length == 0) fail("GetModuleFileNameW", GetLastError(), {});
        if (length < name.size()) {
            name.resize(length);
            break;
        }
        name.resize(name.size() * 2);
    }
    const std::string path = to_utf8(name);
    const std::size_t last = path.find_last_of('\\');
    return last == std::string::npos ? std::string() : path.substr(0, last);
}

}  // namespace aggiorna::windows
