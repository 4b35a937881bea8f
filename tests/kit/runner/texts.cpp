// The program's texts as README's "What the user sees" gives them, word for word.
#include "texts.h"

namespace kit {
namespace {

const std::wstring CR = L"\r";
const std::wstring IMPOSSIBILE = L"Impossibile effettuare l'aggiornamento dell'archivio estrazioni.";
const std::wstring COME_AMMINISTRATORE =
    L"Fare clic con il pulsante destro del mouse sul programma di aggiornamento e scegliere \"Esegui come "
    L"amministratore\".";
constexpr std::size_t kNomiAlMassimo = 5;

// "a", "a e b", "a, b e c"; beyond five names the first four and "e altri N programmi".
std::wstring elenco(std::vector<std::wstring> nomi) {
    if (nomi.size() > kNomiAlMassimo) {
        const std::size_t altri = nomi.size() - (kNomiAlMassimo - 1);
        nomi.resize(kNomiAlMassimo - 1);
        nomi.push_back(L"altri " + std::to_wstring(altri) + L" programmi");
    }
    std::wstring testo;
    for (std::size_t i = 0; i < nomi.size(); ++i) {
        if (i > 0) testo += i + 1 == nomi.size() ? L" e " : L", ";
        testo += nomi[i];
    }
    return testo;
}

}  // namespace

std::wstring non_trovato() {
    return L"Non \u00e8 presente alcuna versione di Quintrel! Professional." + CR + CR + IMPOSSIBILE;
}
std::wstring conferma_di(const std::wstring& prodotto) {
    return L"Prima di continuare accertarsi che " + prodotto + L" non sia in esecuzione.";
}
std::wstring riuscito() { return L"L'aggiornamento \u00e8 stato eseguito correttamente."; }
std::wstring in_uso() {
    return L"Non \u00e8 stato possibile effettuare l'aggiornamento perch\u00e8 Quintrel! Professional \u00e8 in "
           L"esecuzione.";
}
std::wstring dati_mancante() { return L"File delle impostazioni mancante. Impossibile continuare."; }
std::wstring dati_non_valido() { return L"Il file delle impostazioni non \u00e8 valido. Impossibile continuare"; }

std::wstring mancanti(const std::vector<std::wstring>& nomi, const std::wstring& cartella) {
    const std::wstring testa = nomi.size() == 1 ? L"Il file " + nomi[0] + L" non si trova"
                                                : L"I file " + elenco(nomi) + L" non si trovano";
    return testa + L" nella cartella del programma di aggiornamento:" + CR + cartella + CR + CR +
           L"Fare clic con il pulsante destro del mouse sul file ZIP scaricato, scegliere \"Estrai tutto\" e avviare "
           L"il programma di aggiornamento dalla cartella estratta.";
}

std::wstring danneggiato(const std::wstring& nome, const std::wstring& cartella) {
    return L"Il file " + nome + L" nella cartella del programma di aggiornamento \u00e8 vuoto o danneggiato:" + CR +
           cartella + CR + CR +
           L"Scaricare nuovamente il file ZIP, estrarne tutti i file e avviare di nuovo l'aggiornamento.";
}

std::wstring componente_mancante() {
    return L"Impossibile aggiornare l'archivio estrazioni di " + PRODOTTO_4 +
           L": il componente di aggiornamento del programma non \u00e8 installato correttamente." + CR + CR +
           L"Reinstallare " + PRODOTTO_4 + L" e avviare di nuovo l'aggiornamento.";
}

std::wstring ospite_amministratore(const std::wstring& prodotto) {
    return prodotto +
           L" \u00e8 impostato per essere eseguito come amministratore: l'archivio estrazioni non \u00e8 stato "
           L"aggiornato." + CR + CR + COME_AMMINISTRATORE;
}

std::wstring copia_fallita(const std::wstring& nome, const std::wstring& cartella, Rimedio rimedio) {
    std::wstring testo = L"Non \u00e8 stato possibile copiare il file " + nome + L" nella cartella:" + CR + cartella +
                         CR + CR + IMPOSSIBILE;
    switch (rimedio) {
        case Rimedio::nessuno: return testo;
        case Rimedio::scaricamento:
            return testo + CR + CR + L"Accertarsi che il download sia terminato e avviare di nuovo l'aggiornamento.";
        case Rimedio::spazio: return testo + CR + CR + L"Liberare spazio su disco e avviare di nuovo l'aggiornamento.";
        case Rimedio::amministratore: return testo + CR + CR + COME_AMMINISTRATORE;
    }
    return testo;
}

std::wstring altri_programmi(const std::wstring& file, const std::vector<std::wstring>& programmi, bool servizi) {
    const std::wstring testa = L"Non \u00e8 stato possibile aggiornare il file:" + CR + file + CR + CR;
    if (servizi) {
        return testa + L"Il file \u00e8 utilizzato da " + elenco(programmi) +
               L". Attendere qualche minuto e avviare di nuovo l'aggiornamento.";
    }
    return testa + L"Il file \u00e8 aperto in " + elenco(programmi) + L". Chiudere " +
           (programmi.size() == 1 ? programmi[0] : std::wstring(L"questi programmi")) +
           L" e avviare di nuovo l'aggiornamento.";
}

Box conferma(const std::wstring& text, Answer answer) { return {TITOLO, text, Icon::information, true, answer}; }
Box informazione(const std::wstring& text) { return {TITOLO, text, Icon::information, false, Answer::ok}; }
Box errore(const std::wstring& text, const std::wstring& caption) { return {caption, text, Icon::error, false, Answer::ok}; }

}  // namespace kit
