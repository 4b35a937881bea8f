// The file backend over CreateFileW, ReadFile, WriteFile and SetFileInformationByHandle.
#include "platform/windows/files.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "platform/windows/handles.h"
#include "platform/windows/paths.h"
#include "platform/windows/volume_security.h"
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

// Other programs open a file for a moment (antivirus, backup agents, Explorer's preview): a
// sharing or lock violation, or access denied, is tried again for about two seconds.
constexpr DWORD kRetryStepMs = 50;
constexpr ULONGLONG kRetryForMs = 2000;

bool may_pass(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
           error == ERROR_ACCESS_DENIED;
}

// Runs `attempt` (which returns a Windows error, ERROR_SUCCESS when done) until it succeeds, fails
// for another reason, or the time for brief holds has passed. Returns the last error.
template <typename Attempt>
DWORD with_retries(Attempt attempt) {
    const ULONGLONG give_up = GetTickCount64() + kRetryForMs;
    for (;;) {
        const DWORD error = attempt();
        if (!may_pass(error) || GetTickCount64() >= give_up) return error;
        Sleep(kRetryStepMs);
    }
}

// A failure on the delivered file or on the temporary is not the host holding its archive: it
// never takes the in-use code, whatever Windows said.
[[noreturn]] void fail_not_destination(std::string_view call, DWORD native_error,
                                       std::string_view path) {
    int code = file_error_code(native_error);
    if (code == code::path_file_access) code = code::permission_denied;
    throw Error(code, native_detail(call, native_error, path));
}

// An exclusive open is refused while any other handle is open on the file, whatever that handle
// shares: ERROR_SHARING_VIOLATION then means another program holds the destination.
DWORD open_exclusively(const std::wstring& path) {
    ScopedHandle probe(CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    return probe.valid() ? ERROR_SUCCESS : GetLastError();
}

bool held_by_another_program(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

// The destination of one copy, and what its failures are told with.
struct Destination {
    const std::string& path;
    std::wstring wide;
    std::wstring host_folder;  // where the host's program files are: the holders that count
    const SystemQueries& system;

    // Held open by another program past the wait: 75, naming the holders when none of them is
    // the host.
    [[noreturn]] void fail_held(std::string_view call, DWORD error) const {
        throw Error(code::path_file_access, native_detail(call, error, path),
                    other_holders(system.holders(wide), host_folder));
    }
};

// The destination may be replaced: it is missing, or no other program holds it (75 when one
// does after the retries), and it is not read-only (70: Windows refuses to replace a read-only
// file, Wine replaces it, so both refuse it here).
void check_destination(const Destination& to) {
    const std::wstring& wide = to.wide;
    const std::string& destination = to.path;
    const DWORD error = with_retries([&] { return open_exclusively(wide); });
    if (held_by_another_program(error)) to.fail_held("CreateFileW (destination)", error);
    if (error != ERROR_SUCCESS && error != ERROR_FILE_NOT_FOUND) {
        fail("CreateFileW (destination)", error, destination);
    }
    const DWORD existing = GetFileAttributesW(wide.c_str());
    if (existing != INVALID_FILE_ATTRIBUTES &&
        (existing & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
        fail("CreateFileW (read-only destination)", ERROR_ACCESS_DENIED, destination);
    }
}

std::string folder_of(const std::string& path) {
    const std::size_t last = path.find_last_of("\\/");
    return last == std::string::npos ? std::string() : path.substr(0, last + 1);
}

std::string name_of(const std::string& path) {
    const std::size_t last = path.find_last_of("\\/");
    return last == std::string::npos ? path : path.substr(last + 1);
}

// Temporary files of runs that were cut off (a power loss; a killed run leaves none), in the
// destination's folder: those of this program, in today's form and in the longer form of earlier
// versions (".~AggiornaArchivio-<pid>-<n>.tmp"). Deleting one that another copy still holds
// open fails (a sharing violation), so only those nobody holds go.
void remove_stale_temporaries(const std::string& folder) {
    const std::wstring wide_folder = wide_path(folder);
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(api_path(wide_folder + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
        if (is_temporary_name(to_utf8(found.cFileName))) {
            DeleteFileW(api_path(wide_folder + found.cFileName).c_str());
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

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
    return SetFileInformationByHandle(file, FileDispositionInfo, &disposition,
                                      sizeof disposition) != 0;
}

// The temporary copy, open with DELETE access and no sharing. Where the volume keeps the mark
// reliably, it is marked for deletion as soon as it exists, so that Windows removes it when its
// handle closes: on any failure, and when the process is killed in the middle of the copy.
// Elsewhere, or where the file system refuses the mark, it is deleted by name after the handle
// is closed. Only a successful replace() lets it live on, under its new name.
class TemporaryFile {
public:
    TemporaryFile(ScopedHandle handle, std::wstring path, bool use_mark)
        : handle_(std::move(handle)), path_(std::move(path)) {
        marked_ = use_mark && set_delete_mark(handle_.get(), true);
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile() {
        if (kept_) return;
        if (!marked_ || !set_delete_mark(handle_.get(), true)) {
            handle_.close();
            DeleteFileW(path_.c_str());
        }
    }
    HANDLE get() const { return handle_.get(); }

    // Clears the mark and renames the file over `destination` in one step, through its own
    // handle. Returns the Windows error, ERROR_SUCCESS once the file is the destination; on a
    // failure the file is marked for deletion again.
    DWORD replace(const std::wstring& destination) {
        if (marked_ && !set_delete_mark(handle_.get(), false)) return GetLastError();
        std::vector<std::uint8_t> buffer(offsetof(FILE_RENAME_INFO, FileName) +
                                         (destination.size() + 1) * sizeof(wchar_t));
        auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
        rename->ReplaceIfExists = TRUE;
        rename->RootDirectory = nullptr;
        rename->FileNameLength = static_cast<DWORD>(destination.size() * sizeof(wchar_t));
        std::memcpy(rename->FileName, destination.c_str(),
                    (destination.size() + 1) * sizeof(wchar_t));
        if (!SetFileInformationByHandle(handle_.get(), FileRenameInfo, rename,
                                        static_cast<DWORD>(buffer.size()))) {
            const DWORD error = GetLastError();
            // Marked again at once: a kill while the replace is retried leaves nothing either.
            if (marked_) set_delete_mark(handle_.get(), true);
            return error;
        }
        kept_ = true;
        return ERROR_SUCCESS;
    }

private:
    ScopedHandle handle_;
    std::wstring path_;
    bool marked_ = false;
    bool kept_ = false;
};

// Creates the temporary file beside the destination under a fresh name, with the rights to give
// it the replaced file's DACL.
TemporaryFile create_temporary(const std::string& destination, const SystemQueries& system) {
    const std::string folder = folder_of(destination);
    const std::string name = name_of(destination);
    const bool use_mark = system.delete_mark_reliable(wide_path(folder));
    std::string path;
    DWORD error = ERROR_FILE_EXISTS;
    for (int attempt = 0; attempt < 16; ++attempt) {
        path = folder + temporary_name(name, random_number());
        const std::wstring wide = api_path(wide_path(path));
        ScopedHandle handle(CreateFileW(wide.c_str(), GENERIC_WRITE | DELETE | WRITE_DAC, 0, nullptr,
                                        CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (handle.valid()) return TemporaryFile(std::move(handle), wide, use_mark);
        error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
    }
    fail_not_destination("CreateFileW (temporary)", error, path);
}

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

std::string temporary_name(const std::string& destination_name, unsigned number) {
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, ".~%06x", number & 0xFFFFFFu);
    return destination_name + suffix;
}

bool is_temporary_name(std::string_view name) {
    const std::size_t mark = name.rfind(".~");
    if (mark != std::string_view::npos && mark > 0 && name.size() - mark == 8) {
        const std::string_view digits = name.substr(mark + 2);
        if (digits.find_first_not_of("0123456789abcdef") == std::string_view::npos) return true;
    }
    // The form of earlier versions: ".~AggiornaArchivio-<pid>-<n>.tmp".
    constexpr std::string_view kOldStart = ".~AggiornaArchivio-";
    constexpr std::string_view kOldEnd = ".tmp";
    if (!name.starts_with(kOldStart) || !name.ends_with(kOldEnd)) return false;
    const std::string_view middle =
        name.substr(kOldStart.size(), name.size() - kOldStart.size() - kOldEnd.size());
    const std::size_t dash = middle.find('-');
    return dash != std::string_view::npos && dash > 0 && dash + 1 < middle.size() &&
           middle.find_first_not_of("0123456789-") == std::string_view::npos &&
           middle.find('-', dash + 1) == std::string_view::npos;
}

namespace {

// Installers of old programs often give users write access to the data files themselves, and
// some keep them hidden: the new file, which the folder alone would give only the inherited
// permissions, takes the replaced file's own DACL entries (protected from inheritance or not, as
// it was) and its hidden and system attributes. The entries its folder passed on are the new
// file's folder's to give: copied, they would outlive a change of the folder, and a user's
// virtual copy would take those of Program Files, which forbid the user to write it. A DACL the
// user may not read stays the folder's; one read and not given is a failed copy.
void keep_security_and_attributes(HANDLE temporary, const Destination& to) {
    const std::wstring named = api_path(to.wide);
    const DWORD attributes = GetFileAttributesW(named.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return;  // nothing is replaced
    const DWORD kept = attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    if (kept != 0) {
        FILE_BASIC_INFO basic = {};  // times left as they are
        basic.FileAttributes = kept | FILE_ATTRIBUTE_ARCHIVE;
        if (!SetFileInformationByHandle(temporary, FileBasicInfo, &basic, sizeof basic)) {
            fail_not_destination("SetFileInformationByHandle (attributes)", GetLastError(), to.path);
        }
    }
    DWORD volume_flags = 0;
    if (!GetVolumeInformationByHandleW(temporary, nullptr, 0, nullptr, nullptr, &volume_flags, nullptr, 0) ||
        (volume_flags & FILE_PERSISTENT_ACLS) == 0) {
        return;
    }
    const ScopedHandle old(CreateFileW(named.c_str(), READ_CONTROL,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                       OPEN_EXISTING, 0, nullptr));
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!old.valid() || GetSecurityInfo(old.get(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                        nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
        return;
    }
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    GetSecurityDescriptorControl(descriptor, &control, &revision);
    // No DACL at all (a file open to everyone): the new file keeps the folder's.
    std::vector<BYTE> own = dacl != nullptr ? own_dacl_entries(dacl) : std::vector<BYTE>();
    LocalFree(descriptor);
    if (own.empty()) return;
    const DWORD error =
        to.system.set_dacl(temporary, reinterpret_cast<PACL>(own.data()), (control & SE_DACL_PROTECTED) != 0);
    if (error != ERROR_SUCCESS) fail_not_destination("SetSecurityInfo (temporary)", error, to.path);
}

// One copy: see WindowsFileSystem::copy_file. `host_folder` is the folder of the host whose file
// is replaced (the destination's, or the real one of a virtual copy).
void replace_file(const std::string& source, const std::string& destination,
                  const std::wstring& host_folder, const SystemQueries& system) {
    const std::wstring wide_source = wide_path(source);
    const Destination to{destination, wide_path(destination), host_folder, system};
    const std::wstring& wide_destination = to.wide;

    // Nobody may write the delivered file while it is read: one that an extraction or a download
    // still holds open for writing is refused (as CopyFileW refuses it), after the wait for
    // brief holds.
    ScopedHandle input;
    const DWORD opened = with_retries([&] {
        input = ScopedHandle(CreateFileW(wide_source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                         OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        return input.valid() ? ERROR_SUCCESS : GetLastError();
    });
    if (opened != ERROR_SUCCESS) fail_not_destination("CreateFileW (source)", opened, source);
    // A file on a disk, as the delivered files are, is checked at the end against what it was
    // now (a pipe, which only the tests give, has no size to compare).
    BY_HANDLE_FILE_INFORMATION at_open = {};
    const bool on_disk = GetFileType(input.get()) == FILE_TYPE_DISK;
    if (on_disk && !GetFileInformationByHandle(input.get(), &at_open)) {
        fail_not_destination("GetFileInformationByHandle (source)", GetLastError(), source);
    }

    // Checked before the copy as well as before the replace, so that a running host does not
    // cost a whole copy first.
    check_destination(to);
    remove_stale_temporaries(folder_of(destination));

    // The temporary file sits in the destination's folder, so the replace is a rename on one
    // volume.
    TemporaryFile temporary = create_temporary(destination, system);
    std::vector<std::uint8_t> buffer(1u << 16);
    std::uint64_t copied = 0;
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(input.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got,
                      nullptr)) {
            fail_not_destination("ReadFile", GetLastError(), source);
        }
        if (got == 0) break;
        copied += got;
        DWORD put = 0;
        if (!WriteFile(temporary.get(), buffer.data(), got, &put, nullptr)) {
            fail_not_destination("WriteFile (temporary)", GetLastError(), destination);
        }
        if (put != got) fail_not_destination("WriteFile (temporary)", ERROR_DISK_FULL, destination);
    }
    // What was copied must be the file as it was opened, all of it.
    BY_HANDLE_FILE_INFORMATION at_end = {};
    const std::uint64_t size = (std::uint64_t{at_open.nFileSizeHigh} << 32) | at_open.nFileSizeLow;
    if (on_disk && (!GetFileInformationByHandle(input.get(), &at_end) || copied != size ||
                    at_end.nFileSizeHigh != at_open.nFileSizeHigh || at_end.nFileSizeLow != at_open.nFileSizeLow ||
                    CompareFileTime(&at_end.ftLastWriteTime, &at_open.ftLastWriteTime) != 0)) {
        fail_not_destination("ReadFile (source changed while it was copied)", ERROR_READ_FAULT, source);
    }
    input.close();
    keep_security_and_attributes(temporary.get(), to);
    if (on_disk) SetFileTime(temporary.get(), nullptr, nullptr, &at_open.ftLastWriteTime);
    if (!FlushFileBuffers(temporary.get())) {
        fail_not_destination("FlushFileBuffers (temporary)", GetLastError(), destination);
    }

    check_destination(to);
    // Windows refuses the replace with access denied while any handle is open on the
    // destination, whatever that handle shares, and for a moment after a brief holder let go.
    const DWORD error = with_retries([&] { return temporary.replace(wide_destination); });
    if (error == ERROR_SUCCESS) return;
    // ERROR_USER_MAPPED_FILE, a destination mapped by another program, is 75 as well.
    if (file_error_code(error) == code::path_file_access) to.fail_held("SetFileInformationByHandle (rename)", error);
    if (!may_pass(error)) fail("SetFileInformationByHandle (rename)", error, destination);
    // Held open by another program (75), or refused for another reason (70).
    const DWORD now = open_exclusively(wide_destination);
    if (held_by_another_program(now)) to.fail_held("SetFileInformationByHandle (rename)", now);
    fail("SetFileInformationByHandle (rename)", ERROR_ACCESS_DENIED, destination);
}

std::optional<std::uint32_t> attributes_of(const std::string& path) {
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

CopyReport WindowsFileSystem::copy_file(const std::string& source, const std::string& destination) {
    const auto virtual_copy = existing_virtual_copy(destination);
    const std::wstring host_folder = windows::folder_of(wide_path(destination));
    replace_file(source, destination, host_folder, system_);
    CopyReport report{0, {}, {destination}, false};
    if (virtual_copy) {
        replace_file(source, *virtual_copy, host_folder, system_);
        report.landed.push_back(*virtual_copy);
    }
    return report;
}

CopyReport WindowsFileSystem::refresh_virtual_copy(const std::string& path) {
    CopyReport report;
    if (const auto virtual_copy = existing_virtual_copy(path)) {
        replace_file(path, *virtual_copy, windows::folder_of(wide_path(path)), system_);
        report.landed.push_back(*virtual_copy);
    }
    return report;
}

std::optional<FileFacts> WindowsFileSystem::file_facts(const std::string& path) {
    const auto found = attributes_of(path);
    if (!found) return std::nullopt;
    const bool directory = (*found & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return FileFacts{directory, !directory, 0, {}};
}

std::string WindowsFileSystem::sha256(const std::string& path) {
    fail("sha256", ERROR_CALL_NOT_IMPLEMENTED, path);
}

bool WindowsFileSystem::host_runs_elevated(const std::string& folder) {
    try {
        return system_.store.virtualized && in_protected_folder(system_.store, folder) &&
               system_.runs_as_administrator(folder);
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
