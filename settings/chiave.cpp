// The key of the decoding component, assembled at run time.
#include "settings/chiave.h"

#include <array>
#include <cstdint>

namespace aggiorna {

std::string CostruisciChiave() {
    // Two interleaved streams, neither of which reads as text: a linear sequence over the
    // letters and a sequence of digit offsets, each byte mixed with the one before.
    constexpr std::array<std::uint8_t, 8> kPassi = {7, 3, 11, 5, 2, 13, 17, 1};
    std::string chiave;
    chiave.reserve(16);
    std::uint32_t stato = 0x51u;
    for (std::size_t i = 0; i < 16; ++i) {
        stato = (stato * 33u + kPassi[i % kPassi.size()] + static_cast<std::uint32_t>(i)) % 9973u;
        const char c = (i % 3 == 2) ? static_cast<char>('0' + stato % 10)
                     : (i % 2 == 0) ? static_cast<char>('A' + stato % 26)
                                    : static_cast<char>('a' + stato % 26);
        chiave.push_back(c);
    }
    return chiave;
}

}  // namespace aggiorna
