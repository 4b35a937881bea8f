// The portable build's outside components: its own stand-ins, since there is no COM here.
#pragma once

#include <filesystem>

#include "platform/platform.h"

namespace aggiorna::portable {

class PortableComponents final : public Components {
public:
    // The update stand-in works on files of `prefix` and reports through `boxes`.
    PortableComponents(std::filesystem::path prefix, MessageBoxes& boxes)
        : prefix_(std::move(prefix)), boxes_(boxes) {}

    std::unique_ptr<ComponenteAggiornamento> create_updater() override;
    std::unique_ptr<Cifratore> create_cifratore() override;
    std::unique_ptr<Decodificatore> create_decodificatore() override;

private:
    std::filesystem::path prefix_;
    MessageBoxes& boxes_;
};

}  // namespace aggiorna::portable
