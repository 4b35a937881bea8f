// The end of the process: CoUninitialize for the apartment opened at start, then ExitProcess.
#include "platform/windows/process.h"

#include "platform/windows/win.h"

namespace aggiorna::windows {

void WindowsProcess::end_process() {
    if (com_initialized_) CoUninitialize();
    ExitProcess(0);
}

}  // namespace aggiorna::windows
