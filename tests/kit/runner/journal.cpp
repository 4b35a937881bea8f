// The journal's registry snapshots (advapi32), its text file, and putting keys back in place.
#include "journal.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "platform/windows/handles.h"
#include "platform/windows/text.h"
#include "share.h"
#include "system_state.h"

namespace kit {
namespace {

using aggiorna::windows::ScopedHandle;
using aggiorna::windows::to_utf8;

// An open registry key, closed at the end of its scope.
class Key {
public:
    Key() = default;
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    ~Key() {
        if (key_ != nullptr) RegCloseKey(key_);
    }
    bool open(HKEY parent, const std::wstring& path, REGSAM access) {
        return RegOpenKeyExW(parent, path.c_str(), 0, access, &key_) == ERROR_SUCCESS;
    }
    bool create(HKEY parent, const std::wstring& path, REGSAM access) {
        return RegCreateKeyExW(parent, path.c_str(), 0, nullptr, 0, access, nullptr, &key_, nullptr) == ERROR_SUCCESS;
    }
    HKEY get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

bool same_name(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

bool read_into(HKEY key, REGSAM view, Journal::Node& node) {
    DWORD subkeys = 0, max_subkey = 0, values = 0, max_name = 0, max_data = 0;
    if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, &max_subkey, nullptr, &values, &max_name,
                         &max_data, nullptr, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    for (DWORD i = 0; i < values; ++i) {
        std::wstring name(max_name + 1, L'\0');
        std::vector<BYTE> data(max_data + 2);
        DWORD name_length = max_name + 1, size = static_cast<DWORD>(data.size()), type = 0;
        if (RegEnumValueW(key, i, name.data(), &name_length, nullptr, &type, data.data(), &size) != ERROR_SUCCESS) {
            return false;
        }
        name.resize(name_length);
        data.resize(size);
        node.values.emplace_back(name, type, data);
    }
    for (DWORD i = 0; i < subkeys; ++i) {
        std::wstring name(max_subkey + 1, L'\0');
        DWORD length = max_subkey + 1;
        if (RegEnumKeyExW(key, i, name.data(), &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            return false;
        }
        name.resize(length);
        Key child;
        if (!child.open(key, name, KEY_READ | view) || !read_into(child.get(), view, node.keys[name])) return false;
    }
    return true;
}

void delete_subkey(HKEY parent, const std::wstring& name, REGSAM view) {
    {
        Key child;
        if (child.open(parent, name, KEY_ALL_ACCESS | view)) RegDeleteTreeW(child.get(), nullptr);
    }
    RegDeleteKeyExW(parent, name.c_str(), view, 0);
}

// Makes the open key `key` hold what `saved` holds, in place.
void put_back(HKEY key, REGSAM view, const Journal::Node& saved, const std::string& where,
              std::vector<std::string>& problems) {
    Journal::Node now;
    if (!read_into(key, view, now)) {
        problems.push_back(where + ": cannot be read");
        return;
    }
    for (const auto& [name, type, data] : now.values) {
        const bool kept = std::any_of(saved.values.begin(), saved.values.end(),
                                      [&](const auto& value) { return same_name(std::get<0>(value), name); });
        if (!kept && RegDeleteValueW(key, name.c_str()) != ERROR_SUCCESS) {
            problems.push_back(where + ": the value \"" + to_utf8(name) + "\" cannot be removed");
        }
    }
    for (const auto& value : saved.values) {
        const auto& [name, type, data] = value;
        const bool same = std::any_of(now.values.begin(), now.values.end(), [&](const auto& current) {
            return same_name(std::get<0>(current), name) && std::get<1>(current) == type && std::get<2>(current) == data;
        });
        if (!same && RegSetValueExW(key, name.empty() ? nullptr : name.c_str(), 0, type, data.data(),
                                    static_cast<DWORD>(data.size())) != ERROR_SUCCESS) {
            problems.push_back(where + ": the value \"" + to_utf8(name) + "\" cannot be written back");
        }
    }
    for (const auto& [name, node] : now.keys) {
        const bool kept = std::any_of(saved.keys.begin(), saved.keys.end(),
                                      [&](const auto& entry) { return same_name(entry.first, name); });
        if (!kept) delete_subkey(key, name, view);
    }
    for (const auto& [name, node] : saved.keys) {
        Key child;
        if (!child.open(key, name, KEY_ALL_ACCESS | view) && !child.create(key, name, KEY_ALL_ACCESS | view)) {
            problems.push_back(where + "\\" + to_utf8(name) + ": cannot be opened");
            continue;
        }
        put_back(child.get(), view, node, where + "\\" + to_utf8(name), problems);
    }
}

// --- The file: one record a line, fields split by tabs; texts keep printable ASCII and write
// every other UTF-16 unit as %uXXXX, so that any name comes back exactly. -------------------------
const char* const kHeader = "aggiorna-kit-journal 1";

std::string escaped(const std::wstring& text) {
    std::string out;
    for (const wchar_t c : text) {
        if (c >= L' ' && c < 0x7F && c != L'%' && c != L'\t') {
            out.push_back(static_cast<char>(c));
        } else {
            char unit[8];
            std::snprintf(unit, sizeof unit, "%%u%04X", static_cast<unsigned>(c));
            out += unit;
        }
    }
    return out;
}

std::optional<std::wstring> unescaped(const std::string& text) {
    std::wstring out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out.push_back(static_cast<wchar_t>(static_cast<unsigned char>(text[i])));
            continue;
        }
        if (i + 5 >= text.size() || text[i + 1] != 'u') return std::nullopt;
        const std::string digits = text.substr(i + 2, 4);
        if (digits.size() != 4 || digits.find_first_not_of("0123456789ABCDEFabcdef") != std::string::npos) {
            return std::nullopt;
        }
        out.push_back(static_cast<wchar_t>(std::stoul(digits, nullptr, 16)));
        i += 5;
    }
    return out;
}

std::string hex(const std::vector<BYTE>& data) {
    std::string out;
    char pair[3];
    for (const BYTE b : data) {
        std::snprintf(pair, sizeof pair, "%02X", b);
        out += pair;
    }
    return out;
}

std::optional<std::vector<BYTE>> unhexed(const std::string& text) {
    if (text.size() % 2 != 0 || text.find_first_not_of("0123456789ABCDEFabcdef") != std::string::npos) {
        return std::nullopt;
    }
    std::vector<BYTE> out;
    for (std::size_t i = 0; i < text.size(); i += 2) out.push_back(static_cast<BYTE>(std::stoul(text.substr(i, 2), nullptr, 16)));
    return out;
}

const char* root_name(HKEY root) { return root == HKEY_LOCAL_MACHINE ? "HKLM" : "HKCU"; }
std::optional<HKEY> root_named(const std::string& name) {
    if (name == "HKLM") return HKEY_LOCAL_MACHINE;
    if (name == "HKCU") return HKEY_CURRENT_USER;
    return std::nullopt;
}
const char* view_name(REGSAM view) { return view == KEY_WOW64_32KEY ? "32" : view == KEY_WOW64_64KEY ? "64" : "0"; }
std::optional<REGSAM> view_named(const std::string& name) {
    if (name == "32") return KEY_WOW64_32KEY;
    if (name == "64") return KEY_WOW64_64KEY;
    if (name == "0") return 0;
    return std::nullopt;
}

void write_node(std::ostringstream& out, const Journal::Node& node, const std::wstring& path) {
    for (const auto& [name, type, data] : node.values) {
        out << "value\t" << escaped(path) << '\t' << escaped(name) << '\t' << type << '\t' << hex(data) << '\n';
    }
    for (const auto& [name, child] : node.keys) {
        const std::wstring below = path.empty() ? name : path + L"\\" + name;
        out << "subkey\t" << escaped(below) << '\n';
        write_node(out, child, below);
    }
}

std::vector<std::string> fields_of(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (std::size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1) {
        fields.push_back(line.substr(start, tab - start));
    }
    fields.push_back(line.substr(start));
    return fields;
}

// The node at `path` below `root`, made when missing.
Journal::Node& node_at(Journal::Node& root, const std::wstring& path) {
    Journal::Node* node = &root;
    std::size_t start = 0;
    while (start < path.size()) {
        const std::size_t end = std::min(path.find(L'\\', start), path.size());
        node = &node->keys[path.substr(start, end - start)];
        start = end + 1;
    }
    return *node;
}

}  // namespace

std::string describe(const KeyPlace& key) {
    return std::string(root_name(key.root)) + "\\" + to_utf8(key.path) +
           (key.view == KEY_WOW64_32KEY ? " (32-bit view)" : key.view == KEY_WOW64_64KEY ? " (64-bit view)" : "");
}

Journal Journal::take(const std::vector<KeyPlace>& keys, std::vector<std::wstring> folders,
                      std::vector<std::wstring> shares, std::optional<RunLogFolder> run_logs) {
    Journal journal;
    const auto status_of = [](const KeyPlace& place) {
        HKEY key = nullptr;
        const LONG status = RegOpenKeyExW(place.root, place.path.c_str(), 0, KEY_READ | place.view, &key);
        if (key != nullptr) RegCloseKey(key);
        return status;
    };
    for (KeyPlace place : keys) {
        LONG status = status_of(place);
        // A missing key is made with its missing parents: the journal notes the highest of them.
        for (std::size_t at; status == ERROR_FILE_NOT_FOUND && (at = place.path.find_last_of(L'\\')) != std::wstring::npos;) {
            const KeyPlace parent{place.root, place.path.substr(0, at), place.view};
            if (status_of(parent) != ERROR_FILE_NOT_FOUND) break;
            place = parent;
        }
        const bool known = std::any_of(journal.keys_.begin(), journal.keys_.end(), [&](const Entry& e) {
            return e.place.root == place.root && e.place.view == place.view && same_name(e.place.path, place.path);
        });
        if (known) continue;
        Entry entry{place, std::nullopt};
        if (status == ERROR_SUCCESS) {
            Key key;
            entry.saved.emplace();
            // Half a snapshot would have the put-back delete what it missed: such a key stops the kit.
            if (!key.open(place.root, place.path, KEY_READ | place.view) || !read_into(key.get(), place.view, *entry.saved)) {
                journal.unreadable_.push_back(describe(place));
            }
        } else if (status != ERROR_FILE_NOT_FOUND) {
            journal.unreadable_.push_back(describe(place) + " (error " + std::to_string(status) + ")");
        }
        journal.keys_.push_back(std::move(entry));
    }
    journal.folders_ = std::move(folders);
    journal.shares_ = std::move(shares);
    journal.run_logs_ = std::move(run_logs);
    return journal;
}

bool Journal::write(const std::wstring& file) const {
    if (!unreadable_.empty()) return false;
    std::ostringstream out;
    out << kHeader << '\n';
    for (const Entry& entry : keys_) {
        out << "key\t" << root_name(entry.place.root) << '\t' << view_name(entry.place.view) << '\t'
            << escaped(entry.place.path) << '\t' << (entry.saved ? "present" : "absent") << '\n';
        if (entry.saved) write_node(out, *entry.saved, L"");
    }
    for (const std::wstring& folder : folders_) out << "folder\t" << escaped(folder) << '\n';
    for (const std::wstring& share : shares_) out << "share\t" << escaped(share) << '\n';
    if (run_logs_) {
        out << "runlogs\t" << escaped(run_logs_->folder) << '\t' << (run_logs_->existed ? "present" : "absent") << '\n';
        for (const std::wstring& name : run_logs_->names) out << "runlog\t" << escaped(name) << '\n';
    }
    out << "end\n";
    const std::string text = out.str();

    make_folders(file.substr(0, file.find_last_of(L'\\')));
    const std::wstring temporary = file + L".new";
    {
        const ScopedHandle handle(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                              FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        if (!handle.valid() ||
            !WriteFile(handle.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
            written != text.size() || !FlushFileBuffers(handle.get())) {
            DeleteFileW(temporary.c_str());
            return false;
        }
    }
    if (!MoveFileExW(temporary.c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileW(temporary.c_str());
        return false;
    }
    return true;
}

std::optional<Journal> Journal::read(const std::wstring& file, std::string& problem) {
    problem.clear();
    const auto text = read_file(file);
    if (!text) {
        if (GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES) problem = "cannot be read";
        return std::nullopt;
    }
    Journal journal;
    std::istringstream lines(*text);
    std::string line;
    bool complete = false;
    int number = 0;
    const auto bad = [&] {
        problem = "line " + std::to_string(number) + " is not understood";
        return std::nullopt;
    };
    while (std::getline(lines, line)) {
        ++number;
        const auto f = fields_of(line);
        if (number == 1) {
            if (line != kHeader) return bad();
        } else if (f[0] == "key" && f.size() == 5) {
            const auto root = root_named(f[1]);
            const auto view = view_named(f[2]);
            const auto path = unescaped(f[3]);
            if (!root || !view || !path || (f[4] != "present" && f[4] != "absent")) return bad();
            journal.keys_.push_back({{*root, *path, *view}, f[4] == "present" ? std::optional<Node>(Node{}) : std::nullopt});
        } else if ((f[0] == "value" && f.size() == 5) || (f[0] == "subkey" && f.size() == 2)) {
            if (journal.keys_.empty() || !journal.keys_.back().saved) return bad();
            const auto path = unescaped(f[1]);
            if (!path) return bad();
            Node& node = node_at(*journal.keys_.back().saved, *path);
            if (f[0] == "value") {
                const auto name = unescaped(f[2]);
                const auto data = unhexed(f[4]);
                if (!name || !data || f[3].empty() || f[3].find_first_not_of("0123456789") != std::string::npos) {
                    return bad();
                }
                node.values.emplace_back(*name, static_cast<DWORD>(std::stoul(f[3])), *data);
            }
        } else if ((f[0] == "folder" || f[0] == "share") && f.size() == 2) {
            const auto name = unescaped(f[1]);
            if (!name) return bad();
            (f[0] == "folder" ? journal.folders_ : journal.shares_).push_back(*name);
        } else if (f[0] == "runlogs" && f.size() == 3) {
            const auto folder = unescaped(f[1]);
            if (!folder || journal.run_logs_ || (f[2] != "present" && f[2] != "absent")) return bad();
            journal.run_logs_ = RunLogFolder{*folder, f[2] == "present", {}};
        } else if (f[0] == "runlog" && f.size() == 2) {
            const auto name = unescaped(f[1]);
            if (!name || !journal.run_logs_) return bad();
            journal.run_logs_->names.push_back(*name);
        } else if (line == "end") {
            complete = true;
        } else {
            return bad();
        }
    }
    if (!complete) {
        problem = "ends before its last line";
        return std::nullopt;
    }
    return journal;
}

std::vector<std::string> Journal::put_back_keys() const {
    std::vector<std::string> problems;
    for (const Entry& entry : keys_) {
        const KeyPlace& p = entry.place;
        if (!entry.saved) {
            delete_key(p.root, p.path, p.view);
            Key still;
            if (still.open(p.root, p.path, KEY_READ | p.view)) problems.push_back(describe(p) + ": cannot be removed");
            continue;
        }
        Key key;
        // Only a key deleted since it was saved is made again.
        if (!key.open(p.root, p.path, KEY_ALL_ACCESS | p.view) && !key.create(p.root, p.path, KEY_ALL_ACCESS | p.view)) {
            problems.push_back(describe(p) + ": cannot be opened");
            continue;
        }
        put_back(key.get(), p.view, *entry.saved, describe(p), problems);
    }
    return problems;
}

std::vector<std::string> Journal::remove_shares() const {
    std::vector<std::string> left;
    for (const std::wstring& share : shares_) {
        if (!remove_share(share)) left.push_back("the share " + to_utf8(share) + " cannot be removed");
    }
    return left;
}

std::vector<std::string> Journal::put_back_run_logs(bool last) const {
    return run_logs_ ? kit::put_back_run_logs(*run_logs_, last) : std::vector<std::string>{};
}

std::vector<std::string> Journal::remove_folders() const {
    std::vector<std::string> left;
    for (auto folder = folders_.rbegin(); folder != folders_.rend(); ++folder) {
        if (!remove_tree(*folder)) left.push_back(to_utf8(*folder));
    }
    return left;
}

}  // namespace kit
