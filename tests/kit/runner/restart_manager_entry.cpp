// rstrtmgr.dll loaded by its full path in System32 (never from the kit's folder), one session.
#include "restart_manager_entry.h"

#include <restartmanager.h>

#include <stdexcept>
#include <vector>

#include "platform/windows/text.h"

namespace kit {
namespace {

using aggiorna::windows::to_utf8;

template <typename Function>
Function function_of(HMODULE module, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

class Library {
public:
    explicit Library(const std::wstring& path) : module_(LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH)) {}
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
    ~Library() {
        if (module_ != nullptr) FreeLibrary(module_);
    }
    HMODULE get() const { return module_; }

private:
    HMODULE module_;
};

}  // namespace

std::wstring restart_manager_name(const std::wstring& file, DWORD process_id) {
    wchar_t system[MAX_PATH + 1] = {};
    const UINT length = GetSystemDirectoryW(system, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH) throw std::runtime_error("no System32 folder");
    const Library library(std::wstring(system, length) + L"\\rstrtmgr.dll");
    if (library.get() == nullptr) throw std::runtime_error("rstrtmgr.dll cannot be loaded from System32");
    using StartFn = DWORD(WINAPI*)(DWORD*, DWORD, WCHAR*);
    using RegisterFn = DWORD(WINAPI*)(DWORD, UINT, LPCWSTR*, UINT, RM_UNIQUE_PROCESS*, UINT, LPCWSTR*);
    using ListFn = DWORD(WINAPI*)(DWORD, UINT*, UINT*, RM_PROCESS_INFO*, LPDWORD);
    using EndFn = DWORD(WINAPI*)(DWORD);
    const auto start = function_of<StartFn>(library.get(), "RmStartSession");
    const auto add = function_of<RegisterFn>(library.get(), "RmRegisterResources");
    const auto list = function_of<ListFn>(library.get(), "RmGetList");
    const auto end = function_of<EndFn>(library.get(), "RmEndSession");
    if (!start || !add || !list || !end) throw std::runtime_error("rstrtmgr.dll lacks the Restart Manager's functions");
    DWORD session = 0;
    WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
    if (const DWORD status = start(&session, 0, key); status != ERROR_SUCCESS) {
        throw std::runtime_error("RmStartSession failed with error " + std::to_string(status));
    }
    LPCWSTR files[] = {file.c_str()};
    std::vector<RM_PROCESS_INFO> found;
    DWORD status = add(session, 1, files, 0, nullptr, 0, nullptr);
    // The list may grow between two calls.
    for (int attempt = 0; status == ERROR_SUCCESS || status == ERROR_MORE_DATA; ++attempt) {
        UINT needed = 0, count = static_cast<UINT>(found.size());
        DWORD reasons = 0;
        status = list(session, &needed, &count, found.data(), &reasons);
        if (status == ERROR_SUCCESS) {
            found.resize(count);
            break;
        }
        if (status != ERROR_MORE_DATA || attempt == 3) break;
        found.resize(needed + 4);
    }
    end(session);
    if (status != ERROR_SUCCESS) throw std::runtime_error("RmGetList failed with error " + std::to_string(status));
    for (const RM_PROCESS_INFO& info : found) {
        if (info.Process.dwProcessId == process_id) return info.strAppName;
    }
    throw std::runtime_error("the Restart Manager does not list the holder the runner started (process " +
                             std::to_string(process_id) + ") among the " + std::to_string(found.size()) +
                             " holders of " + to_utf8(file));
}

}  // namespace kit
