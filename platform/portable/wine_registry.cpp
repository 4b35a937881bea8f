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
#include <unordered_map>
#include <vector>

namespace aggiorna::portable {
namespace {

using wine_reg::Cursor;
using wine_reg::SectionName;
constexpr std::uint64_t kNone = ~std::uint64_t{0};
// 4 MiB of notes at most; in a file with more sections, each lookup reads the file through.
constexpr std::size_t kMaxEntries = std::size_t{1} << 19;

// A section noted under the hash of a key's path, in one word: the offset of its '[' in the low
// bits, kBelow when the section is that of a key below that key, and the hash's top bits above.
// Eight bytes a note keep the pages a large file's notes touch few.
// A section that starts more than 1 TiB into a file is not found.
using Entry = std::uint64_t;
constexpr std::uint64_t kBelow = std::uint64_t{1} << 40, kOffset = kBelow - 1, kHashBits = ~(2 * kBelow - 1);
constexpr bool same_hash(Entry e, std::uint64_t hash) { return ((e ^ hash) & kHashBits) == 0; }

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

// Reads the file through and notes its sections (only those of hash `*only` when given). False
// when there were more than the notes keep.
bool note_sections(int fd, Cursor& c, const std::uint64_t* only, std::vector<Entry>& out) {
    bool complete = true;
    std::uint64_t last = kNone;  // the last section line
    bool last_key = false;       // Wine made a key of it
    // The first section line after `last`, when reading that section through found it.
    std::uint64_t next = c.peek() < 0 ? kNone : c.offset();
    std::string name;
    std::vector<std::uint64_t> slow;  // the hashes of a name that is not plain
    PlainNames plain;
    while (c.find('[')) {
        const std::uint64_t at = c.offset();
        bool section = at == next;
        if (at > next) {
            const Start start = line_start(c, last_key);
            if (start == Start::unknown) {
                // Read the last section through, as Wine does, to find the line that ends it.
                Cursor body(fd, last);
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
        // The keys above this one, unless the name before had them already, and this one.
        for (std::size_t d = plain.shared(); d < hashes.size(); ++d) {
            const bool own = kind == SectionName::key && d + 1 == hashes.size();
            if (only && !same_hash(hashes[d], *only)) continue;
            if (out.size() < kMaxEntries && at <= kOffset)
                out.push_back((hashes[d] & kHashBits) | (own ? at : at | kBelow));
            else complete = false;
        }
        last = at;
        last_key = kind == SectionName::key || kind == SectionName::unlisted;
    }
    return complete;
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
        std::vector<Entry> entries;
        bool complete = true;  // every section is noted
    };

    struct Key {
        HiveId hive = machine;
        std::string path;  // canonical, as the caller named it
        bool wow = false;  // found under Software\Wow6432Node
        std::vector<std::uint64_t> sections;
    };

    Hive hives[2];
    std::unordered_map<RegKey, Key> keys;
    RegKey next_key = 1;
    std::size_t index_builds = 0;

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
            h.entries.clear();
            Cursor c(fd, 0);
            const Head head = read_head(c);
            if (head == Head::invalid) {
                ::close(fd);
                return nullptr;
            }
            h.win64 = head == Head::win64;
            // About one note for each 128 bytes of a file as Wine writes it.
            h.entries.reserve(std::min<std::size_t>(kMaxEntries, static_cast<std::size_t>(st.st_size) / 128));
            h.complete = note_sections(fd, c, nullptr, h.entries);
            h.noted = identity;
            ++index_builds;
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

    // The sections of the key `path` in file order (none when it has only keys below it); nullopt
    // when the key does not exist. Each noted section is checked by reading its name again.
    std::optional<std::vector<std::uint64_t>> sections(Hive& h, const std::string& path) {
        const std::uint64_t hash = wine_reg::path_hash(path);
        std::vector<Entry> scanned;
        if (!h.complete) {
            Cursor c(h.fd, 0);
            if (read_head(c) != Head::invalid) note_sections(h.fd, c, &hash, scanned);
        }
        bool exists = false;
        std::vector<std::uint64_t> own;
        std::string name;
        for (const Entry e : h.complete ? h.entries : scanned) {
            const bool below = (e & kBelow) != 0;
            if (!same_hash(e, hash) || (below && exists)) continue;
            Cursor c(h.fd, (e & kOffset) + 1);
            const SectionName kind = wine_reg::read_section_name(c, name);
            if (below ? kind == SectionName::none : kind != SectionName::key) continue;
            const bool above = name.size() > path.size() && name[path.size()] == '\\' && name.starts_with(path);
            if (name == path || (below && above)) {
                exists = true;
                if (!below) own.push_back(e & kOffset);
            }
        }
        if (!exists) return std::nullopt;
        return own;
    }

    std::optional<wine_reg::Value> read_value(RegKey handle, std::string_view name) {
        const Key* key = find(handle);
        if (!key || hives[key->hive].fd < 0) return std::nullopt;
        const std::string wanted = wine_reg::canonical_name(name);
        std::optional<wine_reg::Value> found;
        for (const std::uint64_t at : key->sections) {
            Cursor c(hives[key->hive].fd, at);
            wine_reg::read_body(c, true, &wanted, found);
        }
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

std::size_t depth(std::string_view path) {
    return path.empty() ? 0 : 1 + static_cast<std::size_t>(std::count(path.begin(), path.end(), '\\'));
}

}  // namespace

WineRegistry::WineRegistry(std::filesystem::path prefix) : state_(std::make_unique<State>()) {
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
    std::optional<std::vector<std::uint64_t>> found;
    if (redirect) found = s.sections(*hive, wow_path_of(key.path));
    key.wow = found.has_value();
    if (!found) found = s.sections(*hive, key.path);
    if (!found) {
        if (!parent_key) s.release_if_unused(key.hive);
        return 0;
    }
    key.sections = std::move(*found);
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

std::size_t WineRegistry::index_builds() const { return state_->index_builds; }

}  // namespace aggiorna::portable
