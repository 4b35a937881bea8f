// The process: one run at a time on the machine, the run's facts, the end where the run stops short.
#pragma once

#include <string>

#include "platform/platform.h"
#include "platform/windows/handles.h"

namespace aggiorna::windows {

// The name of the lock of every run on the machine: in the Global namespace, so that runs in
// other sessions (another user switched in, a Remote Desktop session) and an elevated run see it.
inline constexpr const wchar_t* kSingleRunLock = L"Global\\AggiornaArchivio-{6B0E2F4C-93A1-4D2B-8C57-1F3E9A0D7B64}";

// What the lock's claim found.
enum class LockClaim { taken_by_us, held_by_another, unavailable };
// Claims the named mutex `name` for the calling thread: created with a security descriptor that
// lets every user wait on it (a standard user's run and an elevated one must see each other's),
// or opened where another run made it. WAIT_ABANDONED (the holder was killed) makes it ours.
// `held` keeps the handle for the caller.
LockClaim claim_lock(const std::wstring& name, ScopedHandle& held);

// "Windows 10.0 build 19045, 64-bit": the version as the kernel gives it (RtlGetVersion, which no
// compatibility setting changes), and whether Windows is 64-bit (a 32-bit run under WOW64).
std::string windows_version_text();

class WindowsProcess final : public Process {
public:
    WindowsProcess() = default;
    // Another lock name: the tests' own, so that they never meet a real run's.
    explicit WindowsProcess(std::wstring lock_name) : lock_name_(std::move(lock_name)) {}
    ~WindowsProcess() override;

    // Held until the process ends: the run ends with ExitProcess (end_process), and Windows
    // releases the mutex then, or marks it abandoned when the run is killed. A lock that cannot
    // be made at all (no such object allowed) does not stop the run.
    bool claim_single_run() override;
    RunFacts facts() override;
    // The COM apartment is left open: the run may end with component objects still alive (the
    // in-use message, the settings-file messages), and closing it would unload their DLLs under
    // them; a DLL built with the host's tools may crash while unloading. Windows reclaims the
    // apartment with the process.
    [[noreturn]] void end_process(int exit_code) override;

private:
    std::wstring lock_name_ = kSingleRunLock;
    ScopedHandle lock_;
    bool owned_ = false;
};

}  // namespace aggiorna::windows
