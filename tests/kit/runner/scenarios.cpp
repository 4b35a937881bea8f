// The table of end-to-end scenarios: the hosts, the boxes, the files, the COM calls and the exit
// status of each row.
#include "scenarios.h"

#include "share.h"
#include "texts.h"

namespace kit {
namespace {

const std::wstring CONFERMA_4 = conferma_di(PRODOTTO_4);
const std::wstring CONFERMA_30 = conferma_di(PRODOTTO_30);

std::wstring in(const std::wstring& folder, const std::wstring& name) { return folder + L"\\" + name; }

const Call CREA_AGG{L"create", L"ComponenteAggiornamento"};
const Call RILASCIA_AGG{L"release", L"ComponenteAggiornamento"};
const Call LETTURA{L"lettura", L""};
Call completa(const std::wstring& folder) { return {L"CompletaAggiornamento", folder}; }
Call aiuto(const std::wstring& folder) { return {L"aiuto", folder}; }

// SHA256SUMS as sha256sum writes it: "<hex>  <name>", one line a file.
Bytes somme(const std::string& estr, const std::string& bl) {
    return estr + "  Estr.bin\n" + bl + "  bl.bin\n";
}

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
// Taken with sha256sum on the bytes content() makes: a change of those bytes shows as a damaged
// delivery in somme_giuste.
const char* const kSommaNuovoEstr = "e3bba09e88d536a1e5b100cded28a3d847b37a1ab64aeb9ff1ef98dc836088c9";
const char* const kSommaNuovoBl = "539ea8c380717dc531bd81afb4afc2d81f56377318d7534df23f7f09dd66be4f";

std::wstring Places::virtual_copy(const std::wstring& path) const {
    // "C:\Program Files (x86)\..." lies under the store as "Program Files (x86)\...".
    return virtual_store + L"\\" + path.substr(3);
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
    const Box in_uso_box = errore(in_uso());

    std::vector<Scenario> all;
    // Fills the folders every scenario has: both hosts' folders exist, so that an update of the
    // wrong one shows as a change.
    const auto add = [&](Scenario s) {
        if (s.folder4.empty()) s.folder4 = q4;
        if (s.folder30.empty()) s.folder30 = q30;
        all.push_back(std::move(s));
    };

    add({.name = "nessuna_versione", .what = "neither version: only the not-found box, nothing written",
         .boxes = {errore(non_trovato())}, .calls = {CREA_AGG, RILASCIA_AGG}, .exit_code = 1});
    add({.name = "solo_30_ok", .what = "only 3.0 (standard App Paths path), OK: archive replaced, success box",
         .boxes = {conferma(CONFERMA_30, Answer::ok), informazione(riuscito())}, .app_path = std30,
         .written = v30_scritti, .calls = {CREA_AGG, RILASCIA_AGG}});
    add({.name = "solo_30_annulla", .what = "only 3.0, Cancel: nothing written, no further box",
         .boxes = {conferma(CONFERMA_30, Answer::cancel)}, .app_path = std30, .calls = {CREA_AGG, RILASCIA_AGG}});
    add({.name = "solo_30_app_path_tra_virgolette",
         .what = "only 3.0, App Paths value quoted, folder with a space: archive replaced in that folder",
         .boxes = {conferma(CONFERMA_30, Answer::ok), informazione(riuscito())},
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
         .boxes = {conferma(CONFERMA_4, Answer::ok), conferma(CONFERMA_30, Answer::ok), informazione(riuscito())},
         .install_path = q4_accentata, .folder4 = q4_accentata, .app_path = std30,
         .written = {{in(q4_accentata, L"Estr.bi_"), kNuovoEstr}, {in(q4_accentata, L"bl.bin"), kNuovoBl},
                     {in(q30, L"Estr.bin"), kNuovoEstr}},
         .calls = {CREA_AGG, LETTURA, completa(q4_accentata), RILASCIA_AGG}});
    add({.name = "entrambe_ok_annulla", .what = "both, OK then Cancel: only version 4 written",
         .boxes = {conferma(CONFERMA_4, Answer::ok), conferma(CONFERMA_30, Answer::cancel)}, .install_path = q4,
         .app_path = std30, .written = v4_scritti, .calls = {CREA_AGG, LETTURA, completa(q4), RILASCIA_AGG}});
    add({.name = "entrambe_annulla_ok", .what = "both, Cancel then OK: the 3.0 box still comes, only 3.0 written",
         .boxes = {conferma(CONFERMA_4, Answer::cancel), conferma(CONFERMA_30, Answer::ok), informazione(riuscito())},
         .install_path = q4, .app_path = std30, .written = v30_scritti, .calls = {CREA_AGG, LETTURA, RILASCIA_AGG}});
    add({.name = "entrambe_annulla_annulla", .what = "both, Cancel and Cancel: nothing written, no message",
         .boxes = {conferma(CONFERMA_4, Answer::cancel), conferma(CONFERMA_30, Answer::cancel)}, .install_path = q4,
         .app_path = std30, .calls = {CREA_AGG, LETTURA, RILASCIA_AGG}});
    add({.name = "host_tiene_bl_bin",
         .what = "both, the host holds the version 4 bl.bin open: its files are checked before any is written, so "
                 "the in-use box comes and nothing is written (no Estr.bi_), no 3.0 box",
         .boxes = {conferma(CONFERMA_4, Answer::ok), in_uso_box}, .install_path = q4, .app_path = std30,
         .holder = Holder::host, .held = in(q4, L"bl.bin"),
         // The run ends at the in-use box: the update component is never released by a call.
         .calls = {CREA_AGG, LETTURA}, .exit_code = 5});
    add({.name = "host_tiene_estr_bin_30", .what = "only 3.0, the host holds its Estr.bin open: in-use box",
         .boxes = {conferma(CONFERMA_30, Answer::ok), in_uso_box}, .app_path = std30, .holder = Holder::host,
         .held = in(q30, L"Estr.bin"), .calls = {CREA_AGG}, .exit_code = 5});
    add({.name = "in_uso_30_dopo_il_4",
         .what = "both, version 4 completed, then the host holds the 3.0 Estr.bin: the update component was "
                 "released as soon as it completed, before the run ended at the in-use box",
         .boxes = {conferma(CONFERMA_4, Answer::ok), conferma(CONFERMA_30, Answer::ok), in_uso_box},
         .install_path = q4, .app_path = std30, .holder = Holder::host, .held = in(q30, L"Estr.bin"),
         .written = v4_scritti, .calls = {CREA_AGG, LETTURA, completa(q4), RILASCIA_AGG}, .exit_code = 5});
    add({.name = "dati_mancante", .what = "both, no Dati.lib: its message and nothing else, no decoding object",
         .boxes = {errore(dati_mancante(), TITOLO_IMPOSTAZIONI)}, .install_path = q4, .app_path = std30,
         .dati = Dati::missing, .calls = {CREA_AGG}, .exit_code = 4});
    add({.name = "dati_non_valido", .what = "both, Dati.lib with a wrong identifying number: its message only",
         .boxes = {errore(dati_non_valido(), TITOLO_IMPOSTAZIONI)}, .install_path = q4, .app_path = std30,
         .dati = Dati::invalid, .calls = {CREA_AGG}, .exit_code = 4});
    add({.name = "dati_nascosto", .what = "both, Dati.lib hidden: the missing-file message only",
         .boxes = {errore(dati_mancante(), TITOLO_IMPOSTAZIONI)}, .install_path = q4, .app_path = std30,
         .dati = Dati::hidden, .calls = {CREA_AGG}, .exit_code = 4});
    add({.name = "componente_non_registrato",
         .what = "only 4, update component not registered: the settings are read, then the missing-component "
                 "box instead of the confirmation, nothing written",
         .boxes = {errore(componente_mancante())}, .install_path = q4, .servers = {Server::decoding},
         .calls = {LETTURA}, .exit_code = 8});
    add({.name = "completa_fallisce",
         .what = "both, CompletaAggiornamento fails: no box of the run for it, the 3.0 box follows",
         .boxes = {conferma(CONFERMA_4, Answer::ok), conferma(CONFERMA_30, Answer::cancel)}, .install_path = q4,
         .app_path = std30, .completa_hresult = L"80004005", .written = v4_scritti,
         .calls = {CREA_AGG, LETTURA, completa(q4), RILASCIA_AGG}, .exit_code = 8});
    add({.name = "completa_in_uso",
         .what = "both, CompletaAggiornamento fails with run-time error 75 (0x800A004B): the in-use box, no 3.0 box",
         .boxes = {conferma(CONFERMA_4, Answer::ok), in_uso_box}, .install_path = q4, .app_path = std30,
         .completa_hresult = L"800A004B", .written = v4_scritti, .calls = {CREA_AGG, LETTURA, completa(q4)},
         .exit_code = 5});
    add({.name = "estr_mancante_30",
         .what = "only 3.0, no Estr.bin beside the program (started from inside the zip): one box naming it and "
                 "the folder, no confirmation, nothing written",
         .boxes = {errore(mancanti({L"Estr.bin"}, p.program))}, .app_path = std30, .estr_beside = false,
         .calls = {CREA_AGG, RILASCIA_AGG}, .exit_code = 2});
    add({.name = "estr_mancante_4", .what = "only 4, no Estr.bin beside the program: one box naming it, no settings "
                                            "read, no copy",
         .boxes = {errore(mancanti({L"Estr.bin"}, p.program))}, .install_path = q4, .estr_beside = false,
         .calls = {CREA_AGG, RILASCIA_AGG}, .exit_code = 2});
    add({.name = "avviato_dallo_zip",
         .what = "both, the program alone in its folder as Explorer starts it from inside the zip: one box naming "
                 "both files, no Estr.bi_ left",
         .boxes = {errore(mancanti({L"Estr.bin", L"bl.bin"}, p.program))}, .install_path = q4, .app_path = std30,
         .estr_beside = false, .bl_beside = false, .calls = {CREA_AGG, RILASCIA_AGG}, .exit_code = 2});
    add({.name = "solo_30_senza_bl", .what = "only 3.0 and no bl.bin beside the program: updated as usual",
         .boxes = {conferma(CONFERMA_30, Answer::ok), informazione(riuscito())}, .app_path = std30,
         .bl_beside = false, .written = v30_scritti, .calls = {CREA_AGG, RILASCIA_AGG}});
    add({.name = "consegna_vuota",
         .what = "only 3.0, the delivered Estr.bin empty (an extraction cut short): one box naming it and the "
                 "program's folder, before any question, nothing written",
         .boxes = {errore(danneggiato(L"Estr.bin", p.program))}, .app_path = std30, .beside = {{L"Estr.bin", ""}},
         .calls = {CREA_AGG, RILASCIA_AGG}, .exit_code = 3});
    add({.name = "somme_sbagliate",
         .what = "both, SHA256SUMS beside the program whose line for bl.bin is not bl.bin's sum: the damaged "
                 "message names bl.bin, no settings read, nothing written",
         .boxes = {errore(danneggiato(L"bl.bin", p.program))}, .install_path = q4, .app_path = std30,
         .beside = {{L"SHA256SUMS", somme(kSommaNuovoEstr, kSommaNuovoEstr)}}, .calls = {CREA_AGG, RILASCIA_AGG},
         .exit_code = 3});
    add({.name = "somme_giuste",
         .what = "both, SHA256SUMS beside the program with the right sums (sha256sum's own): both versions updated "
                 "as usual, which the program's SHA-256 of Windows' CNG must have agreed with",
         .boxes = {conferma(CONFERMA_4, Answer::ok), conferma(CONFERMA_30, Answer::ok), informazione(riuscito())},
         .install_path = q4, .app_path = std30, .beside = {{L"SHA256SUMS", somme(kSommaNuovoEstr, kSommaNuovoBl)}},
         .written = {{in(q4, L"Estr.bi_"), kNuovoEstr}, {in(q4, L"bl.bin"), kNuovoBl}, {in(q30, L"Estr.bin"), kNuovoEstr}},
         .calls = {CREA_AGG, LETTURA, completa(q4), RILASCIA_AGG}});
    add({.name = "archivio_nascosto_30",
         .what = "only 3.0 whose Estr.bin is hidden and system: replaced, and still hidden and system",
         .boxes = {conferma(CONFERMA_30, Answer::ok), informazione(riuscito())}, .app_path = std30,
         .written = v30_scritti, .calls = {CREA_AGG, RILASCIA_AGG}, .hidden = {in(q30, L"Estr.bin")}});
    add({.name = "sorgente_trattenuta",
         .what = "both (version 4 stored with a trailing backslash), the delivered Estr.bin held without sharing (an "
                 "unzip tool): the copy-failed box for each version, naming Estr.bin and the folder without the "
                 "backslash, with the download hint, no in-use box, nothing written",
         .boxes = {conferma(CONFERMA_4, Answer::ok), errore(copia_fallita(L"Estr.bin", q4, Rimedio::scaricamento)),
                   conferma(CONFERMA_30, Answer::ok), errore(copia_fallita(L"Estr.bin", q30, Rimedio::scaricamento))},
         .install_path = q4 + L"\\", .app_path = std30, .holder = Holder::other_program,
         .held = in(p.program, L"Estr.bin"), .calls = {CREA_AGG, LETTURA, RILASCIA_AGG}, .exit_code = 7});
    add({.name = "consegna_in_scrittura",
         .what = "both, the delivered Estr.bin still open for writing, sharing everything (a download or an "
                 "extraction not done): the copy-failed box with the download hint for each version, nothing written",
         .boxes = {conferma(CONFERMA_4, Answer::ok), errore(copia_fallita(L"Estr.bin", q4, Rimedio::scaricamento)),
                   conferma(CONFERMA_30, Answer::ok), errore(copia_fallita(L"Estr.bin", q30, Rimedio::scaricamento))},
         .install_path = q4, .app_path = std30, .holder = Holder::writer, .held = in(p.program, L"Estr.bin"),
         .calls = {CREA_AGG, LETTURA, RILASCIA_AGG}, .exit_code = 7});
    add({.name = "virtualstore_30",
         .what = "only 3.0 under Program Files, with this user's virtual copy of its Estr.bin (the host runs "
                 "virtualized, this run does not): both replaced, success box",
         .boxes = {conferma(CONFERMA_30, Answer::ok), informazione(riuscito())}, .app_path = in(q30_pf, L"quintrel.exe"),
         .folder30 = q30_pf, .virtual_copies = {{p.virtual_copy(in(q30_pf, L"Estr.bin")), kVecchioEstr30Virtuale}},
         .written = {{in(q30_pf, L"Estr.bin"), kNuovoEstr}, {p.virtual_copy(in(q30_pf, L"Estr.bin")), kNuovoEstr}},
         .calls = {CREA_AGG, RILASCIA_AGG}});
    add({.name = "virtualstore_4",
         .what = "only 4 under Program Files with this user's virtual Estr.bin, run not virtualized: once the "
                 "component has completed the update, the virtual Estr.bin is the real one; the component keeps "
                 "the archive open until it is released, so the run released it before reading it",
         .boxes = {conferma(CONFERMA_4, Answer::ok)}, .install_path = q4_pf, .folder4 = q4_pf,
         .virtual_copies = {{p.virtual_copy(in(q4_pf, L"Estr.bin")), kVecchioEstr30Virtuale}},
         .component_holds_archive = true,
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
         .boxes = {conferma(CONFERMA_30, Answer::ok), informazione(riuscito())}, .app_path = in(q30_pf, L"quintrel.exe"),
         .folder30 = q30_pf, .written = {{p.virtual_copy(in(q30_pf, L"Estr.bin")), kNuovoEstr}},
         .calls = {CREA_AGG, RILASCIA_AGG}, .launch = Launch::standard_user, .windows_only = kNoVirtualization});
    add({.name = "amministratore_dopo_virtualizzato",
         .what = "a run as administrator after a virtualized host wrote its own Estr.bin: both the real and the "
                 "virtual archive replaced",
         .boxes = {conferma(CONFERMA_30, Answer::ok), informazione(riuscito())}, .app_path = in(q30_pf, L"quintrel.exe"),
         .folder30 = q30_pf,
         .written = {{in(q30_pf, L"Estr.bin"), kNuovoEstr}, {p.virtual_copy(in(q30_pf, L"Estr.bin")), kNuovoEstr}},
         .calls = {CREA_AGG, RILASCIA_AGG}, .windows_only = kNoVirtualization});
    add({.name = "host_come_amministratore",
         .what = "a standard user's virtualized run, the 3.0 host set to run as administrator: the message to "
                 "start the update as administrator, nothing written",
         .boxes = {errore(ospite_amministratore(PRODOTTO_30))}, .app_path = in(q30_pf, L"quintrel.exe"),
         .folder30 = q30_pf, .calls = {CREA_AGG, RILASCIA_AGG}, .exit_code = 9,
         .run_as_admin = {in(q30_pf, L"quintrel.exe")}, .launch = Launch::standard_user,
         .windows_only = kNoVirtualization});
    add({.name = "runasadmin_cartella_modificabile",
         .what = "a standard user's virtualized run, the 3.0 host under Program Files set to run as administrator "
                 "but its folder open to the Users (Modify, inherited): the real Estr.bin replaced, no refusal, "
                 "success box, and the log says it was written there",
         .boxes = {conferma(CONFERMA_30, Answer::ok), informazione(riuscito())}, .app_path = in(q30_pf, L"quintrel.exe"),
         .folder30 = q30_pf, .written = {{in(q30_pf, L"Estr.bin"), kNuovoEstr}}, .calls = {CREA_AGG, RILASCIA_AGG},
         .run_as_admin = {in(q30_pf, L"quintrel.exe")}, .launch = Launch::standard_user,
         .windows_only = kNoVirtualization});
    add({.name = "collegamento_come_amministratore",
         .what = "a standard user's virtualized run, the 3.0 host under Program Files started by a Start menu "
                 "shortcut set to run as administrator: the message to start the update as administrator, nothing "
                 "written",
         .boxes = {errore(ospite_amministratore(PRODOTTO_30))}, .app_path = in(q30_pf, L"quintrel.exe"),
         .folder30 = q30_pf, .calls = {CREA_AGG, RILASCIA_AGG}, .exit_code = 9, .launch = Launch::standard_user,
         .windows_only = kNoVirtualization});
    add({.name = "primo_aggiornamento_virtuale",
         .what = "a standard user's virtualized run, the 3.0 host under Program Files whose Estr.bin lets the Users "
                 "only read it (inheritance removed), no virtual copy yet: the virtual copy is written, success "
                 "box, and the user at the desktop can then open that copy for writing",
         .boxes = {conferma(CONFERMA_30, Answer::ok), informazione(riuscito())}, .app_path = in(q30_pf, L"quintrel.exe"),
         .folder30 = q30_pf, .written = {{p.virtual_copy(in(q30_pf, L"Estr.bin")), kNuovoEstr}},
         .calls = {CREA_AGG, RILASCIA_AGG}, .launch = Launch::standard_user, .windows_only = kNoVirtualization});
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
         .boxes = {conferma(CONFERMA_30, Answer::ok), informazione(riuscito())}, .app_path = std30,
         .written = v30_scritti, .calls = {CREA_AGG, RILASCIA_AGG},
         .windows_only = "Wine keeps no DACL that a program sets on a file"});
    add({.name = "tenuto_da_altro_programma",
         .what = "only 3.0, its Estr.bin held by a program outside the host's folder: the message names it as the "
                 "Restart Manager's own entry for that process names it, and asks to close it",
         .boxes = {conferma(CONFERMA_30, Answer::ok)}, .app_path = std30, .holder = Holder::other_program,
         .held = in(q30, L"Estr.bin"), .calls = {CREA_AGG}, .exit_code = 6,
         .windows_only = "Wine's Restart Manager names nobody"});
    // The same folder on the system drive, reached through its administrative share.
    const std::wstring q30_rete = p.root + L"\\Rete\\Quintrel";
    const std::wstring q30_condivisa = L"\\\\localhost\\" + q30_rete.substr(0, 1) + L"$" + q30_rete.substr(2);
    add({.name = "cartella_di_rete",
         .what = "only 3.0 in a folder reached through the system drive's administrative share "
                 "(\\\\localhost\\C$): replaced without the delete-on-close mark, success box",
         .boxes = {conferma(CONFERMA_30, Answer::ok), informazione(riuscito())},
         .app_path = in(q30_condivisa, L"quintrel.exe"), .folder30 = q30_rete,
         .written = {{in(q30_rete, L"Estr.bin"), kNuovoEstr}}, .landed = {in(q30_condivisa, L"Estr.bin")},
         .calls = {CREA_AGG, RILASCIA_AGG},
         .windows_only = "Wine reaches no \\\\server\\share path (tests/windows/network_drive.sh shows a network "
                         "drive under Wine)"});
    // A folder shared by the kit itself, its share granting Change and not Full Control.
    const std::wstring q30_share = p.root + L"\\Condivisa\\Quintrel";
    const std::wstring q30_via_share = L"\\\\localhost\\" + std::wstring(kShareName);
    add({.name = "condivisione_modifica",
         .what = "a standard user's run, 3.0 in a folder shared by the kit (share: Everyone Change, not Full "
                 "Control; the folder: Users Modify) reached as \\\\localhost\\AggiornaKit$: replaced, success box",
         .boxes = {conferma(CONFERMA_30, Answer::ok), informazione(riuscito())},
         .app_path = in(q30_via_share, L"quintrel.exe"), .folder30 = q30_share,
         .written = {{in(q30_share, L"Estr.bin"), kNuovoEstr}}, .landed = {in(q30_via_share, L"Estr.bin")},
         .calls = {CREA_AGG, RILASCIA_AGG}, .launch = Launch::standard_user,
         .windows_only = "Wine shares no folder (its NetShareAdd is a stub) and reaches no \\\\server\\share path"});
    add({.name = "altro_account",
         .what = "started by a standard user with an administrator's password: the VirtualStore and the Desktop "
                 "are those of the user at the desktop",
         .windows_only = "needs a standard user at the desktop and an administrator's password that a person types "
                         "at the UAC prompt: the README's manual check on Windows",
         .by_hand = true});
    return all;
}

}  // namespace kit
