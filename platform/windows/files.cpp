// The file backend over CreateFileW, ReadFile, WriteFile and MoveFileExW.
#include "platform/windows/files.h"

#include <atomic>
#include <random>
#include <vector>

#include "platform/windows/handles.h"
#include "platform/windows/text.h"
#include "platform/windows/win.h"

namespace aggiorna::windows {
namespace {

constexpr int kDeviceIoError = 57;

[[noreturn]] void fail(std::string_view call, DWORD native_error, std::string_view path) {
    throw Error(file_error_code(native_error), native_detail(call, native_error, path));
}

std::wstring wide_path(const std::string& path) {
    return to_wide(path, code::bad_file_name_or_number);
}

// "C:\a\b.bin" gives "C:\a\"; a doubled backslash before the name stays (Windows accepts it).
std::string folder_with_separator(const std::string& path) {
    const std::size_t last = path.find_last_of("\\/");
    return last == std::string::npos ? std::string() : path.substr(0, last + 1);
}

std::string temporary_name() {
    static std::atomic<unsigned> counter{0};
    static const unsigned seed = [] {
        try {
            return std::random_device{}();
        } catch (...) {
            return static_cast<unsigned>(GetTickCount());
        }
    }();
    const unsigned number = seed ^ (counter.fetch_add(1) * 2654435761u);
    return ".~AggiornaArchivio-" + std::to_string(GetCurrentProcessId()) + "-" +
           std::to_string(number) + ".tmp";
}

// The temporary copy: deleted unless the replace took it.
class TemporaryFile {
public:
    explicit TemporaryFile(std::wstring path) : path_(std::move(path)) {}
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile() {
        if (!path_.empty()) DeleteFileW(path_.c_str());
    }
    const std::wstring& path() const { return path_; }
    void release() { path_.clear(); }

private:
    std::wstring path_;
};

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

}  // namespace

int file_error_code(std::uint32_t native_error) {
    switch (native_error) {
        case ERROR_FILE_NOT_FOUND:
            return code::file_not_found;
        case ERROR_PATH_NOT_FOUND:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_NET_NAME:
        case ERROR_INVALID_DRIVE:
        case ERROR_NOT_READY:
            return code::path_not_found;
        case ERROR_ACCESS_DENIED:
        case ERROR_WRITE_PROTECT:
        case ERROR_CURRENT_DIRECTORY:
            return code::permission_denied;
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_USER_MAPPED_FILE:
            return code::path_file_access;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return code::disk_full;
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME:
        case ERROR_FILENAME_EXCED_RANGE:
        case ERROR_DIRECTORY:
            return code::bad_file_name_or_number;
        default:
            return kDeviceIoError;
    }
}

void WindowsFileSystem::copy_file(const std::string& source, const std::string& destination) {
    const std::wstring wide_source = wide_path(source);
    const std::wstring wide_destination = wide_path(destination);

    ScopedHandle input(CreateFileW(wide_source.c_str(), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!input.valid()) fail("CreateFileW (source)", GetLastError(), source);
    FILETIME written = {};
    const bool have_time = GetFileTime(input.get(), nullptr, nullptr, &written) != 0;

    // The temporary file sits in the destination's folder, so the replace is a rename on one
    // volume. A name already taken (a leftover of a killed run) is simply skipped.
    const std::string folder = folder_with_separator(destination);
    std::string temporary_utf8;
    ScopedHandle output;
    for (int attempt = 0; attempt < 16 && !output.valid(); ++attempt) {
        temporary_utf8 = folder + temporary_name();
        output = ScopedHandle(CreateFileW(wide_path(temporary_utf8).c_str(), GENERIC_WRITE, 0,
                                          nullptr, CREATE_NEW,
                                          FILE_ATTRIBUTE_NORMAL,
                                          nullptr));
        if (!output.valid()) {
            const DWORD error = GetLastError();
            if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
                fail("CreateFileW (temporary)", error, temporary_utf8);
            }
        }
    }
    if (!output.valid()) fail("CreateFileW (temporary)", ERROR_FILE_EXISTS, temporary_utf8);
    TemporaryFile temporary(wide_path(temporary_utf8));

    std::vector<std::uint8_t> buffer(1u << 16);
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(input.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got,
                      nullptr)) {
            fail("ReadFile", GetLastError(), source);
        }
        if (got == 0) break;
        DWORD put = 0;
        if (!WriteFile(output.get(), buffer.data(), got, &put, nullptr)) {
            fail("WriteFile", GetLastError(), temporary_utf8);
        }
        if (put != got) fail("WriteFile", ERROR_DISK_FULL, temporary_utf8);
    }
    input.close();
    if (have_time) SetFileTime(output.get(), nullptr, nullptr, &written);
    if (!FlushFileBuffers(output.get())) fail("FlushFileBuffers", GetLastError(), temporary_utf8);
    if (!output.close()) fail("CloseHandle", GetLastError(), temporary_utf8);

    // A running host keeps the destination open, possibly sharing everything, and the replace
    // alone would then succeed under it. An exclusive open is refused while any other handle is
    // open on the file, whatever that handle shares.
    {
        ScopedHandle probe(CreateFileW(wide_destination.c_str(), GENERIC_READ, 0, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!probe.valid()) {
            const DWORD error = GetLastError();
            if (error != ERROR_FILE_NOT_FOUND) fail("CreateFileW (destination)", error, destination);
        }
    }
    // Windows refuses to replace a read-only file (Wine replaces it): refuse it here on both.
    const DWORD existing = GetFileAttributesW(wide_destination.c_str());
    if (existing != INVALID_FILE_ATTRIBUTES &&
        (existing & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
        fail("MoveFileExW (read-only destination)", ERROR_ACCESS_DENIED, destination);
    }

    if (!MoveFileExW(temporary.path().c_str(), wide_destination.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        fail("MoveFileExW", GetLastError(), destination);
    }
    temporary.release();
}

std::optional<std::uint32_t> WindowsFileSystem::attributes(const std::string& path) {
    std::wstring wide;
    try {
        wide = wide_path(path);
    } catch (const Error&) {
        return std::nullopt;
    }
    const DWORD found = GetFileAttributesW(wide.c_str());
    if (found == INVALID_FILE_ATTRIBUTES) return std::nullopt;
    return static_cast<std::uint32_t>(found);
}

std::unique_ptr<InputFile> WindowsFileSystem::open_for_reading(const std::string& path) {
    ScopedHandle handle(CreateFileW(wide_path(path).c_str(), GENERIC_READ,
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
