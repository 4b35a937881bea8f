// What the file backend asks of Windows beyond the file calls, in one place: the answers that
// Wine does not give as Windows does, so that a test can give them instead.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/windows/redirection.h"
#include "platform/windows/restart_manager.h"
#include "platform/windows/run_as_administrator.h"
#include "platform/windows/virtual_store.h"
#include "platform/windows/volume_security.h"
#include "platform/windows/win.h"

namespace aggiorna::windows {

struct SystemQueries {
    VirtualStore store = system_virtual_store();
    // The programs that hold a file open.
    std::function<std::vector<Holder>(const std::wstring& path)> holders = restart_manager_holders;
    // Whether the delete-on-close mark may be used for a temporary in a folder.
    std::function<bool(const std::wstring& folder)> delete_mark_reliable = volume_keeps_delete_mark;
    // Whether the volume of an open file keeps the DACLs given to files.
    std::function<bool(HANDLE file)> volume_keeps_acls = windows::volume_keeps_acls;
    // Gives the temporary the replaced file's DACL.
    std::function<DWORD(HANDLE file, PACL dacl, bool protect)> set_dacl = set_file_dacl;
    // Whether this run's writes into a folder, replacing a file there (none: empty), would be
    // refused (and so, for a virtualized run in a folder Windows virtualizes, land in the
    // VirtualStore).
    std::function<bool(const std::wstring& folder, const std::wstring& file)> writes_redirected =
        writes_would_be_redirected;
    // Whether the host in a folder is set to run as administrator.
    std::function<bool(const std::string& folder)> runs_as_administrator = host_set_to_run_as_administrator;
};

}  // namespace aggiorna::windows
