// Impostazioni: opening and checking "Dati.lib", and reading its general data.
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "settings/canali.h"
#include "settings/impostazioni.h"
#include "settings/numero_iniziale.h"
#include "update/esito.h"

namespace aggiorna {
namespace {

constexpr const char* kNomeFileDati = "Dati.lib";
constexpr std::int32_t kNumeroIdentificativo = 0x56985784;
constexpr const char* kTitoloMessaggi = "Quintrel! Professional";
constexpr const char* kFileMancante = "File delle impostazioni mancante. Impossibile continuare.";
constexpr const char* kFileNonValido = "Il file delle impostazioni non \xC3\xA8 valido. Impossibile continuare";

constexpr std::size_t kLunghezzaCampo = 160;
constexpr std::size_t kNumeroCampi = 19;
constexpr int kOrdineDecodifica[] = {1, 2, 3, 4, 8, 9, 10, 11, 12, 13, 14, 15, 18, 6, 7, 5, 17, 16};
constexpr std::int16_t kMassimoSuggerimenti = 500;

// Reads the file forward from a byte offset. A read that the file cannot satisfy in full fails
// with code 62 and yields nothing.
class Lettore {
public:
    Lettore(InputFile& file, std::uint64_t posizione) : file_(file), posizione_(posizione) {}

    std::string Byte(std::size_t quanti) {
        std::string out(quanti, '\0');
        std::size_t letti = 0;
        if (quanti > 0) {
            letti = file_.read_at(posizione_, {reinterpret_cast<std::uint8_t*>(out.data()), quanti});
        }
        if (letti < quanti) {
            throw Error(code::input_past_end_of_file,
                        "Dati.lib: " + std::to_string(quanti) + " bytes wanted at offset " +
                            std::to_string(posizione_) + ", " + std::to_string(letti) + " there");
        }
        posizione_ += quanti;
        return out;
    }
    std::uint16_t Parola() {
        const std::string b = Byte(2);
        return static_cast<std::uint16_t>(static_cast<std::uint8_t>(b[0]) |
                                          (static_cast<std::uint8_t>(b[1]) << 8));
    }
    std::int16_t Intero() { return static_cast<std::int16_t>(Parola()); }
    // A counted text, in the file's code page.
    std::string TestoContato() { return Byte(Parola()); }

private:
    InputFile& file_;
    std::uint64_t posizione_;
};

std::string SenzaSpaziFinali(std::string testo) {
    const auto fine = testo.find_last_not_of(' ');
    testo.erase(fine == std::string::npos ? 0 : fine + 1);
    return testo;
}

// The number a text begins with, as a single; beyond the single range: code 6.
float NumeroSingolo(const std::string& testo) {
    const double valore = LeggiNumeroIniziale(testo);
    // Half an ulp above the largest single: anything below it rounds to a finite single.
    const double limite = std::ldexp(2.0 - std::ldexp(1.0, -24), 127);
    if (!(std::fabs(valore) < limite)) throw Error(code::overflow, "number beyond single range: " + testo);
    return static_cast<float>(valore);
}

}  // namespace

void Impostazioni::Inizializzazione(const std::string& cartella) {
    // A second call lets go of the file the first one opened.
    if (NFile_ != 0) {
        file_.reset();
        RilasciaCanale(NFile_);
        NFile_ = 0;
    }
    NFile_ = CanaleLibero();
    PercorsoFileDati_ = cartella;
    const std::string percorso = cartella + "\\" + kNomeFileDati;

    const auto attributi = piattaforma_.files.attributes(percorso);
    constexpr std::uint32_t kNonNormale =
        file_attribute::directory | file_attribute::hidden | file_attribute::system;
    if (!attributi || (*attributi & kNonNormale) != 0) {
        piattaforma_.boxes.message_box(kFileMancante, box_style::error, kTitoloMessaggi);
        piattaforma_.process.end_process(esito::kImpostazioni);
    }

    file_ = piattaforma_.files.open_for_reading(percorso);

    std::uint8_t numero[4] = {};
    const std::size_t letti = file_->read_at(0, numero);
    const auto valore = static_cast<std::int32_t>(
        static_cast<std::uint32_t>(numero[0]) | (static_cast<std::uint32_t>(numero[1]) << 8) |
        (static_cast<std::uint32_t>(numero[2]) << 16) | (static_cast<std::uint32_t>(numero[3]) << 24));
    if (letti < 4 || valore != kNumeroIdentificativo) {
        piattaforma_.boxes.message_box(kFileNonValido, box_style::error, kTitoloMessaggi);
        piattaforma_.process.end_process(esito::kImpostazioni);
    }
}

void Impostazioni::LetturaDatiGenerali(std::int32_t posizione) {
    if (!file_) throw Error(code::bad_file_name_or_number, "LetturaDatiGenerali: no settings file open");
    if (posizione < 1) throw Error(code::bad_record_number, "LetturaDatiGenerali: position " + std::to_string(posizione));

    Lettore lettore(*file_, static_cast<std::uint64_t>(posizione) - 1);
    auto testo = [this](const std::string& byte) { return piattaforma_.locale.ansi_to_utf8(byte); };

    const std::string blocco = lettore.Byte(kNumeroCampi * kLunghezzaCampo);
    for (int k : kOrdineDecodifica) {
        const std::string campo = testo(blocco.substr(static_cast<std::size_t>(k - 1) * kLunghezzaCampo, kLunghezzaCampo));
        const std::string valore = SenzaSpaziFinali(decodifica_.DecodificaTesto(campo));
        switch (k) {
            case 1: Societa_ = valore; break;
            case 2: DescrizioneSocieta_ = valore; break;
            case 3: Citta_ = valore; break;
            case 4: Nazione_ = valore; break;
            case 5: break;  // decoded for the component's sake, not kept
            case 6: email_ = valore; break;
            case 7: IndirizzoWeb_ = valore; break;
            case 8: NumeroConto_ = valore; break;
            case 9: IntestazioneConto_ = valore; break;
            case 10: PrezzoBaseEuro_ = NumeroSingolo(valore); break;
            case 11: PercAggiornamento_ = NumeroSingolo(valore); break;
            case 12: Sconto2_ = NumeroSingolo(valore); break;
            case 13: Sconto3_ = NumeroSingolo(valore); break;
            case 14: Sconto3piu_ = NumeroSingolo(valore); break;
            case 15: PercPrezzoSped_ = NumeroSingolo(valore); break;
            case 16: IndirizzoFTP_ = valore; break;
            case 17: IndAggiornamento_ = valore; break;
            case 18: Provenienza_ = valore; break;
        }
    }

    // The access block: read whole, then decoded in file order.
    std::string accesso[11];
    for (auto& t : accesso) t = testo(lettore.TestoContato());
    ID_ = decodifica_.DecodificaTesto(accesso[0]);
    for (std::size_t i = 0; i < PW_.size(); ++i) PW_[i] = decodifica_.DecodificaTesto(accesso[i + 1]);

    // The file list: only its shape is checked.
    const std::int16_t voci_file = lettore.Intero();
    if (voci_file < 1) throw Error(code::subscript_out_of_range, "Dati.lib: file list count " + std::to_string(voci_file));
    for (std::int16_t i = 0; i < voci_file; ++i) {
        lettore.Intero();
        lettore.TestoContato();
    }

    NumeroTips_ = lettore.Intero();
    for (std::int32_t i = 1; i <= NumeroTips_; ++i) {
        if (i > kMassimoSuggerimenti) throw Error(code::subscript_out_of_range, "Dati.lib: more than 500 tips");
        const std::int16_t valore = lettore.Intero();
        std::string voce = testo(lettore.TestoContato());
        auto& suggerimento = Suggerimenti_[static_cast<std::size_t>(i)];
        suggerimento.Valore = valore;
        suggerimento.Testo = std::move(voce);
        suggerimento.Testo = decodifica_.DecodificaTesto(suggerimento.Testo);
    }
}

}  // namespace aggiorna
