// Tests of the program's own decoding component and of the key.
#include "platform/portable/decodifica_sostitutiva.h"

#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "fakes/fake_platform.h"
#include "platform/portable/cp1252.h"
#include "settings/chiave.h"

namespace aggiorna::portable {
namespace {

using testing::CodiceDi;

std::string TuttiIByte() {
    std::string s;
    for (int b = 0; b < 256; ++b) s.push_back(static_cast<char>(b));
    return s;
}

// What a reader does with a stored text: ANSI to UTF-8, Decodifica, then Decifra.
std::string Leggi(const std::string& byte_codificati, const std::string& chiave) {
    CifratoreSostitutivo cifratore;
    DecodificatoreSostitutivo decodificatore;
    std::string k = chiave;
    cifratore.ImpostaChiave(k);
    std::string intermedio = decodificatore.Decodifica(cp1252_to_utf8(byte_codificati));
    return cifratore.Decifra(intermedio);
}

TEST(DecodificaSostitutiva, EveryByteGoesThereAndBack) {
    const std::string chiave = CostruisciChiave();
    for (const std::string& testo : {TuttiIByte(), std::string(), std::string("a"), std::string(160, ' '),
                                     std::string("Citt\xE0 \x80 \x81\x8D\x8F\x90\x9D")}) {
        const std::string codificato = CodificaTestoSostitutivo(testo, chiave);
        EXPECT_EQ(codificato.size(), testo.size());
        EXPECT_EQ(DecifraSostitutiva(DecodificaSostitutiva(codificato), chiave), testo);
        EXPECT_EQ(Leggi(codificato, chiave), cp1252_to_utf8(testo));
    }
}

TEST(DecodificaSostitutiva, TheStoredFormHidesTheText) {
    const std::string chiave = CostruisciChiave();
    const std::string testo = "Quibex S.r.l." + std::string(147, ' ');
    const std::string codificato = CodificaTestoSostitutivo(testo, chiave);
    EXPECT_EQ(codificato.find("Quibex"), std::string::npos);
    EXPECT_EQ(codificato.find("    "), std::string::npos) << "the padding is encoded too";
    EXPECT_NE(CodificaTestoSostitutivo(testo, "altra"), codificato);
}

TEST(DecodificaSostitutiva, TheTwoStagesAreUndoneByTheirOwnMethods) {
    const std::string chiave = "chiave";
    const std::string testo = "abc";
    // Decodifica undoes stage one only: what it gives back is still enciphered.
    DecodificatoreSostitutivo decodificatore;
    const std::string intermedio = decodificatore.Decodifica(cp1252_to_utf8(CodificaTestoSostitutivo(testo, chiave)));
    EXPECT_EQ(intermedio, cp1252_to_utf8(CifraSostitutiva(testo, chiave)));
    // With another key Decifra gives something else, of the same length.
    EXPECT_NE(Leggi(CodificaTestoSostitutivo(testo, chiave), "altra"), testo);
    EXPECT_EQ(Leggi(CodificaTestoSostitutivo(testo, chiave), chiave), testo);
}

TEST(DecodificaSostitutiva, ExpectsTextOfTheCodePage) {
    CifratoreSostitutivo cifratore;
    DecodificatoreSostitutivo decodificatore;
    std::string fuori = "\xE2\x82\xAC\xE4\xB8\xAD";  // "€" is in the code page, U+4E2D is not
    EXPECT_EQ(CodiceDi([&] { decodificatore.Decodifica(fuori); }), kCodiceTestoNonValido);
    std::string invalido = "\xC3";
    EXPECT_EQ(CodiceDi([&] { decodificatore.Decodifica(invalido); }), kCodiceTestoNonValido);

    std::string testo = "abc";
    EXPECT_EQ(CodiceDi([&] { cifratore.Decifra(testo); }), kCodiceTestoNonValido) << "no key yet";
    std::string chiave = CostruisciChiave();
    cifratore.ImpostaChiave(chiave);
    EXPECT_EQ(CodiceDi([&] { cifratore.Decifra(fuori); }), kCodiceTestoNonValido);
    EXPECT_EQ(utf8_to_cp1252(cifratore.Decifra(testo)).value_or("").size(), 3u);
    std::string vuoto;
    EXPECT_EQ(cifratore.Decifra(vuoto), "");
    EXPECT_EQ(decodificatore.Decodifica(""), "");
}

TEST(CostruisciChiave, GivesTheSamePrintableKeyEveryTime) {
    const std::string chiave = CostruisciChiave();
    EXPECT_EQ(chiave, CostruisciChiave());
    EXPECT_GE(chiave.size(), 8u);
    for (char c : chiave) EXPECT_TRUE(c > ' ' && c < 0x7F) << static_cast<int>(c);
}

}  // namespace
}  // namespace aggiorna::portable
