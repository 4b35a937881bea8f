// The folder share the kit makes for a scenario (the Server service's NetShareAdd), planned in the
// journal before it is made and removed by it.
#pragma once

#include <string>

#include "platform/windows/win.h"

namespace kit {

// A hidden share ("$"): it is not offered to the network's browsing while the scenario runs.
inline const wchar_t* const kShareName = L"AggiornaKit$";

// Whether this computer has a share named `name`.
bool share_exists(const std::wstring& name);
// Shares `folder` as `name`, its share permissions granting Everyone Change (read, write, delete)
// and not Full Control. 0 (NERR_Success) or the NET_API_STATUS of the failure.
DWORD make_share(const std::wstring& name, const std::wstring& folder);
// Removes the share `name`; true when it is gone (or never was). The folder stays.
bool remove_share(const std::wstring& name);

}  // namespace kit
