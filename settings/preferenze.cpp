// Impostazioni::LetturaImpostazioni: the host's registry preferences, fixed prizes, decimal separator, desktop.
#include "settings/conversioni.h"
#include "settings/funzioni.h"
#include "settings/impostazioni.h"
#include "settings/numero_iniziale.h"

namespace aggiorna {
namespace {

// The name under which the version 4 host keeps its per-user preferences.
constexpr std::string_view kApplicazione = "Quintrel! 4";

// "virgola" when the locale writes one tenth as 0,1; "punto" for any other separator. The second
// character of the formatted number is the first character of the decimal separator.
std::string NomeSeparatore(const NumberFormat& formato) {
    const std::string decimo = "0" + formato.decimal_separator + "1";
    return decimo.size() > 1 && decimo[1] == ',' ? "virgola" : "punto";
}

}  // namespace

// Each step stores its property before the next one reads, so a conversion that fails leaves the
// earlier properties set and the later ones as they were.
void Impostazioni::LetturaImpostazioni() {
    Premio_ = {11.232f, 250.0f, 4250.0f, 80000.0f, 1000000.0f};

    Registry& registro = piattaforma_.registry;
    const NumberFormat formato = piattaforma_.locale.number_format();
    auto leggi = [&](std::string_view sezione, std::string_view nome, std::string_view predefinito) {
        return LeggiImpostazione(registro, kApplicazione, sezione, nome, predefinito);
    };

    Ritenuta_ = ConvertiSingolo(LeggiNumeroLocale(leggi("Options", "Ritenuta", "3"), formato));
    FormatoValuta_ = leggi("Options", "Formato valuta", "#,##0");
    NomeValuta_ = leggi("Options", "Nome valuta", "Lire");
    PrimaEsecuzione_ = ConvertiIntero(LeggiNumeroLocale(leggi("Startup", "Prima esecuzione", "0"), formato));
    SeparatoreDecimale_ = NomeSeparatore(formato);
    MostraSuggerimenti_ = ConvertiIntero(LeggiNumeroLocale(leggi("Options", "Show Tips at Startup", "1"), formato));
    ChiusuraProgramma_ = ConvertiByte(LeggiNumeroLocale(leggi("Startup", "End", "0"), formato));
    VersioneDisponibile_ = ConvertiIntero(LeggiNumeroIniziale(leggi("Startup", "NewVersNumber", "")));
    NomeVersDisp_ = leggi("Startup", "NewVersName", "");

    Desktop_ = Funzioni::PercorsoCartellaSpeciale(piattaforma_.shell, kCsidlDesktop);
}

}  // namespace aggiorna
