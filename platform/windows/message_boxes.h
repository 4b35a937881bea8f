// Message boxes shown with MessageBoxW.
#pragma once

#include "platform/platform.h"
#include "platform/windows/win.h"

namespace aggiorna::windows {

class WindowsMessageBoxes final : public MessageBoxes {
public:
    using ShowFunction = int(WINAPI*)(HWND, LPCWSTR, LPCWSTR, UINT);
    // `show` stands in for MessageBoxW in tests.
    explicit WindowsMessageBoxes(ShowFunction show = MessageBoxW) : show_(show) {}
    // The box has no owner window, so it is application-modal. The style is passed with
    // MB_SETFOREGROUND added: a program started from a browser's download list would otherwise
    // open its first box behind the browser. Returns 2 (Cancel) when the box could not be shown.
    int message_box(std::string_view text, std::uint32_t style, std::string_view caption) override;

private:
    ShowFunction show_;
};

}  // namespace aggiorna::windows
