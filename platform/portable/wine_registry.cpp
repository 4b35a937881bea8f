// The registry of a Wine prefix: one pass over each file notes where its sections stand; lookups
// then read just the sections of the keys asked for.
#include "platform/portable/wine_registry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <functional>
#include <unordered_map>
#include <vector>

#include "platform/portable/wine_environment.h"

namespace aggiorna::portable {
namespace {

using wine_reg::Cursor;
using wine_reg::SectionName;
constexpr std::uint64_t kNone = ~std::uint64_t{0};
// 4 MiB of notes for a file, as many for a subtree: in a file with more sections, the deepest
// keys are left out and noted when a lookup reaches them (Notes).
constexpr std::size_t kMaxEntries = WineRegistry::kMaxNotes;

// A section noted under the hash of a key on its path, in one word: the offset of its '[' in the
// low bits, kBelow when the section is that of a key below that key, the key's depth (counted
// from 1; 63 stands for 63 and more), and the hash's top bits above. Eight bytes a note keep the
// pages a large file's notes touch few. A section that starts more than 1 TiB into a file is not
// found.
using Entry = std::uint64_t;
constexpr std::uint64_t kBelow = std::uint64_t{1} << 40, kOffset = kBelow - 1;
constexpr int kDepthShift = 41;
constexpr std::size_t kDeepest = 63;
constexpr std::uint64_t kHashBits = ~((std::uint64_t{1} << (kDepthShift + 6)) - 1);
constexpr bool same_hash(Entry e, std::uint64_t hash) { return ((e ^ hash) & kHashBits) == 0; }
constexpr std::size_t depth_of(Entry e) { return static_cast<std::size_t>(e >> kDepthShift) & kDeepest; }

std::size_t depth(std::string_view path) {
    return path.empty() ? 0 : 1 + static_cast<std::size_t>(std::count(path.begin(), path.end(), '\\'));
}

// The notes of one reading of a file: each key on the paths of the sections within `root` (all
// of the file for ""), at the depth of `root` and below. When they do not all fit, the deepest
// are dropped, so that the keys down to `depth` are all noted: a lookup of a key deeper than that
// reads the file again, for the subtree of that key alone.
struct Notes {
    std::size_t bound = kMaxEntries;
    std::string root;
    std::uint64_t root_hash = wine_reg::kHashStart;
    std::size_t root_depth = 0;
    std::size_t depth = kDeepest;  // kDeepest: every key is noted, however deep
    std::vector<Entry> entries;

    void add(std::uint64_t hash, std::size_t key_depth, bool own, std::uint64_t at) {
        key_depth = std::min(key_depth, kDeepest);
        if (key_depth > depth || at > kOffset) return;
        if (entries.size() >= bound) {
            // The deepest keys make room; those of this section too, if it is one of them.
            std::size_t deepest = key_depth;
            for (const Entry e : entries) deepest = std::max(deepest, depth_of(e));
            depth = deepest - 1;
            std::erase_if(entries, [this](Entry e) { return depth_of(e) > depth; });
            if (key_depth > depth) return;
        }
        // Grown twice at a time, never past the bound.
        if (entries.size() == entries.capacity()) entries.reserve(std::min(bound, 2 * entries.size() + 1024));
        entries.push_back((hash & kHashBits) | (std::uint64_t{key_depth} << kDepthShift) | (own ? at : at | kBelow));
    }
    // Whether the notes tell all that stands of the key `path`, `path_depth` deep (never with
    // `depth` 0: notes of nothing).
    bool cover(std::string_view path, std::size_t path_depth) const {
        const bool within = root.empty() || path == root ||
                            (path.size() > root.size() && path[root.size()] == '\\' && path.starts_with(root));
        return within && depth > 0 && (depth == kDeepest || path_depth <= depth);
    }
};
// What tells one version of a file from another: Wine saves by renaming a new file over the old
// one, and an editor that writes in place changes the size or the times.
using FileIdentity = std::array<long long, 7>;
FileIdentity identity_of(const struct stat& st) {
    return {static_cast<long long>(st.st_dev), static_cast<long long>(st.st_ino), st.st_size, st.st_mtim.tv_sec,
            st.st_mtim.tv_nsec, st.st_ctim.tv_sec, st.st_ctim.tv_nsec};
}

enum class Head { invalid, win32, win64 };

// The lines before the first section: the header Wine requires, and the architecture. Wine loads
// nothing from a file whose architecture line is unknown or contradicts an earlier one. Leaves the
// cursor at the first section line.
Head read_head(Cursor& c) {
    constexpr std::string_view kHeader = "WINE REGISTRY Version 2";
    for (std::size_t i = 0; i < kHeader.size(); ++i)
        if (wine_reg::at(c, i) != kHeader[i]) return Head::invalid;
    if (wine_reg::at(c, kHeader.size()) >= 0) return Head::invalid;
    Head arch = Head::invalid;
    while (wine_reg::next_line(c)) {
        while (wine_reg::is_blank(wine_reg::at(c))) c.skip();
        if (wine_reg::at(c) == '[') break;
        std::string line;  // the first bytes of the line, enough to tell an architecture line
        for (int b; line.size() < 12 && (b = wine_reg::at(c, line.size())) >= 0;) line += static_cast<char>(b);
        if (!line.starts_with("#arch=")) continue;
        const Head said = line == "#arch=win32" ? Head::win32 : line == "#arch=win64" ? Head::win64 : Head::invalid;
        if (said == Head::invalid || (arch != Head::invalid && said != arch)) return Head::invalid;
        arch = said;
    }
    return arch == Head::invalid ? Head::win32 : arch;
}

enum class Start { no, yes, unknown };

// Whether the '[' at the cursor opens a section line, judged from the bytes before it: only blanks
// before it on its line and, after the section line of a key, no "\" on the line before (only a
// hex value ending in "\" takes the next line as its continuation, whatever that holds).
Start line_start(const Cursor& c, bool after_key) {
    std::size_t k = 1;
    int b;
    while (wine_reg::is_blank(b = c.behind(k))) ++k;
    if (b != '\n') return b < 0 ? Start::unknown : Start::no;
    if (!after_key) return Start::yes;
    while ((b = c.behind(++k)) != '\n')
        if (b < 0 || b == '\\') return Start::unknown;
    return Start::yes;
}

// How many bytes `a` and `b` share at their start.
std::size_t common_start(std::string_view a, std::string_view b) {
    const std::size_t n = std::min(a.size(), b.size());
    std::size_t i = 0;
    for (std::uint64_t x, y; i + 8 <= n; i += 8) {
        std::memcpy(&x, a.data() + i, 8);
        std::memcpy(&y, b.data() + i, 8);
        if (x != y) return i + static_cast<std::size_t>(std::countr_zero(x ^ y)) / 8;
    }
    while (i < n && a[i] == b[i]) ++i;
    return i;
}

// The hashes of the keys on a section's path, read straight from the file when the name is plain
// ASCII with "\\" only between names, as most are. Wine writes the tree in order, so a name mostly
// starts with the keys of the one before, whose hashes are kept: shared() tells how many.
class PlainNames {
public:
    // From just after the '['; false, leaving the cursor there, when the name is not plain (shared()
    // still tells how many keys it shares with the name before).
    bool read(Cursor& c) {
        const std::string_view w = c.window(4096);
        const std::size_t common = common_start(w, raw_);
        for (shared_ = 0; shared_ < ends_.size() && ends_[shared_] <= common;) ++shared_;
        ends_.resize(shared_);
        hashes_.resize(shared_);
        for (std::size_t i = shared_ ? ends_.back() : 0;;) {
            const std::size_t n = wine_reg::plain_run(w.substr(i)), j = i + n;
            const bool last = j < w.size() && w[j] == ']';
            if (n > wine_reg::kMaxKeyName || (!last && w.substr(j, 2) != "\\\\")) break;
            if (n > 0) {
                hashes_.push_back(wine_reg::component_hash(hashes_.empty() ? wine_reg::kHashStart : hashes_.back(),
                                                           w.substr(i, n)));
                ends_.push_back(last ? kNone : j + 2);
            }
            if (last && !hashes_.empty()) {
                raw_.assign(w.data(), j + 1);
                c.skip(j + 1);
                return true;
            }
            if (last) break;
            i = j + 2;
        }
        // The keys shared with the name before stay known: they were noted, and the next name may
        // share them too.
        ends_.resize(shared_);
        hashes_.resize(shared_);
        raw_.resize(shared_ ? ends_.back() : 0);
        return false;
    }
    const std::vector<std::uint64_t>& hashes() const { return hashes_; }
    std::size_t shared() const { return shared_; }

private:
    std::string raw_;  // the previous name
    // For each of its keys: where the separator after it ends in raw_, and its hash.
    std::vector<std::uint64_t> ends_, hashes_;
    std::size_t shared_ = 0;
};

// Reads the file through and hands `note` each key on the path of each section within the key
// `within` (its hash and depth; depth 0: all of the file) at that depth or deeper:
// note(hash, key depth, whether the section is the key's own, offset of its '['). A key that the
// section name before had too is handed on only for that one.
template <typename Note>
void note_sections(int fd, Cursor& c, std::uint64_t within_hash, std::size_t within_depth, Note&& note) {
    std::uint64_t last = kNone;  // the last section line
    bool last_key = false;       // Wine made a key of it
    // The first section line after `last`, when reading that section through found it.
    std::uint64_t next = c.peek() < 0 ? kNone : c.offset();
    std::string name;
    std::vector<std::uint64_t> slow;  // the hashes of a name that is not plain
    PlainNames plain;
    Cursor body(fd, 0);
    while (c.find('[')) {
        const std::uint64_t at = c.offset();
        bool section = at == next;
        if (at > next) {
            const Start start = line_start(c, last_key);
            if (start == Start::unknown) {
                // Read the last section through, as Wine does, to find the line that ends it.
                body.seek(last);
                std::optional<wine_reg::Value> unused;
                wine_reg::read_body(body, last_key, nullptr, unused);
                next = body.peek() < 0 ? kNone : body.offset();
            }
            section = start == Start::yes || at == next;
        }
        c.skip();
        if (!section) continue;
        SectionName kind = SectionName::key;
        const bool is_plain = plain.read(c);
        if (!is_plain) {
            kind = wine_reg::read_section_name(c, name);
            slow.clear();
            if (kind != SectionName::none) wine_reg::path_hash(name, &slow);
        }
        const std::vector<std::uint64_t>& hashes = is_plain ? plain.hashes() : slow;
        last = at;
        last_key = kind == SectionName::key || kind == SectionName::unlisted;
        if (within_depth > 0 && (hashes.size() < within_depth || hashes[within_depth - 1] != within_hash)) continue;
        // The keys above this one, unless the name before had them already, and this one.
        for (std::size_t d = std::max(plain.shared(), within_depth ? within_depth - 1 : 0); d < hashes.size(); ++d)
            note(hashes[d], d + 1, kind == SectionName::key && d + 1 == hashes.size(), at);
    }
}

}  // namespace

struct WineRegistry::State {
    enum HiveId { machine = 0, user = 1 };

    // One registry file: open while keys below its root are, its notes kept while it stays the same.
    struct Hive {
        std::filesystem::path file;
        int fd = -1;
        std::size_t users = 0;
        bool win64 = false;
        std::optional<FileIdentity> noted;
        Notes whole;  // of the whole file
        // Of the last key looked up that the whole file's notes do not reach; none at first.
        Notes subtree{.depth = 0};
    };

    struct Key {
        HiveId hive = machine;
        std::string path;  // canonical, as the caller named it
        bool wow = false;  // found under Software\Wow6432Node
        std::vector<std::uint64_t> sections;
        // Where the key has too many sections to note: its path in the file, read through for
        // each value.
        std::string streamed;
    };

    // What a lookup found of a key.
    struct Found {
        std::vector<std::uint64_t> own;  // its sections, in file order
        bool streamed = false;           // or: too many of them to note
    };

    Hive hives[2];
    std::unordered_map<RegKey, Key> keys;
    RegKey next_key = 1;
    std::size_t passes = 0;
    std::size_t max_notes = kMaxEntries;
    std::optional<WindowsEnvironment> environment_built;

    ~State() {
        for (Hive& h : hives)
            if (h.fd >= 0) ::close(h.fd);
    }

    Key* find(RegKey key) {
        const auto it = keys.find(key);
        return it == keys.end() ? nullptr : &it->second;
    }

    // The hive's file, opened (and its sections noted when it changed) at the first key below its
    // root; nullptr when it is missing, not a regular file (a FIFO would block) or no registry.
    Hive* open_hive(HiveId id) {
        Hive& h = hives[id];
        if (h.fd >= 0) return &h;
        const int fd = ::open(h.file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0) return nullptr;
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(fd);
            return nullptr;
        }
        const FileIdentity identity = identity_of(st);
        if (h.noted != identity) {
            h.noted.reset();
            h.whole = Notes{.bound = max_notes};
            h.subtree = Notes{.depth = 0};
            Cursor c(fd, 0);
            const Head head = read_head(c);
            if (head == Head::invalid) {
                ::close(fd);
                return nullptr;
            }
            h.win64 = head == Head::win64;
            // About one note for each 128 bytes of a file as Wine writes it.
            h.whole.entries.reserve(std::min<std::size_t>(max_notes, static_cast<std::size_t>(st.st_size) / 128));
            note_sections(fd, c, 0, 0, [&h](std::uint64_t hash, std::size_t d, bool own, std::uint64_t at) {
                h.whole.add(hash, d, own, at);
            });
            h.noted = identity;
            ++passes;
        }
        h.fd = fd;
        return &h;
    }

    void release_if_unused(HiveId id) {
        Hive& h = hives[id];
        if (h.users == 0 && h.fd >= 0) {
            ::close(h.fd);
            h.fd = -1;
        }
    }

    RegKey add(Key key) {
        ++hives[key.hive].users;
        const RegKey handle = next_key++;
        keys.emplace(handle, std::move(key));
        return handle;
    }

    // Hands `section` each section of the key `path` (own: its own; else one of a key below it),
    // reading the whole file through, until it returns false. Each is checked by reading its
    // name again.
    template <typename Section>
    void stream_sections(Hive& h, const std::string& path, Section&& section) {
        const std::uint64_t hash = wine_reg::path_hash(path);
        const std::size_t path_depth = depth(path);
        Cursor c(h.fd, 0);
        if (read_head(c) == Head::invalid) return;
        ++passes;
        bool going = true;
        std::string name;
        Cursor at_name(h.fd, 0);
        note_sections(h.fd, c, hash, path_depth, [&](std::uint64_t, std::size_t d, bool own, std::uint64_t at) {
            if (!going || d != path_depth) return;
            at_name.seek(at + 1);
            const SectionName kind = wine_reg::read_section_name(at_name, name);
            if (own ? kind == SectionName::key && name == path
                    : kind != SectionName::none && name.size() > path.size() && name[path.size()] == '\\' &&
                          name.starts_with(path)) {
                going = section(own, at);
            }
        });
    }

    // The notes that tell all of the key `path`: those of the whole file, or of a subtree read
    // for it (that of `path` itself, so that the keys below it are found in them too); nullptr
    // when even its own subtree holds too many of its sections to note.
    const Notes* notes_for(Hive& h, const std::string& path) {
        const std::size_t path_depth = depth(path);
        if (h.whole.cover(path, path_depth)) return &h.whole;
        if (!h.subtree.cover(path, path_depth)) {
            h.subtree = Notes{max_notes, path, wine_reg::path_hash(path), path_depth};
            Cursor c(h.fd, 0);
            if (read_head(c) == Head::invalid) return nullptr;
            ++passes;
            note_sections(h.fd, c, h.subtree.root_hash, path_depth,
                          [&h](std::uint64_t hash, std::size_t d, bool own, std::uint64_t at) {
                              h.subtree.add(hash, d, own, at);
                          });
        }
        return h.subtree.cover(path, path_depth) ? &h.subtree : nullptr;
    }

    // The sections of the key `path` (none when it has only keys below it); nullopt when the key
    // does not exist. Each noted section is checked by reading its name again.
    std::optional<Found> sections(Hive& h, const std::string& path) {
        const Notes* notes = notes_for(h, path);
        if (!notes) {
            bool exists = false;
            stream_sections(h, path, [&exists](bool, std::uint64_t) { return !(exists = true); });
            if (!exists) return std::nullopt;
            return Found{{}, true};
        }
        const std::uint64_t hash = wine_reg::path_hash(path);
        const std::size_t path_depth = std::min(depth(path), kDeepest);
        bool exists = false;
        Found found;
        std::string name;
        Cursor c(h.fd, 0);  // the notes are in file order: one buffer reads the names
        for (const Entry e : notes->entries) {
            const bool below = (e & kBelow) != 0;
            if (!same_hash(e, hash) || depth_of(e) != path_depth || (below && exists)) continue;
            c.seek((e & kOffset) + 1);
            const SectionName kind = wine_reg::read_section_name(c, name);
            if (below ? kind == SectionName::none : kind != SectionName::key) continue;
            const bool above = name.size() > path.size() && name[path.size()] == '\\' && name.starts_with(path);
            if (name == path || (below && above)) {
                exists = true;
                if (!below) found.own.push_back(e & kOffset);
            }
        }
        if (!exists) return std::nullopt;
        return found;
    }

    // Hands `take` every value of the key `path` (canonical, in the native view: no Wow6432Node)
    // of a hive, in the order of the file.
    void read_all_values(HiveId id, const std::string& path,
                         const std::function<void(const std::string&, const wine_reg::Value&)>& take) {
        Hive* h = open_hive(id);
        if (!h) return;
        ++h->users;  // kept open while it is read
        if (const auto found = sections(*h, path)) {
            Cursor c(h->fd, 0);
            const auto read = [&](std::uint64_t at) {
                c.seek(at);
                wine_reg::read_values(c, take);
            };
            if (found->streamed) {
                stream_sections(*h, path, [&](bool own, std::uint64_t at) {
                    if (own) read(at);
                    return true;
                });
            }
            for (const std::uint64_t at : found->own) read(at);
        }
        --h->users;
        release_if_unused(id);
    }

    // The string values of a key, for the environment.
    EnvironmentKey environment_key(RegKey root, std::string_view path) {
        EnvironmentKey key;
        read_all_values(root == kHkeyLocalMachine ? machine : user, wine_reg::canonical_path(path),
                        [&key](const std::string& name, const wine_reg::Value& value) {
                            // A later definition of another type replaces a string too.
                            if (const auto text = wine_reg::utf8_string(value))
                                key[name] = {value.type == wine_reg::kRegExpandSz, *text};
                            else
                                key.erase(name);
                        });
        return key;
    }

    // The environment the prefix gives its programs, built at the first expansion.
    const WindowsEnvironment& environment() {
        if (!environment_built) {
            environment_built = build_environment(
                [this](RegKey root, std::string_view path) { return environment_key(root, path); });
        }
        return *environment_built;
    }

    std::optional<wine_reg::Value> read_value(RegKey handle, std::string_view name) {
        const Key* key = find(handle);
        if (!key || hives[key->hive].fd < 0) return std::nullopt;
        Hive& h = hives[key->hive];
        const std::string wanted = wine_reg::canonical_name(name);
        std::optional<wine_reg::Value> found;
        Cursor c(h.fd, 0);  // the sections come in file order: one buffer reads them
        const auto read = [&](std::uint64_t at) {
            c.seek(at);
            wine_reg::read_body(c, true, &wanted, found);
        };
        if (!key->streamed.empty()) {
            stream_sections(h, key->streamed, [&](bool own, std::uint64_t at) {
                if (own) read(at);
                return true;
            });
        }
        for (const std::uint64_t at : key->sections) read(at);
        return found;
    }
};

namespace {

constexpr std::string_view kSoftware = "software";
constexpr std::string_view kWow6432Node = "wow6432node";

// A key that the 32-bit view looks for under Wow6432Node first: Software\X..., not the
// Wow6432Node key itself or what lies below it.
bool redirectable(std::string_view path) {
    if (!path.starts_with(kSoftware) || path.size() <= kSoftware.size() + 1 || path[kSoftware.size()] != '\\')
        return false;
    const std::string_view rest = path.substr(kSoftware.size() + 1);
    return rest.substr(0, rest.find('\\')) != kWow6432Node;
}

std::string wow_path_of(std::string_view path) {
    return std::string(kSoftware) + "\\" + std::string(kWow6432Node) + std::string(path.substr(kSoftware.size()));
}

}  // namespace

WineRegistry::WineRegistry(std::filesystem::path prefix, std::size_t max_notes) : state_(std::make_unique<State>()) {
    state_->max_notes = std::max<std::size_t>(max_notes, 1);
    state_->hives[State::machine].file = prefix / "system.reg";
    state_->hives[State::user].file = prefix / "user.reg";
}

WineRegistry::~WineRegistry() = default;

RegKey WineRegistry::open_key(RegKey parent, std::string_view name, std::uint32_t /*access*/) {
    State& s = *state_;
    State::Key key;
    const State::Key* parent_key = nullptr;
    if (parent == kHkeyLocalMachine || parent == kHkeyCurrentUser) {
        key.hive = parent == kHkeyLocalMachine ? State::machine : State::user;
    } else if ((parent_key = s.find(parent))) {
        key = *parent_key;
    } else {
        return 0;
    }
    State::Hive* hive = s.open_hive(key.hive);
    if (!hive) return 0;
    const std::string added = wine_reg::canonical_path(name);
    if (added.empty()) return s.add(std::move(key));  // the same key again, as Windows allows

    const bool parent_wow = key.wow;
    const std::size_t parent_depth = depth(key.path);
    key.path += (key.path.empty() ? "" : "\\") + added;
    // Below a key found outside Wow6432Node, nothing lies under Wow6432Node either.
    const bool redirect = key.hive == State::machine && hive->win64 && redirectable(key.path) &&
                          (!parent_key || parent_wow || parent_depth < 2);
    std::optional<State::Found> found;
    if (redirect) found = s.sections(*hive, wow_path_of(key.path));
    key.wow = found.has_value();
    if (!found) found = s.sections(*hive, key.path);
    if (!found) {
        if (!parent_key) s.release_if_unused(key.hive);
        return 0;
    }
    key.sections = std::move(found->own);
    key.streamed = found->streamed ? (key.wow ? wow_path_of(key.path) : key.path) : std::string();
    return s.add(std::move(key));
}

bool WineRegistry::query_value(RegKey key, std::string_view name, std::span<std::uint8_t> area,
                               std::uint32_t& length) {
    const auto value = state_->read_value(key, name);
    if (!value || !value->complete()) return false;
    const std::vector<std::uint8_t> data = wine_reg::ansi_data(*value);
    if (data.size() > area.size()) return false;
    std::copy(data.begin(), data.end(), area.begin());
    length = static_cast<std::uint32_t>(data.size());
    return true;
}

std::optional<std::string> WineRegistry::query_path(RegKey key, std::string_view name) {
    const auto value = state_->read_value(key, name);
    if (!value) return std::nullopt;
    auto text = wine_reg::utf8_string(*value);
    if (text && value->type == wine_reg::kRegExpandSz) return state_->environment().expand(*text);
    return text;
}

std::optional<std::string> WineRegistry::query_string(RegKey key, std::string_view name) {
    const auto value = state_->read_value(key, name);
    if (!value) return std::nullopt;
    return wine_reg::utf8_string(*value);
}

std::optional<wine_reg::Value> WineRegistry::query_raw(RegKey key, std::string_view name) {
    return state_->read_value(key, name);
}

void WineRegistry::close_key(RegKey key) {
    State& s = *state_;
    const auto it = s.keys.find(key);
    if (it == s.keys.end()) return;
    const State::HiveId hive = it->second.hive;
    s.keys.erase(it);
    --s.hives[hive].users;
    s.release_if_unused(hive);
}

std::size_t WineRegistry::open_key_count() const { return state_->keys.size(); }

std::size_t WineRegistry::passes() const { return state_->passes; }

std::optional<RegistryArch> registry_arch(const std::filesystem::path& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    std::optional<RegistryArch> arch;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        Cursor c(fd, 0);
        const Head head = read_head(c);
        if (head != Head::invalid) arch = head == Head::win64 ? RegistryArch::win64 : RegistryArch::win32;
    }
    ::close(fd);
    return arch;
}

}  // namespace aggiorna::portable
