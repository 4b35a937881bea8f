// The Restart Manager asked by the runner itself, apart from the program's own functions: the name
// its raw entry gives one process among those that hold a file.
#pragma once

#include <string>

#include "platform/windows/win.h"

namespace kit {

// The application name (RM_PROCESS_INFO.strAppName) the Restart Manager gives the process
// `process_id` among the holders of `file`. Throws std::runtime_error, saying why, when
// rstrtmgr.dll cannot be had from System32, the session fails, or the process is not listed.
std::wstring restart_manager_name(const std::wstring& file, DWORD process_id);

}  // namespace kit
