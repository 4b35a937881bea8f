// The registry of a Wine prefix, read section by section from its text files.
#include "platform/portable/wine_registry.h"

#include "platform/portable/wine_reg_parse.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace aggiorna::portable {
namespace {

using wine_reg::SectionMatch;

// One registry file, mapped while keys below its root are open. Wine saves a registry by writing
// a new file and renaming it over the old one, so the mapped file does not change under a lookup.
// Pages already scanned are handed back as the scan moves on, so the memory resident stays a few
// megabytes whatever the size of the file.
class HiveFile {
public:
    // nullptr when the file is missing, unreadable or not a Wine registry file.
    static std::unique_ptr<HiveFile> open(const std::filesystem::path& path) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return nullptr;
        struct stat st {};
        void* map = MAP_FAILED;
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
            map = ::mmap(nullptr, static_cast<std::size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
        ::close(fd);
        if (map == MAP_FAILED) return nullptr;
        std::unique_ptr<HiveFile> file(
            new HiveFile(static_cast<const char*>(map), static_cast<std::size_t>(st.st_size)));
        const auto kind = wine_reg::read_hive_kind(file->text_.substr(0, 4096));
        if (kind == wine_reg::HiveKind::invalid) return nullptr;
        file->win64_ = kind == wine_reg::HiveKind::win64;
        return file;
    }

    ~HiveFile() { ::munmap(const_cast<char*>(text_.data()), text_.size()); }
    HiveFile(const HiveFile&) = delete;
    HiveFile& operator=(const HiveFile&) = delete;

    bool win64() const { return win64_; }

    // Calls visit(offset, line) for each section line, from the one at `from` (a line start) to
    // the end of the file and then from the start of the file up to `from`, until visit returns
    // true. Wine writes a key's descendants after it, so a search that starts at a key usually
    // ends well before the wrap; hand-edited files are still searched whole.
    template <typename Visit>
    bool scan_sections(std::size_t from, Visit&& visit) {
        if (scan_range(std::min(from, text_.size()), text_.size(), visit)) return true;
        return from > 0 && scan_range(0, std::min(from, text_.size()), visit);
    }

    // The lines that follow the section line at `offset`, up to the next section line.
    std::string_view section_body(std::size_t offset) const {
        const std::size_t nl = text_.find('\n', offset);
        if (nl == std::string_view::npos) return {};
        const std::size_t next = text_.find("\n[", nl);
        return text_.substr(nl + 1, next == std::string_view::npos ? std::string_view::npos : next - nl);
    }

    std::size_t size() const { return text_.size(); }

    // Calls visit(offset, line) for each section line that starts in [from, to) (`from` a line
    // start) until visit returns true; returns whether it did.
    template <typename Visit>
    bool scan_range(std::size_t from, std::size_t to, Visit& visit) {
        const char* const data = text_.data();
        std::size_t released = from;  // pages before this were handed back, or never touched
        for (std::size_t i = from; i < to;) {
            if (i - released >= kReleaseStep) {
                release(released, i);
                released = i;
            }
            const std::size_t window = std::min(to, released + kReleaseStep) - i;
            const void* hit = std::memchr(data + i, '[', window);
            if (!hit) {
                i += window;
                continue;
            }
            const std::size_t j = static_cast<std::size_t>(static_cast<const char*>(hit) - data);
            i = j + 1;
            if (j > 0 && data[j - 1] != '\n') continue;
            // The section line runs to the end of the file here: matching stops at its ']'.
            if (visit(j, text_.substr(j))) {
                release(released, j);
                return true;
            }
        }
        release(released, to);
        return false;
    }

private:
    HiveFile(const char* data, std::size_t size) : text_(data, size) {}

    // Drops the whole pages of [from, to) from memory; they come back from the page cache if read
    // again.
    void release(std::size_t from, std::size_t to) {
        static const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
        const std::size_t first = (from + page - 1) / page * page;
        const std::size_t last = to / page * page;
        if (last > first)
            ::madvise(const_cast<char*>(text_.data()) + first, last - first, MADV_DONTNEED);
    }

    static constexpr std::size_t kReleaseStep = 2 * 1024 * 1024;
    std::string_view text_;
    bool win64_ = false;
};

using Range = std::pair<std::size_t, std::size_t>;

// Collects the stretches of the file whose sections lie at or below one key.
class RangeRecorder {
public:
    void see(std::size_t at, bool below) {
        if (below && !open_) start_ = at;
        if (!below && open_) add(at);
        open_ = below;
    }
    void end_of_range(std::size_t at) {
        if (open_) add(at);
        open_ = false;
    }
    // Empty when the key had too many stretches to keep.
    std::vector<Range> take() { return overflow_ ? std::vector<Range>() : std::move(ranges_); }

private:
    void add(std::size_t end) {
        if (ranges_.size() == kMaxRanges) overflow_ = true;
        else ranges_.emplace_back(start_, end);
    }
    static constexpr std::size_t kMaxRanges = 64;
    std::vector<Range> ranges_;
    bool open_ = false;
    bool overflow_ = false;
    std::size_t start_ = 0;
};

constexpr std::u16string_view kSoftware = u"SOFTWARE";
constexpr std::u16string_view kWow6432Node = u"WOW6432NODE";

std::size_t component_count(std::u16string_view path) {
    return path.empty() ? 0 : 1 + static_cast<std::size_t>(std::count(path.begin(), path.end(), u'\\'));
}

// A key that the 32-bit view looks for under Wow6432Node first: Software\X..., not the
// Wow6432Node key itself or what lies below it.
bool redirectable(std::u16string_view path) {
    if (path.substr(0, kSoftware.size()) != kSoftware || path.size() <= kSoftware.size() ||
        path[kSoftware.size()] != u'\\')
        return false;
    const std::u16string_view rest = path.substr(kSoftware.size() + 1);
    const std::u16string_view second = rest.substr(0, rest.find(u'\\'));
    return second != kWow6432Node;
}

std::u16string wow_path_of(std::u16string_view path) {
    std::u16string out(kSoftware);
    out += u'\\';
    out += kWow6432Node;
    out += path.substr(kSoftware.size());
    return out;
}

}  // namespace

// Stretches of at most this many bytes are searched whole, to learn a key's own stretches.
constexpr std::size_t kWholeSearchLimit = 1024 * 1024;

struct WineRegistry::State {
    enum Hive { machine = 0, user = 1 };

    struct Key {
        Hive hive = machine;
        std::u16string path;  // as the caller named it, folded; components joined by '\'
        bool wow = false;     // found under Software\Wow6432Node
        std::size_t offset = 0;  // a section at or below the key: where searches below it start
        bool section_searched = false;
        std::optional<std::size_t> section;  // the key's own section, when it has one
        // When not empty: stretches of the file that hold every section at or below the key,
        // learnt from a search that went through the whole file (or through such stretches of an
        // ancestor). Searches below the key then read only these.
        std::vector<Range> area;

        std::u16string physical_path() const { return wow ? wow_path_of(path) : path; }
    };

    struct Slot {
        std::filesystem::path file;
        std::unique_ptr<HiveFile> open;
        std::size_t users = 0;
    };

    Slot hives[2];
    std::unordered_map<RegKey, Key> keys;
    RegKey next_key = 1;

    Key* find(RegKey key) {
        const auto it = keys.find(key);
        return it == keys.end() ? nullptr : &it->second;
    }

    HiveFile* file_of(Hive hive) {
        Slot& slot = hives[hive];
        if (!slot.open) slot.open = HiveFile::open(slot.file);
        return slot.open.get();
    }

    RegKey add(Key key) {
        ++hives[key.hive].users;
        const RegKey handle = next_key++;
        keys.emplace(handle, std::move(key));
        return handle;
    }

    void release_if_unused(Hive hive) {
        if (hives[hive].users == 0) hives[hive].open.reset();
    }

    std::optional<wine_reg::Value> read_value(RegKey handle, std::string_view name) {
        Key* key = find(handle);
        if (!key) return std::nullopt;
        HiveFile* file = hives[key->hive].open.get();
        if (!file) return std::nullopt;
        if (!key->section_searched) {
            const std::u16string target = key->physical_path();
            auto visit = [&](std::size_t at, std::string_view line) {
                if (wine_reg::match_section(line, target) != SectionMatch::exact) return false;
                key->section = at;
                return true;
            };
            if (key->area.empty()) {
                file->scan_sections(key->offset, visit);
            } else {
                for (const auto& [from, to] : key->area)
                    if (file->scan_range(from, to, visit)) break;
            }
            key->section_searched = true;
        }
        if (!key->section) return std::nullopt;
        return wine_reg::find_value(file->section_body(*key->section), wine_reg::folded_utf16(name));
    }
};

WineRegistry::WineRegistry(std::filesystem::path prefix) : state_(std::make_unique<State>()) {
    state_->hives[State::machine].file = prefix / "system.reg";
    state_->hives[State::user].file = prefix / "user.reg";
}

WineRegistry::~WineRegistry() = default;

RegKey WineRegistry::open_key(RegKey parent, std::string_view name, std::uint32_t /*access*/) {
    State& s = *state_;
    State::Key key;
    bool parent_is_root = false;
    if (parent == kHkeyLocalMachine || parent == kHkeyCurrentUser) {
        key.hive = parent == kHkeyLocalMachine ? State::machine : State::user;
        parent_is_root = true;
    } else if (const State::Key* p = s.find(parent)) {
        key = *p;
    } else {
        return 0;
    }
    HiveFile* file = s.file_of(key.hive);
    if (!file) return 0;

    const bool parent_wow = key.wow;
    const std::size_t parent_depth = component_count(key.path);
    bool added = false;
    for (std::size_t pos = 0; pos <= name.size();) {
        const std::size_t end = std::min(name.find('\\', pos), name.size());
        if (end > pos) {
            if (!key.path.empty()) key.path += u'\\';
            key.path += wine_reg::folded_utf16(name.substr(pos, end - pos));
            added = true;
        }
        pos = end + 1;
    }
    if (!added) return s.add(std::move(key));  // the same key again, as Windows allows

    // Below a key already found outside Wow6432Node, nothing lies under Wow6432Node either.
    const bool redirect = key.hive == State::machine && file->win64() && redirectable(key.path) &&
                          (parent_is_root || parent_wow || parent_depth < 2);
    const std::u16string wow_target = redirect ? wow_path_of(key.path) : std::u16string();
    std::optional<std::size_t> wow_hit, plain_hit;
    bool wow_exact = false, plain_exact = false;
    // Where to look: the parent's stretches when they are known (and the parent's view is the
    // only one to search), else the whole file from the parent's first section on.
    const bool confined = !redirect && !key.area.empty();
    std::vector<Range> ranges = confined ? key.area : std::vector<Range>{{key.offset, file->size()}, {0, key.offset}};
    std::size_t confined_size = 0;
    for (const auto& [from, to] : ranges) confined_size += to - from;
    // Going through small stretches whole yields the key's own stretches; a large search stops at
    // the first section found.
    const bool search_whole = redirect || (confined && confined_size <= kWholeSearchLimit);
    RangeRecorder plain_ranges;
    bool complete = true;
    auto visit = [&](std::size_t at, std::string_view line) {
        if (redirect) {
            const auto m = wine_reg::match_section(line, wow_target);
            if (m != SectionMatch::none) {
                wow_hit = at;
                wow_exact = m == SectionMatch::exact;
                return true;
            }
        }
        const auto m = wine_reg::match_section(line, key.path);
        plain_ranges.see(at, m != SectionMatch::none);
        if (m != SectionMatch::none && !plain_hit) {
            plain_hit = at;
            plain_exact = m == SectionMatch::exact;
            if (!search_whole) return true;
        }
        return false;
    };
    for (const auto& [from, to] : ranges) {
        if (from < to && file->scan_range(from, to, visit)) {
            complete = false;
            break;
        }
        plain_ranges.end_of_range(to);
    }

    if (!wow_hit && !plain_hit) {
        if (parent_is_root) s.release_if_unused(key.hive);
        return 0;
    }
    key.wow = wow_hit.has_value();
    key.offset = wow_hit ? *wow_hit : *plain_hit;
    key.section_searched = wow_hit ? wow_exact : plain_exact;
    key.section.reset();
    if (key.section_searched) key.section = key.offset;
    if (key.wow) {
        key.area.clear();
    } else if (complete) {
        key.area = plain_ranges.take();
    } else if (!confined) {
        key.area.clear();
    }  // else: a large confined search keeps the parent's stretches, which hold the key's too
    return s.add(std::move(key));
}

bool WineRegistry::query_value(RegKey key, std::string_view name, std::span<std::uint8_t> area,
                               std::uint32_t& length) {
    const auto value = state_->read_value(key, name);
    if (!value) return false;
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

void WineRegistry::close_key(RegKey key) {
    State& s = *state_;
    const auto it = s.keys.find(key);
    if (it == s.keys.end()) return;
    const State::Hive hive = it->second.hive;
    s.keys.erase(it);
    --s.hives[hive].users;
    s.release_if_unused(hive);
}

std::size_t WineRegistry::open_key_count() const { return state_->keys.size(); }

}  // namespace aggiorna::portable
