// File channel numbers of the process (the host's runtime numbers its open files from 1).
#pragma once

#include <cstdint>

namespace aggiorna {

// The lowest free channel number, now taken; throws Error 67 when none is free.
std::int16_t CanaleLibero();
// Gives a channel back; 0 (no channel) is ignored.
void RilasciaCanale(std::int16_t canale);

}  // namespace aggiorna
