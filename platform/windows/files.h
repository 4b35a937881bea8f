// The file backend: atomic whole-file copy, attributes, positioned reads, the program's folder.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace aggiorna::windows {

// The program's code for a Windows error met while working on a file: 53 file not found,
// 76 path not found, 70 access denied, 75 sharing or lock violation (another program holds the
// file), 61 disk full, 52 a name Windows rejects, 57 (device I/O error) for anything else.
int file_error_code(std::uint32_t native_error);

// Paths are UTF-8 Windows paths and reach Windows through the wide-character calls only.
class WindowsFileSystem final : public FileSystem {
public:
    // Copies into a temporary file in the destination's folder (".~AggiornaArchivio-<pid>-<n>.tmp"),
    // flushes it, checks with an exclusive open that no other program holds the destination
    // (75 if one does, whatever its sharing mode) and then replaces the destination with
    // MoveFileExW(MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH). The temporary file is
    // removed on every failure. The destination takes the source's last-write time.
    void copy_file(const std::string& source, const std::string& destination) override;
    std::optional<std::uint32_t> attributes(const std::string& path) override;
    // Shares read, write and delete, so the host may go on using or replacing the file.
    std::unique_ptr<InputFile> open_for_reading(const std::string& path) override;
    std::string executable_folder() override;
};

}  // namespace aggiorna::windows
