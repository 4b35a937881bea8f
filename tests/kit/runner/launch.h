// Starting the program as a scenario asks, and what the runner knows of the system it runs on.
#pragma once

#include <optional>
#include <string>

#include "platform/windows/win.h"

namespace kit {

// Thrown where a scenario cannot run on this system: the reason is printed on its NOT RUN line.
struct NotRun {
    std::string reason;
};

bool under_wine();
// This process holds an administrator's full token (UAC's elevation, or no UAC).
bool elevated();
// UAC is on: EnableLUA under HKLM\...\Policies\System is not 0.
bool uac_on();
// The runner's desktop takes the user's input, so that the foreground is the user's to see (not so
// in a service's session, as on hosted CI machines).
bool on_input_desktop();
// Whether Windows virtualizes the process's file and registry writes (UAC virtualization).
bool virtualized(HANDLE process);

struct Started {
    HANDLE process = nullptr;  // owned by the caller
    DWORD id = 0;
};

// Starts `exe` with `arguments` in `folder` from this process, with its token.
Started start(const std::wstring& exe, const std::wstring& arguments, const std::wstring& folder);

// Starts `exe` as the desktop's user, not elevated, through the desktop's shell
// (IShellDispatch2::ShellExecute): as a standard user double-clicking it would. Throws NotRun where
// that cannot be: no UAC, no elevation to step down from, or no shell.
Started start_as_desktop_user(const std::wstring& exe, const std::wstring& arguments, const std::wstring& folder);

// A window of the runner's own, in front of everything while it lives: the program is then started
// from behind another program's window, as from a browser.
class WindowInFront {
public:
    WindowInFront();
    ~WindowInFront();
    WindowInFront(const WindowInFront&) = delete;
    WindowInFront& operator=(const WindowInFront&) = delete;
    bool in_front() const;

private:
    HWND window_ = nullptr;
};

}  // namespace kit
