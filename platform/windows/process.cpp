// The end of the process where the run stops short: ExitProcess alone.
#include "platform/windows/process.h"

#include "platform/windows/win.h"

namespace aggiorna::windows {

void WindowsProcess::end_process() { ExitProcess(0); }

}  // namespace aggiorna::windows
