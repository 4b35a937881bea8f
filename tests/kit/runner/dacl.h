// A file's DACL as the kit's scenarios set and read it: an entry of its own granted to Everyone,
// the entries it inherits from its folder, and whether the Users can read it; a folder opened to
// the Users, and a file closed to them.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/windows/win.h"

namespace kit {

// One entry of a DACL, as far as the checks compare them.
struct AceFacts {
    BYTE type = 0;
    BYTE flags = 0;
    ACCESS_MASK mask = 0;
    std::vector<BYTE> sid;  // empty for the kinds of entry that hold no plain SID
    bool operator==(const AceFacts&) const = default;
};

// The entries of the file's DACL in their order; nullopt when it cannot be read.
std::optional<std::vector<AceFacts>> dacl_entries(const std::wstring& file);

// Adds an entry of the file's own granting Everyone (S-1-1-0) read and write access, as installers
// of old programs grant it. Throws std::runtime_error when it cannot.
void grant_everyone(const std::wstring& file);
// Whether `entries` hold that grant as the file's own entry (not one its folder passes on).
bool grants_everyone(const std::vector<AceFacts>& entries);

// Grants the Users (BUILTIN\Users) Modify on `folder`, inherited by every folder and file below it
// (those there now too), as an installer that lets every user save the host's data does. Throws
// std::runtime_error when it cannot.
void grant_users_modify(const std::wstring& folder);
// Gives `file` a DACL of its own, inheriting nothing: SYSTEM and the Administrators full control,
// the Users read only. Throws std::runtime_error when it cannot.
void let_users_only_read(const std::wstring& file);

// The entries a folder passes on to the file.
std::vector<AceFacts> inherited(const std::vector<AceFacts>& entries);

// Whether the Users (BUILTIN\Users, S-1-5-32-545, or Authenticated Users, S-1-5-11) may read the
// file's data: an entry allows it and none denies it.
bool users_can_read(const std::vector<AceFacts>& entries);

}  // namespace kit
