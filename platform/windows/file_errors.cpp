// Windows file errors mapped to the program's codes.
#include "platform/windows/file_errors.h"

#include "platform/platform.h"
#include "platform/windows/paths.h"
#include "platform/windows/text.h"

namespace aggiorna::windows {

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

void fail(std::string_view call, DWORD native_error, std::string_view path, Side side) {
    throw Error(file_error_code(native_error), native_detail(call, native_error, path), side);
}

void fail_not_destination(std::string_view call, DWORD native_error, std::string_view path, Side side) {
    int code = file_error_code(native_error);
    if (code == code::path_file_access) code = code::permission_denied;
    throw Error(code, native_detail(call, native_error, path), side);
}

std::wstring wide_path(const std::string& path) { return to_wide(path, code::bad_file_name_or_number); }

std::wstring long_path(const std::string& path) { return api_path(wide_path(path)); }

}  // namespace aggiorna::windows
