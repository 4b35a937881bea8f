// The program's own decoding component, standing in for the outside one where there is no COM.
//
// The stored texts of "Dati.lib" are encoded in two stages, both keeping the length in bytes of
// the Windows-1252 text:
//   stage two ("Cifra", undone by Decifra with the key): byte i becomes
//       b + k[i mod len(k)] + 7 i  (mod 256), with k the key's Windows-1252 bytes (none: 0);
//   stage one ("Codifica", undone by Decodifica, no key): byte i becomes
//       b xor (0xA5 + 29 i mod 256), then the whole text is reversed.
// A writer encodes with Cifra then Codifica; a reader calls Decodifica, then Decifra. Every byte
// value can occur in an encoded text; the reader's ANSI-to-UTF-8 conversion maps each of the 256
// bytes to a distinct character, so nothing is lost on the way.
//
// The scheme functions work on bytes and call nothing of the operating system, so that other
// builds (the Windows test servers) can reuse them.
#pragma once

#include <string>
#include <string_view>

#include "platform/platform.h"

namespace aggiorna::portable {

// Code raised for a text that cannot be handled: a character outside Windows-1252, invalid
// UTF-8, or Decifra before ImpostaChiave (the host's "invalid procedure call or argument").
inline constexpr int kCodiceTestoNonValido = 5;

// The scheme, on Windows-1252 bytes.
std::string CodificaSostitutiva(std::string_view byte_testo);
std::string DecodificaSostitutiva(std::string_view byte_testo);
std::string CifraSostitutiva(std::string_view byte_testo, std::string_view byte_chiave);
std::string DecifraSostitutiva(std::string_view byte_testo, std::string_view byte_chiave);
// What a writer of "Dati.lib" stores for a plain text: Codifica(Cifra(text, key)).
std::string CodificaTestoSostitutivo(std::string_view byte_testo, std::string_view byte_chiave);

// The two classes of the component. Texts in and out are UTF-8; each character must be one of
// Windows-1252, else Error kCodiceTestoNonValido.
class CifratoreSostitutivo final : public Cifratore {
public:
    void ImpostaChiave(std::string& chiave) override;
    std::string Decifra(std::string& testo) override;

private:
    std::string chiave_;  // Windows-1252 bytes
    bool chiave_impostata_ = false;
};

class DecodificatoreSostitutivo final : public Decodificatore {
public:
    std::string Decodifica(const std::string& testo) override;
};

}  // namespace aggiorna::portable
