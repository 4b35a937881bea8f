// The end of the process: the COM apartment closed, then ExitProcess.
#pragma once

#include "platform/platform.h"

namespace aggiorna::windows {

class WindowsProcess final : public Process {
public:
    // `com_initialized`: whether this thread's CoInitialize succeeded and must be balanced.
    explicit WindowsProcess(bool com_initialized) : com_initialized_(com_initialized) {}
    [[noreturn]] void end_process() override;

private:
    bool com_initialized_;
};

}  // namespace aggiorna::windows
