// The run of one scenario: the machine laid out, the program started and answered, the outcome
// checked, the scenario's own files removed (its registry keys are the journal's to put back).
#include "run.h"

#include <cstdio>
#include <memory>
#include <set>
#include <sstream>
#include <stdexcept>

#include "boxes.h"
#include "com_log.h"
#include "launch.h"
#include "machine.h"
#include "platform/windows/handles.h"
#include "platform/windows/text.h"
#include "processes.h"
#include "program_log.h"
#include "run_logs.h"
#include "system_state.h"

namespace kit {
namespace {

using aggiorna::windows::ScopedHandle;
using aggiorna::windows::to_utf8;

// The program reads the hosts' keys in the 32-bit view, as the 32-bit host writes them; COM, and
// the servers' settings, in its own view, which is the runner's.
constexpr REGSAM kHostView = KEY_WOW64_32KEY;

constexpr DWORD kFirstBoxMs = 40000;  // the program's start under a cold Wine takes a while
constexpr DWORD kBoxMs = 15000;
constexpr DWORD kEndMs = 20000;
constexpr DWORD kCloseMs = 12000;

std::string shown(const std::wstring& text) {
    std::wstring t = text;
    for (std::size_t at; (at = t.find(L'\r')) != std::wstring::npos;) t.replace(at, 1, L"\\r");
    return "\"" + to_utf8(t) + "\"";
}

std::string described(const Box& box) {
    return "caption " + shown(box.caption) + " text " + shown(box.text) + ", icon " + icon_name(box.icon) +
           (box.with_cancel ? ", OK and Cancel" : ", OK");
}

std::string described(const ShownBox& box) {
    return "caption " + shown(box.caption) + " text " + shown(box.text) + ", icon " + icon_name(box.icon) +
           (box.has_ok ? ", OK" : "") + (box.has_cancel ? " and Cancel" : "") +
           ", default " + std::to_string(box.default_button) + (box.foreground ? ", in front" : ", not in front");
}

// What differs between the box shown and the box expected; empty when nothing does.
std::vector<std::string> compare_box(int n, const ShownBox& got, const Box& expected, bool check_foreground) {
    std::vector<std::string> problems;
    const bool buttons = expected.with_cancel
                             ? got.has_ok && got.has_cancel && got.default_button == IDOK
                             : got.has_ok && !got.has_cancel;
    if (got.caption != expected.caption || got.text != expected.text || got.icon != expected.icon || !buttons) {
        problems.push_back("box " + std::to_string(n) + ": got " + described(got) + "; expected " +
                           described(expected) + (expected.with_cancel ? ", OK the default" : ""));
    }
    if (check_foreground && !got.foreground) {
        problems.push_back("box " + std::to_string(n) + " is not the foreground window");
    }
    return problems;
}

// A holder process, stopped (by its .stop file, or killed) when the scenario ends.
class HeldFile {
public:
    HeldFile(const std::wstring& holder, const std::wstring& mode, const std::wstring& file,
             const std::wstring& ready) : ready_(ready) {
        DeleteFileW(ready_.c_str());
        DeleteFileW((ready_ + L".stop").c_str());
        const Started started = start(holder, mode + L" \"" + file + L"\" \"" + ready_ + L"\"",
                                      holder.substr(0, holder.find_last_of(L'\\')));
        process_ = ScopedHandle(started.process);
        id_ = started.id;
        if (!process_.valid()) throw std::runtime_error("the holder did not start");
        for (int i = 0; i < 300 && GetFileAttributesW(ready_.c_str()) == INVALID_FILE_ATTRIBUTES; ++i) {
            if (WaitForSingleObject(process_.get(), 0) == WAIT_OBJECT_0) {
                throw std::runtime_error("the holder could not open " + to_utf8(file));
            }
            Sleep(100);
        }
        if (GetFileAttributesW(ready_.c_str()) == INVALID_FILE_ATTRIBUTES) {
            throw std::runtime_error("the holder did not report the file open within 30 s");
        }
    }
    ~HeldFile() { release(); }
    DWORD id() const { return id_; }
    void release() {
        if (!process_.valid()) return;
        write_file(ready_ + L".stop", "");
        if (WaitForSingleObject(process_.get(), 10000) != WAIT_OBJECT_0) TerminateProcess(process_.get(), 1);
        process_.close();
    }

private:
    std::wstring ready_;
    ScopedHandle process_;
    DWORD id_ = 0;
};

void register_server(bool per_user, const wchar_t* clsid, const std::wstring& dll) {
    const HKEY root = per_user ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
    const std::wstring key = std::wstring(kClasses) + clsid + L"\\InprocServer32";
    set_string(root, key, L"", dll);
    set_string(root, key, L"ThreadingModel", L"Apartment");
}

// The folders whose files a scenario sets up and checks: all but the test servers' own.
std::map<std::wstring, Bytes> tree(const Places& p) {
    auto files = files_below(p.root, {p.test});
    files.merge(files_below(p.program_files));
    files.merge(files_below(p.virtual_copy(p.program_files)));
    return files;
}

void remove_places(const Places& p) {
    for (const wchar_t* name : {L"\\Aggiorna", L"\\Programmi", L"\\Rete", L"\\Condivisa"}) remove_tree(p.root + name);
    remove_tree(p.program_files);
    remove_tree(p.virtual_copy(p.program_files));
    remove_tree(p.start_menu);
    DeleteFileW((p.test + L"\\com.log").c_str());
}

// Lays out the program's folder and the hosts' folders as the scenario has them.
void prepare_files(const Scenario& s, const Places& p) {
    remove_places(p);
    make_folders(p.program);
    if (!copy_file(p.kit_e2e + L"\\..\\programma\\AggiornaArchivio.exe", p.program + L"\\AggiornaArchivio.exe")) {
        throw std::runtime_error("cannot copy the program into " + to_utf8(p.program));
    }
    if (s.estr_beside) write_file(p.program + L"\\Estr.bin", kNuovoEstr);
    if (s.bl_beside) write_file(p.program + L"\\bl.bin", kNuovoBl);
    for (const auto& [name, bytes] : s.beside) write_file(p.program + L"\\" + name, bytes);
    write_file(s.folder4 + L"\\Estr.bin", kVecchioEstr4);
    write_file(s.folder4 + L"\\bl.bin", kVecchioBl4);
    if (s.leftover_estr_bi) write_file(s.folder4 + L"\\Estr.bi_", kVecchioEstrBi4);
    if (s.dati != Dati::missing) {
        const std::wstring dati = p.kit_e2e + (s.dati == Dati::invalid ? L"\\dati\\non_valido.lib" : L"\\dati\\valido.lib");
        if (!copy_file(dati, s.folder4 + L"\\Dati.lib")) {
            throw std::runtime_error("cannot copy " + to_utf8(dati));
        }
        if (s.dati == Dati::hidden) SetFileAttributesW((s.folder4 + L"\\Dati.lib").c_str(), FILE_ATTRIBUTE_HIDDEN);
    }
    write_file(s.folder30 + L"\\quintrel.exe", kQuintrelExe);
    write_file(s.folder30 + L"\\Estr.bin", kVecchioEstr30);
    for (const auto& [path, bytes] : s.virtual_copies) write_file(path, bytes);
    for (const std::wstring& path : s.hidden) {
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    }
}

// The hosts' keys, the COM registrations and the servers' settings as the scenario has them, on a
// registry the journal has just put back as it was (where none of them is).
void prepare_registry(const Scenario& s, const Places& p) {
    if (s.install_path) set_string(HKEY_LOCAL_MACHINE, kQuintrel4, L"InstallPath", *s.install_path, kHostView);
    if (s.app_path) set_string(HKEY_LOCAL_MACHINE, kAppPath, L"", *s.app_path, kHostView);
    // A program that is not elevated may use per-user registrations; an elevated one ignores
    // them, as Windows does for every elevated process.
    const bool per_user = s.launch == Launch::standard_user;
    for (const Server server : s.servers) {
        switch (server) {
            case Server::update:
                register_server(per_user, kClsidAggiornamento, p.test + L"\\e2e_componente.dll");
                break;
            case Server::update_own_folder:
                register_server(per_user, kClsidAggiornamento, p.test + L"\\componente\\e2e_componente_aiuto.dll");
                break;
            case Server::decoding:
                register_server(per_user, kClsidCifratore, p.test + L"\\e2e_decodifica.dll");
                register_server(per_user, kClsidDecodificatore, p.test + L"\\e2e_decodifica.dll");
                break;
        }
    }
    set_string(HKEY_LOCAL_MACHINE, kSettings, L"ComLog", p.test + L"\\com.log");
    if (!s.completa_hresult.empty()) set_string(HKEY_LOCAL_MACHINE, kSettings, L"CompletaHresult", s.completa_hresult);
    if (s.component_holds_archive) set_string(HKEY_LOCAL_MACHINE, kSettings, L"TieneArchivio", L"1");
    for (const std::wstring& program : s.run_as_admin) set_string(HKEY_CURRENT_USER, kLayers, program, L"~ RUNASADMIN");
}

std::unique_ptr<HeldFile> hold(const Scenario& s, const Places& p) {
    if (s.holder == Holder::none) return nullptr;
    std::wstring holder = p.test + L"\\e2e_holder.exe";
    if (s.holder == Holder::host) {
        // The host's own program holds it: a program file in the host's folder.
        const std::wstring folder = s.held.substr(0, s.held.find_last_of(L'\\'));
        const std::wstring host = folder + L"\\quintrel_in_esecuzione.exe";
        if (!copy_file(holder, host)) throw std::runtime_error("cannot place the host's holder");
        holder = host;
    }
    return std::make_unique<HeldFile>(holder, s.holder == Holder::writer ? L"write" : L"hold", s.held,
                                      p.test + L"\\pronto");
}

// Kills the program when the scenario leaves it running, whatever the way out.
struct RunningProgram {
    ScopedHandle process;
    DWORD id = 0;
    ~RunningProgram() {
        if (process.valid() && WaitForSingleObject(process.get(), 0) != WAIT_OBJECT_0) {
            TerminateProcess(process.get(), 1);
            WaitForSingleObject(process.get(), 10000);
        }
    }
};

std::vector<std::string> check_files(const Scenario& s, const std::map<std::wstring, Bytes>& before,
                                     const std::map<std::wstring, Bytes>& after) {
    std::vector<std::string> problems;
    std::map<std::wstring, Bytes> expected = before;
    for (const auto& [path, bytes] : s.written) {
        std::erase_if(expected, [&](const auto& entry) { return same_path(entry.first, path); });
        expected[path] = bytes;
    }
    const auto find = [](const std::map<std::wstring, Bytes>& files, const std::wstring& path) -> const Bytes* {
        for (const auto& [p, bytes] : files) {
            if (same_path(p, path)) return &bytes;
        }
        return nullptr;
    };
    for (const auto& [path, bytes] : expected) {
        const Bytes* got = find(after, path);
        if (got == nullptr) {
            problems.push_back("file missing after the run: " + to_utf8(path));
        } else if (*got != bytes) {
            problems.push_back("file " + to_utf8(path) + ": " + std::to_string(got->size()) + " bytes, not the " +
                               std::to_string(bytes.size()) + " expected");
        }
    }
    for (const auto& [path, bytes] : after) {
        if (find(expected, path) == nullptr) {
            problems.push_back("file written that should not be: " + to_utf8(path) + " (" +
                               std::to_string(bytes.size()) + " bytes)");
        }
    }
    for (const std::wstring& path : s.hidden) {
        const DWORD attributes = GetFileAttributesW(path.c_str());
        const DWORD both = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & both) != both) {
            problems.push_back(to_utf8(path) + " is no longer hidden and system after the run");
        }
    }
    return problems;
}

void trace(const Options& o, const std::string& text) {
    if (o.verbose) std::printf("     %s\n", text.c_str());
}

// What the program saw of itself, as its log must say: started through the desktop shell, a
// standard user's virtualized run; started by the elevated runner, a run as administrator.
RunSeen seen_by(const Scenario& s) {
    if (s.launch == Launch::standard_user) return {"no", "yes"};
    return {"yes", "no"};
}

// The exit status the program ended with, and its run's log, against the row.
std::vector<std::string> check_end(const Scenario& s, const Options& o, const RunningProgram& program,
                                   const std::vector<std::wstring>& logs_before) {
    std::vector<std::string> problems;
    DWORD status = 0;
    if (!GetExitCodeProcess(program.process.get(), &status)) {
        problems.push_back("the program's exit status cannot be read (error " + std::to_string(GetLastError()) + ")");
    } else if (status != static_cast<DWORD>(s.exit_code)) {
        problems.push_back("the program ended with exit status " + std::to_string(status) + ", not the " +
                           std::to_string(s.exit_code) + " expected");
    }
    const std::wstring file = log_of_process(o.places.run_logs, program.id, logs_before);
    if (file.empty()) {
        problems.push_back("no run log of the program's process (" + std::to_string(program.id) + ") in " +
                           to_utf8(o.places.run_logs));
        return problems;
    }
    const std::string text = read_file(file).value_or("");
    // With --verbose the log is shown whole: what support would read of this run.
    std::string whole;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        whole += "\n       " + line;
    }
    trace(o, "run log " + to_utf8(file) + ":" + whole);
    const auto log = check_program_log(read_program_log(text), s, seen_by(s));
    problems.insert(problems.end(), log.begin(), log.end());
    return problems;
}

// Reads, checks and answers the boxes the scenario expects, then any further box (answered OK,
// each a failure), until the program ends.
void boxes(const Scenario& s, const Options& o, const RunningProgram& program, std::vector<std::string>& problems) {
    std::set<HWND> seen;
    int n = 0;
    const auto answer = [&](const ShownBox& box, Answer how) {
        if (!o.pictures.empty()) {
            save_picture(box.window, o.pictures + L"\\" + aggiorna::windows::to_wide_lossy(s.name) + L"-box-" +
                                         std::to_wstring(n) + L".bmp");
        }
        seen.insert(box.window);
        if (!answer_box(box.window, how == Answer::ok ? IDOK : IDCANCEL, kCloseMs)) {
            throw std::runtime_error("box " + std::to_string(n) + " did not close when answered");
        }
        trace(o, "box " + std::to_string(n) + " answered");
    };
    for (const Box& expected : s.boxes) {
        ++n;
        const auto box = wait_for_box(program.id, program.process.get(), seen, n == 1 ? kFirstBoxMs : kBoxMs);
        if (!box) {
            throw std::runtime_error(WaitForSingleObject(program.process.get(), 0) == WAIT_OBJECT_0
                                         ? "the program ended before box " + std::to_string(n) + " (" +
                                               shown(expected.text) + ")"
                                         : "box " + std::to_string(n) + ": no box came");
        }
        trace(o, "box " + std::to_string(n) + " shown: " + described(*box));
        const auto differences = compare_box(n, *box, expected, o.check_foreground);
        problems.insert(problems.end(), differences.begin(), differences.end());
        answer(*box, expected.answer);
    }
    const ULONGLONG give_up = GetTickCount64() + kEndMs;
    while (WaitForSingleObject(program.process.get(), 100) != WAIT_OBJECT_0) {
        if (const auto box = wait_for_box(program.id, program.process.get(), seen, 100)) {
            ++n;
            problems.push_back("unexpected box " + std::to_string(n) + ": " + described(*box));
            answer(*box, Answer::ok);
        } else if (GetTickCount64() > give_up) {
            throw std::runtime_error("the program did not end within " + std::to_string(kEndMs / 1000) +
                                     " s after its last box");
        }
    }
}

}  // namespace

Outcome run_scenario(Scenario s, const Options& o) {
    Outcome outcome;
    const ULONGLONG started = GetTickCount64();
    const auto done = [&](Outcome::Kind kind) {
        outcome.kind = kind;
        outcome.seconds = static_cast<double>(GetTickCount64() - started) / 1000.0;
        return outcome;
    };
    if (s.by_hand || (under_wine() && !s.windows_only.empty())) {
        outcome.reason = s.windows_only;
        return done(Outcome::not_run);
    }
    if (s.launch == Launch::behind_a_window && !o.check_foreground) {
        outcome.reason = "the runner's desktop is not the one that takes input: which window is in front cannot be "
                         "checked here";
        return done(Outcome::not_run);
    }
    // Past its bound every process of the scenario is ended, which ends each of its waits.
    struct Bound {
        explicit Bound(DWORD ms) { set_scenario_deadline(GetTickCount64() + ms); }
        ~Bound() { set_scenario_deadline(0); }
    } bound(o.scenario_bound_ms);
    try {
        prepare_files(s, o.places);
        prepare_registry(s, o.places);
        trace(o, "machine prepared");
        // Taken before a holder keeps a file from being read, and again after the scenario's own
        // steps, which may write files.
        const auto laid_out = tree(o.places);
        auto held = hold(s, o.places);
        if (held) s.holder_process = held->id();
        if (s.before) s.before(s, o.places);
        auto before = tree(o.places);
        for (auto& [path, bytes] : before) {
            if (const auto it = laid_out.find(path); bytes == kUnreadable && it != laid_out.end()) bytes = it->second;
        }
        const std::vector<std::wstring> logs_before = run_logs_in(o.places.run_logs);
        RunningProgram program;
        const std::wstring exe = o.places.program + L"\\AggiornaArchivio.exe";
        std::unique_ptr<WindowInFront> in_front;
        if (s.launch == Launch::behind_a_window) {
            in_front = std::make_unique<WindowInFront>();
            if (!in_front->in_front()) throw NotRun{"the runner's window could not be brought to the front"};
        }
        const Started launched =
            s.launch == Launch::standard_user ? start_as_desktop_user(exe, L"", o.places.program) : start(exe, L"", o.places.program);
        program.process = ScopedHandle(launched.process);
        program.id = launched.id;
        if (!program.process.valid()) throw std::runtime_error("the program did not start");
        // Started from the runner's console, whose window Windows may not count as the runner's:
        // the runner passes on its right to the foreground, as Explorer's start of a program does.
        // Started from behind the runner's own window, the program has that right by Windows' rule.
        if (s.launch == Launch::runner) AllowSetForegroundWindow(program.id);
        if (s.launch == Launch::standard_user && !virtualized(program.process.get())) {
            outcome.problems.push_back("the program started as the desktop's user is not virtualized");
        }
        boxes(s, o, program, outcome.problems);
        trace(o, "program ended");
        const auto end = check_end(s, o, program, logs_before);
        outcome.problems.insert(outcome.problems.end(), end.begin(), end.end());
        if (held) held->release();
        const auto files = check_files(s, before, tree(o.places));
        outcome.problems.insert(outcome.problems.end(), files.begin(), files.end());
        const auto log = read_file(o.places.test + L"\\com.log").value_or("");
        const auto calls = check_calls(parse_log(log), s.calls, o.reading,
                                       L"Estr.bi_=" + std::to_wstring(kNuovoEstr.size()) + L",bl.bin=" +
                                           std::to_wstring(kNuovoBl.size()));
        outcome.problems.insert(outcome.problems.end(), calls.begin(), calls.end());
        if (s.after) {
            const auto own = s.after(s, o.places);
            outcome.problems.insert(outcome.problems.end(), own.begin(), own.end());
        }
    } catch (const NotRun& not_run) {
        outcome.reason = not_run.reason;
        remove_places(o.places);
        return done(Outcome::not_run);
    } catch (const std::exception& e) {
        outcome.problems.insert(outcome.problems.begin(), e.what());
    }
    if (scenario_deadline_passed()) {
        outcome.problems.insert(outcome.problems.begin(), "ran past its bound of " +
                                                              std::to_string(o.scenario_bound_ms / 1000) +
                                                              " s: every process it started was ended");
    }
    remove_places(o.places);
    return done(outcome.problems.empty() ? Outcome::passed : Outcome::failed);
}

}  // namespace kit
