// Message boxes shown with MessageBoxW.
#pragma once

#include "platform/platform.h"

namespace aggiorna::windows {

class WindowsMessageBoxes final : public MessageBoxes {
public:
    // The box has no owner window, so it is application-modal; the style is passed unchanged.
    // Returns 2 (Cancel) when the box could not be shown at all.
    int message_box(std::string_view text, std::uint32_t style, std::string_view caption) override;
};

}  // namespace aggiorna::windows
