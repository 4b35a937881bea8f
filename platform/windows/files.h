// The file backend: atomic whole-file copy, attributes, positioned reads, the program's folder.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "platform/windows/restart_manager.h"
#include "platform/windows/run_as_administrator.h"
#include "platform/windows/virtual_store.h"
#include "platform/windows/volume_security.h"
#include "platform/windows/win.h"

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

// What a copy asks of Windows beyond the file calls, in one place: these are the answers that
// Wine does not give as Windows does, so a test can give them instead.
struct SystemQueries {
    VirtualStore store = system_virtual_store();
    // The programs that hold a file open.
    std::function<std::vector<Holder>(const std::wstring& path)> holders = restart_manager_holders;
    // Whether the delete-on-close mark may be used for a temporary in a folder.
    std::function<bool(const std::wstring& folder)> delete_mark_reliable = volume_keeps_delete_mark;
    // Gives the temporary the replaced file's DACL.
    std::function<DWORD(HANDLE file, PACL dacl, bool protect)> set_dacl = set_file_dacl;
    // Whether a program file of a host's folder is set to run as administrator.
    std::function<bool(const std::string& folder)> runs_as_administrator =
        folder_has_program_run_as_administrator;
};

// Paths are UTF-8 Windows paths and reach Windows through the wide-character calls only.
class WindowsFileSystem final : public FileSystem {
public:
    // Asks Windows itself, and looks after this process's VirtualStore.
    WindowsFileSystem();
    // Looks after `store` instead: the tests' own folders.
    explicit WindowsFileSystem(VirtualStore store);
    explicit WindowsFileSystem(SystemQueries system);

    // Copies into a temporary file in the destination's folder (temporary_name), marked for
    // deletion while it is written so that no failure and no kill leaves it behind, flushes it,
    // and renames it over the destination in one step through its own handle. Only a
    // destination that another program holds open is 75 (an exclusive open is refused whatever
    // that program shares); brief holds are waited out for about two seconds, before the copy
    // and at the replace. The delivered file is read sharing only reading: one that another
    // program holds open for writing (a download or an extraction not yet done) is refused after
    // that wait, and one that is not, when the copy ends, whole and as it was opened is a failed
    // copy (57). A failure on the source or on the temporary is never 75 (a sharing violation
    // there is 70). Temporary files left by cut-off runs, and not held by a running
    // copy, are removed from the folder first. The destination takes the source's last-write
    // time, and a replaced one keeps its DACL (where the volume keeps DACLs) and its hidden and
    // system attributes. Where the user has a virtual copy of the destination (a host that runs
    // virtualized reads that one), it is replaced too, the same way. On a volume that does not
    // keep the delete-on-close mark reliably the temporary is removed by name instead; only a
    // kill leaves it, for the next copy there to remove. A destination still held after the
    // wait is 75: with the names of the holders (Restart Manager) when none of them runs from
    // the destination's folder.
    CopyReport copy_file(const std::string& source, const std::string& destination) override;
    CopyReport refresh_virtual_copy(const std::string& path) override;
    void check_replaceable(const std::string&) override {}
    std::optional<FileFacts> file_facts(const std::string& path) override;
    std::string sha256(const std::string& path) override;
    // A virtualized run, a folder that Windows virtualizes, and a program file there set to run
    // as administrator.
    bool host_runs_elevated(const std::string& folder) override;
    // The user's virtual copy where one exists, since it is what a virtualized host sees.
    std::optional<std::uint32_t> attributes(const std::string& path) override;
    // The user's virtual copy where one exists. Shares read, write and delete, so the host may go
    // on using or replacing the file.
    std::unique_ptr<InputFile> open_for_reading(const std::string& path) override;
    std::string executable_folder() override;

private:
    // The user's virtual copy of `path` when it exists (as a file or a folder).
    std::optional<std::string> existing_virtual_copy(const std::string& path) const;

    SystemQueries system_;
};

}  // namespace aggiorna::windows
