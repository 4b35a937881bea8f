// The update run's one error handler: code 75 means the host holds its files, anything else is
// passed over and the run goes on with its next step.
#pragma once

#include <string>
#include <utility>

#include "platform/platform.h"
#include "update/diario.h"

namespace aggiorna {

class GestoreErrori {
public:
    GestoreErrori(Platform& piattaforma, Diario& diario) : piattaforma_(piattaforma), diario_(diario) {}

    // Runs one step of the run. Returns false when the step failed with a code that the run
    // ignores; code 75 shows the in-use message and ends the process. Each failure is written to
    // the log as `cosa` and its code, with the failure's detail unless `dettaglio` is false (a
    // step whose detail could hold a secret of the host's settings).
    template <class Passo>
    bool Esegui(std::string_view cosa, Passo&& passo, bool dettaglio = true) {
        try {
            std::forward<Passo>(passo)();
            return true;
        } catch (const Error& e) {
            diario_.Riga(std::string(cosa) + ": failed with code " + std::to_string(e.code()) +
                         (dettaglio ? std::string(" (") + e.what() + ")" : std::string()));
            if (e.code() == code::path_file_access) InUso();
            return false;
        }
    }

    // The host program holds the files it needs: tell the user and stop here.
    [[noreturn]] void InUso();
    Diario& diario() { return diario_; }

private:
    Platform& piattaforma_;
    Diario& diario_;
};

}  // namespace aggiorna
