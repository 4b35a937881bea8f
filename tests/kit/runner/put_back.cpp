// The journals put back, and the console's handler that may do it from a thread of its own.
#include "put_back.h"

#include "platform/windows/text.h"
#include "processes.h"

namespace kit {
namespace {

using aggiorna::windows::to_utf8;

std::wstring folder_of(const std::wstring& path) { return path.substr(0, path.find_last_of(L'\\')); }

struct State {
    CRITICAL_SECTION lock;
    const Journal* journal = nullptr;
    std::wstring file;
    bool done = false;
    // Set once the main thread changes nothing more: before that, a put-back from the console's
    // thread keeps the journal, since the main thread may still write a key in its last moment.
    volatile LONG main_done = 0;
    UINT code_page = 0;
} state;

std::vector<std::string> put_back(const Journal& journal) {
    std::vector<std::string> problems = journal.put_back_keys();
    // A share goes before its folder.
    for (const std::string& problem : journal.remove_shares()) problems.push_back(problem);
    for (const std::string& problem : journal.put_back_run_logs(true)) problems.push_back(problem);
    for (const std::string& folder : journal.remove_folders()) problems.push_back("the folder " + folder + " cannot be removed");
    return problems;
}

std::vector<std::string> put_back_once(bool delete_journal) {
    std::vector<std::string> problems;
    EnterCriticalSection(&state.lock);
    if (!state.done && state.journal != nullptr) {
        end_all_processes();
        problems = put_back(*state.journal);
        if (problems.empty() && delete_journal) {
            DeleteFileW(state.file.c_str());
            RemoveDirectoryW(folder_of(state.file).c_str());
        }
        state.done = true;
    }
    LeaveCriticalSection(&state.lock);
    return problems;
}

BOOL WINAPI on_console_event(DWORD event) {
    request_stop();
    // Ctrl+C and Ctrl+Break: the main thread stops before its next step and puts everything back.
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) return TRUE;
    // The console is closing: Windows ends the process when this returns, or a few seconds later.
    // The main thread is given a moment to end in order; then it is done here.
    for (int i = 0; i < 25 && state.main_done == 0; ++i) Sleep(100);
    put_back_once(state.main_done != 0);
    if (state.code_page != 0) SetConsoleOutputCP(state.code_page);
    return TRUE;
}

}  // namespace

Undone undo_earlier_run(const std::wstring& file) {
    Undone undone;
    // A journal whose writing was cut off never replaced the file: nothing was changed after it.
    DeleteFileW((file + L".new").c_str());
    std::string problem;
    const auto earlier = Journal::read(file, problem);
    if (!earlier && problem.empty()) return undone;
    undone.found = true;
    if (!earlier) {
        undone.problems.push_back(to_utf8(file) + " " + problem);
        return undone;
    }
    undone.keys = earlier->keys().size();
    undone.folders = earlier->folders().size();
    undone.problems = put_back(*earlier);
    if (undone.problems.empty()) {
        DeleteFileW(file.c_str());
        RemoveDirectoryW(folder_of(file).c_str());
    }
    return undone;
}

void stop_on_console_events(UINT code_page) {
    InitializeCriticalSection(&state.lock);
    state.code_page = code_page;
    SetConsoleCtrlHandler(on_console_event, TRUE);
}

void put_back_on_stop(const Journal& journal, const std::wstring& file) {
    EnterCriticalSection(&state.lock);
    state.journal = &journal;
    state.file = file;
    LeaveCriticalSection(&state.lock);
}

std::vector<std::string> put_back_between(const Journal& journal) {
    std::vector<std::string> problems = journal.put_back_keys();
    for (const std::string& problem : journal.remove_shares()) problems.push_back(problem);
    for (const std::string& problem : journal.put_back_run_logs(false)) problems.push_back(problem);
    return problems;
}

std::vector<std::string> put_everything_back() {
    InterlockedExchange(&state.main_done, 1);
    return put_back_once(true);
}

}  // namespace kit
