// UAC file virtualization: where a user's virtual copies of files in protected folders live.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace aggiorna::windows {

// A virtualized program (the legacy host, run by a user without administrator rights) that
// writes into a protected folder writes instead into the same path under the user's
// "%LOCALAPPDATA%\VirtualStore", drive left out ("C:\Program Files\Q\Estr.bin" becomes
// "...\VirtualStore\Program Files\Q\Estr.bin"), and from then on reads that copy. A process that
// is not virtualized (started as administrator, or 64-bit) sees only the real file.
struct VirtualStore {
    std::string root;                            // the VirtualStore folder; empty: none to look after
    std::vector<std::string> protected_folders;  // full paths: "C:\Program Files", "C:\Windows", ...
    // This process is virtualized itself: Windows redirects its own reads and writes, so there
    // is no virtual copy to look after, and what it writes into a protected folder stays in the
    // user's store.
    bool virtualized = false;
    // The user at the desktop is not this run's, and their folders could not be had (see
    // desktop_user.h): `root` is empty rather than this run's own store, and a virtual copy of
    // theirs, if any, is out of reach.
    bool other_user_unknown = false;
};

// Whether `path` lies inside one of the store's protected folders (not the folder itself).
// Separators "\" and "/" and repeated ones are taken alike; folder names compare without regard
// to case.
bool in_protected_folder(const VirtualStore& store, const std::string& path);
// The virtual copy that a virtualized program would use for `path`, or nullopt when `path` lies
// in none of the store's protected folders (or the store has no root).
std::optional<std::string> virtual_copy_path(const VirtualStore& store, const std::string& path);

// This process's store: the VirtualStore of the user whose desktop the program runs on (not of
// the account it was elevated with), the folders Windows virtualizes (Program Files in both
// views, ProgramData, the Windows folder), and whether this process is virtualized. No root
// where the user's folder cannot be found; then other_user_unknown says whether that user is
// another account's.
VirtualStore system_virtual_store();

}  // namespace aggiorna::windows
