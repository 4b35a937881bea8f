// The process DLL search path: System32, and a component's own folder while it is created.
#pragma once

#include <string>

#include "platform/windows/win.h"

namespace aggiorna::windows {

// From here on, DLLs loaded by name, and the DLLs that any DLL imports, come from System32 and
// from the folders a DllFolder adds: never from the folder the program was started from (usually
// the download folder). Returns false where Windows lacks the call (Vista, and 7 without
// KB2533623); the standard search path then stays.
bool restrict_dll_search();

// The folder of the DLL registered as the in-process server of `clsid`, read as COM reads it:
// the default value of HKEY_CLASSES_ROOT\CLSID\{...}\InprocServer32 in this process's registry
// view, environment variables expanded for REG_EXPAND_SZ, surrounding quotes removed. Empty when
// the class has no such value or the value names no folder.
std::wstring registered_server_folder(const CLSID& clsid);

// Adds `folder` to the process DLL search path for the object's life, so that a component's
// server finds the private DLLs it imports from its own folder. Does nothing for an empty folder,
// or where Windows lacks AddDllDirectory or refuses the folder (a relative path).
class DllFolder {
public:
    explicit DllFolder(const std::wstring& folder);
    ~DllFolder();
    DllFolder(const DllFolder&) = delete;
    DllFolder& operator=(const DllFolder&) = delete;

private:
    void* cookie_ = nullptr;
};

}  // namespace aggiorna::windows
