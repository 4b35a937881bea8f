// Whether this run's writes into a folder would be refused, and so (for a run that Windows
// virtualizes, in a folder it virtualizes) land in the user's VirtualStore instead.
#pragma once

#include <string>
#include <vector>

#include "platform/windows/win.h"

namespace aggiorna::windows {

// Windows virtualizes only writes that would fail: where the installer gave Users write access
// to the host's folder, a virtualized run writes the real files. What a copy writes there: a new
// file (FILE_ADD_FILE on the folder), then the replace of the old one, which needs
// FILE_DELETE_CHILD on the folder or DELETE on the file; a file made there must be one the run
// may write and replace again (FILE_WRITE_DATA, DELETE). Whether `token` (an impersonation token) may do that under the folder's security descriptor
// (owner, group and DACL) and, for a file already there, that file's; without one, the entries
// the folder passes on to the files made in it (inherited_file_dacl).
bool token_may_write_in(PSECURITY_DESCRIPTOR folder, PSECURITY_DESCRIPTOR file, HANDLE token);

// The DACL a file made in a folder with `folder_dacl` inherits from it: its entries passed on to
// files (OBJECT_INHERIT_ACE), generic rights mapped to a file's, marked inherited. Entries for
// the file's creator (CREATOR OWNER, CREATOR GROUP) are left out: the host's files were made by
// its installer, not by this run.
std::vector<BYTE> inherited_file_dacl(PACL folder_dacl);

// The same with this run's own token, and the descriptors as Windows keeps them, of `folder` and
// of `file` in it (empty: no file there yet): true (redirected) when this run may not write
// there, and also when that cannot be checked (the folder's descriptor cannot be read), as a
// virtualized run's writes in such a folder were taken to be before.
bool writes_would_be_redirected(const std::wstring& folder, const std::wstring& file);

}  // namespace aggiorna::windows
