// The Restart Manager (rstrtmgr.dll, loaded from System32 only) and the processes it names.
#include "platform/windows/restart_manager.h"

#include <algorithm>

#include "platform/windows/handles.h"
#include "platform/windows/paths.h"
#include "platform/windows/text.h"
#include "platform/windows/win.h"

#include <restartmanager.h>

namespace aggiorna::windows {
namespace {

// rstrtmgr.dll is not one of the DLLs Windows always takes from System32: loaded by name it could
// come from the download folder the program was started from.
ScopedLibrary load_restart_manager() {
    ScopedLibrary module(LoadLibraryExW(L"rstrtmgr.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
    if (module.valid()) return module;
    // Vista and 7 without KB2533623 know no such flag: the full path instead.
    wchar_t system[MAX_PATH + 1] = {};
    const UINT length = GetSystemDirectoryW(system, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH) return {};
    return ScopedLibrary(LoadLibraryExW((std::wstring(system, length) + L"\\rstrtmgr.dll").c_str(), nullptr,
                                        LOAD_WITH_ALTERED_SEARCH_PATH));
}

template <typename Function>
Function function_of(HMODULE module, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// The program file of a process that is still the one the Restart Manager saw (not a later
// process given the same id); empty when it cannot be had.
std::wstring program_of(const RM_UNIQUE_PROCESS& process) {
    const ScopedHandle handle(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process.dwProcessId));
    if (!handle.valid()) return {};
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(handle.get(), &created, &exited, &kernel, &user) ||
        CompareFileTime(&created, &process.ProcessStartTime) != 0) {
        return {};
    }
    std::wstring path(32768, L'\0');
    DWORD size = static_cast<DWORD>(path.size());
    if (!QueryFullProcessImageNameW(handle.get(), 0, path.data(), &size)) return {};
    path.resize(size);
    return path;
}

HolderKind kind_of(RM_APP_TYPE type) {
    switch (type) {
        case RmService:
            return HolderKind::service;
        case RmCritical:
            return HolderKind::critical;
        default:
            return HolderKind::application;
    }
}

using StartFn = DWORD(WINAPI*)(DWORD*, DWORD, WCHAR*);
using RegisterFn = DWORD(WINAPI*)(DWORD, UINT, LPCWSTR*, UINT, RM_UNIQUE_PROCESS*, UINT, LPCWSTR*);
using ListFn = DWORD(WINAPI*)(DWORD, UINT*, UINT*, RM_PROCESS_INFO*, LPDWORD);
using EndFn = DWORD(WINAPI*)(DWORD);

// A Restart Manager session, ended on every path (also when a later step throws).
class RmSession {
public:
    RmSession(StartFn start, EndFn end) : end_(end) {
        WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
        open_ = start(&session_, 0, key) == ERROR_SUCCESS;
    }
    ~RmSession() {
        if (open_) end_(session_);
    }
    RmSession(const RmSession&) = delete;
    RmSession& operator=(const RmSession&) = delete;
    bool open() const { return open_; }
    DWORD id() const { return session_; }

private:
    EndFn end_;
    DWORD session_ = 0;
    bool open_ = false;
};

}  // namespace

std::vector<Holder> restart_manager_holders(const std::wstring& path) {
    std::vector<Holder> holders;
    const ScopedLibrary module = load_restart_manager();
    if (!module.valid()) return holders;
    const auto start = function_of<StartFn>(module.get(), "RmStartSession");
    const auto add = function_of<RegisterFn>(module.get(), "RmRegisterResources");
    const auto list = function_of<ListFn>(module.get(), "RmGetList");
    const auto end = function_of<EndFn>(module.get(), "RmEndSession");
    if (!start || !add || !list || !end) return holders;
    const RmSession session(start, end);
    if (!session.open()) return holders;
    LPCWSTR files[] = {path.c_str()};
    std::vector<RM_PROCESS_INFO> found;
    UINT needed = 0;
    UINT count = 0;
    DWORD reasons = 0;
    DWORD status = add(session.id(), 1, files, 0, nullptr, 0, nullptr);
    // The list may grow between two calls: asked again, a few times at most.
    for (int attempt = 0; status == ERROR_SUCCESS; ++attempt) {
        count = static_cast<UINT>(found.size());
        status = list(session.id(), &needed, &count, found.data(), &reasons);
        if (status != ERROR_MORE_DATA || attempt == 3) break;
        found.resize(needed + 4);
        status = ERROR_SUCCESS;
    }
    if (status != ERROR_SUCCESS) return holders;
    for (UINT i = 0; i < count && i < found.size(); ++i) {
        const RM_PROCESS_INFO& info = found[i];
        if (info.Process.dwProcessId == GetCurrentProcessId()) continue;
        Holder holder{info.strAppName, program_of(info.Process), kind_of(info.ApplicationType)};
        if (holder.name.empty()) holder.name = holder.program.substr(holder.program.find_last_of(L'\\') + 1);
        if (holder.name.empty()) holder.name = info.strServiceShortName;
        if (!holder.name.empty()) holders.push_back(std::move(holder));
    }
    return holders;
}

OtherHolders holders_to_name(const std::vector<Holder>& holders, const std::wstring& host_folder) {
    OtherHolders others;
    bool only_services = true;
    for (const Holder& holder : holders) {
        if (!holder.program.empty() && lies_in(folder_of(holder.program), host_folder)) return {};
        only_services = only_services && holder.kind != HolderKind::application;
        std::string name = to_utf8(holder.name);
        if (std::find(others.names.begin(), others.names.end(), name) == others.names.end()) {
            others.names.push_back(std::move(name));
        }
    }
    others.all_services = !others.names.empty() && only_services;
    return others;
}

std::vector<std::string> other_holders(const std::vector<Holder>& holders, const std::wstring& host_folder) {
    return holders_to_name(holders, host_folder).names;
}

}  // namespace aggiorna::windows
