// The "Dati.lib" writer tool, read back by the settings object through the program's own
// decoding component and the Windows-1252 conversion.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "fakes/fake_platform.h"
#include "platform/portable/cp1252.h"
#include "platform/portable/decodifica_sostitutiva.h"
#include "settings/chiave.h"
#include "settings/impostazioni.h"

namespace aggiorna {
namespace {

namespace fs = std::filesystem;
using testing::ProcessEnded;

class LocaleCp1252 final : public Locale {
public:
    NumberFormat number_format() override { return {}; }
    std::string ansi_to_utf8(std::string_view ansi) override { return portable::cp1252_to_utf8(ansi); }
};

using testing::CodiceDi;

class DatiLibTest : public ::testing::Test {
protected:
    testing::FakePlatform f;
    LocaleCp1252 locale;
    Platform piattaforma{f.registry, f.boxes, f.files, f.shell, locale, f.components, f.process, f.run_log};
    OggettiDecodifica decodifica;
    fs::path cartella;

    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        cartella = fs::temp_directory_path() /
                   ("dati_lib_test_" + std::string(info->name()) + "_" + std::to_string(::getpid()));
        fs::remove_all(cartella);
        fs::create_directories(cartella);
        decodifica.cifratore = std::make_unique<portable::CifratoreSostitutivo>();
        decodifica.decodificatore = std::make_unique<portable::DecodificatoreSostitutivo>();
        std::string chiave = CostruisciChiave();
        decodifica.cifratore->ImpostaChiave(chiave);
    }
    void TearDown() override { fs::remove_all(cartella); }

    // Runs the tool; returns its exit status.
    int Scrivi(const fs::path& descrizione, const std::string& opzioni = {}) {
        const std::string strumento = AGGIORNA_TOOLS_DIR "/scrivi_dati_lib";
        if (!fs::exists(strumento)) ADD_FAILURE() << "build the scrivi_dati_lib target first: " << strumento;
        const std::string comando = "'" + strumento + "' " + opzioni + " '" + descrizione.string() + "' '" +
                                    (cartella / "Dati.lib").string() + "' 2>/dev/null";
        const int stato = std::system(comando.c_str());
        return WIFEXITED(stato) ? WEXITSTATUS(stato) : -1;
    }
    int ScriviTesto(const std::string& testo, const std::string& opzioni = {}) {
        const fs::path descrizione = cartella / "descrizione.txt";
        std::ofstream(descrizione, std::ios::binary) << testo;
        return Scrivi(descrizione, opzioni);
    }
    std::string Letto() {
        std::ifstream in(cartella / "Dati.lib", std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    // Opens what the tool wrote on the object, as the host folder "C:\Q4".
    void Apri(Impostazioni& o) {
        f.files.put("C:\\Q4\\Dati.lib", Letto());
        o.Inizializzazione("C:\\Q4");
    }
};

TEST_F(DatiLibTest, TheSampleDescriptionLandsInEveryProperty) {
    ASSERT_EQ(Scrivi(AGGIORNA_SOURCE_DIR "/tools/esempio_dati.txt"), 0);
    Impostazioni o(piattaforma, decodifica);
    Apri(o);
    ASSERT_EQ(CodiceDi([&] { o.LetturaDatiGenerali(32500); }), 0);
    EXPECT_EQ(o.Societa(), "Quibex S.r.l.");
    EXPECT_EQ(o.DescrizioneSocieta(), "Software per il gioco del Lotto");
    EXPECT_EQ(o.Citta(), "Cagliari");
    EXPECT_EQ(o.Nazione(), "Italia");
    EXPECT_EQ(o.email(), "info@quibex.it");
    EXPECT_EQ(o.IndirizzoWeb(), "www.quibex.it");
    EXPECT_EQ(o.NumeroConto(), "IT60 X054 2811 1010 0000 0123 456");
    EXPECT_EQ(o.IntestazioneConto(), "Quibex S.r.l.");
    EXPECT_FLOAT_EQ(o.PrezzoBaseEuro(), 49.9f);
    EXPECT_FLOAT_EQ(o.PercAggiornamento(), 30.0f);
    EXPECT_FLOAT_EQ(o.Sconto2(), 10.0f);
    EXPECT_FLOAT_EQ(o.Sconto3(), 15.0f);
    EXPECT_FLOAT_EQ(o.Sconto3piu(), 20.0f);
    EXPECT_FLOAT_EQ(o.PercPrezzoSped(), 7.5f);
    EXPECT_EQ(o.IndirizzoFTP(), "ftp.quibex.it");
    EXPECT_EQ(o.IndAggiornamento(), "www.quibex.it/aggiornamenti");
    EXPECT_EQ(o.Provenienza(), "Distribuzione diretta");
    EXPECT_EQ(o.ID(), "Q4-000123");
    const char* pw[] = {"alfa", "beta", "gamma", "delta", "epsilon", "zeta", "eta", "theta", "iota", "kappa"};
    for (int i = 0; i < 10; ++i) EXPECT_EQ(o.PW(static_cast<std::int16_t>(i)), pw[i]);
    EXPECT_EQ(o.NumeroTips(), 3);
    EXPECT_EQ(o.Suggerimento(1).Valore, 1);
    EXPECT_EQ(o.Suggerimento(1).Testo, "Per aggiornare l'archivio usate il menu Archivio.");
    EXPECT_EQ(o.Suggerimento(3).Valore, 3);
    EXPECT_EQ(o.Suggerimento(3).Testo, "Il prezzo \xC3\xA8 indicato in \xE2\x82\xAC, IVA inclusa.");
    EXPECT_EQ(o.Suggerimento(4).Testo, "");
}

TEST_F(DatiLibTest, WritesTheLayoutTheReaderExpects) {
    ASSERT_EQ(ScriviTesto("Societa = x\nfile = a\n"), 0);
    const std::string b = Letto();
    EXPECT_EQ(b.substr(0, 4), std::string("\x84\x57\x98\x56"));
    // Header, block, eleven empty counted texts, a file list of one, no tips.
    EXPECT_EQ(b.size(), 32499u + 3040u + 11u * 2u + 2u + (2u + 2u + 1u) + 2u);
    EXPECT_EQ(b.substr(b.size() - 9), std::string("\x01\x00" "\x00\x00\x01\x00" "a" "\x00\x00", 9));
}

TEST_F(DatiLibTest, AccentsBlanksAndQuotesSurvive) {
    ASSERT_EQ(ScriviTesto("Societ\xC3\xA0 = \"  Caff\xC3\xA8 \xE2\x80\x9C" "Bar\xE2\x80\x9D  \"\n"
                          "ID = \"id  \"\n"
                          "PW9 = \" \"\n"
                          "Campo5 = non tenuto\n"
                          "file = 7 | \xC3\x89lenco\n"
                          "tip = -2 | \"tip \"\n"),
              0);
    Impostazioni o(piattaforma, decodifica);
    Apri(o);
    ASSERT_EQ(CodiceDi([&] { o.LetturaDatiGenerali(32500); }), 0);
    EXPECT_EQ(o.Societa(), "  Caff\xC3\xA8 \xE2\x80\x9C" "Bar\xE2\x80\x9D");
    EXPECT_EQ(o.ID(), "id  ");
    EXPECT_EQ(o.PW(9), " ");
    EXPECT_EQ(o.PW(0), "");
    EXPECT_EQ(o.Suggerimento(1).Valore, -2);
    EXPECT_EQ(o.Suggerimento(1).Testo, "tip ");
}

TEST_F(DatiLibTest, OptionsMakeTheFaultyFiles) {
    const std::string base = "Societa = Quibex\nID = id\nfile = Estr.bin\ntip = 1 | uno\n";
    {
        SCOPED_TRACE("wrong identifying number");
        ASSERT_EQ(ScriviTesto(base, "--identificativo 0x56985785"), 0);
        Impostazioni o(piattaforma, decodifica);
        EXPECT_THROW(Apri(o), ProcessEnded);
        ASSERT_FALSE(f.boxes.shown.empty());
        EXPECT_EQ(f.boxes.shown.back().text, "Il file delle impostazioni non \xC3\xA8 valido. Impossibile continuare");
    }
    {
        SCOPED_TRACE("file list count 0");
        ASSERT_EQ(ScriviTesto(base, "--conteggio-file 0"), 0);
        Impostazioni o(piattaforma, decodifica);
        Apri(o);
        EXPECT_EQ(CodiceDi([&] { o.LetturaDatiGenerali(32500); }), code::subscript_out_of_range);
        EXPECT_EQ(o.ID(), "id");
        EXPECT_EQ(o.NumeroTips(), 0);
    }
    {
        SCOPED_TRACE("501 tips");
        std::string testo = base.substr(0, base.find("tip"));
        for (int i = 1; i <= 500; ++i) testo += "tip = " + std::to_string(i) + " | tip " + std::to_string(i) + "\n";
        ASSERT_EQ(ScriviTesto(testo, "--conteggio-tips 501"), 0);
        Impostazioni o(piattaforma, decodifica);
        Apri(o);
        EXPECT_EQ(CodiceDi([&] { o.LetturaDatiGenerali(32500); }), code::subscript_out_of_range);
        EXPECT_EQ(o.NumeroTips(), 501);
        EXPECT_EQ(o.Suggerimento(500).Testo, "tip 500");
    }
    {
        SCOPED_TRACE("truncated");
        ASSERT_EQ(ScriviTesto(base), 0);
        const std::size_t intero = Letto().size();
        ASSERT_EQ(ScriviTesto(base, "--tronca " + std::to_string(intero - 1)), 0);  // inside the last tip
        EXPECT_EQ(Letto().size(), intero - 1);
        Impostazioni o(piattaforma, decodifica);
        Apri(o);
        EXPECT_EQ(CodiceDi([&] { o.LetturaDatiGenerali(32500); }), code::input_past_end_of_file);
        EXPECT_EQ(o.ID(), "id");
        EXPECT_EQ(o.NumeroTips(), 1);
        EXPECT_EQ(o.Suggerimento(1).Testo, "");
    }
    {
        SCOPED_TRACE("another position, filler and tail");
        ASSERT_EQ(ScriviTesto(base, "--posizione 100 --riempimento 255 --coda 50"), 0);
        Impostazioni o(piattaforma, decodifica);
        Apri(o);
        EXPECT_EQ(CodiceDi([&] { o.LetturaDatiGenerali(100); }), 0);
        EXPECT_EQ(o.Societa(), "Quibex");
        EXPECT_EQ(o.Suggerimento(1).Testo, "uno");
    }
}

TEST_F(DatiLibTest, RefusesWhatItCannotWrite) {
    EXPECT_EQ(ScriviTesto("Societa = \xE4\xB8\xAD\n"), 1) << "outside Windows-1252";
    EXPECT_EQ(ScriviTesto("Societa = " + std::string(161, 'x') + "\n"), 1) << "longer than a field";
    EXPECT_EQ(ScriviTesto("Sconosciuto = 1\n"), 1);
    EXPECT_EQ(ScriviTesto("tip = senza numero\n"), 1);
    EXPECT_EQ(ScriviTesto("Societa = x\n", "--posizione 0"), 1);
    EXPECT_EQ(ScriviTesto("Societa = " + std::string(160, 'x') + "\n"), 0) << "exactly a field";
}

}  // namespace
}  // namespace aggiorna
