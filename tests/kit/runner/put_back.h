// Putting the machine back: what a run ended halfway left (its journal, read at the next start),
// and what this run changed, at its end or as soon as Ctrl+C or a closed console stops it.
#pragma once

#include <string>
#include <vector>

#include "journal.h"
#include "platform/windows/win.h"

namespace kit {

struct Undone {
    bool found = false;                 // a run ended halfway left a journal
    std::size_t keys = 0, folders = 0;  // what it listed
    std::vector<std::string> problems;  // what could not be read or put back: the journal stays
};
// Puts back what the journal in `file` lists, removes the folders it names, then deletes it.
Undone undo_earlier_run(const std::wstring& file);

// Between two test programs or scenarios: the keys as they were, the kit's shares removed, and
// the run logs' folder as it was (the user's logs' copies kept). Returns what could not be put back.
std::vector<std::string> put_back_between(const Journal& journal);

// From now on Ctrl+C, Ctrl+Break or a closed console stop the kit: every process it started is
// ended at once; a closing console also has everything put back before the process ends.
// `code_page` is the console's, put back too.
void stop_on_console_events(UINT code_page);
// What this run will put back: `journal`, written in `file`.
void put_back_on_stop(const Journal& journal, const std::wstring& file);
// Ends every process the kit started and puts back what the journal lists, once, whichever thread
// comes first. The journal is deleted only when all went back; else it stays for the next start.
std::vector<std::string> put_everything_back();

}  // namespace kit
