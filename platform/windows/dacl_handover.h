// What a copy's temporary takes of the DACL of the file it replaces, and when it asks for the
// right to set one.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/windows/win.h"

namespace aggiorna::windows {

// The replaced file's DACL as read before the temporary is made.
struct ReplacedDacl {
    bool read = false;               // the file is there and its DACL could be read
    bool volume_keeps_acls = false;  // its volume keeps the DACLs given to files
    bool present = false;            // it has a DACL (none: open to everyone)
    std::vector<BYTE> own;           // its own entries, not passed on by its folder (an ACL)
    bool protect = false;            // protected from the folder's inheritance
};

// The DACL handed to the temporary before the rename; nothing when `hand_over` is false, and
// then the temporary is made without asking WRITE_DAC (a share granting "Change" and not "Full
// control" refuses that right, and the folder's entries are all the new file needs).
struct DaclHandover {
    bool hand_over = false;
    std::vector<BYTE> acl;
    bool protect = false;
};

// Only where the volume keeps DACLs, and only a DACL with entries of its own or protected from
// inheritance: the rest is the folder's to give. A user's first virtual copy, made by a
// virtualized run where its writes land in the VirtualStore, takes nothing of the real file (a
// protected DACL of Program Files would forbid the user to write their own copy).
DaclHandover decide_dacl_handover(const ReplacedDacl& replaced, bool first_virtual_copy);

// Reads the DACL of the file at `path` (a long path; READ_CONTROL with full sharing). A DACL the
// user may not read, or a missing file, is not read.
ReplacedDacl read_replaced_dacl(const std::wstring& path, const std::function<bool(HANDLE file)>& volume_keeps_acls);

// The number of entries of an ACL made by own_dacl_entries.
DWORD entry_count(const std::vector<BYTE>& acl);

}  // namespace aggiorna::windows
