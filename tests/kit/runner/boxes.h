// The program's message boxes, read from the dialogs themselves and answered through their buttons.
#pragma once

#include <optional>
#include <set>
#include <string>

#include "platform/windows/win.h"
#include "scenarios.h"

namespace kit {

// A box as it stands on the screen.
struct ShownBox {
    HWND window = nullptr;
    std::wstring caption;
    std::wstring text;
    Icon icon = Icon::none;
    bool has_ok = false;
    bool has_cancel = false;
    int default_button = 0;  // the dialog's default button (IDOK, IDCANCEL), 0 when none
    bool foreground = false;
};

// Waits up to `ms` for a visible box (a dialog of class #32770) of process `process_id` that is
// not in `seen`; nullopt when none came or the process ended (`process` signalled) first.
std::optional<ShownBox> wait_for_box(DWORD process_id, HANDLE process, const std::set<HWND>& seen, DWORD ms);

// Presses the button `id` (IDOK or IDCANCEL) and waits up to `ms` for the box to go. False when it
// stayed.
bool answer_box(HWND box, int id, DWORD ms);

// Saves what the screen shows of `window` (its frame included) as a 24-bit BMP file.
bool save_picture(HWND window, const std::wstring& file);

std::string icon_name(Icon icon);

}  // namespace kit
