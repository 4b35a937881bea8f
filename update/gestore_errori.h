// The update run's one error handler: code 75 means the host holds its files, anything else is
// passed over and the run goes on with its next step.
#pragma once

#include <utility>

#include "platform/platform.h"

namespace aggiorna {

class GestoreErrori {
public:
    explicit GestoreErrori(Platform& piattaforma) : piattaforma_(piattaforma) {}

    // Runs one step of the run. Returns false when the step failed with a code that the run
    // ignores; code 75 shows the in-use message and ends the process.
    template <class Passo>
    bool Esegui(Passo&& passo) {
        try {
            std::forward<Passo>(passo)();
            return true;
        } catch (const Error& e) {
            if (e.code() == code::path_file_access) InUso();
            return false;
        }
    }

    // The host program holds the files it needs: tell the user and stop here.
    [[noreturn]] void InUso();

private:
    Platform& piattaforma_;
};

}  // namespace aggiorna
