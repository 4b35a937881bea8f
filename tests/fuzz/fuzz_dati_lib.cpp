// libFuzzer target: the "Dati.lib" reader (Inizializzazione, LetturaDatiGenerali) with the
// program's stand-in decoding, on any file contents.
//
// Input: two bytes, little-endian, give the position of the general data (taken modulo 4096, plus
// 1), so that small inputs reach the whole reader; the rest is the file. Every input must end in
// stored values, in an aggiorna::Error, or in the end of the process after one of the two fatal
// settings-file messages; anything else aborts.
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <string>

#include "fakes/fake_platform.h"
#include "platform/portable/decodifica_sostitutiva.h"
#include "platform/portable/posix_locale.h"
#include "settings/chiave.h"
#include "settings/impostazioni.h"

namespace {

using namespace aggiorna;
using aggiorna::testing::EventLog;

constexpr const char* kCartella = "C:\\Programmi\\Quintrel4";
constexpr const char* kFileMancante = "File delle impostazioni mancante. Impossibile continuare.";
constexpr const char* kFileNonValido = "Il file delle impostazioni non \xC3\xA8 valido. Impossibile continuare";

[[noreturn]] void failure(const char* what) {
    std::fprintf(stderr, "fuzz_dati_lib: %s\n", what);
    std::abort();
}

// Reads every property, so that a value left in a bad state shows up under the sanitizers.
std::size_t touch(const Impostazioni& s) {
    std::size_t n = s.Societa().size() + s.DescrizioneSocieta().size() + s.Citta().size() +
                    s.Nazione().size() + s.email().size() + s.IndirizzoWeb().size() +
                    s.NumeroConto().size() + s.IntestazioneConto().size() + s.IndirizzoFTP().size() +
                    s.IndAggiornamento().size() + s.Provenienza().size() + s.ID().size();
    const float numeri[] = {s.PrezzoBaseEuro(), s.PercAggiornamento(), s.Sconto2(),
                            s.Sconto3(),        s.Sconto3piu(),        s.PercPrezzoSped()};
    for (float f : numeri) n += f == f ? 0 : 1;
    for (std::int16_t i = 0; i <= 9; ++i) n += s.PW(i).size();
    const std::int16_t tips = s.NumeroTips();
    for (std::int16_t i = 0; i <= 500; ++i) n += s.Suggerimento(i).Testo.size();
    if (tips > 500) failure("more than 500 tips stored");
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::int32_t posizione = 1 + ((data[0] | (data[1] << 8)) % 4096);

    EventLog log;
    testing::FakeRegistry registry(log);
    testing::FakeBoxes boxes(log);
    testing::FakeFiles files(log);
    testing::FakeShell shell;
    static portable::PosixLocale locale;  // reads the environment's locale: once is enough
    testing::FakeComponents components(log);
    testing::FakeProcess process(log);
    testing::FakeRunLog run_log;
    Platform platform{registry, boxes, files, shell, locale, components, process, run_log};
    files.put(std::string(kCartella) + "\\Dati.lib", std::string(reinterpret_cast<const char*>(data) + 2, size - 2));

    OggettiDecodifica decodifica;
    decodifica.cifratore = std::make_unique<portable::CifratoreSostitutivo>();
    decodifica.decodificatore = std::make_unique<portable::DecodificatoreSostitutivo>();
    std::string chiave = CostruisciChiave();
    decodifica.cifratore->ImpostaChiave(chiave);

    try {
        Impostazioni impostazioni(platform, decodifica);
        try {
            impostazioni.Inizializzazione(kCartella);
        } catch (const testing::ProcessEnded&) {
            // Only the two settings-file messages may end the process.
            if (boxes.shown.empty()) failure("process ended without a message");
            const std::string& text = boxes.shown.back().text;
            if (text != kFileMancante && text != kFileNonValido) failure("process ended after another message");
            return 0;
        }
        if (!boxes.shown.empty()) failure("a box shown for a file that was accepted");
        try {
            impostazioni.LetturaDatiGenerali(posizione);
        } catch (const Error&) {
            return 0;
        }
        volatile std::size_t sink = touch(impostazioni);
        (void)sink;
    } catch (const Error&) {
        // Any of the program's codes is a proper end.
    }
    if (files.open_readers != 0) failure("settings file left open");
    return 0;
}
