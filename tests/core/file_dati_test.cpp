// Tests of Inizializzazione and LetturaDatiGenerali through the fakes.
#include <array>
#include <cfloat>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fakes/fake_platform.h"
#include "settings/impostazioni.h"

namespace aggiorna {
namespace {

using testing::FakePlatform;
using testing::ProcessEnded;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

const std::string kCartella = "C:\\Programmi\\Quintrel4";
const std::string kPercorso = kCartella + "\\Dati.lib";
const std::string kIdentificativo = "\x84\x57\x98\x56";
const std::string kMancante = "File delle impostazioni mancante. Impossibile continuare.";
const std::string kNonValido = "Il file delle impostazioni non \xC3\xA8 valido. Impossibile continuare";

void Parola(std::string& out, int n) {
    out.push_back(static_cast<char>(n & 0xFF));
    out.push_back(static_cast<char>((n >> 8) & 0xFF));
}
void Contato(std::string& out, const std::string& t) {
    Parola(out, static_cast<int>(t.size()));
    out += t;
}

// Writes the bytes of a "Dati.lib" whose texts are stored as they are (the fakes decode nothing
// unless a test says so).
struct DatiLib {
    std::int32_t posizione = 32500;
    std::string riempimento = std::string(1, '\0');  // repeated over offsets 4 to P - 2
    std::array<std::string, 19> campi;  // each padded with blanks to 160 bytes
    std::array<std::string, 11> accesso;
    std::optional<int> conteggio_file;
    std::vector<std::pair<int, std::string>> file = {{0, "Estr.bin"}};
    std::optional<int> conteggio_tips;
    std::vector<std::pair<int, std::string>> tips;
    std::string coda;

    std::size_t InizioAccesso() const { return static_cast<std::size_t>(posizione) - 1 + 19 * 160; }

    std::string Byte() const {
        std::string out = kIdentificativo;
        while (out.size() < static_cast<std::size_t>(posizione) - 1)
            out.push_back(riempimento[(out.size() - 4) % riempimento.size()]);
        for (const auto& c : campi) {
            std::string campo = c;
            if (campo.size() < 160) campo.resize(160, ' ');
            out += campo.substr(0, 160);
        }
        for (const auto& t : accesso) Contato(out, t);
        Parola(out, conteggio_file.value_or(static_cast<int>(file.size())));
        for (const auto& [n, t] : file) { Parola(out, n); Contato(out, t); }
        Parola(out, conteggio_tips.value_or(static_cast<int>(tips.size())));
        for (const auto& [n, t] : tips) { Parola(out, n); Contato(out, t); }
        return out + coda;
    }
};

DatiLib Completo() {
    DatiLib d;
    for (int k = 0; k < 19; ++k) d.campi[k] = "campo " + std::to_string(k + 1);
    for (int k = 9; k < 15; ++k) d.campi[k] = std::to_string(k + 1) + ".5";
    d.accesso[0] = "Q4-000123";
    for (int i = 1; i < 11; ++i) d.accesso[i] = "pw" + std::to_string(i - 1);
    d.file = {{1, "Estr.bin"}, {2, "bl.bin"}, {3, "altro.bin"}};
    d.tips = {{11, "primo"}, {-12, "secondo"}, {13, ""}};
    return d;
}

using testing::CodiceDi;

// The values an Impostazioni holds after reading, side by side for comparisons.
std::vector<std::string> Istantanea(const Impostazioni& o) {
    std::vector<std::string> v = {o.Societa(), o.DescrizioneSocieta(), o.Citta(), o.Nazione(), o.email(),
                                  o.IndirizzoWeb(), o.NumeroConto(), o.IntestazioneConto(),
                                  std::to_string(o.PrezzoBaseEuro()), std::to_string(o.PercAggiornamento()),
                                  std::to_string(o.Sconto2()), std::to_string(o.Sconto3()),
                                  std::to_string(o.Sconto3piu()), std::to_string(o.PercPrezzoSped()),
                                  o.IndirizzoFTP(), o.IndAggiornamento(), o.Provenienza(), o.ID(),
                                  std::to_string(o.NumeroTips())};
    for (int i = 0; i < 10; ++i) v.push_back(o.PW(static_cast<std::int16_t>(i)));
    for (int i = 0; i <= 500; ++i) {
        const auto s = o.Suggerimento(static_cast<std::int16_t>(i));
        v.push_back(std::to_string(s.Valore) + "|" + s.Testo);
    }
    return v;
}

class FileDati : public ::testing::Test {
protected:
    FakePlatform f;
    OggettiDecodifica decodifica;
    Impostazioni oggetto{f.platform, decodifica};

    void SetUp() override {
        decodifica.cifratore = f.platform.components.create_cifratore();
        decodifica.decodificatore = f.platform.components.create_decodificatore();
    }
    void Apri(const DatiLib& d) {
        f.files.put(kPercorso, d.Byte());
        oggetto.Inizializzazione(kCartella);
    }
    int Leggi(std::int32_t posizione = 32500) { return CodiceDi([&] { oggetto.LetturaDatiGenerali(posizione); }); }
};

// ---------------------------------------------------------------------------------------------
// Inizializzazione

struct CasoPresenza {
    const char* nome;
    std::function<void(testing::FakeFiles&)> prepara;
    bool presente;
};

class Presenza : public ::testing::TestWithParam<CasoPresenza> {};

TEST_P(Presenza, OnlyANormalVisibleFileCountsAsPresent) {
    FakePlatform f;
    OggettiDecodifica decodifica;
    GetParam().prepara(f.files);
    {
        Impostazioni oggetto(f.platform, decodifica);
        if (GetParam().presente) {
            oggetto.Inizializzazione(kCartella);
            EXPECT_TRUE(f.boxes.shown.empty());
            EXPECT_EQ(f.files.open_readers, 1);
            EXPECT_GT(oggetto.NFile(), 0);
        } else {
            EXPECT_THROW(oggetto.Inizializzazione(kCartella), ProcessEnded);
            ASSERT_EQ(f.boxes.shown.size(), 1u);
            EXPECT_EQ(f.boxes.shown[0].text, kMancante);
            EXPECT_EQ(f.boxes.shown[0].style, 0x10u);
            EXPECT_EQ(f.boxes.shown[0].caption, "Quintrel! Professional");
            EXPECT_EQ(f.log.back(), "end");
            EXPECT_TRUE(f.events({"open:"}).empty()) << "nothing is opened when the file is missing";
        }
        EXPECT_EQ(oggetto.PercorsoFileDati(), kCartella);
    }
    EXPECT_EQ(f.files.open_readers, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Casi, Presenza,
    ::testing::Values(
        CasoPresenza{"NoFile", [](auto& fs) { fs.folders.insert(testing::lower(kCartella)); }, false},
        CasoPresenza{"NoFolder", [](auto&) {}, false},
        CasoPresenza{"FolderNamedDatiLib", [](auto& fs) { fs.folders.insert(testing::lower(kPercorso)); }, false},
        CasoPresenza{"Hidden", [](auto& fs) { fs.put(kPercorso, kIdentificativo, file_attribute::hidden); }, false},
        CasoPresenza{"System", [](auto& fs) { fs.put(kPercorso, kIdentificativo, file_attribute::system); }, false},
        CasoPresenza{"HiddenReadOnly",
                     [](auto& fs) { fs.put(kPercorso, kIdentificativo, file_attribute::hidden | file_attribute::readonly); },
                     false},
        CasoPresenza{"Archive", [](auto& fs) { fs.put(kPercorso, kIdentificativo, file_attribute::archive); }, true},
        CasoPresenza{"ReadOnly", [](auto& fs) { fs.put(kPercorso, kIdentificativo, file_attribute::readonly); }, true},
        CasoPresenza{"Normal", [](auto& fs) { fs.put(kPercorso, kIdentificativo, file_attribute::normal); }, true},
        CasoPresenza{"ReadOnlyArchive",
                     [](auto& fs) { fs.put(kPercorso, kIdentificativo, file_attribute::readonly | file_attribute::archive); },
                     true}),
    [](const auto& info) { return std::string(info.param.nome); });

TEST(Inizializzazione, JoinsThePathPlainly) {
    FakePlatform f;
    OggettiDecodifica decodifica;
    f.files.put("C:\\Q4\\\\Dati.lib", kIdentificativo);
    Impostazioni oggetto(f.platform, decodifica);
    oggetto.Inizializzazione("C:\\Q4\\");
    EXPECT_THAT(f.events({"attributes:", "open:"}),
                ElementsAre("attributes:C:\\Q4\\\\Dati.lib", "open:C:\\Q4\\\\Dati.lib"));
    EXPECT_EQ(oggetto.PercorsoFileDati(), "C:\\Q4\\");
}

class NumeroIdentificativo : public ::testing::TestWithParam<std::pair<std::string, bool>> {};

TEST_P(NumeroIdentificativo, OnlyTheRightFourBytesPass) {
    const auto& [contenuto, valido] = GetParam();
    FakePlatform f;
    OggettiDecodifica decodifica;
    f.files.put(kPercorso, contenuto);
    Impostazioni oggetto(f.platform, decodifica);
    if (valido) {
        oggetto.Inizializzazione(kCartella);
        EXPECT_TRUE(f.boxes.shown.empty());
    } else {
        EXPECT_THROW(oggetto.Inizializzazione(kCartella), ProcessEnded);
        ASSERT_EQ(f.boxes.shown.size(), 1u);
        EXPECT_EQ(f.boxes.shown[0].text, kNonValido);
        EXPECT_EQ(f.boxes.shown[0].style, 0x10u);
        EXPECT_EQ(f.boxes.shown[0].caption, "Quintrel! Professional");
        EXPECT_EQ(f.log.back(), "end");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Casi, NumeroIdentificativo,
    ::testing::Values(std::pair{kIdentificativo, true}, std::pair{kIdentificativo + "anything", true},
                      std::pair{std::string(), false}, std::pair{std::string("\x84"), false},
                      std::pair{std::string("\x84\x57"), false}, std::pair{std::string("\x84\x57\x98"), false},
                      std::pair{std::string("\x56\x98\x57\x84"), false},  // the same number, big-endian
                      std::pair{std::string("\x84\x57\x98\x57"), false},
                      std::pair{std::string("\x00\x00\x00\x00", 4), false}));

TEST(Inizializzazione, AFileThatCannotBeOpenedRaisesItsCode) {
    FakePlatform f;
    OggettiDecodifica decodifica;
    f.files.put(kPercorso, kIdentificativo);
    f.files.open_failures[testing::lower(kPercorso)] = code::path_file_access;
    Impostazioni oggetto(f.platform, decodifica);
    EXPECT_EQ(CodiceDi([&] { oggetto.Inizializzazione(kCartella); }), code::path_file_access);
    EXPECT_TRUE(f.boxes.shown.empty());
    EXPECT_EQ(CodiceDi([&] { oggetto.LetturaDatiGenerali(32500); }), code::bad_file_name_or_number);
}

TEST(Inizializzazione, ASecondCallLetsGoOfTheFirstFile) {
    FakePlatform f;
    OggettiDecodifica decodifica;
    f.files.put(kPercorso, kIdentificativo);
    f.files.put("D:\\Altro\\Dati.lib", kIdentificativo);
    Impostazioni oggetto(f.platform, decodifica);
    oggetto.Inizializzazione(kCartella);
    oggetto.Inizializzazione("D:\\Altro");
    EXPECT_EQ(f.files.open_readers, 1);
    EXPECT_EQ(oggetto.PercorsoFileDati(), "D:\\Altro");
}

// ---------------------------------------------------------------------------------------------
// LetturaDatiGenerali

TEST_F(FileDati, EveryFieldLandsInItsProperty) {
    DatiLib d = Completo();
    d.campi[2] = "Citt\xE0";  // ANSI in the file, UTF-8 in the object
    Apri(d);
    ASSERT_EQ(Leggi(), 0);
    EXPECT_EQ(oggetto.Societa(), "campo 1");
    EXPECT_EQ(oggetto.DescrizioneSocieta(), "campo 2");
    EXPECT_EQ(oggetto.Citta(), "Citt\xC3\xA0");
    EXPECT_EQ(oggetto.Nazione(), "campo 4");
    EXPECT_EQ(oggetto.email(), "campo 6");
    EXPECT_EQ(oggetto.IndirizzoWeb(), "campo 7");
    EXPECT_EQ(oggetto.NumeroConto(), "campo 8");
    EXPECT_EQ(oggetto.IntestazioneConto(), "campo 9");
    EXPECT_FLOAT_EQ(oggetto.PrezzoBaseEuro(), 10.5f);
    EXPECT_FLOAT_EQ(oggetto.PercAggiornamento(), 11.5f);
    EXPECT_FLOAT_EQ(oggetto.Sconto2(), 12.5f);
    EXPECT_FLOAT_EQ(oggetto.Sconto3(), 13.5f);
    EXPECT_FLOAT_EQ(oggetto.Sconto3piu(), 14.5f);
    EXPECT_FLOAT_EQ(oggetto.PercPrezzoSped(), 15.5f);
    EXPECT_EQ(oggetto.IndirizzoFTP(), "campo 16");
    EXPECT_EQ(oggetto.IndAggiornamento(), "campo 17");
    EXPECT_EQ(oggetto.Provenienza(), "campo 18");
    EXPECT_EQ(oggetto.ID(), "Q4-000123");
    for (int i = 0; i < 10; ++i) EXPECT_EQ(oggetto.PW(static_cast<std::int16_t>(i)), "pw" + std::to_string(i));
    EXPECT_EQ(oggetto.NumeroTips(), 3);
    EXPECT_EQ(oggetto.Suggerimento(1).Valore, 11);
    EXPECT_EQ(oggetto.Suggerimento(1).Testo, "primo");
    EXPECT_EQ(oggetto.Suggerimento(2).Valore, -12);
    EXPECT_EQ(oggetto.Suggerimento(2).Testo, "secondo");
    EXPECT_EQ(oggetto.Suggerimento(3).Testo, "");
    EXPECT_EQ(oggetto.Suggerimento(0).Valore, 0);
    EXPECT_EQ(oggetto.Suggerimento(0).Testo, "");
    EXPECT_EQ(oggetto.Suggerimento(4).Testo, "");
    EXPECT_EQ(f.files.open_readers, 1) << "the file stays open";
}

TEST_F(FileDati, ReadsAtAnyPosition) {
    DatiLib d = Completo();
    d.posizione = 5;
    Apri(d);
    ASSERT_EQ(Leggi(5), 0);
    EXPECT_EQ(oggetto.Societa(), "campo 1");
    EXPECT_EQ(oggetto.Suggerimento(2).Testo, "secondo");
}

TEST_F(FileDati, DecodesInTheFixedOrderWholeFieldsThroughBothStages) {
    DatiLib d = Completo();
    for (int k = 0; k < 19; ++k) d.campi[k] = "F" + std::to_string(k + 1);
    d.tips = {{1, "T1"}, {2, "T2"}};
    Apri(d);
    f.components.decodifica = [](const std::string& s) { return "<" + s + ">"; };
    f.components.decifra = [](const std::string& s) { return s.substr(1, s.size() - 2); };
    ASSERT_EQ(Leggi(), 0);

    std::vector<std::string> attese;
    auto campo = [](int k) {
        std::string s = "F" + std::to_string(k);
        s.resize(160, ' ');
        return s;
    };
    for (int k : {1, 2, 3, 4, 8, 9, 10, 11, 12, 13, 14, 15, 18, 6, 7, 5, 17, 16}) {
        attese.push_back("Decodifica:" + campo(k));
        attese.push_back("Decifra:<" + campo(k) + ">");
    }
    for (const auto& t : d.accesso) {
        attese.push_back("Decodifica:" + t);
        attese.push_back("Decifra:<" + t + ">");
    }
    for (const char* t : {"T1", "T2"}) {
        attese.push_back(std::string("Decodifica:") + t);
        attese.push_back(std::string("Decifra:<") + t + ">");
    }
    EXPECT_THAT(f.events({"Decodifica:", "Decifra:"}), ElementsAreArray(attese));
    EXPECT_EQ(oggetto.Societa(), "F1");
    EXPECT_EQ(oggetto.IndirizzoFTP(), "F16");
}

TEST_F(FileDati, OnlyTheResultOfDecifraIsKept) {
    Apri(Completo());
    f.components.decodifica = [](const std::string& s) { return "X" + s; };
    f.components.decifra = [](const std::string& s) { return "Y" + s; };
    ASSERT_EQ(Leggi(), 0);
    EXPECT_EQ(oggetto.Societa(), "YXcampo 1");
    EXPECT_EQ(oggetto.ID(), "YXQ4-000123");
    EXPECT_EQ(oggetto.Suggerimento(1).Testo, "YXprimo");
}

TEST_F(FileDati, TrailingBlanksAreRemovedFromFieldsOnly) {
    DatiLib d = Completo();
    d.campi[0] = "  Quibex \t";
    d.campi[1] = "\tdue  \t  ";
    d.campi[2] = std::string(160, ' ');
    d.campi[3] = "a\xA0";  // a non-breaking space is not a blank
    d.accesso[0] = " id  ";
    d.accesso[10] = "pw9 ";
    d.tips = {{1, "tip  "}};
    Apri(d);
    ASSERT_EQ(Leggi(), 0);
    EXPECT_EQ(oggetto.Societa(), "  Quibex \t");
    EXPECT_EQ(oggetto.DescrizioneSocieta(), "\tdue  \t");
    EXPECT_EQ(oggetto.Citta(), "");
    EXPECT_EQ(oggetto.Nazione(), "a\xC2\xA0");
    EXPECT_EQ(oggetto.ID(), " id  ");
    EXPECT_EQ(oggetto.PW(9), "pw9 ");
    EXPECT_EQ(oggetto.Suggerimento(1).Testo, "tip  ");
}

TEST_F(FileDati, TrimsAfterDecodingNotBefore) {
    Apri(Completo());
    // A decoding that turns the padding into something else: nothing may be trimmed before it.
    f.components.decodifica = [](const std::string& s) {
        std::string r = s;
        for (auto& c : r) if (c == ' ') c = '_';
        return r;
    };
    ASSERT_EQ(Leggi(), 0);
    EXPECT_EQ(oggetto.Societa(), "campo_1" + std::string(153, '_'));
}

struct CasoNumero {
    std::string testo;
    std::optional<float> atteso;  // nullopt: code 6
};

class NumeriDeiCampi : public FileDati, public ::testing::WithParamInterface<CasoNumero> {};

TEST_P(NumeriDeiCampi, AreTheLeadingNumberAsASingle) {
    DatiLib d = Completo();
    d.campi[9] = GetParam().testo;
    Apri(d);
    const int codice = Leggi();
    if (GetParam().atteso) {
        ASSERT_EQ(codice, 0);
        EXPECT_EQ(oggetto.PrezzoBaseEuro(), *GetParam().atteso);
    } else {
        EXPECT_EQ(codice, code::overflow);
        EXPECT_EQ(oggetto.PrezzoBaseEuro(), 0.0f);
        EXPECT_EQ(oggetto.NumeroConto(), "campo 8") << "fields decoded before it stay";
        EXPECT_EQ(oggetto.PercAggiornamento(), 0.0f) << "nothing after it is stored";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Casi, NumeriDeiCampi,
    ::testing::Values(CasoNumero{"12,5", 12.0f}, CasoNumero{"1 000", 1000.0f}, CasoNumero{"1.5E2", 150.0f},
                      CasoNumero{"-3", -3.0f}, CasoNumero{"", 0.0f}, CasoNumero{"   ", 0.0f},
                      CasoNumero{"abc 5", 0.0f}, CasoNumero{"&H10", 16.0f}, CasoNumero{"0.1", 0.1f},
                      CasoNumero{"49.90 euro", 49.9f}, CasoNumero{"3.4028235E38", FLT_MAX},
                      CasoNumero{"1E39", std::nullopt}, CasoNumero{"-1E39", std::nullopt},
                      CasoNumero{"3.5E38", std::nullopt}, CasoNumero{"1E400", std::nullopt}));

TEST_F(FileDati, TipCounts) {
    struct Caso { int conteggio; int voci; int codice; };
    for (const Caso c : {Caso{0, 0, 0}, Caso{-1, 0, 0}, Caso{500, 500, 0}, Caso{501, 500, code::subscript_out_of_range},
                         Caso{32767, 500, code::subscript_out_of_range}}) {
        SCOPED_TRACE(c.conteggio);
        FakePlatform f;
        OggettiDecodifica decodifica{f.platform.components.create_cifratore(),
                                     f.platform.components.create_decodificatore()};
        Impostazioni oggetto(f.platform, decodifica);
        DatiLib d = Completo();
        d.tips.clear();
        for (int i = 1; i <= c.voci; ++i) d.tips.push_back({i, "tip " + std::to_string(i)});
        d.conteggio_tips = c.conteggio;
        f.files.put(kPercorso, d.Byte());
        oggetto.Inizializzazione(kCartella);
        EXPECT_EQ(CodiceDi([&] { oggetto.LetturaDatiGenerali(32500); }), c.codice);
        EXPECT_EQ(oggetto.NumeroTips(), c.conteggio);
        EXPECT_EQ(f.events({"Decodifica:tip"}).size(), static_cast<std::size_t>(c.voci));
        if (c.voci > 0) {
            EXPECT_EQ(oggetto.Suggerimento(1).Testo, "tip 1");
            EXPECT_EQ(oggetto.Suggerimento(500).Valore, 500);
            EXPECT_EQ(oggetto.Suggerimento(500).Testo, "tip 500");
        }
        EXPECT_EQ(oggetto.Suggerimento(0).Testo, "");
    }
}

TEST_F(FileDati, ASecondReadReplacesValuesAndKeepsTipsBeyondTheNewCount) {
    DatiLib d = Completo();
    Apri(d);
    ASSERT_EQ(Leggi(), 0);
    d.campi[0] = "nuovo";
    d.tips = {{7, "nuovo tip"}};
    *f.files.files[testing::lower(kPercorso)].contents = d.Byte();
    ASSERT_EQ(Leggi(), 0);
    EXPECT_EQ(oggetto.Societa(), "nuovo");
    EXPECT_EQ(oggetto.NumeroTips(), 1);
    EXPECT_EQ(oggetto.Suggerimento(1).Testo, "nuovo tip");
    EXPECT_EQ(oggetto.Suggerimento(2).Testo, "secondo");

    d.tips.clear();
    *f.files.files[testing::lower(kPercorso)].contents = d.Byte();
    ASSERT_EQ(Leggi(), 0);
    EXPECT_EQ(oggetto.NumeroTips(), 0);
    EXPECT_EQ(oggetto.Suggerimento(1).Testo, "nuovo tip") << "t = 0 changes no entry";
}

TEST_F(FileDati, AFileListCountBelowOneFailsAfterTheAccessBlock) {
    for (int conteggio : {0, -1, -32768}) {
        SCOPED_TRACE(conteggio);
        DatiLib d = Completo();
        d.conteggio_file = conteggio;
        d.tips = {{1, "mai letto"}};
        FakePlatform f;
        OggettiDecodifica decodifica{f.platform.components.create_cifratore(),
                                     f.platform.components.create_decodificatore()};
        Impostazioni oggetto(f.platform, decodifica);
        f.files.put(kPercorso, d.Byte());
        oggetto.Inizializzazione(kCartella);
        EXPECT_EQ(CodiceDi([&] { oggetto.LetturaDatiGenerali(32500); }), code::subscript_out_of_range);
        EXPECT_EQ(oggetto.PW(9), "pw9");
        EXPECT_EQ(oggetto.NumeroTips(), 0);
        EXPECT_EQ(oggetto.Suggerimento(1).Testo, "");
    }
}

TEST_F(FileDati, FileListEntriesAreSkippedNotDecoded) {
    DatiLib d = Completo();
    d.file = {{1, std::string(300, 'x')}, {2, ""}, {3, "Decodifica:trappola"}};
    Apri(d);
    ASSERT_EQ(Leggi(), 0);
    EXPECT_EQ(f.events({"Decodifica:x", "Decodifica:Decodifica"}).size(), 0u);
    EXPECT_EQ(oggetto.Suggerimento(1).Testo, "primo");
}

TEST_F(FileDati, UnreadRegionsChangeNothing) {
    Apri(Completo());
    ASSERT_EQ(Leggi(), 0);
    const auto prima = Istantanea(oggetto);

    DatiLib d = Completo();
    d.riempimento = "\xFF\x01\x84";
    d.campi[18] = "\xFF\xFE qualcos'altro";
    d.coda = std::string(1000, '\xEE');
    FakePlatform g;
    OggettiDecodifica dec{g.platform.components.create_cifratore(), g.platform.components.create_decodificatore()};
    Impostazioni altro(g.platform, dec);
    g.files.put(kPercorso, d.Byte());
    altro.Inizializzazione(kCartella);
    ASSERT_EQ(CodiceDi([&] { altro.LetturaDatiGenerali(32500); }), 0);
    EXPECT_EQ(Istantanea(altro), prima);
    EXPECT_TRUE(g.events({"Decodifica:\xC3\xBF"}).empty()) << "field 19 is not decoded";
}

TEST_F(FileDati, ATruncatedFileFailsWith62KeepingWhatCameBefore) {
    const DatiLib d = Completo();
    const std::string tutto = d.Byte();
    const std::size_t accesso = d.InizioAccesso();
    const std::size_t tip2 = tutto.find("secondo") - 4;  // leading field and length of tip 2
    const std::size_t conteggio = tip2 - 9 - 2;            // before tip 1 ("primo") and the count

    struct Caso { std::size_t lunghezza; std::string societa; std::string id; int tips; std::string tip1; };
    const std::vector<Caso> casi = {
        {32499, "", "", 0, ""},               // nothing of the general block
        {accesso - 1, "", "", 0, ""},         // one byte of it missing: nothing decoded
        {accesso + 1, "campo 1", "", 0, ""},  // half an access length
        {accesso + 5, "campo 1", "", 0, ""},  // the ID text cut short
        {tutto.find("pw9") + 2, "campo 1", "", 0, ""},  // the access block is read whole first
        {conteggio - 3, "campo 1", "Q4-000123", 0, ""},  // inside the file list
        {conteggio + 1, "campo 1", "Q4-000123", 0, ""},  // half the tip count
        {conteggio + 2, "campo 1", "Q4-000123", 3, ""},  // the count, no tip
        {tip2 - 2, "campo 1", "Q4-000123", 3, ""},       // tip 1 cut short: not stored
        {tip2 + 3, "campo 1", "Q4-000123", 3, "primo"},
    };
    for (const auto& c : casi) {
        SCOPED_TRACE(c.lunghezza);
        FakePlatform f;
        OggettiDecodifica decodifica{f.platform.components.create_cifratore(),
                                     f.platform.components.create_decodificatore()};
        Impostazioni oggetto(f.platform, decodifica);
        f.files.put(kPercorso, tutto.substr(0, c.lunghezza));
        oggetto.Inizializzazione(kCartella);
        EXPECT_EQ(CodiceDi([&] { oggetto.LetturaDatiGenerali(32500); }), code::input_past_end_of_file);
        EXPECT_EQ(oggetto.Societa(), c.societa);
        EXPECT_EQ(oggetto.ID(), c.id);
        EXPECT_EQ(oggetto.NumeroTips(), c.tips);
        EXPECT_EQ(oggetto.Suggerimento(1).Testo, c.tip1);
        EXPECT_EQ(oggetto.Suggerimento(2).Testo, "");
        EXPECT_EQ(oggetto.Suggerimento(2).Valore, 0);
        EXPECT_EQ(f.files.open_readers, 1) << "the file stays open";
    }
    {
        SCOPED_TRACE("the length of the last tip cut short");
        FakePlatform f;
        OggettiDecodifica decodifica{f.platform.components.create_cifratore(),
                                     f.platform.components.create_decodificatore()};
        Impostazioni oggetto(f.platform, decodifica);
        f.files.put(kPercorso, tutto.substr(0, tutto.size() - 1));
        oggetto.Inizializzazione(kCartella);
        EXPECT_EQ(CodiceDi([&] { oggetto.LetturaDatiGenerali(32500); }), code::input_past_end_of_file);
        EXPECT_EQ(oggetto.Suggerimento(2).Testo, "secondo");
        EXPECT_EQ(oggetto.Suggerimento(3).Valore, 0);
    }
}

TEST(LetturaDatiGenerali, WithoutAnOpenFileFailsWith52BeforeAnything) {
    FakePlatform f;
    OggettiDecodifica decodifica;
    Impostazioni oggetto(f.platform, decodifica);
    EXPECT_EQ(CodiceDi([&] { oggetto.LetturaDatiGenerali(32500); }), code::bad_file_name_or_number);
    EXPECT_EQ(CodiceDi([&] { oggetto.LetturaDatiGenerali(0); }), code::bad_file_name_or_number);
    EXPECT_EQ(oggetto.NumeroTips(), 0);
}

TEST_F(FileDati, APositionBelowOneFailsWith63) {
    Apri(Completo());
    for (std::int32_t p : {0, -1, INT32_MIN}) EXPECT_EQ(Leggi(p), code::bad_record_number) << p;
    EXPECT_TRUE(f.events({"Decodifica:"}).empty());
}

TEST_F(FileDati, APositionPastTheEndFailsWith62) {
    Apri(Completo());
    EXPECT_EQ(Leggi(INT32_MAX), code::input_past_end_of_file);
}

TEST_F(FileDati, ADecodingFailureIsTheFailureOfTheRead) {
    Apri(Completo());
    f.components.call_failures["Decifra"] = 440;
    EXPECT_EQ(Leggi(), 440);
    f.components.call_failures.clear();
    f.components.call_failures["Decodifica"] = 5;
    EXPECT_EQ(Leggi(), 5);
    EXPECT_EQ(oggetto.Societa(), "");
    EXPECT_THAT(f.events({"Decifra:"}), ElementsAre(::testing::StartsWith("Decifra:campo 1")))
        << "no Decifra after a failed Decodifica";
}

TEST_F(FileDati, AFailurePartWayKeepsWhatWasStoredBefore) {
    Apri(Completo());
    int chiamate = 0;
    // Fails on the fifth field in decoding order (field 8), then on the ID, then on tip 2.
    for (int fallisce : {5, 19, 31}) {
        SCOPED_TRACE(fallisce);
        chiamate = 0;
        f.components.decifra = [&](const std::string& s) {
            if (++chiamate == fallisce) throw Error(7, "fake");
            return s;
        };
        Impostazioni o(f.platform, decodifica);
        o.Inizializzazione(kCartella);
        EXPECT_EQ(CodiceDi([&] { o.LetturaDatiGenerali(32500); }), 7);
        EXPECT_EQ(o.Nazione(), "campo 4");
        EXPECT_EQ(o.NumeroConto(), fallisce > 5 ? "campo 8" : "");
        EXPECT_EQ(o.ID(), fallisce > 19 ? "Q4-000123" : "");
        EXPECT_EQ(o.Suggerimento(1).Testo, fallisce > 30 ? "primo" : "");
    }
}

TEST(LetturaDatiGenerali, WithoutDecodingObjectsFailsWith91) {
    FakePlatform f;
    OggettiDecodifica decodifica;
    decodifica.cifratore = f.platform.components.create_cifratore();
    Impostazioni oggetto(f.platform, decodifica);
    f.files.put(kPercorso, Completo().Byte());
    oggetto.Inizializzazione(kCartella);
    EXPECT_EQ(CodiceDi([&] { oggetto.LetturaDatiGenerali(32500); }), code::object_not_set);
}

}  // namespace
}  // namespace aggiorna
