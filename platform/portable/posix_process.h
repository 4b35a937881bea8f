// The end of the process on POSIX.
#pragma once

#include "platform/platform.h"

namespace aggiorna::portable {

class PosixProcess : public Process {
public:
    // Flushes standard output, then ends the process with status 0 without running destructors
    // or exit handlers.
    [[noreturn]] void end_process() override;
};

}  // namespace aggiorna::portable
