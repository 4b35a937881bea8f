// The texts of the update run's message boxes.
#include "update/messaggi.h"

namespace aggiorna::messaggi {
namespace {

constexpr const char* kCR = "\r";
constexpr const char* kImpossibile = "Impossibile effettuare l'aggiornamento dell'archivio estrazioni.";
constexpr const char* kComeAmministratore =
    "Fare clic con il pulsante destro del mouse sul programma di aggiornamento e scegliere \"Esegui come "
    "amministratore\".";
constexpr std::size_t kNomiAlMassimo = 5;

// "Il file X <singolare>" or "I file X e Y <plurale>".
std::string QualiFile(const std::vector<std::string>& nomi, const char* singolare, const char* plurale) {
    return nomi.size() == 1 ? "Il file " + nomi[0] + singolare : "I file " + Elenco(nomi) + plurale;
}

}  // namespace

std::string NonTrovato() {
    return std::string("Non è presente alcuna versione di ") + kProdotto + "." + kCR + kCR + kImpossibile;
}

std::string Conferma(const char* prodotto) {
    return std::string("Prima di continuare accertarsi che ") + prodotto + " non sia in esecuzione.";
}

std::string Riuscito() { return "L'aggiornamento è stato eseguito correttamente."; }

std::string InUso() {
    return std::string("Non è stato possibile effettuare l'aggiornamento perchè ") + kProdotto + " è in esecuzione.";
}

std::string Mostrato(const std::string& percorso) {
    std::string testo;
    for (std::size_t i = 0; i < percorso.size(); ++i) {
        // A network path keeps the two backslashes it starts with.
        if (percorso[i] == '\\' && i > 1 && percorso[i - 1] == '\\') continue;
        testo += percorso[i];
    }
    const bool radice = testo.size() == 3 && testo[1] == ':';
    if (!radice && testo.size() > 1 && testo.back() == '\\') testo.pop_back();
    return testo;
}

std::string Elenco(const std::vector<std::string>& nomi) {
    std::vector<std::string> mostrati = nomi;
    if (nomi.size() > kNomiAlMassimo) {
        mostrati.resize(kNomiAlMassimo - 1);
        mostrati.push_back("altri " + std::to_string(nomi.size() - mostrati.size()) + " programmi");
    }
    std::string testo;
    for (std::size_t i = 0; i < mostrati.size(); ++i) {
        if (i > 0) testo += i + 1 == mostrati.size() ? " e " : ", ";
        testo += mostrati[i];
    }
    return testo;
}

std::string Mancanti(const std::vector<std::string>& nomi, const std::string& cartella) {
    return QualiFile(nomi, " non si trova nella cartella del programma di aggiornamento:",
                     " non si trovano nella cartella del programma di aggiornamento:") +
           kCR + Mostrato(cartella) + kCR + kCR +
           "Fare clic con il pulsante destro del mouse sul file ZIP scaricato, scegliere \"Estrai tutto\" e avviare il "
           "programma di aggiornamento dalla cartella estratta.";
}

std::string Danneggiati(const std::vector<std::string>& nomi, const std::string& cartella) {
    return QualiFile(nomi, " nella cartella del programma di aggiornamento è vuoto o danneggiato:",
                     " nella cartella del programma di aggiornamento sono vuoti o danneggiati:") +
           kCR + Mostrato(cartella) + kCR + kCR +
           "Scaricare nuovamente il file ZIP, estrarne tutti i file e avviare di nuovo l'aggiornamento.";
}

std::string GiaInCorso() {
    return "È già in corso un aggiornamento dell'archivio estrazioni. Attenderne il completamento.";
}

std::string ComponenteMancante() {
    return std::string("Impossibile aggiornare l'archivio estrazioni di ") + kProdotto4 +
           ": il componente di aggiornamento del programma non è installato correttamente." + kCR + kCR +
           "Reinstallare " + kProdotto4 + " e avviare di nuovo l'aggiornamento.";
}

std::string OspiteAmministratore(const char* prodotto) {
    return std::string(prodotto) +
           " è impostato per essere eseguito come amministratore: l'archivio estrazioni non è stato aggiornato." + kCR +
           kCR + kComeAmministratore;
}

std::string AltriProgrammi(const std::vector<std::string>& programmi, bool servizi, const std::string& file) {
    const std::string nomi = Elenco(programmi);
    std::string testo = std::string("Non è stato possibile aggiornare il file:") + kCR + Mostrato(file) + kCR + kCR;
    if (servizi) return testo + "Il file è utilizzato da " + nomi + ". Attendere qualche minuto e avviare di nuovo l'aggiornamento.";
    testo += "Il file è aperto in " + nomi + ". Chiudere ";
    testo += programmi.size() == 1 ? programmi[0] : std::string("questi programmi");
    return testo + " e avviare di nuovo l'aggiornamento.";
}

std::string CopiaFallita(const std::string& nome, const std::string& cartella, Rimedio rimedio) {
    std::string testo = "Non è stato possibile copiare il file " + nome + " nella cartella:" + kCR + Mostrato(cartella) +
                        kCR + kCR + kImpossibile;
    switch (rimedio) {
        case Rimedio::nessuno:
            break;
        case Rimedio::scaricamento:
            testo += std::string(kCR) + kCR + "Accertarsi che il download sia terminato e avviare di nuovo l'aggiornamento.";
            break;
        case Rimedio::spazio:
            testo += std::string(kCR) + kCR + "Liberare spazio su disco e avviare di nuovo l'aggiornamento.";
            break;
        case Rimedio::amministratore:
            testo += std::string(kCR) + kCR + kComeAmministratore;
            break;
    }
    return testo;
}

std::string CopiaUtente(const char* prodotto) {
    return std::string("L'archivio estrazioni di ") + prodotto +
           " è stato aggiornato, ma non la copia che Windows ne conserva per l'utente collegato." + kCR + kCR +
           "Per aggiornare anche quella, avviare di nuovo il programma di aggiornamento con un doppio clic, senza "
           "\"Esegui come amministratore\".";
}

}  // namespace aggiorna::messaggi
