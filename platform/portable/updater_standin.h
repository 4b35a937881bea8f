// The program's own stand-in for the outside update component, for machines without it.
#pragma once

#include <filesystem>
#include <string>
#include <utility>

#include "platform/platform.h"

namespace aggiorna::portable {

// Completes a version 4 update the way the outside component leaves the host folder: the new
// archive "Estr.bi_" takes the place of "Estr.bin" in one rename, "bl.bin" stays where the copy
// put it, and the user is told the outcome in a box of its own. Reports every outcome itself,
// except one: while another process holds "Estr.bin" open (the host running) it replaces
// nothing and throws Error(75), as the real component fails, so that the run shows the in-use
// message.
class ComponenteAggiornamentoSostitutivo : public ComponenteAggiornamento {
public:
    ComponenteAggiornamentoSostitutivo(std::filesystem::path prefix, MessageBoxes& boxes)
        : prefix_(std::move(prefix)), boxes_(boxes) {}

    // `cartella` is the version 4 folder as the host stored it (a trailing backslash allowed).
    void CompletaAggiornamento(const std::string& cartella) override;

private:
    std::filesystem::path prefix_;
    MessageBoxes& boxes_;
};

}  // namespace aggiorna::portable
