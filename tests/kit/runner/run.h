// One scenario from start to end: the machine prepared, the program started, its boxes read and
// answered, the files and the COM log checked, the machine put back.
#pragma once

#include <string>
#include <vector>

#include "scenarios.h"

namespace kit {

struct Options {
    Places places;
    std::vector<Call> reading;  // the calls of a valid "Dati.lib" read
    std::wstring pictures;      // a folder for a picture of each box; empty: none
    bool verbose = false;
    bool check_foreground = true;  // false where the runner's desktop takes no input
};

struct Outcome {
    enum Kind { passed, failed, not_run } kind = passed;
    std::vector<std::string> problems;  // failed: what went wrong
    std::string reason;                 // not run: why
    double seconds = 0;
};

Outcome run_scenario(Scenario scenario, const Options& options);

// The registry keys and values every scenario may change, saved once and restored at the end.
class MachineState {
public:
    explicit MachineState(const std::vector<Scenario>& scenarios);
    ~MachineState();
    MachineState(const MachineState&) = delete;
    MachineState& operator=(const MachineState&) = delete;
    void restore();

private:
    struct Saved;
    Saved* saved_;
};

}  // namespace kit
