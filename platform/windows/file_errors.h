// A Windows error met on a file, as the program's code with the call, the error and the path.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "platform/windows/win.h"

namespace aggiorna::windows {

// The program's code for a Windows error met while working on a file: 53 file not found,
// 76 path not found, 70 access denied, 75 sharing or lock violation (another program holds the
// file), 61 disk full, 52 a name Windows rejects, 57 (device I/O error) for anything else.
int file_error_code(std::uint32_t native_error);
inline constexpr int kDeviceIoError = 57;

// Throws Error with file_error_code and the detail (call, error and its meaning, path), and the
// side of a copy the path stands for where it is one.
[[noreturn]] void fail(std::string_view call, DWORD native_error, std::string_view path,
                       Side side = Side::unknown);
// The same for a failure on the delivered file or on the temporary, which is not the host
// holding its archive: never the in-use code, whatever Windows said (a sharing violation is 70).
[[noreturn]] void fail_not_destination(std::string_view call, DWORD native_error, std::string_view path,
                                       Side side = Side::destination);
// A failure on the delivered file: missing, still being written, changed while it was read.
[[noreturn]] inline void fail_source(std::string_view call, DWORD native_error, std::string_view path) {
    fail_not_destination(call, native_error, path, Side::source);
}

// A UTF-8 path as UTF-16 (52 when it is not valid UTF-8).
std::wstring wide_path(const std::string& path);
// The same in the form every file call takes, beyond MAX_PATH too (api_path).
std::wstring long_path(const std::string& path);

}  // namespace aggiorna::windows
