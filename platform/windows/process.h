// The end of the process where the run stops short: ExitProcess alone.
#pragma once

#include "platform/platform.h"

namespace aggiorna::windows {

class WindowsProcess final : public Process {
public:
    // The COM apartment is left open: the run may end with component objects still alive (the
    // in-use message, the settings-file messages), and closing it would unload their DLLs under
    // them; a DLL built with the host's tools may crash while unloading. Windows reclaims the
    // apartment with the process.
    [[noreturn]] void end_process() override;
};

}  // namespace aggiorna::windows
