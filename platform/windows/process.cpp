// The process: the single-run mutex, the run's facts from its token and the kernel, ExitProcess.
#include "platform/windows/process.h"

#include <cstdio>

#include "platform/windows/desktop_user.h"
#include "platform/windows/win.h"

#include <sddl.h>

namespace aggiorna::windows {
namespace {

// Every user may wait on the lock and release it (SYNCHRONIZE | MUTEX_MODIFY_STATE); its
// integrity label is medium, so that an elevated run's lock stays within reach of a standard
// user's run. Without the label where the system cannot read one.
constexpr const wchar_t* kLockDescriptors[] = {
    L"D:(A;;0x00100001;;;WD)S:(ML;;NW;;;ME)",
    L"D:(A;;0x00100001;;;WD)",
};

ScopedHandle create_or_open(const std::wstring& name) {
    for (const wchar_t* sddl : kLockDescriptors) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr)) {
            continue;
        }
        const ScopedLocal owned(descriptor);
        SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
        // Only the right to wait is asked: an existing lock made by another user's run opens with it.
        ScopedHandle lock(CreateMutexExW(&attributes, name.c_str(), 0, SYNCHRONIZE));
        if (lock.valid()) return lock;
    }
    return ScopedHandle(OpenMutexW(SYNCHRONIZE, FALSE, name.c_str()));
}

template <typename Function>
Function ntdll_function(const char* name) {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (ntdll == nullptr) return nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(ntdll, name)));
}

std::optional<bool> token_flag(TOKEN_INFORMATION_CLASS what) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return std::nullopt;
    const ScopedHandle owned(token);
    DWORD value = 0;
    DWORD size = 0;
    if (!GetTokenInformation(token, what, &value, sizeof value, &size)) return std::nullopt;
    return value != 0;
}

std::string run_user_text() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
    const ScopedHandle owned(token);
    std::string text = account_name(token);
    const DesktopUser desktop = find_desktop_user(system_desktop_user_queries());
    if (desktop.other) {
        const std::string other = desktop.token.valid() ? account_name(desktop.token.get()) : std::string();
        text += other.empty() ? " (at the desktop: another user, not known)" : " (at the desktop: " + other + ")";
    }
    return text;
}

}  // namespace

LockClaim claim_lock(const std::wstring& name, ScopedHandle& held) {
    held = create_or_open(name);
    if (!held.valid()) return LockClaim::unavailable;
    switch (WaitForSingleObject(held.get(), 0)) {
        case WAIT_OBJECT_0:
        case WAIT_ABANDONED:  // its holder was killed: nothing of that run goes on
            return LockClaim::taken_by_us;
        case WAIT_TIMEOUT:
            held.close();
            return LockClaim::held_by_another;
        default:
            held.close();
            return LockClaim::unavailable;
    }
}

std::string windows_version_text() {
    using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof version;
    const auto get_version = ntdll_function<RtlGetVersionFn>("RtlGetVersion");
    char text[96] = "Windows";
    if (get_version != nullptr && get_version(&version) == 0) {
        std::snprintf(text, sizeof text, "Windows %lu.%lu build %lu", static_cast<unsigned long>(version.dwMajorVersion),
                      static_cast<unsigned long>(version.dwMinorVersion),
                      static_cast<unsigned long>(version.dwBuildNumber));
    }
    BOOL wow64 = FALSE;
    const bool windows_64 = sizeof(void*) == 8 || (IsWow64Process(GetCurrentProcess(), &wow64) && wow64);
    return std::string(text) + (windows_64 ? ", 64-bit" : ", 32-bit");
}

WindowsProcess::~WindowsProcess() {
    if (owned_) ReleaseMutex(lock_.get());
}

bool WindowsProcess::claim_single_run() {
    if (owned_) return true;
    switch (claim_lock(lock_name_, lock_)) {
        case LockClaim::taken_by_us:
            owned_ = true;
            return true;
        case LockClaim::held_by_another:
            return false;
        case LockClaim::unavailable:
            return true;
    }
    return true;
}

RunFacts WindowsProcess::facts() {
    RunFacts facts;
    facts.program = std::string("AggiornaArchivio ") + AGGIORNA_VERSION + (sizeof(void*) == 8 ? " (64-bit)" : " (32-bit)");
    facts.system = windows_version_text();
    facts.elevated = token_flag(TokenElevation);
    facts.virtualized = token_flag(TokenVirtualizationEnabled);
    facts.user = run_user_text();
    return facts;
}

void WindowsProcess::end_process(int exit_code) { ExitProcess(static_cast<UINT>(exit_code)); }

}  // namespace aggiorna::windows
