// Whether this run's writes into a folder would be refused, and so (for a run that Windows
// virtualizes, in a folder it virtualizes) land in the user's VirtualStore instead.
#pragma once

#include <string>

#include "platform/windows/win.h"

namespace aggiorna::windows {

// Windows virtualizes only writes that would fail: where the installer gave Users write access
// to the host's folder, a virtualized run writes the real files. What a copy writes there: a new
// file (FILE_ADD_FILE on the folder), then the replace of the old one, which needs
// FILE_DELETE_CHILD on the folder or DELETE on the file, and a file there may be written
// (FILE_WRITE_DATA): a file's rights are taken as the folder passes them on to a new file.
// Whether `token` (an impersonation token) may do that under the folder's security descriptor
// `folder` (owner, group and DACL).
bool token_may_write_in(PSECURITY_DESCRIPTOR folder, HANDLE token);

// The same with this run's own token and the folder's descriptor as Windows keeps it: true
// (redirected) when this run may not write there, and also when that cannot be checked (the
// descriptor cannot be read), as a virtualized run in such a folder was taken to be before.
bool writes_would_be_redirected(const std::wstring& folder);

}  // namespace aggiorna::windows
