// The program's own decoding component: the byte scheme and the two classes over it.
#include "platform/portable/decodifica_sostitutiva.h"

#include <algorithm>
#include <cstdint>

#include "platform/portable/cp1252.h"

namespace aggiorna::portable {
namespace {

std::uint8_t Maschera(std::size_t i) { return static_cast<std::uint8_t>(0xA5u + 29u * i); }

std::uint8_t Spostamento(std::size_t i, std::string_view chiave) {
    std::uint8_t s = static_cast<std::uint8_t>(7u * i);
    if (!chiave.empty()) s = static_cast<std::uint8_t>(s + static_cast<std::uint8_t>(chiave[i % chiave.size()]));
    return s;
}

std::string InByte(std::string_view utf8, const char* cosa) {
    auto byte = utf8_to_cp1252(utf8);
    if (!byte) throw Error(kCodiceTestoNonValido, std::string(cosa) + ": text outside Windows-1252");
    return *byte;
}

}  // namespace

std::string CodificaSostitutiva(std::string_view byte_testo) {
    std::string out(byte_testo);
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<char>(static_cast<std::uint8_t>(out[i]) ^ Maschera(i));
    std::reverse(out.begin(), out.end());
    return out;
}

std::string DecodificaSostitutiva(std::string_view byte_testo) {
    std::string out(byte_testo.rbegin(), byte_testo.rend());
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<char>(static_cast<std::uint8_t>(out[i]) ^ Maschera(i));
    return out;
}

std::string CifraSostitutiva(std::string_view byte_testo, std::string_view byte_chiave) {
    std::string out(byte_testo);
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<char>(static_cast<std::uint8_t>(out[i]) + Spostamento(i, byte_chiave));
    return out;
}

std::string DecifraSostitutiva(std::string_view byte_testo, std::string_view byte_chiave) {
    std::string out(byte_testo);
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<char>(static_cast<std::uint8_t>(out[i]) - Spostamento(i, byte_chiave));
    return out;
}

std::string CodificaTestoSostitutivo(std::string_view byte_testo, std::string_view byte_chiave) {
    return CodificaSostitutiva(CifraSostitutiva(byte_testo, byte_chiave));
}

void CifratoreSostitutivo::ImpostaChiave(std::string& chiave) {
    chiave_ = InByte(chiave, "ImpostaChiave");
    chiave_impostata_ = true;
}

std::string CifratoreSostitutivo::Decifra(std::string& testo) {
    if (!chiave_impostata_) throw Error(kCodiceTestoNonValido, "Decifra: no key set");
    return cp1252_to_utf8(DecifraSostitutiva(InByte(testo, "Decifra"), chiave_));
}

std::string DecodificatoreSostitutivo::Decodifica(const std::string& testo) {
    return cp1252_to_utf8(DecodificaSostitutiva(InByte(testo, "Decodifica")));
}

}  // namespace aggiorna::portable
