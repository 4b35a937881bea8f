// The file backend: atomic whole-file copy, attributes, facts, hashes, positioned reads, the
// program's folder.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/platform.h"
#include "platform/windows/file_errors.h"
#include "platform/windows/system_queries.h"
#include "platform/windows/temporary_file.h"

namespace aggiorna::windows {

// Paths are UTF-8 Windows paths and reach Windows through the wide-character calls only, in the
// long form (api_path), so that a host folder of 255 characters or more works too.
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
    // there is 70). Temporary files of copies to the same destination left by cut-off runs, and
    // not held by a running copy, are removed from the folder first. The destination takes the
    // source's last-write time, and a replaced one keeps its hidden and system attributes and
    // its own DACL entries (decide_dacl_handover). Where the user has a virtual copy of the
    // destination (a host that runs virtualized reads that one), it is replaced too, the same
    // way. On a volume that does not keep the delete-on-close mark reliably the temporary is
    // removed by name instead; only a kill leaves it, for the next copy there to remove. A
    // destination still held after the wait is 75: with the names of the holders (Restart
    // Manager) when none of them runs from the destination's folder, and holders_are_services
    // when all of them are services or critical processes.
    // The report's `landed` names the destination, or for a virtualized run whose writes there
    // are redirected the path in the user's VirtualStore where Windows puts them; then the
    // virtual copy replaced too.
    CopyReport copy_file(const std::string& source, const std::string& destination) override;
    CopyReport refresh_virtual_copy(const std::string& path) override;
    // The destination's checks of the copy, on the file and on the user's virtual copy of it
    // where one exists (the one a virtualized host holds).
    void check_replaceable(const std::string& path) override;
    std::optional<FileFacts> file_facts(const std::string& path) override;
    std::string sha256(const std::string& path) override;
    // A virtualized run, a folder that Windows virtualizes where this run's writes would be
    // refused (and so redirected), and a host set to run as administrator.
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
    // Where a write of this run to `path` lands when Windows redirects it (a virtualized run, a
    // folder it virtualizes, this run refused there): the path in the VirtualStore.
    std::optional<std::string> redirected_to(const std::string& path) const;
    // The report's signal for a file the desktop's user (another account) may have a virtual copy of.
    bool user_copy_unknown(const std::string& path) const;

    SystemQueries system_;
};

}  // namespace aggiorna::windows
