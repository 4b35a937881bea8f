// The file backend: atomic whole-file copy, attributes, positioned reads, the program's folder.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "platform/windows/virtual_store.h"

namespace aggiorna::windows {

// The program's code for a Windows error met while working on a file: 53 file not found,
// 76 path not found, 70 access denied, 75 sharing or lock violation (another program holds the
// file), 61 disk full, 52 a name Windows rejects, 57 (device I/O error) for anything else.
int file_error_code(std::uint32_t native_error);

// The name of a copy's temporary file beside `destination_name`: that name and ".~" with six hex
// digits of `number`, so that a destination that fits the path length limit nearly always has a
// temporary that fits too.
std::string temporary_name(const std::string& destination_name, unsigned number);
// Whether a file name is one of this program's temporary files, in today's form or in the form
// of earlier versions (".~AggiornaArchivio-<pid>-<n>.tmp").
bool is_temporary_name(std::string_view name);

// Paths are UTF-8 Windows paths and reach Windows through the wide-character calls only.
class WindowsFileSystem final : public FileSystem {
public:
    // Looks after this process's VirtualStore (system_virtual_store).
    WindowsFileSystem();
    // Looks after `store` instead: the tests' own folders.
    explicit WindowsFileSystem(VirtualStore store);

    // Copies into a temporary file in the destination's folder (temporary_name), marked for
    // deletion while it is written so that no failure and no kill leaves it behind, flushes it,
    // and renames it over the destination in one step through its own handle. Only a
    // destination that another program holds open is 75 (an exclusive open is refused whatever
    // that program shares); brief holds are waited out for about two seconds, before the copy
    // and at the replace. A failure on the source or on the temporary is never 75 (a sharing
    // violation there is 70). Temporary files left by cut-off runs, and not held by a running
    // copy, are removed from the folder first. The destination takes the source's last-write
    // time. Where the user has a virtual copy of the destination (a host that runs virtualized
    // reads that one), it is replaced too, the same way.
    void copy_file(const std::string& source, const std::string& destination) override;
    // The user's virtual copy where one exists, since it is what a virtualized host sees.
    std::optional<std::uint32_t> attributes(const std::string& path) override;
    // The user's virtual copy where one exists. Shares read, write and delete, so the host may go
    // on using or replacing the file.
    std::unique_ptr<InputFile> open_for_reading(const std::string& path) override;
    std::string executable_folder() override;

private:
    // The user's virtual copy of `path` when it exists (as a file or a folder).
    std::optional<std::string> existing_virtual_copy(const std::string& path) const;

    VirtualStore store_;
};

}  // namespace aggiorna::windows
