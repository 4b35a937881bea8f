// The journal of what the kit changes on a machine: each registry key it may touch, exported with
// all that lies below it (or noted as absent), each folder and share it makes, and the user's
// folder of the program's run logs as it was. It is on disk before the first change, so that a
// run ended halfway (Task Manager, a closed window, a power cut) is put back by the next start,
// before anything else.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "platform/windows/win.h"
#include "run_logs.h"

namespace kit {

// A registry key in one view: `view` is 0 (the runner's own), KEY_WOW64_32KEY or KEY_WOW64_64KEY.
struct KeyPlace {
    HKEY root;
    std::wstring path;
    REGSAM view;
};

// How a place prints: "HKLM\Software\Quibex (32-bit view)".
std::string describe(const KeyPlace& key);

class Journal {
public:
    struct Node {  // a key's values (name, type, data) and subkeys
        std::vector<std::tuple<std::wstring, DWORD, std::vector<BYTE>>> values;
        std::map<std::wstring, Node> keys;
    };
    struct Entry {
        KeyPlace place;
        std::optional<Node> saved;  // none: the key did not exist
    };

    // The keys as they are now, the folders and shares the kit is about to make, and the run logs'
    // folder as it is now (none: not journaled).
    static Journal take(const std::vector<KeyPlace>& keys, std::vector<std::wstring> folders,
                        std::vector<std::wstring> shares = {}, std::optional<RunLogFolder> run_logs = std::nullopt);
    // The journal a run left in `file`; nullopt with `problem` empty when there is none, with
    // `problem` saying why when it cannot be read.
    static std::optional<Journal> read(const std::wstring& file, std::string& problem);
    // Writes it whole into `file` (a temporary beside it, flushed, then renamed over it), so that a
    // cut-off write never leaves half a journal. False when it cannot.
    bool write(const std::wstring& file) const;

    // Every key as it was: values added since are removed, values changed are written back,
    // subkeys added are removed, subkeys removed are made again; a key that existed is never
    // deleted and made again (it keeps its security descriptor). A key that did not exist is
    // deleted. Returns what could not be put back.
    std::vector<std::string> put_back_keys() const;
    // Removes the folders the kit made, the last made first (see remove_tree). Returns those that
    // are still there.
    std::vector<std::string> remove_folders() const;
    // Removes the shares the kit made (never a folder). Returns what could not be removed.
    std::vector<std::string> remove_shares() const;
    // The run logs' folder as it was (see put_back_run_logs); `last`: the kit is done with it.
    std::vector<std::string> put_back_run_logs(bool last) const;

    // Keys that could not be read whole when taken: such a journal is not written.
    const std::vector<std::string>& unreadable() const { return unreadable_; }
    const std::vector<Entry>& keys() const { return keys_; }
    const std::vector<std::wstring>& folders() const { return folders_; }
    const std::vector<std::wstring>& shares() const { return shares_; }
    const std::optional<RunLogFolder>& run_logs() const { return run_logs_; }

private:
    std::vector<Entry> keys_;
    std::vector<std::wstring> folders_;
    std::vector<std::wstring> shares_;
    std::optional<RunLogFolder> run_logs_;
    std::vector<std::string> unreadable_;
};

}  // namespace kit
