// e2e_runner: the Windows program end to end, on Windows and under Wine alike; with --kit, the whole
// kit (the unit and backend test programs, then every scenario).
//
//   e2e_runner [--kit] [--pictures FOLDER] [--verbose] [--list] [scenario...]
//
// Prints one line per scenario ("ok", "FAIL" with what went wrong, or "NOT RUN: ... : reason") and
// ends with "N passed, M failed"; the exit status is 1 when anything failed. A NOT RUN line counts
// neither as passed nor as failed. Every registry key and file a scenario changes is put back at
// its end, also when it fails; the runner's folders (%SystemDrive%\AggiornaKit and
// %ProgramFiles%\AggiornaKit) are removed at the end.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "launch.h"
#include "platform/windows/handles.h"
#include "platform/windows/text.h"
#include "run.h"
#include "scenarios.h"
#include "system_state.h"

namespace kit {
namespace {

using aggiorna::windows::to_utf8;

struct Totals {
    int passed = 0;
    int failed = 0;
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
    return p;
}

// The test servers and the holder where the scenarios register and start them.
bool install_test_programs(const Places& p) {
    make_folders(p.test + L"\\componente");
    bool ok = true;
    for (const wchar_t* name : {L"e2e_componente.dll", L"e2e_decodifica.dll", L"e2e_holder.exe",
                                L"componente\\e2e_componente_aiuto.dll", L"componente\\e2e_aiuto.dll"}) {
        ok = CopyFileW((p.kit_e2e + L"\\" + name).c_str(), (p.test + L"\\" + name).c_str(), FALSE) && ok;
    }
    return ok;
}

// Runs a test program of the kit, its output passed through, and counts its tests from Google
// Test's closing lines ("[  PASSED  ] N tests.", "[  FAILED  ] M tests, listed below:"). A program
// that ends without them counts as one failure.
void run_test_program(const std::wstring& exe, const std::wstring& arguments, Totals& totals) {
    std::printf("== %s %s\n", to_utf8(exe.substr(exe.find_last_of(L'\\') + 1)).c_str(), to_utf8(arguments).c_str());
    std::fflush(stdout);
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE read_end = nullptr, write_end = nullptr;
    CreatePipe(&read_end, &write_end, &inherit, 0);
    SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = startup.hStdError = write_end;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    std::wstring command = L"\"" + exe + L"\" " + arguments;
    PROCESS_INFORMATION info = {};
    const BOOL started = CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                        folder_of(exe).c_str(), &startup, &info);
    CloseHandle(write_end);
    std::string output;
    char buffer[4096];
    DWORD got = 0;
    while (started && ReadFile(read_end, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        output.append(buffer, got);
        std::fwrite(buffer, 1, got, stdout);
    }
    CloseHandle(read_end);
    if (started) {
        WaitForSingleObject(info.hProcess, INFINITE);
        CloseHandle(info.hThread);
        CloseHandle(info.hProcess);
    }
    const auto count = [&](const char* mark) {
        const std::size_t at = output.rfind(mark);
        return at == std::string::npos ? -1 : std::atoi(output.c_str() + at + std::strlen(mark));
    };
    const int passed = count("[  PASSED  ] ");
    const int failed = std::max(count("[  FAILED  ] "), 0);
    if (passed < 0) {
        std::printf("FAIL: %s ended without its summary\n", to_utf8(exe).c_str());
        ++totals.failed;
        return;
    }
    totals.passed += passed;
    totals.failed += failed;
}

// Stopped from outside (Ctrl+C, the console closed): the machine is put back all the same.
MachineState* to_restore = nullptr;
BOOL WINAPI put_back(DWORD) {
    if (to_restore != nullptr) to_restore->restore();
    return FALSE;
}

}  // namespace
}  // namespace kit

int wmain(int argc, wchar_t** argv) {
    using namespace kit;
    SetConsoleOutputCP(CP_UTF8);
    bool whole_kit = false, list = false;
    Options options;
    std::vector<std::string> wanted;
    for (int i = 1; i < argc; ++i) {
        const std::wstring a = argv[i];
        if (a == L"--kit") whole_kit = true;
        else if (a == L"--list") list = true;
        else if (a == L"--verbose") options.verbose = true;
        else if (a == L"--pictures" && i + 1 < argc) options.pictures = argv[++i];
        else wanted.push_back(to_utf8(a));
    }
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    options.places = places_here();
    std::vector<Scenario> scenarios = all_scenarios(options.places);
    add_own_steps(scenarios, options.places);
    if (list) {
        for (const Scenario& s : scenarios) std::printf("%s: %s\n", s.name.c_str(), s.what.c_str());
        return 0;
    }
    for (const std::string& name : wanted) {
        bool known = false;
        for (const Scenario& s : scenarios) known = known || s.name == name;
        if (!known) {
            std::printf("unknown scenario: %s\n", name.c_str());
            return 2;
        }
    }

    Totals totals;
    const bool admin = elevated();
    const std::string where = under_wine() ? "under Wine" : "on Windows";
    std::printf("== Aggiorna Archivio test kit, %s-bit, %s, %s\n", sizeof(void*) == 8 ? "64" : "32", where.c_str(),
                admin ? "as administrator" : "without administrator rights");
    if (whole_kit) {
        const std::wstring tests = options.places.kit_e2e + L"\\..\\prove\\";
        run_test_program(tests + L"core_tests.exe", L"", totals);
        // Without administrator rights the tests that register classes or write machine-wide keys
        // under HKEY_LOCAL_MACHINE cannot run.
        const wchar_t* machine_wide =
            L"RegisteredComTest.*:RegisteredServerFolder.*:OwnFolderComponentTest.*:RegistryTest.EachViewSeesOnlyItsOwnKey";
        if (admin) {
            run_test_program(tests + L"backend_tests.exe", L"", totals);
        } else {
            run_test_program(tests + L"backend_tests.exe", std::wstring(L"--gtest_filter=-") + machine_wide, totals);
            std::printf("NOT RUN: backend tests %s: they write under HKEY_LOCAL_MACHINE: start run-tests.cmd from an "
                        "administrator prompt\n", to_utf8(machine_wide).c_str());
        }
    }

    std::printf("== end-to-end scenarios\n");
    if (!admin) {
        for (const Scenario& s : scenarios) {
            if (!wanted.empty() && std::find(wanted.begin(), wanted.end(), s.name) == wanted.end()) continue;
            std::printf("NOT RUN: %s: the scenarios write the hosts' keys under HKEY_LOCAL_MACHINE: start run-tests.cmd "
                        "from an administrator prompt\n", s.name.c_str());
        }
    } else {
        options.reading = settings_read(options.places.kit_e2e + L"\\dati\\dati_e2e.txt");
        options.check_foreground = on_input_desktop();
        if (!options.check_foreground) {
            std::printf("NOT RUN: the foreground check of every box: the runner's desktop takes no input (a service's "
                        "session, as on hosted CI machines)\n");
        }
        if (!options.pictures.empty()) make_folders(options.pictures);
        remove_tree(options.places.root);
        if (!install_test_programs(options.places)) std::printf("cannot copy the test servers into place\n");
        MachineState machine(scenarios);
        to_restore = &machine;
        SetConsoleCtrlHandler(put_back, TRUE);
        const ULONGLONG started = GetTickCount64();
        for (const Scenario& s : scenarios) {
            if (!wanted.empty() && std::find(wanted.begin(), wanted.end(), s.name) == wanted.end()) continue;
            const Outcome outcome = run_scenario(s, options);
            machine.restore();
            switch (outcome.kind) {
                case Outcome::passed:
                    ++totals.passed;
                    std::printf("ok   %s (%.1f s): %s\n", s.name.c_str(), outcome.seconds, s.what.c_str());
                    if (under_wine() && !s.only_windows_proves.empty()) {
                        std::printf("NOT RUN: %s, as Windows runs it: %s\n", s.name.c_str(), s.only_windows_proves.c_str());
                    }
                    break;
                case Outcome::failed:
                    ++totals.failed;
                    std::printf("FAIL %s (%.1f s): %s\n", s.name.c_str(), outcome.seconds, s.what.c_str());
                    for (const std::string& problem : outcome.problems) std::printf("     %s\n", problem.c_str());
                    break;
                case Outcome::not_run:
                    std::printf("NOT RUN: %s: %s\n", s.name.c_str(), outcome.reason.c_str());
                    break;
            }
            std::fflush(stdout);
        }
        std::printf("   scenarios took %.1f s\n", static_cast<double>(GetTickCount64() - started) / 1000.0);
        remove_tree(options.places.root);
        remove_tree(options.places.program_files);
        remove_tree(options.places.virtual_copy(options.places.program_files));
    }
    std::printf("%d passed, %d failed\n", totals.passed, totals.failed);
    return totals.failed == 0 ? 0 : 1;
}
