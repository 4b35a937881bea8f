// The outside components, created with CoCreateInstance and called through their interfaces.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace aggiorna::windows {

// The program's code for a method's failure HRESULT. A component built with the host's tools
// reports its run-time error N as 0x800A0000 + N (facility 0xA), which gives back N; a Win32
// sharing or lock violation is 75 (the file is held open), E_ACCESSDENIED 70; any other HRESULT
// is its own value.
int component_error_code(std::uint32_t hresult);

// Needs a COM apartment on the calling thread (the entry point opens one). Creation asks for an
// in-process or a local server; any failure to create is Error(429) with the HRESULT in the
// detail. A method's failure HRESULT is thrown as Error with component_error_code. Every
// object must be destroyed before the apartment is closed.
class WindowsComponents final : public Components {
public:
    std::unique_ptr<ComponenteAggiornamento> create_updater() override;
    std::unique_ptr<Cifratore> create_cifratore() override;
    std::unique_ptr<Decodificatore> create_decodificatore() override;
};

}  // namespace aggiorna::windows
