// The end of the process where the run stops short: ExitProcess alone.
#include "platform/windows/process.h"

#include "platform/windows/win.h"

namespace aggiorna::windows {

void WindowsProcess::end_process(int exit_code) { ExitProcess(static_cast<UINT>(exit_code)); }

}  // namespace aggiorna::windows
