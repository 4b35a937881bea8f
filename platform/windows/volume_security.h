// What a volume keeps of a file: whether the delete-on-close mark can be trusted there, whether it
// keeps DACLs, and the DACL entries a new file takes over from the file it replaces.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/windows/win.h"

namespace aggiorna::windows {

// Whether a volume keeps the delete-on-close mark of a file as documented, so that a mark set and
// cleared again through the handle leaves the file in place: a local disk (fixed, removable,
// optical, RAM disk) with one of Windows' own file systems. Network shares and other file-system
// drivers may refuse the mark or ignore its clearing, and then delete the new file on close.
bool delete_mark_reliable(unsigned drive_type, std::wstring_view file_system);
// The same for the volume that holds `folder`, asked of Windows.
bool volume_keeps_delete_mark(const std::wstring& folder);
// Whether the volume of an open file keeps the DACLs given to files (FILE_PERSISTENT_ACLS). Under
// Wine no volume does: Wine turns a DACL given to a file into the Unix file's mode (a file of
// mode 0644 became 0775) and shows its default DACL again, so a replaced file keeps its mode only
// when none is given.
bool volume_keeps_acls(HANDLE file);
// Whether this process runs under Wine (its ntdll says so).
bool running_under_wine();
// The entries of a file's DACL that are its own, not passed on by its folder (INHERITED_ACE), in
// their order, as an ACL of the same revision.
std::vector<BYTE> own_dacl_entries(PACL dacl);
// SetSecurityInfo of a DACL on a file open with WRITE_DAC: protected from the folder's
// inheritance, or taking it as the folder passes it on. Returns the Windows error.
DWORD set_file_dacl(HANDLE file, PACL dacl, bool protect);

}  // namespace aggiorna::windows
