// The end of the process on POSIX.
#pragma once

#include "platform/platform.h"

namespace aggiorna::portable {

class PosixProcess : public Process {
public:
    bool claim_single_run() override { return true; }
    RunFacts facts() override { return {}; }
    // Flushes standard output, then ends the process with `exit_code` without running destructors
    // or exit handlers.
    [[noreturn]] void end_process(int exit_code) override;
};

}  // namespace aggiorna::portable
