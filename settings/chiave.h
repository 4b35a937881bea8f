// The key that the program hands to the decoding component's Cifratore.
#pragma once

#include <string>

namespace aggiorna {

// Builds the key at run time; the same text on every call and on every platform (printable
// ASCII, 16 characters). It appears nowhere in the program as one literal.
std::string CostruisciChiave();

}  // namespace aggiorna
