// One scenario from start to end: the machine prepared, the program started, its boxes read and
// answered, the files and the COM log checked.
#pragma once

#include <string>
#include <vector>

#include "platform/windows/win.h"
#include "scenarios.h"

namespace kit {

struct Options {
    Places places;
    std::vector<Call> reading;  // the calls of a valid "Dati.lib" read
    std::wstring pictures;      // a folder for a picture of each box; empty: none
    bool verbose = false;
    bool check_foreground = true;  // false where the runner's desktop takes no input
    DWORD scenario_bound_ms = 120000;
};

struct Outcome {
    enum Kind { passed, failed, not_run } kind = passed;
    std::vector<std::string> problems;  // failed: what went wrong
    std::string reason;                 // not run: why
    double seconds = 0;
};

// Runs one scenario within `options.scenario_bound_ms`, on a registry put back as the journal has
// it; removes the files it laid out. Its registry keys are left for the journal to put back.
Outcome run_scenario(Scenario scenario, const Options& options);

}  // namespace kit
