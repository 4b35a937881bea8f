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
    bool claim_single_run() override { return true; }
    RunFacts facts() override { return {}; }
    [[noreturn]] void end_process(int exit_code) override;
};

}  // namespace aggiorna::windows
