// Tests of the settings object itself: values at creation, indexed properties, copies, the
// FormAvvio reference and the settings file's lifetime.
#include "settings/impostazioni.h"

#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "fakes/fake_platform.h"

namespace aggiorna {
namespace {

using testing::FakePlatform;

const std::string kCartella = "C:\\Q4";
const std::string kPercorso = "C:\\Q4\\Dati.lib";

using testing::CodiceDi;

class ImpostazioniTest : public ::testing::Test {
protected:
    FakePlatform f;
    OggettiDecodifica decodifica;
};

TEST_F(ImpostazioniTest, ANewObjectHoldsZeroesAndEmptyTexts) {
    Impostazioni o(f.platform, decodifica);
    for (std::int16_t v : {o.AttivaBrowser(), o.VersioneDisponibile(), o.PrimaEsecuzione(), o.NumeroTips(), o.NFile()})
        EXPECT_EQ(v, 0);
    EXPECT_EQ(o.ChiusuraProgramma(), 0);
    EXPECT_EQ(o.NumMessaggi(), 0);
    for (float v : {o.Ritenuta(), o.PrezzoBaseEuro(), o.PercAggiornamento(), o.Sconto2(), o.Sconto3(),
                    o.Sconto3piu(), o.PercPrezzoSped()})
        EXPECT_EQ(v, 0.0f);
    for (std::int16_t i = 1; i <= 5; ++i) EXPECT_EQ(o.Premio(i), 0.0f);
    for (const std::string& t : {o.Desktop(), o.NomeVersDisp(), o.Messaggio(), o.SeparatoreDecimale(),
                                 o.NomeValuta(), o.FormatoValuta(), o.IndirizzoFTP(), o.IndAggiornamento(),
                                 o.IndirizzoWeb(), o.email(), o.Provenienza(), o.NumeroConto(),
                                 o.IntestazioneConto(), o.Societa(), o.DescrizioneSocieta(), o.Citta(),
                                 o.Nazione(), o.ID(), o.PercorsoFileDati()})
        EXPECT_EQ(t, "");
    for (std::int16_t i = 0; i <= 9; ++i) EXPECT_EQ(o.PW(i), "");
    EXPECT_EQ(o.MostraSuggerimenti(), "0");
    EXPECT_EQ(o.FormAvvio(), nullptr);
    EXPECT_EQ(o.Suggerimento(0).Valore, 0);
    EXPECT_EQ(o.Suggerimento(500).Testo, "");
}

TEST_F(ImpostazioniTest, IndexedPropertiesCheckTheirBounds) {
    Impostazioni o(f.platform, decodifica);
    struct Caso { const char* nome; std::function<void(std::int16_t)> leggi; std::int16_t primo, ultimo; };
    const Caso casi[] = {
        {"Premio", [&](std::int16_t i) { o.Premio(i); }, 1, 5},
        {"PW", [&](std::int16_t i) { o.PW(i); }, 0, 9},
        {"Suggerimento", [&](std::int16_t i) { o.Suggerimento(i); }, 0, 500},
    };
    for (const auto& c : casi) {
        SCOPED_TRACE(c.nome);
        EXPECT_EQ(CodiceDi([&] { c.leggi(c.primo); }), 0);
        EXPECT_EQ(CodiceDi([&] { c.leggi(c.ultimo); }), 0);
        for (std::int16_t fuori : {static_cast<std::int16_t>(c.primo - 1), static_cast<std::int16_t>(c.ultimo + 1),
                                   std::int16_t{-32768}, std::int16_t{32767}})
            EXPECT_EQ(CodiceDi([&] { c.leggi(fuori); }), code::subscript_out_of_range) << fuori;
    }
}

TEST_F(ImpostazioniTest, AFailingIndexLeavesTheObjectUnchanged) {
    // A file with a known PW 9 and tip 500, read through the fakes' identity decoding.
    std::string d("\x84\x57\x98\x56", 4);
    d.resize(32499, '\0');
    d += std::string(19 * 160, ' ');
    auto contato = [&](const std::string& t) {
        d.push_back(static_cast<char>(t.size()));
        d.push_back('\0');
        d += t;
    };
    for (int i = 0; i < 11; ++i) contato("t" + std::to_string(i));
    d += std::string("\x01\x00\x00\x00\x00\x00", 6);  // one file entry, empty
    d += std::string("\xF4\x01", 2);          // 500 tips
    for (int i = 1; i <= 500; ++i) {
        d += std::string("\x05\x00", 2);
        contato("tip" + std::to_string(i));
    }
    f.files.put(kPercorso, d);
    decodifica.cifratore = f.platform.components.create_cifratore();
    decodifica.decodificatore = f.platform.components.create_decodificatore();
    Impostazioni o(f.platform, decodifica);
    o.Inizializzazione(kCartella);
    o.LetturaDatiGenerali(32500);

    EXPECT_EQ(CodiceDi([&] { o.PW(10); }), code::subscript_out_of_range);
    EXPECT_EQ(CodiceDi([&] { o.Suggerimento(501); }), code::subscript_out_of_range);
    EXPECT_EQ(CodiceDi([&] { o.Premio(6); }), code::subscript_out_of_range);
    EXPECT_EQ(o.PW(9), "t10");
    EXPECT_EQ(o.ID(), "t0");
    EXPECT_EQ(o.Suggerimento(500).Testo, "tip500");
    EXPECT_EQ(o.Suggerimento(500).Valore, 5);
    EXPECT_EQ(o.NumeroTips(), 500);
    EXPECT_EQ(f.files.open_readers, 1);
}

TEST_F(ImpostazioniTest, TextsAreHeldAsCopies) {
    Impostazioni o(f.platform, decodifica);
    struct Caso {
        const char* nome;
        std::function<void(std::string)> scrivi;
        std::function<std::string()> leggi;
    };
    const Caso casi[] = {
        {"Messaggio", [&](std::string v) { o.Messaggio(std::move(v)); }, [&] { return o.Messaggio(); }},
        {"NomeValuta", [&](std::string v) { o.NomeValuta(std::move(v)); }, [&] { return o.NomeValuta(); }},
        {"FormatoValuta", [&](std::string v) { o.FormatoValuta(std::move(v)); }, [&] { return o.FormatoValuta(); }},
        {"NomeVersDisp", [&](std::string v) { o.NomeVersDisp(std::move(v)); }, [&] { return o.NomeVersDisp(); }},
    };
    for (const auto& c : casi) {
        SCOPED_TRACE(c.nome);
        std::string mia = "Perch\xC3\xA9 \xE2\x82\xAC 1.000,00";
        c.scrivi(mia);
        mia[0] = 'X';
        EXPECT_EQ(c.leggi(), "Perch\xC3\xA9 \xE2\x82\xAC 1.000,00");
        std::string letta = c.leggi();
        letta[0] = 'Y';
        EXPECT_EQ(c.leggi()[0], 'P');
    }
}

TEST_F(ImpostazioniTest, ScalarPropertiesReadBackWhatWasWritten) {
    Impostazioni o(f.platform, decodifica);
    o.AttivaBrowser(-1);
    o.VersioneDisponibile(32767);
    o.ChiusuraProgramma(255);
    o.PrimaEsecuzione(-32768);
    o.Ritenuta(0.25f);
    EXPECT_EQ(o.AttivaBrowser(), -1);
    EXPECT_EQ(o.VersioneDisponibile(), 32767);
    EXPECT_EQ(o.ChiusuraProgramma(), 255);
    EXPECT_EQ(o.PrimaEsecuzione(), -32768);
    EXPECT_EQ(o.Ritenuta(), 0.25f);
}

TEST_F(ImpostazioniTest, FormAvvioHoldsOneCountedReference) {
    auto form = std::make_shared<int>(4);
    auto altra = std::make_shared<int>(5);
    {
        Impostazioni o(f.platform, decodifica);
        o.FormAvvio(form);
        EXPECT_EQ(form.use_count(), 2);
        {
            auto letta = o.FormAvvio();
            EXPECT_EQ(letta, form);
            EXPECT_EQ(form.use_count(), 3);
        }
        o.FormAvvio(altra);
        EXPECT_EQ(form.use_count(), 1) << "the previous reference is released";
        EXPECT_EQ(altra.use_count(), 2);
        o.FormAvvio(nullptr);
        EXPECT_EQ(altra.use_count(), 1);
        EXPECT_EQ(o.FormAvvio(), nullptr);
        o.FormAvvio(altra);
    }
    EXPECT_EQ(altra.use_count(), 1) << "destruction releases the reference";
}

TEST_F(ImpostazioniTest, DestructionClosesTheSettingsFileAndItsChannel) {
    f.files.put(kPercorso, "\x84\x57\x98\x56");
    f.files.put("C:\\Altro\\Dati.lib", "\x84\x57\x98\x56");
    auto primo = std::make_unique<Impostazioni>(f.platform, decodifica);
    primo->Inizializzazione(kCartella);
    const std::int16_t canale = primo->NFile();
    EXPECT_GT(canale, 0);
    EXPECT_EQ(f.files.open_readers, 1);

    Impostazioni secondo(f.platform, decodifica);
    secondo.Inizializzazione("C:\\Altro");
    EXPECT_NE(secondo.NFile(), canale) << "a channel in use is not handed out again";

    primo.reset();
    EXPECT_EQ(f.files.open_readers, 1);
    EXPECT_EQ(f.events({"close:"}), std::vector<std::string>{"close:" + kPercorso});

    Impostazioni terzo(f.platform, decodifica);
    terzo.Inizializzazione(kCartella);
    EXPECT_EQ(terzo.NFile(), canale) << "the released channel is free again";
}

TEST_F(ImpostazioniTest, AnObjectNeverInitialisedClosesNothing) {
    f.files.put(kPercorso, "\x84\x57\x98\x56");
    Impostazioni aperto(f.platform, decodifica);
    aperto.Inizializzazione(kCartella);
    { Impostazioni mai(f.platform, decodifica); }
    EXPECT_TRUE(f.events({"close:"}).empty());
    EXPECT_EQ(f.files.open_readers, 1);
    Impostazioni altro(f.platform, decodifica);
    f.files.put("C:\\Altro\\Dati.lib", "\x84\x57\x98\x56");
    altro.Inizializzazione("C:\\Altro");
    EXPECT_NE(altro.NFile(), aperto.NFile()) << "the open object's channel is still taken";
}

}  // namespace
}  // namespace aggiorna
