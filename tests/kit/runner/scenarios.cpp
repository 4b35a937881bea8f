// The table of end-to-end scenarios, the texts the program shows, and what the COM servers log.
#include "scenarios.h"

#include <sstream>

#include "platform/windows/text.h"
#include "system_state.h"

namespace kit {
namespace {

using aggiorna::windows::to_utf8;
using aggiorna::windows::to_wide_lossy;

// --- The boxes' texts, exactly as the program shows them. --------------------------------------
const std::wstring CR = L"\r";
const std::wstring TITOLO = L"Aggiornamento Archivio";
const std::wstring TITOLO_IMPOSTAZIONI = L"Quintrel! Professional";
const std::wstring IMPOSSIBILE = L"Impossibile effettuare l'aggiornamento dell'archivio estrazioni.";
const std::wstring NON_TROVATO = L"Non \u00e8 presente alcuna versione di Quintrel! Professional." + CR + CR + IMPOSSIBILE;
const std::wstring CONFERMA_4 = L"Prima di continuare accertarsi che Quintrel! Professional 4 non sia in esecuzione.";
const std::wstring CONFERMA_30 = L"Prima di continuare accertarsi che Quintrel! Professional 3.0 non sia in esecuzione.";
const std::wstring RIUSCITO = L"L'aggiornamento \u00e8 stato eseguito correttamente.";
const std::wstring IN_USO =
    L"Non \u00e8 stato possibile effettuare l'aggiornamento perch\u00e8 Quintrel! Professional \u00e8 in esecuzione.";
const std::wstring DATI_MANCANTE = L"File delle impostazioni mancante. Impossibile continuare.";
const std::wstring DATI_NON_VALIDO = L"Il file delle impostazioni non \u00e8 valido. Impossibile continuare";

std::wstring copia_fallita(const std::wstring& nome, const std::wstring& cartella) {
    return L"Non \u00e8 stato possibile copiare il file " + nome + L" in " + cartella + L"." + CR + CR + IMPOSSIBILE;
}

std::wstring mancanti(const std::vector<std::wstring>& nomi, const std::wstring& cartella) {
    const std::wstring testa = nomi.size() == 1 ? L"Il file " + nomi[0] + L" non si trova"
                                                : L"I file " + nomi[0] + L" e " + nomi[1] + L" non si trovano";
    return testa + L" nella cartella del programma:" + CR + cartella + CR + CR +
           L"Estrarre tutti i file dell'archivio scaricato in un'unica cartella e avviare il programma da "
           L"quella cartella.";
}

std::wstring amministratore(const std::wstring& prodotto) {
    return prodotto +
           L" \u00e8 impostato per essere eseguito come amministratore e non vedrebbe l'archivio aggiornato." + CR +
           CR +
           L"Per aggiornarlo avviare l'aggiornamento con \"Esegui come amministratore\" (clic con il pulsante "
           L"destro del mouse sul programma di aggiornamento).";
}

Box conferma(const std::wstring& text, Answer answer) { return {TITOLO, text, Icon::information, true, answer}; }
Box informazione(const std::wstring& text) { return {TITOLO, text, Icon::information, false, Answer::ok}; }
Box errore(const std::wstring& text, const std::wstring& caption = TITOLO) {
    return {caption, text, Icon::error, false, Answer::ok};
}

std::wstring in(const std::wstring& folder, const std::wstring& name) { return folder + L"\\" + name; }

const Call CREA_AGG{L"create", L"ComponenteAggiornamento"};
const Call RILASCIA_AGG{L"release", L"ComponenteAggiornamento"};
const Call LETTURA{L"lettura", L""};
Call completa(const std::wstring& folder) { return {L"CompletaAggiornamento", folder}; }
Call aiuto(const std::wstring& folder) { return {L"aiuto", folder}; }

// Each scenario below names why only Windows can show it.
const char* kNoVirtualization =
    "Wine virtualizes no process (UAC file and registry virtualization): only Windows with UAC on can show it";

}  // namespace

Bytes content(const std::string& label, std::size_t length) {
    Bytes bytes = label + "\n";
    for (std::size_t i = 0; i < length; ++i) bytes.push_back(static_cast<char>((i * 7 + label.size()) % 256));
    return bytes;
}

const Bytes kNuovoEstr = content("ESTR-NUOVO", 4099);
const Bytes kNuovoBl = content("BL-NUOVO", 1531);
const Bytes kVecchioEstr4 = content("ESTR-V4-VECCHIO", 3001);
const Bytes kVecchioBl4 = content("BL-V4-VECCHIO", 977);
const Bytes kVecchioEstrBi4 = content("ESTR-BI_-V4-RESIDUO", 313);
const Bytes kVecchioEstr30 = content("ESTR-V3-VECCHIO", 2003);
const Bytes kVecchioEstr30Virtuale = content("ESTR-V3-VIRTUALE", 1777);
const Bytes kQuintrelExe = content("MZ quintrel.exe segnaposto", 64);

Box other_programs_box(const std::wstring& file, const std::vector<std::wstring>& programs) {
    std::wstring nomi;  // "a", "a e b", "a, b e c"
    for (std::size_t i = 0; i < programs.size(); ++i) {
        if (i > 0) nomi += i + 1 == programs.size() ? L" e " : L", ";
        nomi += programs[i];
    }
    return errore(L"Non \u00e8 stato possibile aggiornare il file " + file + L" perch\u00e9 \u00e8 in uso da parte di " +
                  nomi + L"." + CR + CR + L"Chiudere " + nomi + L" e avviare di nuovo l'aggiornamento.");
}

std::wstring Places::virtual_copy(const std::wstring& path) const {
    // "C:\Program Files (x86)\..." lies under the store as "Program Files (x86)\...".
    return virtual_store + L"\\" + path.substr(3);
}

std::vector<Call> settings_read(const std::wstring& description_file) {
    // The description: "Name = value" for the 19 general fields in their order, then ID, PW0..PW9
    // (quoted), the file list, and tips ("tip = N | "text"").
    std::istringstream file(read_file(description_file).value_or(""));
    std::vector<std::wstring> fields, passwords, tips;
    std::wstring id;
    std::string line;
    const auto unquoted = [](std::string v) {
        if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
        return to_wide_lossy(v);
    };
    while (std::getline(file, line)) {
        const std::size_t eq = line.find(" = ");
        if (eq == std::string::npos) continue;
        const std::string name = line.substr(0, eq);
        const std::string value = line.substr(eq + 3);
        if (name == "ID") {
            id = unquoted(value);
        } else if (name.rfind("PW", 0) == 0) {
            passwords.push_back(unquoted(value));
        } else if (name == "tip") {
            tips.push_back(unquoted(value.substr(value.find(" | ") + 3)));
        } else if (name != "file") {
            fields.push_back(to_wide_lossy(value));
        }
    }
    // The order in which the program decodes the general block's fields (numbered from 1).
    const int order[] = {1, 2, 3, 4, 8, 9, 10, 11, 12, 13, 14, 15, 18, 6, 7, 5, 17, 16};
    std::vector<std::wstring> texts;
    for (int k : order) {
        std::wstring field = k - 1 < static_cast<int>(fields.size()) ? fields[k - 1] : L"";
        field.resize(std::max<std::size_t>(field.size(), 160), L' ');
        texts.push_back(field);
    }
    texts.push_back(id);
    texts.insert(texts.end(), passwords.begin(), passwords.end());
    texts.insert(texts.end(), tips.begin(), tips.end());

    // The key the program hands to Cifratore, built as the program builds it.
    const int steps[] = {7, 3, 11, 5, 2, 13, 17, 1};
    int state = 0x51;
    std::wstring key;
    for (int i = 0; i < 16; ++i) {
        state = (state * 33 + steps[i % 8] + i) % 9973;
        if (i % 3 == 2) key += static_cast<wchar_t>(L'0' + state % 10);
        else if (i % 2 == 0) key += static_cast<wchar_t>(L'A' + state % 26);
        else key += static_cast<wchar_t>(L'a' + state % 26);
    }
    std::vector<Call> calls = {{L"create", L"Cifratore"}, {L"create", L"Decodificatore"}, {L"ImpostaChiave", key}};
    for (const std::wstring& text : texts) {
        calls.push_back({L"Decodifica", L""});
        calls.push_back({L"Decifra", text});
    }
    calls.push_back({L"release", L"Cifratore"});
    calls.push_back({L"release", L"Decodificatore"});
    return calls;
}

std::vector<Scenario> all_scenarios(const Places& p) {
    const std::wstring q4 = p.root + L"\\Programmi\\Quintrel4";
    const std::wstring q4_accentata = p.root + L"\\Programmi\\Quintr\u00e8l 4";
    const std::wstring q30 = p.root + L"\\Programmi\\Quintrel";
    const std::wstring q30_spazio = p.root + L"\\Programmi\\Quintrel 3";
    const std::wstring q30_pf = p.program_files + L"\\Quintrel";
    const std::wstring q4_pf = p.program_files + L"\\Quintrel4";
    const std::wstring std30 = in(q30, L"quintrel.exe");
    const std::map<std::wstring, Bytes> v4_scritti = {{in(q4, L"Estr.bi_"), kNuovoEstr}, {in(q4, L"bl.bin"), kNuovoBl}};
    const std::map<std::wstring, Bytes> v30_scritti = {{in(q30, L"Estr.bin"), kNuovoEstr}};

    std::vector<Scenario> all;
    // Fills the folders every scenario has: both hosts' folders exist, so that an update of the
    // wrong one shows as a change.
    const auto add = [&](Scenario s) {
        if (s.folder4.empty()) s.folder4 = q4;
        if (s.folder30.empty()) s.folder30 = q30;
        all.push_back(std::move(s));
    };

    add({.name = "nessuna_versione", .what = "neither version: only the not-found box, nothing written",
         .boxes = {errore(NON_TROVATO)}, .calls = {CREA_AGG, RILASCIA_AGG}});
    add({.name = "solo_30_ok", .what = "only 3.0 (standard App Paths path), OK: archive replaced, success box",
         .boxes = {conferma(CONFERMA_30, Answer::ok), informazione(RIUSCITO)}, .app_path = std30,
         .written = v30_scritti, .calls = {CREA_AGG, RILASCIA_AGG}});
    add({.name = "solo_30_annulla", .what = "only 3.0, Cancel: nothing written, no further box",
         .boxes = {conferma(CONFERMA_30, Answer::cancel)}, .app_path = std30, .calls = {CREA_AGG, RILASCIA_AGG}});
    add({.name = "solo_30_app_path_tra_virgolette",
         .what = "only 3.0, App Paths path between quotes and with a blank: the folder inside the quotes",
         .boxes = {conferma(CONFERMA_30, Answer::ok), informazione(RIUSCITO)},
         .app_path = L"\"" + in(q30_spazio, L"quintrel.exe") + L"\"", .folder30 = q30_spazio,
         .written = {{in(q30_spazio, L"Estr.bin"), kNuovoEstr}}, .calls = {CREA_AGG, RILASCIA_AGG}});
    add({.name = "solo_4_ok_barra_finale",
         .what = "only 4 stored with a trailing backslash, OK: Estr.bi_ (old one overwritten) and bl.bin written, "
                 "Estr.bin untouched, the folder passed as stored, decoding calls in order",
         .boxes = {conferma(CONFERMA_4, Answer::ok)}, .install_path = q4 + L"\\", .leftover_estr_bi = true,
         .written = v4_scritti, .calls = {CREA_AGG, LETTURA, completa(q4 + L"\\"), RILASCIA_AGG}});
    add({.name = "solo_4_annulla", .what = "only 4, Cancel: settings still read, nothing written, no call",
         .boxes = {conferma(CONFERMA_4, Answer::cancel)}, .install_path = q4,
         .calls = {CREA_AGG, LETTURA, RILASCIA_AGG}});
    add({.name = "entrambe_ok_ok", .what = "both (version 4 folder with an accented letter), OK and OK",
         .boxes = {conferma(CONFERMA_4, Answer::ok), conferma(CONFERMA_30, Answer::ok), informazione(RIUSCITO)},
         .install_path = q4_accentata, .folder4 = q4_accentata, .app_path = std30,
         .written = {{in(q4_accentata, L"Estr.bi_"), kNuovoEstr}, {in(q4_accentata, L"bl.bin"), kNuovoBl},
                     {in(q30, L"Estr.bin"), kNuovoEstr}},
         .calls = {CREA_AGG, LETTURA, completa(q4_accentata), RILASCIA_AGG}});
    add({.name = "entrambe_ok_annulla", .what = "both, OK then Cancel: only version 4 written",
         .boxes = {conferma(CONFERMA_4, Answer::ok), conferma(CONFERMA_30, Answer::cancel)}, .install_path = q4,
         .app_path = std30, .written = v4_scritti, .calls = {CREA_AGG, LETTURA, completa(q4), RILASCIA_AGG}});
    add({.name = "entrambe_annulla_ok", .what = "both, Cancel then OK: the 3.0 box still comes, only 3.0 written",
         .boxes = {conferma(CONFERMA_4, Answer::cancel), conferma(CONFERMA_30, Answer::ok), informazione(RIUSCITO)},
         .install_path = q4, .app_path = std30, .written = v30_scritti, .calls = {CREA_AGG, LETTURA, RILASCIA_AGG}});
    add({.name = "entrambe_annulla_annulla", .what = "both, Cancel and Cancel: nothing written, no message",
         .boxes = {conferma(CONFERMA_4, Answer::cancel), conferma(CONFERMA_30, Answer::cancel)}, .install_path = q4,
         .app_path = std30, .calls = {CREA_AGG, LETTURA, RILASCIA_AGG}});
    add({.name = "host_tiene_bl_bin",
         .what = "both, the host holds the version 4 bl.bin open: in-use box, no 3.0 box, Estr.bi_ kept",
         .boxes = {conferma(CONFERMA_4, Answer::ok), errore(IN_USO)}, .install_path = q4, .app_path = std30,
         .holder = Holder::host, .held = in(q4, L"bl.bin"), .written = {{in(q4, L"Estr.bi_"), kNuovoEstr}},
         // The run ends at the in-use box: the update component is never released by a call.
         .calls = {CREA_AGG, LETTURA}});
    add({.name = "host_tiene_estr_bin_30", .what = "only 3.0, the host holds its Estr.bin open: in-use box",
         .boxes = {conferma(CONFERMA_30, Answer::ok), errore(IN_USO)}, .app_path = std30, .holder = Holder::host,
         .held = in(q30, L"Estr.bin"), .calls = {CREA_AGG}});
    add({.name = "dati_mancante", .what = "both, no Dati.lib: its message and nothing else, no decoding object",
         .boxes = {errore(DATI_MANCANTE, TITOLO_IMPOSTAZIONI)}, .install_path = q4, .app_path = std30,
         .dati = Dati::missing, .calls = {CREA_AGG}});
    add({.name = "dati_non_valido", .what = "both, Dati.lib with a wrong identifying number: its message only",
         .boxes = {errore(DATI_NON_VALIDO, TITOLO_IMPOSTAZIONI)}, .install_path = q4, .app_path = std30,
         .dati = Dati::invalid, .calls = {CREA_AGG}});
    add({.name = "dati_nascosto", .what = "both, Dati.lib hidden: the missing-file message only",
         .boxes = {errore(DATI_MANCANTE, TITOLO_IMPOSTAZIONI)}, .install_path = q4, .app_path = std30,
         .dati = Dati::hidden, .calls = {CREA_AGG}});
    add({.name = "componente_non_registrato",
         .what = "only 4, update component not registered: both files written, no box after OK",
         .boxes = {conferma(CONFERMA_4, Answer::ok)}, .install_path = q4, .servers = {Server::decoding},
         .written = v4_scritti, .calls = {LETTURA}});
    add({.name = "completa_fallisce",
         .what = "both, CompletaAggiornamento fails: no box of the run for it, the 3.0 box follows",
         .boxes = {conferma(CONFERMA_4, Answer::ok), conferma(CONFERMA_30, Answer::cancel)}, .install_path = q4,
         .app_path = std30, .completa_hresult = L"80004005", .written = v4_scritti,
         .calls = {CREA_AGG, LETTURA, completa(q4), RILASCIA_AGG}});
    add({.name = "completa_in_uso",
         .what = "both, CompletaAggiornamento fails with run-time error 75 (0x800A004B): the in-use box, no 3.0 box",
         .boxes = {conferma(CONFERMA_4, Answer::ok), errore(IN_USO)}, .install_path = q4, .app_path = std30,
         .completa_hresult = L"800A004B", .written = v4_scritti, .calls = {CREA_AGG, LETTURA, completa(q4)}});
    add({.name = "estr_mancante_30",
         .what = "only 3.0, no Estr.bin beside the program (started from inside the zip): one box naming it and "
                 "the folder, no confirmation, nothing written",
         .boxes = {errore(mancanti({L"Estr.bin"}, p.program))}, .app_path = std30, .estr_beside = false,
         .calls = {CREA_AGG, RILASCIA_AGG}});
    add({.name = "estr_mancante_4", .what = "only 4, no Estr.bin beside the program: one box naming it, no settings "
                                            "read, no copy",
         .boxes = {errore(mancanti({L"Estr.bin"}, p.program))}, .install_path = q4, .estr_beside = false,
         .calls = {CREA_AGG, RILASCIA_AGG}});
    add({.name = "avviato_dallo_zip",
         .what = "both, the program alone in its folder as Explorer starts it from inside the zip: one box naming "
                 "both files, no Estr.bi_ left",
         .boxes = {errore(mancanti({L"Estr.bin", L"bl.bin"}, p.program))}, .install_path = q4, .app_path = std30,
         .estr_beside = false, .bl_beside = false, .calls = {CREA_AGG, RILASCIA_AGG}});
    add({.name = "solo_30_senza_bl", .what = "only 3.0 and no bl.bin beside the program: updated as usual",
         .boxes = {conferma(CONFERMA_30, Answer::ok), informazione(RIUSCITO)}, .app_path = std30,
         .bl_beside = false, .written = v30_scritti, .calls = {CREA_AGG, RILASCIA_AGG}});
    add({.name = "archivio_nascosto_30",
         .what = "only 3.0 whose Estr.bin is hidden and system: replaced, and still hidden and system",
         .boxes = {conferma(CONFERMA_30, Answer::ok), informazione(RIUSCITO)}, .app_path = std30,
         .written = v30_scritti, .calls = {CREA_AGG, RILASCIA_AGG}, .hidden = {in(q30, L"Estr.bin")}});
    add({.name = "sorgente_trattenuta",
         .what = "both, the delivered Estr.bin held without sharing (an unzip tool): the copy-failed box for "
                 "each version, naming Estr.bin, no in-use box, nothing written",
         .boxes = {conferma(CONFERMA_4, Answer::ok), errore(copia_fallita(L"Estr.bin", q4)),
                   conferma(CONFERMA_30, Answer::ok), errore(copia_fallita(L"Estr.bin", q30))},
         .install_path = q4, .app_path = std30, .holder = Holder::other_program, .held = in(p.program, L"Estr.bin"),
         .calls = {CREA_AGG, LETTURA, RILASCIA_AGG}});
    add({.name = "consegna_in_scrittura",
         .what = "both, the delivered Estr.bin still open for writing, sharing everything (a download or an "
                 "extraction not done): the copy-failed box for each version, nothing written",
         .boxes = {conferma(CONFERMA_4, Answer::ok), errore(copia_fallita(L"Estr.bin", q4)),
                   conferma(CONFERMA_30, Answer::ok), errore(copia_fallita(L"Estr.bin", q30))},
         .install_path = q4, .app_path = std30, .holder = Holder::writer, .held = in(p.program, L"Estr.bin"),
         .calls = {CREA_AGG, LETTURA, RILASCIA_AGG}});
    add({.name = "virtualstore_30",
         .what = "only 3.0 under Program Files, with this user's virtual copy of its Estr.bin (the host runs "
                 "virtualized, this run does not): both replaced, success box",
         .boxes = {conferma(CONFERMA_30, Answer::ok), informazione(RIUSCITO)}, .app_path = in(q30_pf, L"quintrel.exe"),
         .folder30 = q30_pf, .virtual_copies = {{p.virtual_copy(in(q30_pf, L"Estr.bin")), kVecchioEstr30Virtuale}},
         .written = {{in(q30_pf, L"Estr.bin"), kNuovoEstr}, {p.virtual_copy(in(q30_pf, L"Estr.bin")), kNuovoEstr}},
         .calls = {CREA_AGG, RILASCIA_AGG}});
    add({.name = "virtualstore_4",
         .what = "only 4 under Program Files with this user's virtual Estr.bin, run not virtualized: once the "
                 "component has completed the update, the virtual Estr.bin is the real one",
         .boxes = {conferma(CONFERMA_4, Answer::ok)}, .install_path = q4_pf, .folder4 = q4_pf,
         .virtual_copies = {{p.virtual_copy(in(q4_pf, L"Estr.bin")), kVecchioEstr30Virtuale}},
         .written = {{in(q4_pf, L"Estr.bi_"), kNuovoEstr}, {in(q4_pf, L"bl.bin"), kNuovoBl},
                     // The test component leaves the real archive as it was: the virtual one follows it.
                     {p.virtual_copy(in(q4_pf, L"Estr.bin")), kVecchioEstr4}},
         .calls = {CREA_AGG, LETTURA, completa(q4_pf), RILASCIA_AGG}});

    // --- What only Windows can show. -----------------------------------------------------------
    add({.name = "componente_con_dll_propria",
         .what = "only 4, the update component's server imports a DLL from its own folder (neither the "
                 "program's nor System32), under the loader's restricted search: created and called",
         .boxes = {conferma(CONFERMA_4, Answer::ok)}, .install_path = q4,
         .servers = {Server::update_own_folder, Server::decoding}, .written = v4_scritti,
         .calls = {CREA_AGG, LETTURA, completa(q4), aiuto(q4), RILASCIA_AGG},
         .only_windows_proves = "Wine's loader finds the DLLs that a DLL imports in any folder, also after "
                                "SetDefaultDllDirectories: only Windows shows that the component's folder is "
                                "needed"});
    add({.name = "utente_standard_virtualizzato",
         .what = "a standard user's run (UAC virtualizes it) updating 3.0 under Program Files: the user's virtual "
                 "Estr.bin is written, the real one is left, success box",
         .boxes = {conferma(CONFERMA_30, Answer::ok), informazione(RIUSCITO)}, .app_path = in(q30_pf, L"quintrel.exe"),
         .folder30 = q30_pf, .written = {{p.virtual_copy(in(q30_pf, L"Estr.bin")), kNuovoEstr}},
         .calls = {CREA_AGG, RILASCIA_AGG}, .launch = Launch::standard_user, .windows_only = kNoVirtualization});
    add({.name = "amministratore_dopo_virtualizzato",
         .what = "a run as administrator after a virtualized host wrote its own Estr.bin: both the real and the "
                 "virtual archive replaced",
         .boxes = {conferma(CONFERMA_30, Answer::ok), informazione(RIUSCITO)}, .app_path = in(q30_pf, L"quintrel.exe"),
         .folder30 = q30_pf,
         .written = {{in(q30_pf, L"Estr.bin"), kNuovoEstr}, {p.virtual_copy(in(q30_pf, L"Estr.bin")), kNuovoEstr}},
         .calls = {CREA_AGG, RILASCIA_AGG}, .windows_only = kNoVirtualization});
    add({.name = "host_come_amministratore",
         .what = "a standard user's virtualized run, the 3.0 host set to run as administrator: the message to "
                 "start the update as administrator, nothing written",
         .boxes = {errore(amministratore(L"Quintrel! Professional 3.0"))}, .app_path = in(q30_pf, L"quintrel.exe"),
         .folder30 = q30_pf, .calls = {CREA_AGG, RILASCIA_AGG}, .run_as_admin = {in(q30_pf, L"quintrel.exe")},
         .launch = Launch::standard_user, .windows_only = kNoVirtualization});
    add({.name = "primo_box_davanti",
         .what = "started by the program whose window is in front (the runner's own window, as a browser's is when "
                 "a download is opened): the first box comes in front of that window, which Windows allows only to a "
                 "box that asks for the foreground (MB_SETFOREGROUND) in a program the foreground program started",
         .boxes = {conferma(CONFERMA_30, Answer::cancel)}, .app_path = std30, .calls = {CREA_AGG, RILASCIA_AGG},
         .launch = Launch::behind_a_window,
         .windows_only = "without a window manager Wine gives the foreground to any window that asks: only "
                         "Windows' foreground rules show it"});
    add({.name = "permessi_conservati",
         .what = "only 3.0 whose Estr.bin grants Everyone write access itself: the new archive keeps that entry, "
                 "inherits its folder's entries as the old one did, and the Users can still read it",
         .boxes = {conferma(CONFERMA_30, Answer::ok), informazione(RIUSCITO)}, .app_path = std30,
         .written = v30_scritti, .calls = {CREA_AGG, RILASCIA_AGG},
         .windows_only = "Wine keeps no DACL that a program sets on a file"});
    add({.name = "tenuto_da_altro_programma",
         .what = "only 3.0, its Estr.bin held by a program outside the host's folder: the message names it as the "
                 "Restart Manager's own entry for that process names it, and asks to close it",
         .boxes = {conferma(CONFERMA_30, Answer::ok)}, .app_path = std30, .holder = Holder::other_program,
         .held = in(q30, L"Estr.bin"), .calls = {CREA_AGG},
         .windows_only = "Wine's Restart Manager names nobody"});
    // The same folder on the system drive, reached through its administrative share.
    const std::wstring q30_rete = p.root + L"\\Rete\\Quintrel";
    const std::wstring q30_condivisa = L"\\\\localhost\\" + q30_rete.substr(0, 1) + L"$" + q30_rete.substr(2);
    add({.name = "cartella_di_rete",
         .what = "only 3.0 in a folder reached through the system drive's administrative share "
                 "(\\\\localhost\\C$): replaced without the delete-on-close mark, success box",
         .boxes = {conferma(CONFERMA_30, Answer::ok), informazione(RIUSCITO)},
         .app_path = in(q30_condivisa, L"quintrel.exe"), .folder30 = q30_rete,
         .written = {{in(q30_rete, L"Estr.bin"), kNuovoEstr}}, .calls = {CREA_AGG, RILASCIA_AGG},
         .windows_only = "Wine reaches no \\\\server\\share path (tests/windows/network_drive.sh shows a network "
                         "drive under Wine)"});
    add({.name = "altro_account",
         .what = "started by a standard user with an administrator's password: the VirtualStore and the Desktop "
                 "are those of the user at the desktop",
         .windows_only = "needs a standard user at the desktop and an administrator's password that a person types "
                         "at the UAC prompt: the README's manual check on Windows",
         .by_hand = true});
    return all;
}

}  // namespace kit
