// The host lookups: where versions 4 and 3.0 of the host are installed, from HKEY_LOCAL_MACHINE.
#include <array>
#include <initializer_list>

#include "settings/catena_chiavi.h"
#include "update/aggiornamento.h"

namespace aggiorna {
namespace {

// Read access only, in the 32-bit view where the 32-bit host records itself: a user without
// write rights on HKEY_LOCAL_MACHINE must still find an installed host.
constexpr std::uint32_t kAccessoLettura = reg_access::read | reg_access::wow64_32key;

// The value as text. A string value is read as Windows reads it for a Unicode program: no
// character taken for another of the ANSI code page ("C:\Ｑ30" is not "C:\Q30"), and the
// variables of an expandable one expanded. A value of another type is taken as ANSI text, as the
// host's own tools take it: its bytes delivered into a 256-byte area that starts all NUL, as 256
// characters, everything after the value and its terminator NUL; a value that does not fit
// leaves the area all NUL. Missing: nothing.
struct Testo {
    std::string testo;
    bool stringa = false;  // read as a string value, whole
};

Testo Leggi(Registry& registro, Locale& locale, std::initializer_list<std::string_view> percorso,
            std::string_view valore, LetturaRegistro* letto) {
    std::array<std::uint8_t, 256> area{};
    std::optional<std::string> testo;
    bool trovato = false;
    {
        CatenaChiavi catena(registro);
        if (RegKey chiave = catena.Apri(kHkeyLocalMachine, percorso, kAccessoLettura); chiave != 0) {
            testo = registro.query_path(chiave, valore);
            if (!testo) {
                std::uint32_t lunghezza = area.size();
                trovato = registro.query_value(chiave, valore, area, lunghezza);
                if (!trovato) area.fill(0);
            }
        }
    }
    if (letto) letto->come = testo ? "a string value" : trovato ? "not a string value: its bytes taken as text" : "missing";
    if (testo) return {testo->substr(0, testo->find('\0')), true};
    return {locale.ansi_to_utf8(std::string_view(reinterpret_cast<const char*>(area.data()), area.size())), false};
}

bool UgualeSenzaMaiuscole(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

}  // namespace

std::string PercorsoVersione4(Registry& registro, Locale& locale, LetturaRegistro* letto) {
    const Testo letta = Leggi(registro, locale, {"Software", "Quibex", "Quintrel! 4"}, "InstallPath", letto);
    const auto nul = letta.testo.find('\0');
    if (letto) letto->valore = letta.testo.substr(0, nul);
    // A value that fills the whole area without a terminator is not a usable folder.
    if (nul == std::string::npos && !letta.stringa) return {};
    return letta.testo.substr(0, nul);
}

std::string PercorsoVersione30(Registry& registro, Locale& locale, LetturaRegistro* letto) {
    const Testo letta = Leggi(
        registro, locale, {"Software", "Microsoft", "Windows", "CurrentVersion", "App Paths", "quintrel.exe"}, "", letto);
    std::string_view percorso(letta.testo);
    percorso = percorso.substr(0, percorso.find('\0'));
    if (letto) letto->valore = std::string(percorso);
    // The path may be stored between double quotes; only the quoted path counts.
    if (!percorso.empty() && percorso.front() == '"') {
        percorso.remove_prefix(1);
        percorso = percorso.substr(0, percorso.find('"'));
    }
    // The program file is the last ".exe" of the path: a folder may itself contain ".exe".
    std::size_t exe = std::string_view::npos;
    for (std::size_t i = 0; i + 4 <= percorso.size(); ++i)
        if (UgualeSenzaMaiuscole(percorso.substr(i, 4), ".exe")) exe = i;
    if (exe == std::string_view::npos) return {};
    // Windows takes "/" for a separator as well as "\".
    const auto barra = percorso.substr(0, exe).find_last_of("\\/");
    if (barra == std::string_view::npos) return {};
    return std::string(percorso.substr(0, barra));
}

bool PercorsoAssoluto(std::string_view cartella) {
    const auto separatore = [](char c) { return c == '\\' || c == '/'; };
    const bool lettera = cartella.size() >= 3 && ((cartella[0] | 0x20) >= 'a' && (cartella[0] | 0x20) <= 'z') &&
                         cartella[1] == ':' && separatore(cartella[2]);
    const bool rete = cartella.size() >= 3 && separatore(cartella[0]) && separatore(cartella[1]) && !separatore(cartella[2]);
    return lettera || rete;
}

}  // namespace aggiorna
