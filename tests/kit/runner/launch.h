// Starting the program as a scenario asks: from the runner, or as the desktop's standard user.
#pragma once

#include <optional>
#include <string>

#include "platform/windows/win.h"
#include "system_facts.h"

namespace kit {

// Thrown where a scenario cannot run on this system: the reason is printed on its NOT RUN line.
struct NotRun {
    std::string reason;
};

struct Started {
    HANDLE process = nullptr;  // owned by the caller
    DWORD id = 0;
};

// Starts `exe` with `arguments` in `folder` from this process, with its token, in the kit's job.
Started start(const std::wstring& exe, const std::wstring& arguments, const std::wstring& folder);

// Starts `exe` as the desktop's user, not elevated, through the desktop's shell
// (IShellDispatch2::ShellExecute): as a standard user double-clicking it would. The shell is let
// give the program the foreground first. Throws NotRun, with the reason found, where the shell's
// token would not make it a standard user's run (see standard_user_unavailable). The process
// started is kept with the kit's others, though it is the shell's child.
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
