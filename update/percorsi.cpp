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

// The value delivered into a 256-byte area that starts all NUL, as 256 characters: everything
// after the value and its terminator stays NUL. A value that is missing or does not fit leaves
// the area all NUL.
std::string LeggiArea(Registry& registro, Locale& locale, std::initializer_list<std::string_view> percorso,
                      std::string_view valore) {
    std::array<std::uint8_t, 256> area{};
    {
        CatenaChiavi catena(registro);
        if (RegKey chiave = catena.Apri(kHkeyLocalMachine, percorso, kAccessoLettura); chiave != 0) {
            std::uint32_t lunghezza = area.size();
            if (!registro.query_value(chiave, valore, area, lunghezza)) area.fill(0);
        }
    }
    return locale.ansi_to_utf8(std::string_view(reinterpret_cast<const char*>(area.data()), area.size()));
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

std::string PercorsoVersione4(Registry& registro, Locale& locale) {
    const std::string area = LeggiArea(registro, locale, {"Software", "Quibex", "Quintrel! 4"}, "InstallPath");
    const auto nul = area.find('\0');
    // A value that fills the whole area without a terminator is not a usable folder.
    return nul == std::string::npos ? std::string() : area.substr(0, nul);
}

std::string PercorsoVersione30(Registry& registro, Locale& locale) {
    const std::string area = LeggiArea(
        registro, locale, {"Software", "Microsoft", "Windows", "CurrentVersion", "App Paths", "quintrel.exe"}, "");
    std::string_view percorso(area);
    percorso = percorso.substr(0, percorso.find('\0'));
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
    const auto barra = percorso.substr(0, exe).rfind('\\');
    if (barra == std::string_view::npos) return {};
    return std::string(percorso.substr(0, barra));
}

}  // namespace aggiorna
