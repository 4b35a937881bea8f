// The outside components, created with CoCreateInstance and called through their interfaces.
#pragma once

#include "platform/platform.h"

namespace aggiorna::windows {

// Needs a COM apartment on the calling thread (the entry point opens one). Creation asks for an
// in-process or a local server; any failure to create is Error(429) with the HRESULT in the
// detail. A method's failure HRESULT is thrown as Error with that HRESULT as its code. Every
// object must be destroyed before the apartment is closed.
class WindowsComponents final : public Components {
public:
    std::unique_ptr<ComponenteAggiornamento> create_updater() override;
    std::unique_ptr<Cifratore> create_cifratore() override;
    std::unique_ptr<Decodificatore> create_decodificatore() override;
};

}  // namespace aggiorna::windows
