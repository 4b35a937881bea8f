// Shell special folders from shell32.
#pragma once

#include "platform/platform.h"

namespace aggiorna::windows {

class WindowsShell final : public Shell {
public:
    // The folder of the user whose desktop the program runs on (desktop_user_folder), through the
    // wide-character call (so a user name outside the ANSI code page survives), as UTF-8; empty
    // text on any failure. Never throws.
    std::string special_folder(int csidl) noexcept override;
};

}  // namespace aggiorna::windows
