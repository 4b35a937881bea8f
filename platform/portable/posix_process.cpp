// PosixProcess: ends the process at once.
#include "platform/portable/posix_process.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>

namespace aggiorna::portable {

void PosixProcess::end_process() {
    // _Exit skips the stream buffers; what the boxes printed must still reach the terminal.
    std::cout.flush();
    std::cerr.flush();
    std::clog.flush();
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(0);
}

}  // namespace aggiorna::portable
