// The copy over CreateFileW, ReadFile, WriteFile and a rename through the temporary's own handle.
#include "platform/windows/replace.h"

#include <vector>

#include "platform/platform.h"
#include "platform/windows/dacl_handover.h"
#include "platform/windows/file_errors.h"
#include "platform/windows/handles.h"
#include "platform/windows/paths.h"
#include "platform/windows/sha256.h"
#include "platform/windows/temporary_file.h"
#include "platform/windows/text.h"

namespace aggiorna::windows {
namespace {

// Other programs open a file for a moment (antivirus, backup agents, Explorer's preview): a
// sharing or lock violation, or access denied, is tried again for about two seconds.
constexpr DWORD kRetryStepMs = 50;
constexpr ULONGLONG kRetryForMs = 2000;

bool may_pass(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || error == ERROR_ACCESS_DENIED;
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

// An exclusive open is refused while any other handle is open on the file, whatever that handle
// shares: ERROR_SHARING_VIOLATION then means another program holds the destination.
DWORD open_exclusively(const std::wstring& path) {
    ScopedHandle probe(CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return probe.valid() ? ERROR_SUCCESS : GetLastError();
}

bool held_by_another_program(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

// The destination of one copy, and what its failures are told with.
struct Destination {
    const std::string& path;
    std::wstring api;          // the long form, for every call
    std::wstring host_folder;
    const SystemQueries& system;

    // Held open by another program past the wait: 75, naming the holders when none of them is
    // the host, and saying when all of them are services, which the user cannot close.
    [[noreturn]] void fail_held(std::string_view call, DWORD error) const {
        OtherHolders others = holders_to_name(system.holders(api), host_folder);
        throw Error(code::path_file_access, native_detail(call, error, path), std::move(others.names),
                    others.all_services);
    }
};

// Missing (file or folder): nothing to check. A read-only file or a folder is 70 (Windows refuses
// to replace a read-only file, Wine replaces it, so both refuse it here); one that another
// program holds open after the retries is 75.
void check(const Destination& to) {
    const DWORD existing = GetFileAttributesW(to.api.c_str());
    if (existing == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return;
    } else if ((existing & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
        fail("CreateFileW (read-only destination)", ERROR_ACCESS_DENIED, to.path, Side::destination);
    }
    const DWORD error = with_retries([&] { return open_exclusively(to.api); });
    if (held_by_another_program(error)) to.fail_held("CreateFileW (destination)", error);
    if (error != ERROR_SUCCESS && error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
        fail("CreateFileW (destination)", error, to.path, Side::destination);
    }
}

// Installers of old programs often give users write access to the data files themselves, and
// some keep them hidden: the new file takes the replaced file's hidden and system attributes, and
// the DACL decide_dacl_handover gives it.
void keep_attributes_and_dacl(const TemporaryFile& temporary, const Destination& to, const DaclHandover& dacl) {
    const DWORD attributes = GetFileAttributesW(to.api.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return;  // nothing is replaced
    const DWORD kept = attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    if (kept != 0) {
        FILE_BASIC_INFO basic = {};  // times left as they are
        basic.FileAttributes = kept | FILE_ATTRIBUTE_ARCHIVE;
        if (!SetFileInformationByHandle(temporary.get(), FileBasicInfo, &basic, sizeof basic)) {
            fail_not_destination("SetFileInformationByHandle (attributes)", GetLastError(), to.path);
        }
    }
    if (!dacl.hand_over) return;
    std::vector<BYTE> acl = dacl.acl;
    const DWORD error = to.system.set_dacl(temporary.get(), reinterpret_cast<PACL>(acl.data()), dacl.protect);
    if (error != ERROR_SUCCESS) fail_not_destination("SetSecurityInfo (temporary)", error, to.path);
}

// Nobody may write the delivered file while it is read: one that an extraction or a download
// still holds open for writing is refused (as CopyFileW refuses it), after the wait for brief
// holds.
ScopedHandle open_source(const std::string& source) {
    const std::wstring wide = long_path(source);
    ScopedHandle input;
    const DWORD opened = with_retries([&] {
        input = ScopedHandle(CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                         FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        return input.valid() ? ERROR_SUCCESS : GetLastError();
    });
    if (opened != ERROR_SUCCESS) fail_source("CreateFileW (source)", opened, source);
    return input;
}

}  // namespace

void check_destination(const std::string& path, const std::wstring& host_folder, const SystemQueries& system) {
    check(Destination{path, long_path(path), host_folder, system});
}

CopyResult replace_file(const std::string& source, const CopyTarget& target, const SystemQueries& system) {
    const std::string& destination = target.destination;
    const Destination to{destination, long_path(destination), target.host_folder, system};
    ScopedHandle input = open_source(source);
    // A file on a disk, as the delivered files are, is checked at the end against what it was
    // now (a pipe, which only the tests give, has no size to compare).
    BY_HANDLE_FILE_INFORMATION at_open = {};
    const bool on_disk = GetFileType(input.get()) == FILE_TYPE_DISK;
    if (on_disk && !GetFileInformationByHandle(input.get(), &at_open)) {
        fail_source("GetFileInformationByHandle (source)", GetLastError(), source);
    }

    // Checked before the copy as well as before the replace, so that a running host does not
    // cost a whole copy first.
    check(to);
    const std::size_t last = destination.find_last_of("\\/");
    if (last != std::string::npos) {
        remove_stale_temporaries(destination.substr(0, last + 1), destination.substr(last + 1));
    }

    // The temporary file sits in the destination's folder, so the replace is a rename on one
    // volume. It asks for the right to set its DACL only when it is to take one.
    const DaclHandover dacl =
        decide_dacl_handover(read_replaced_dacl(to.api, system.volume_keeps_acls), target.first_virtual_copy);
    const std::wstring folder = folder_of(wide_path(destination));
    TemporaryFile temporary = create_temporary(destination, system.delete_mark_reliable(folder), dacl.hand_over);
    Sha256 hash;
    std::vector<std::uint8_t> buffer(1u << 16);
    CopyResult result;
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(input.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
            fail_source("ReadFile", GetLastError(), source);
        }
        if (got == 0) break;
        hash.add(buffer.data(), got);
        result.bytes += got;
        DWORD put = 0;
        if (!WriteFile(temporary.get(), buffer.data(), got, &put, nullptr)) {
            fail_not_destination("WriteFile (temporary)", GetLastError(), destination);
        }
        if (put != got) fail_not_destination("WriteFile (temporary)", ERROR_DISK_FULL, destination);
    }
    // What was copied must be the file as it was opened, all of it.
    BY_HANDLE_FILE_INFORMATION at_end = {};
    const std::uint64_t size = (std::uint64_t{at_open.nFileSizeHigh} << 32) | at_open.nFileSizeLow;
    if (on_disk && (!GetFileInformationByHandle(input.get(), &at_end) || result.bytes != size ||
                    at_end.nFileSizeHigh != at_open.nFileSizeHigh || at_end.nFileSizeLow != at_open.nFileSizeLow ||
                    CompareFileTime(&at_end.ftLastWriteTime, &at_open.ftLastWriteTime) != 0)) {
        fail_source("ReadFile (source changed while it was copied)", ERROR_READ_FAULT, source);
    }
    input.close();
    result.sha256 = hash.finish();
    keep_attributes_and_dacl(temporary, to, dacl);
    if (on_disk) SetFileTime(temporary.get(), nullptr, nullptr, &at_open.ftLastWriteTime);
    if (!FlushFileBuffers(temporary.get())) {
        fail_not_destination("FlushFileBuffers (temporary)", GetLastError(), destination);
    }

    check(to);
    // Windows refuses the replace with access denied while any handle is open on the
    // destination, whatever that handle shares, and for a moment after a brief holder let go.
    const DWORD error = with_retries([&] { return temporary.replace(to.api); });
    if (error == ERROR_SUCCESS) return result;
    // ERROR_USER_MAPPED_FILE, a destination mapped by another program, is 75 as well.
    if (file_error_code(error) == code::path_file_access) to.fail_held("SetFileInformationByHandle (rename)", error);
    if (!may_pass(error)) fail("SetFileInformationByHandle (rename)", error, destination, Side::destination);
    // Held open by another program (75), or refused for another reason (70).
    const DWORD now = open_exclusively(to.api);
    if (held_by_another_program(now)) to.fail_held("SetFileInformationByHandle (rename)", now);
    fail("SetFileInformationByHandle (rename)", ERROR_ACCESS_DENIED, destination, Side::destination);
}

}  // namespace aggiorna::windows
