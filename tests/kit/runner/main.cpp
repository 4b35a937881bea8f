// e2e_runner: the Windows program end to end, on Windows and under Wine alike; with --kit, the whole
// kit (the test programs named in prove\programmi.txt, then every scenario).
//
//   e2e_runner [--kit] [--no-scenarios] [--program-timeout S] [--scenario-timeout S]
//              [--pictures FOLDER] [--verbose] [--list] [scenario...]
//
// The first line says what the runner found of the system. It needs an administrator's token:
// without one it says so first and ends with status 3. A run ended halfway is put back first,
// from its journal; a machine with a real installation of the host is left as it is (status 4).
// Then one line per test program and per scenario ("ok", "FAIL" with what went wrong, or
// "NOT RUN: ...: reason"), and the closing line "N passed, M failed, K skipped", K counting the
// NOT RUN lines. Exit status 0 only when nothing failed. Every key and folder it changes is written
// in the journal first and put back at the end, also after Ctrl+C or a closed console.
#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <sstream>
#include <string>
#include <vector>

#include "journal.h"
#include "machine.h"
#include "platform/windows/text.h"
#include "processes.h"
#include "put_back.h"
#include "run.h"
#include "run_logs.h"
#include "scenarios.h"
#include "share.h"
#include "system_facts.h"
#include "system_state.h"
#include "test_programs.h"

namespace kit {
namespace {

using aggiorna::windows::to_utf8;

constexpr int kFailed = 1, kUsage = 2, kNotElevated = 3, kRefused = 4;

struct Totals {
    int passed = 0;
    int failed = 0;
    int skipped = 0;
    void not_run(const std::string& what) {
        std::printf("NOT RUN: %s\n", what.c_str());
        ++skipped;
    }
    void fail(const std::string& what) {
        std::printf("FAIL %s\n", what.c_str());
        ++failed;
    }
    int close() const {
        std::printf("%d passed, %d failed, %d skipped\n", passed, failed, skipped);
        std::fflush(stdout);
        return failed == 0 ? 0 : kFailed;
    }
};

struct Arguments {
    bool whole_kit = false;
    bool scenarios = true;
    bool list = false;
    DWORD program_bound_ms = 300000;
    std::vector<std::string> wanted;
    Options options;
};

std::wstring folder_of(const std::wstring& path) { return path.substr(0, path.find_last_of(L'\\')); }

std::wstring environment(const wchar_t* name, const wchar_t* otherwise) {
    wchar_t value[MAX_PATH + 1] = {};
    const DWORD length = GetEnvironmentVariableW(name, value, MAX_PATH + 1);
    return length == 0 || length > MAX_PATH ? otherwise : value;
}

Places places_here() {
    wchar_t self[MAX_PATH * 2] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH * 2);
    Places p;
    p.kit_e2e = folder_of(self);
    p.root = environment(L"SystemDrive", L"C:") + L"\\AggiornaKit";
    p.program = p.root + L"\\Aggiorna";
    p.test = p.root + L"\\prova";
    p.program_files = environment(L"ProgramFiles", L"C:\\Program Files") + L"\\AggiornaKit";
    wchar_t local[MAX_PATH + 1] = {};
    SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, local);
    p.virtual_store = std::wstring(local) + L"\\VirtualStore";
    p.run_logs = std::wstring(local) + L"\\Aggiorna Archivio";
    wchar_t programs[MAX_PATH + 1] = {};
    SHGetFolderPathW(nullptr, CSIDL_PROGRAMS, nullptr, SHGFP_TYPE_CURRENT, programs);
    p.start_menu = std::wstring(programs) + L"\\AggiornaKit";
    return p;
}

// The test servers and the holder where the scenarios register and start them.
bool install_test_programs(const Places& p) {
    make_folders(p.test + L"\\componente");
    bool ok = true;
    for (const wchar_t* name : {L"e2e_componente.dll", L"e2e_decodifica.dll", L"e2e_holder.exe",
                                L"componente\\e2e_componente_aiuto.dll", L"componente\\e2e_aiuto.dll"}) {
        ok = copy_file(p.kit_e2e + L"\\" + name, p.test + L"\\" + name) && ok;
    }
    return ok;
}

// The highest folder on the way to `folder` that does not exist: what making it creates. Empty when
// `folder` exists already.
std::wstring first_missing(const std::wstring& folder) {
    if (GetFileAttributesW(folder.c_str()) != INVALID_FILE_ATTRIBUTES) return {};
    std::wstring missing = folder;
    for (std::size_t at; (at = missing.find_last_of(L'\\')) != std::wstring::npos && at > 2;) {
        const std::wstring parent = missing.substr(0, at);
        if (GetFileAttributesW(parent.c_str()) != INVALID_FILE_ATTRIBUTES) break;
        missing = parent;
    }
    return missing;
}

std::vector<std::wstring> test_program_names(const std::wstring& list) {
    std::vector<std::wstring> names;
    std::istringstream lines(read_file(list).value_or(""));
    for (std::string line; std::getline(lines, line);) {
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
        if (!line.empty() && line[0] != '#') names.push_back(aggiorna::windows::to_wide_lossy(line));
    }
    return names;
}

void run_test_programs(const Arguments& a, const Journal& journal, Totals& totals) {
    const std::wstring folder = a.options.places.kit_e2e + L"\\..\\prove";
    const std::wstring list = folder + L"\\programmi.txt";
    const auto names = test_program_names(list);
    if (names.empty()) totals.fail(to_utf8(list) + ": no test program named (the file is missing or empty)");
    for (const std::wstring& name : names) {
        if (stop_requested()) return;
        const std::string shown = to_utf8(name);
        std::printf("== %s\n", shown.c_str());
        std::fflush(stdout);
        const ProgramResult result = run_test_program(folder + L"\\" + name, L"", a.program_bound_ms);
        totals.passed += result.passed;
        for (const std::string& test : result.skipped_tests) {
            totals.not_run(shown + " " + test + ": skipped by the test itself (its reason is in the output above)");
        }
        if (result.failed == 0) {
            std::printf("ok   %s: %d passed\n", shown.c_str(), result.passed);
        } else {
            std::string what = shown + ": " + std::to_string(result.passed) + " passed, " +
                               std::to_string(result.failed) + " failed";
            for (const std::string& problem : result.problems) what += "; " + problem;
            if (!result.failed_tests.empty()) {
                what += "; failed:";
                for (const std::string& test : result.failed_tests) what += " " + test;
            }
            std::printf("FAIL %s\n", what.c_str());
            totals.failed += result.failed;
        }
        // A test program that ended halfway leaves what its fixtures wrote.
        for (const std::string& problem : put_back_between(journal)) totals.fail("after " + shown + ": " + problem);
    }
}

void run_scenarios(const Arguments& a, const std::vector<Scenario>& scenarios, const Journal& journal, Totals& totals) {
    const Options& options = a.options;
    if (!options.check_foreground) {
        totals.not_run("the foreground check of every box: the runner's desktop is not the one that takes input");
    }
    if (!install_test_programs(options.places)) totals.fail("the test servers cannot be copied into place");
    const ULONGLONG started = GetTickCount64();
    for (const Scenario& s : scenarios) {
        if (!a.wanted.empty() && std::find(a.wanted.begin(), a.wanted.end(), s.name) == a.wanted.end()) continue;
        if (stop_requested()) return;
        for (const std::string& problem : put_back_between(journal)) totals.fail("before " + s.name + ": " + problem);
        const Outcome outcome = run_scenario(s, options);
        if (stop_requested()) return;
        switch (outcome.kind) {
            case Outcome::passed:
                ++totals.passed;
                std::printf("ok   %s (%.1f s): %s\n", s.name.c_str(), outcome.seconds, s.what.c_str());
                if (under_wine() && !s.only_windows_proves.empty()) {
                    totals.not_run(s.name + ", as Windows runs it: " + s.only_windows_proves);
                }
                break;
            case Outcome::failed: {
                char seconds[32];
                std::snprintf(seconds, sizeof seconds, " (%.1f s): ", outcome.seconds);
                totals.fail(s.name + seconds + s.what);
                for (const std::string& problem : outcome.problems) std::printf("     %s\n", problem.c_str());
                break;
            }
            case Outcome::not_run:
                totals.not_run(s.name + ": " + outcome.reason);
                break;
        }
        std::fflush(stdout);
    }
    std::printf("   scenarios took %.1f s\n", static_cast<double>(GetTickCount64() - started) / 1000.0);
}

int run(Arguments& a, const std::vector<Scenario>& scenarios) {
    Totals totals;
    if (!elevated()) {
        std::printf("The kit needs an administrator's command prompt: it writes keys under HKEY_LOCAL_MACHINE, "
                    "registers test COM servers machine-wide and starts the program as the desktop's standard "
                    "user from an elevated runner.\n"
                    "Open one: Start, type cmd, right-click \"Prompt dei comandi\" (Command Prompt) and choose "
                    "\"Esegui come amministratore\" (Run as administrator); then type:\n"
                    "    cd /d \"%s\"\n"
                    "    run-tests.cmd\n",
                    to_utf8(kit_folder()).c_str());
        std::printf("== %s\n", system_report().c_str());
        totals.fail("the kit was started without administrator rights: nothing was run");
        totals.close();
        return kNotElevated;
    }
    std::printf("== %s\n", system_report().c_str());
    std::printf("== bounds: each test program %lu s, each scenario %lu s\n", a.program_bound_ms / 1000,
                a.options.scenario_bound_ms / 1000);
    std::fflush(stdout);

    const std::wstring journal_file = journal_folder() + L"\\giornale.txt";
    const Undone undone = undo_earlier_run(journal_file);
    if (undone.found) {
        std::printf("== a run ended halfway left its journal (%s): its %lu keys and %lu folders put back first\n",
                    to_utf8(journal_file).c_str(), static_cast<unsigned long>(undone.keys),
                    static_cast<unsigned long>(undone.folders));
    }
    if (!undone.problems.empty()) {
        for (const std::string& p : undone.problems) totals.fail("putting back the run ended halfway: " + p);
        std::printf("     nothing more is run: what the journal lists must be put back first (the file says what)\n");
        totals.close();
        return kRefused;
    }
    if (const auto found = host_installation(); !found.empty()) {
        std::printf("== this machine holds an installation of the host (Quintrel! Professional or its components):\n");
        for (const std::string& line : found) std::printf("     %s\n", line.c_str());
        totals.fail("the kit changes nothing on a machine where the host is installed: run it on one without it "
                    "(a virtual machine is the usual choice)");
        totals.close();
        return kRefused;
    }
    std::vector<std::wstring> folders;
    for (const std::wstring& folder : folders_the_kit_makes(a.options.places)) {
        const std::wstring missing = first_missing(folder);
        if (missing.empty()) {
            totals.fail(to_utf8(folder) + " exists, and the kit did not make it: the kit removes its folders at the "
                        "end, so it runs only where they are not (move it away, or unzip the kit elsewhere)");
            totals.close();
            return kRefused;
        }
        folders.push_back(missing);
    }
    if (share_exists(kShareName)) {
        totals.fail("this computer already shares a folder as " + to_utf8(kShareName) +
                    ", and the kit did not make it: the kit removes its share at the end, so it runs only where there "
                    "is none");
        totals.close();
        return kRefused;
    }
    const RunLogFolder run_logs = note_run_log_folder(a.options.places.run_logs);
    if (GetFileAttributesW(copies_folder(run_logs).c_str()) != INVALID_FILE_ATTRIBUTES) {
        totals.fail(to_utf8(copies_folder(run_logs)) + " exists, and the kit did not make it: move it away");
        totals.close();
        return kRefused;
    }
    const Journal journal = Journal::take(keys_the_kit_changes(), folders, {kShareName}, run_logs);
    for (const std::string& key : journal.unreadable()) totals.fail(key + " cannot be read whole: it could not be put back");
    if (!journal.unreadable().empty() || !journal.write(journal_file)) {
        if (journal.unreadable().empty()) totals.fail("the journal cannot be written to " + to_utf8(journal_file));
        RemoveDirectoryW(journal_folder().c_str());
        totals.close();
        return kRefused;
    }
    put_back_on_stop(journal, journal_file);
    // The program keeps its last 20 logs: the user's own are copied first, to be put back.
    if (!keep_copies(run_logs)) {
        totals.fail("the user's run logs in " + to_utf8(run_logs.folder) + " cannot be copied aside: the kit's runs "
                    "could make the program remove them");
        for (const std::string& problem : put_everything_back()) totals.fail("putting the machine back: " + problem);
        totals.close();
        return kRefused;
    }

    if (a.whole_kit) run_test_programs(a, journal, totals);
    if (a.scenarios && !stop_requested()) {
        std::printf("== end-to-end scenarios\n");
        a.options.reading = settings_read(a.options.places.kit_e2e + L"\\dati\\dati_e2e.txt");
        a.options.check_foreground = on_input_desktop();
        if (!a.options.pictures.empty()) make_folders(a.options.pictures);
        run_scenarios(a, scenarios, journal, totals);
    }
    if (stop_requested()) totals.fail("the kit was stopped (Ctrl+C or its window closed) before its end");
    for (const std::string& problem : put_everything_back()) {
        totals.fail("putting the machine back: " + problem + " (the journal " + to_utf8(journal_file) +
                    " stays, for the next start to try again)");
    }
    return totals.close();
}

bool parse(int argc, wchar_t** argv, Arguments& a) {
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        const auto seconds = [&](DWORD& ms) {
            if (i + 1 >= argc) return false;
            const long value = std::wcstol(argv[++i], nullptr, 10);
            if (value <= 0) return false;
            ms = static_cast<DWORD>(value) * 1000;
            return true;
        };
        if (arg == L"--kit") a.whole_kit = true;
        else if (arg == L"--no-scenarios") a.scenarios = false;
        else if (arg == L"--list") a.list = true;
        else if (arg == L"--verbose") a.options.verbose = true;
        else if (arg == L"--pictures" && i + 1 < argc) a.options.pictures = argv[++i];
        else if (arg == L"--program-timeout") { if (!seconds(a.program_bound_ms)) return false; }
        else if (arg == L"--scenario-timeout") { if (!seconds(a.options.scenario_bound_ms)) return false; }
        else if (arg.starts_with(L"--")) return false;
        else a.wanted.push_back(to_utf8(arg));
    }
    return true;
}

// Pictures of the boxes and the windows' places are taken in the screen's own pixels at any
// scale (125 %, 150 %): the runner is told not to be scaled.
void become_dpi_aware() {
    using SetContextFn = BOOL(WINAPI*)(HANDLE);
    const HMODULE user32 = GetModuleHandleW(L"user32.dll");
    const auto per_monitor = reinterpret_cast<SetContextFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(user32, "SetProcessDpiAwarenessContext")));
    // DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2, Windows 10 1703 and later.
    if (per_monitor != nullptr && per_monitor(reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-4)))) return;
    SetProcessDPIAware();
}

}  // namespace
}  // namespace kit

int wmain(int argc, wchar_t** argv) {
    using namespace kit;
    const UINT code_page = GetConsoleOutputCP();
    SetConsoleOutputCP(CP_UTF8);
    become_dpi_aware();
    Arguments a;
    const bool understood = parse(argc, argv, a);
    a.options.places = places_here();
    std::vector<Scenario> scenarios = all_scenarios(a.options.places);
    add_own_steps(scenarios, a.options.places);
    int status = 0;
    if (!understood) {
        std::printf("usage: e2e_runner [--kit] [--no-scenarios] [--program-timeout S] [--scenario-timeout S] "
                    "[--pictures FOLDER] [--verbose] [--list] [scenario...]\n");
        status = kUsage;
    } else if (a.list) {
        for (const Scenario& s : scenarios) std::printf("%s: %s\n", s.name.c_str(), s.what.c_str());
    } else {
        for (const std::string& name : a.wanted) {
            const bool known = std::any_of(scenarios.begin(), scenarios.end(), [&](const Scenario& s) { return s.name == name; });
            if (!known) {
                std::printf("unknown scenario: %s\n", name.c_str());
                status = kUsage;
            }
        }
        if (status == 0) {
            open_job();
            stop_on_console_events(code_page);
            CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
            status = run(a, scenarios);
        }
    }
    std::fflush(stdout);
    // Without a console (output to a file or a pipe) there is no code page to put back.
    if (code_page != 0) SetConsoleOutputCP(code_page);
    return status;
}
