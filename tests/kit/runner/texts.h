// The texts of the program's message boxes, written out here apart from the program's own code, and
// the boxes the scenarios expect built from them.
#pragma once

#include <string>
#include <vector>

#include "scenarios.h"

namespace kit {

inline const std::wstring TITOLO = L"Aggiornamento Archivio";
inline const std::wstring TITOLO_IMPOSTAZIONI = L"Quintrel! Professional";
inline const std::wstring PRODOTTO_4 = L"Quintrel! Professional 4";
inline const std::wstring PRODOTTO_30 = L"Quintrel! Professional 3.0";

// The host program's own texts, as they always were.
std::wstring non_trovato();
std::wstring conferma_di(const std::wstring& prodotto);
std::wstring riuscito();
std::wstring in_uso();
std::wstring dati_mancante();
std::wstring dati_non_valido();

// The delivered files `nomi` (one or two) missing beside the program in `cartella`.
std::wstring mancanti(const std::vector<std::wstring>& nomi, const std::wstring& cartella);
// The delivered file `nome` empty or damaged.
std::wstring danneggiato(const std::wstring& nome, const std::wstring& cartella);
std::wstring componente_mancante();
std::wstring ospite_amministratore(const std::wstring& prodotto);

// What the copy-failed message tells the user to do, where the cause is known.
enum class Rimedio { nessuno, scaricamento, spazio, amministratore };
std::wstring copia_fallita(const std::wstring& nome, const std::wstring& cartella, Rimedio rimedio = Rimedio::nessuno);

// Programs other than the host hold `file`: programs the user can close, or only services.
std::wstring altri_programmi(const std::wstring& file, const std::vector<std::wstring>& programmi, bool servizi = false);

Box conferma(const std::wstring& text, Answer answer);
Box informazione(const std::wstring& text);
Box errore(const std::wstring& text, const std::wstring& caption = TITOLO);

}  // namespace kit
