// The texts of the update run's message boxes, built from their parts.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

namespace aggiorna::messaggi {

inline constexpr const char* kProdotto = "Quintrel! Professional";
inline constexpr const char* kProdotto4 = "Quintrel! Professional 4";
inline constexpr const char* kProdotto30 = "Quintrel! Professional 3.0";

// The host program's own texts, as they always were.
std::string NonTrovato();
std::string Conferma(const char* prodotto);
std::string Riuscito();
std::string InUso();

// A path as the user reads it: without the backslash a folder may be stored with at its end (a
// drive's root keeps it), and without the doubled separators that plain joining makes.
std::string Mostrato(const std::string& percorso);

// "a", "a e b", "a, b e c"; beyond five names, the first four and "e altri N programmi".
std::string Elenco(const std::vector<std::string>& nomi);

// The delivered files `nomi` are not in the program's folder (started from inside the zip), or
// are there but empty, not a file, or not what the delivery's sums say.
std::string Mancanti(const std::vector<std::string>& nomi, const std::string& cartella);
std::string Danneggiati(const std::vector<std::string>& nomi, const std::string& cartella);

std::string GiaInCorso();
std::string ComponenteMancante();
std::string OspiteAmministratore(const char* prodotto);

// Programs other than the host hold `file`: those the user can close, or only services and
// critical processes of the system, which the user can only wait for.
std::string AltriProgrammi(const std::vector<std::string>& programmi, bool servizi, const std::string& file);

// Why a copy failed, as far as the user can do something about it: a hint, or empty.
enum class Rimedio { nessuno, scaricamento, spazio, amministratore };
std::string CopiaFallita(const std::string& nome, const std::string& cartella, Rimedio rimedio);

// Run as administrator with another account's password, the program could not reach the copy of
// the archive that Windows keeps for the user at the desktop, which a host running for that user
// reads.
std::string CopiaUtente(const char* prodotto);

}  // namespace aggiorna::messaggi
