// The program's exit codes, one for each way a run can end, for administrators' scripts.
#pragma once

namespace aggiorna::esito {

// Every host found was updated, or the user chose not to, with nothing failing.
inline constexpr int kRiuscito = 0;
inline constexpr int kNessunaVersione = 1;       // no host installed
inline constexpr int kConsegnaMancante = 2;      // a delivered file missing beside the program
inline constexpr int kConsegnaDanneggiata = 3;   // a delivered file empty, not a file, unreadable or not matching its sum
inline constexpr int kImpostazioni = 4;          // the version 4 host's settings file missing or not valid
inline constexpr int kInUso = 5;                 // the host running: it holds a file the update needs
inline constexpr int kAltriProgrammi = 6;        // another program holds a file the update needs
inline constexpr int kCopiaFallita = 7;          // a copy failed for another reason
inline constexpr int kComponente = 8;            // the version 4 update component missing, or it failed
inline constexpr int kOspiteAmministratore = 9;  // a host that would not see the update (it runs as administrator)
inline constexpr int kGiaInCorso = 10;           // another run of the program under way
inline constexpr int kCopiaUtente = 11;          // the desktop user's own copy of the archive not updated

// What a code means, for the run's log.
const char* Significato(int codice);

}  // namespace aggiorna::esito
