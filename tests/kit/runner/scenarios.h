// The end-to-end scenarios of the Windows program: one row each, with the hosts, the boxes expected
// in order (caption, text, icon, buttons, answer), the files expected and the calls the test COM
// servers log. The same table runs on Windows and under Wine; a row that only Windows can run says
// why, and the runner prints it as NOT RUN under Wine.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kit {

using Bytes = std::string;

enum class Icon { none, error, information, warning, question };
enum class Answer { ok, cancel };

struct Box {
    std::wstring caption;
    std::wstring text;
    Icon icon = Icon::information;
    bool with_cancel = false;  // OK and Cancel, OK the default; else OK alone
    Answer answer = Answer::ok;
};

// A call the test COM servers log: its name and the arguments checked ("lettura" stands for the
// whole read of a valid "Dati.lib").
struct Call {
    std::wstring name;
    std::wstring argument;
};

enum class Server { update, update_own_folder, decoding };
// Who holds the file `held` open while the program runs: the host (a program in the host's
// folder, no sharing), another program (from the kit's folder, no sharing), or a download still
// writing it (sharing everything).
enum class Holder { none, host, other_program, writer };
// How the program is started: from the runner (elevated where the runner is); as the desktop's
// standard user through the shell (UAC virtualizes it); from the runner with a window of the
// runner's in front.
enum class Launch { runner, standard_user, behind_a_window };
enum class Dati { valid, missing, invalid, hidden };

// The places of one run of the kit.
struct Places {
    std::wstring root;           // %SystemDrive%\AggiornaKit: every folder of the scenarios
    std::wstring program;        // the program's folder, with the delivered files
    std::wstring test;           // the test servers, the holder, the COM log
    std::wstring kit_e2e;        // the kit's e2e folder: the runner, the servers, the Dati.lib files
    std::wstring program_files;  // a host folder that Windows virtualizes (under %ProgramFiles%)
    std::wstring virtual_store;  // this user's VirtualStore
    std::wstring start_menu;     // a folder of the kit's in this user's Start menu (Programs)
    std::wstring run_logs;       // where the program writes its run's log: this user's "Aggiorna Archivio"
    // The virtual copy a virtualized program uses for `path` (under program_files).
    std::wstring virtual_copy(const std::wstring& path) const;
};

struct Scenario {
    std::string name;
    std::string what;
    std::vector<Box> boxes;
    std::optional<std::wstring> install_path;  // the version 4 "InstallPath" as stored; none: no key
    std::wstring folder4;                      // where the version 4 host's files are
    std::optional<std::wstring> app_path;      // the App Paths value of quintrel.exe; none: no key
    std::wstring folder30;
    Dati dati = Dati::valid;
    bool estr_beside = true;  // "Estr.bin" delivered beside the program
    bool bl_beside = true;    // "bl.bin" delivered beside the program
    // Files laid beside the program after the delivered ones, by name: a delivered file with
    // other content (an empty Estr.bin), or one more file (SHA256SUMS).
    std::map<std::wstring, Bytes> beside;
    bool leftover_estr_bi = false;
    std::vector<Server> servers = {Server::update, Server::decoding};
    Holder holder = Holder::none;
    std::wstring held;
    std::map<std::wstring, Bytes> virtual_copies;  // the user's virtual copies before the run
    std::wstring completa_hresult;                 // hexadecimal; empty: S_OK
    // The update component keeps the host's Estr.bin open, sharing nothing, until it is released.
    bool component_holds_archive = false;
    std::map<std::wstring, Bytes> written;         // path -> content expected after the run
    // Where the run's log must say its copies were written ("written to"), each path once: the
    // paths of `written` when empty (a row that reaches its host through a share names the share's
    // paths here).
    std::vector<std::wstring> landed;
    std::vector<Call> calls;
    int exit_code = 0;  // the exit status the program must end with (README, "Exit codes")
    std::vector<std::wstring> hidden;        // host files hidden and system before, and after
    std::vector<std::wstring> run_as_admin;  // program files set to run as administrator (HKCU)
    Launch launch = Launch::runner;
    // Only Windows can run it: why not under Wine.
    std::string windows_only;
    // It runs under Wine too, but only Windows proves its point: why (a NOT RUN note under Wine).
    std::string only_windows_proves;
    // Not run by the runner anywhere: a check a person makes by hand (the README says how).
    bool by_hand = false;
    // Steps of their own: before the run (may complete the expected boxes), and checks after it
    // (each returned text a failure). Optional.
    std::function<void(Scenario&, const Places&)> before;
    std::function<std::vector<std::string>(const Scenario&, const Places&)> after;
    // Set by the runner while the scenario runs: the process id of the holder it started.
    unsigned long holder_process = 0;
};

// Distinct, recognisable contents of distinct lengths, with every byte value in them.
Bytes content(const std::string& label, std::size_t length);
extern const Bytes kNuovoEstr, kNuovoBl, kVecchioEstr4, kVecchioBl4, kVecchioEstrBi4, kVecchioEstr30,
    kVecchioEstr30Virtuale, kQuintrelExe;

std::vector<Scenario> all_scenarios(const Places& places);
// The SHA-256 of kNuovoEstr and kNuovoBl, as sha256sum prints them, taken apart from Windows (the
// program's sums are Windows' own, CNG).
extern const char* const kSommaNuovoEstr;
extern const char* const kSommaNuovoBl;
// Gives the scenarios that need steps of their own (a DACL to set and check, a holder named by the
// Restart Manager, a virtual copy that Windows itself makes) those steps.
void add_own_steps(std::vector<Scenario>& scenarios, const Places& places);

// The calls of the settings read of a valid "Dati.lib", in their fixed order, from the description
// the kit's Dati.lib was written from (dati_e2e.txt).
std::vector<Call> settings_read(const std::wstring& description_file);

}  // namespace kit
