// PosixProcess: ends the process at once.
#include "platform/portable/posix_process.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>

namespace aggiorna::portable {

void PosixProcess::end_process(int exit_code) {
    // _Exit skips the stream buffers; what the boxes printed must still reach the terminal.
    std::cout.flush();
    std::cerr.flush();
    std::clog.flush();
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(exit_code);
}

}  // namespace aggiorna::portable
