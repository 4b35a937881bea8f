// The process on POSIX: the single-run lock on the Wine prefix, the run's facts, its end.
#pragma once

#include <filesystem>

#include "platform/platform.h"

namespace aggiorna::portable {

class PosixProcess : public Process {
public:
    // `prefix`: the Wine prefix this run works on (wine_prefix()).
    explicit PosixProcess(std::filesystem::path prefix);
    ~PosixProcess() override;
    PosixProcess(const PosixProcess&) = delete;
    PosixProcess& operator=(const PosixProcess&) = delete;

    // One run at a time per prefix: an exclusive, non-blocking flock on the prefix folder itself,
    // kept until the process ends (the lock goes with the process however it ends, so a killed
    // run never blocks the next). True when taken, or already taken by this object, or when there
    // is nothing to guard or no way to (no prefix folder, a folder that cannot be opened, a file
    // system without locks); false only while another process holds it.
    bool claim_single_run() override;
    // program "AggiornaArchivio <version> (portable, <bits>-bit)"; system "<sysname> <release>
    // <machine>, Wine prefix <path> (win32|win64)", "(no registry)" where the prefix has no
    // readable system.reg; no UAC: elevated and virtualized nullopt; user the account's name
    // (getpwuid of the effective user; "uid N" when it has none).
    RunFacts facts() override;
    // Flushes standard output, then ends the process with `exit_code` without running destructors
    // or exit handlers.
    [[noreturn]] void end_process(int exit_code) override;

private:
    std::filesystem::path prefix_;
    int lock_ = -1;  // the prefix folder, open and locked while this run holds the lock
};

}  // namespace aggiorna::portable
