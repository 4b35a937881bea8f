// The user's folder of the program's run logs ("Aggiorna Archivio" in this user's local
// application data): as the kit found it, and put back so, with no log of the kit's own runs
// left in it and none of the user's lost to the program's keeping of the last 20.
#pragma once

#include <string>
#include <vector>

namespace kit {

struct RunLogFolder {
    std::wstring folder;
    bool existed = false;
    std::vector<std::wstring> names;  // the run logs it held: the user's own
};

// Whether `name` is one of the program's run logs ("AggiornaArchivio-*.log").
bool is_run_log(const std::wstring& name);
// The run logs now in `folder`, by name.
std::vector<std::wstring> run_logs_in(const std::wstring& folder);
// The folder as it is now.
RunLogFolder note_run_log_folder(const std::wstring& folder);

// The kit's folder of copies in `noted.folder`: one already there stops the kit (never its own).
std::wstring copies_folder(const RunLogFolder& noted);

// Keeps a copy of each of the user's logs beside them (in a folder of the kit's), so that one the
// program removes to keep its last 20 can be put back. False when a copy cannot be made.
bool keep_copies(const RunLogFolder& noted);
// The folder as noted: a folder the kit's runs made is removed; else every run log not noted is
// removed and every noted one that went is put back from its copy. `last`: the copies go too.
// Returns what could not be put back.
std::vector<std::string> put_back_run_logs(const RunLogFolder& noted, bool last);

}  // namespace kit
