// Impostazioni: the settings of an installed version 4 host, from "Dati.lib" and the registry.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/platform.h"

namespace aggiorna {

// The exit code of a run that the settings file's message ends (missing or not valid).
inline constexpr int kEsitoFileImpostazioni = 4;

// One entry of the host's tip list.
struct VoceElenco {
    std::int16_t Valore = 0;  // leading field, kept as read; nothing in this program uses it
    std::string Testo;
};

// The process's decoding component while the settings step holds it. Either object may be absent
// when its creation failed; decoding then fails with code 91.
struct OggettiDecodifica {
    std::unique_ptr<Cifratore> cifratore;
    std::unique_ptr<Decodificatore> decodificatore;

    // A stored text back to plain text: Decodifica, then Decifra of its result.
    std::string DecodificaTesto(const std::string& testo) const;
};

// Any object a caller hands to FormAvvio; the settings object only keeps a counted reference.
using RiferimentoOggetto = std::shared_ptr<void>;

class Impostazioni {
public:
    // `decodifica` is the process's decoding component; it must outlive this object.
    Impostazioni(Platform& piattaforma, const OggettiDecodifica& decodifica);
    ~Impostazioni();  // closes the settings file if Inizializzazione opened it
    Impostazioni(const Impostazioni&) = delete;
    Impostazioni& operator=(const Impostazioni&) = delete;

    // Properties, in the order of the object's interface. Accented names are written without
    // their accents (Societa, Citta, Sconto3piu).
    std::int16_t AttivaBrowser() const { return AttivaBrowser_; }
    void AttivaBrowser(std::int16_t v) { AttivaBrowser_ = v; }
    std::string Desktop() const { return Desktop_; }
    std::string NomeVersDisp() const { return NomeVersDisp_; }
    void NomeVersDisp(std::string v) { NomeVersDisp_ = std::move(v); }
    std::int16_t VersioneDisponibile() const { return VersioneDisponibile_; }
    void VersioneDisponibile(std::int16_t v) { VersioneDisponibile_ = v; }
    std::string Messaggio() const { return Messaggio_; }
    void Messaggio(std::string v) { Messaggio_ = std::move(v); }
    std::uint8_t ChiusuraProgramma() const { return ChiusuraProgramma_; }
    void ChiusuraProgramma(std::uint8_t v) { ChiusuraProgramma_ = v; }
    std::string MostraSuggerimenti() const { return std::to_string(MostraSuggerimenti_); }
    std::string SeparatoreDecimale() const { return SeparatoreDecimale_; }
    std::int16_t PrimaEsecuzione() const { return PrimaEsecuzione_; }
    void PrimaEsecuzione(std::int16_t v) { PrimaEsecuzione_ = v; }
    std::string NomeValuta() const { return NomeValuta_; }
    void NomeValuta(std::string v) { NomeValuta_ = std::move(v); }
    std::string FormatoValuta() const { return FormatoValuta_; }
    void FormatoValuta(std::string v) { FormatoValuta_ = std::move(v); }
    float Ritenuta() const { return Ritenuta_; }
    void Ritenuta(float v) { Ritenuta_ = v; }
    float Premio(std::int16_t indice) const;  // 1 to 5, else code 9
    std::string IndirizzoFTP() const { return IndirizzoFTP_; }
    std::string IndAggiornamento() const { return IndAggiornamento_; }
    std::string IndirizzoWeb() const { return IndirizzoWeb_; }
    std::string email() const { return email_; }
    std::string Provenienza() const { return Provenienza_; }
    float PrezzoBaseEuro() const { return PrezzoBaseEuro_; }
    float PercAggiornamento() const { return PercAggiornamento_; }
    float Sconto2() const { return Sconto2_; }
    float Sconto3() const { return Sconto3_; }
    float Sconto3piu() const { return Sconto3piu_; }
    float PercPrezzoSped() const { return PercPrezzoSped_; }
    std::string NumeroConto() const { return NumeroConto_; }
    std::string IntestazioneConto() const { return IntestazioneConto_; }
    std::string Societa() const { return Societa_; }
    std::string DescrizioneSocieta() const { return DescrizioneSocieta_; }
    std::string Citta() const { return Citta_; }
    std::string Nazione() const { return Nazione_; }
    std::string ID() const { return ID_; }
    std::string PW(std::int16_t indice) const;  // 0 to 9, else code 9
    std::int16_t NumeroTips() const { return NumeroTips_; }
    std::uint8_t NumMessaggi() const { return NumMessaggi_; }
    RiferimentoOggetto FormAvvio() const { return FormAvvio_; }
    void FormAvvio(RiferimentoOggetto v) { FormAvvio_ = std::move(v); }
    std::string PercorsoFileDati() const { return PercorsoFileDati_; }
    std::int16_t NFile() const { return NFile_; }

    // Opens "Dati.lib" in `cartella` and checks its identifying number; a missing or invalid file
    // shows its message and ends the process.
    void Inizializzazione(const std::string& cartella);
    // Reads the general data that begin at `posizione` (counted from 1) of the open file.
    void LetturaDatiGenerali(std::int32_t posizione);
    // Reads the host's registry preferences, the fixed prizes, the decimal separator and the
    // desktop folder.
    void LetturaImpostazioni();

    // Internal member, for code built together with the object: tip list entry 0 to 500.
    VoceElenco Suggerimento(std::int16_t indice) const;

private:
    Platform& piattaforma_;
    const OggettiDecodifica& decodifica_;
    std::unique_ptr<InputFile> file_;  // the channel NFile, while open

    std::int16_t AttivaBrowser_ = 0;
    std::string Desktop_;
    std::string NomeVersDisp_;
    std::int16_t VersioneDisponibile_ = 0;
    std::string Messaggio_;
    std::uint8_t ChiusuraProgramma_ = 0;
    std::int16_t MostraSuggerimenti_ = 0;
    std::string SeparatoreDecimale_;
    std::int16_t PrimaEsecuzione_ = 0;
    std::string NomeValuta_;
    std::string FormatoValuta_;
    float Ritenuta_ = 0;
    std::array<float, 5> Premio_{};
    std::string IndirizzoFTP_;
    std::string IndAggiornamento_;
    std::string IndirizzoWeb_;
    std::string email_;
    std::string Provenienza_;
    float PrezzoBaseEuro_ = 0;
    float PercAggiornamento_ = 0;
    float Sconto2_ = 0;
    float Sconto3_ = 0;
    float Sconto3piu_ = 0;
    float PercPrezzoSped_ = 0;
    std::string NumeroConto_;
    std::string IntestazioneConto_;
    std::string Societa_;
    std::string DescrizioneSocieta_;
    std::string Citta_;
    std::string Nazione_;
    std::string ID_;
    std::array<std::string, 10> PW_;
    std::int16_t NumeroTips_ = 0;
    std::uint8_t NumMessaggi_ = 0;
    RiferimentoOggetto FormAvvio_;
    std::string PercorsoFileDati_;
    std::int16_t NFile_ = 0;
    std::array<VoceElenco, 501> Suggerimenti_{};
};

}  // namespace aggiorna
