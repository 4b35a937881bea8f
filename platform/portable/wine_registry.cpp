// The registry of a Wine prefix, read from its text files in large pieces, with an index of the
// upper keys learnt on the first pass through each file.
#include "platform/portable/wine_registry.h"

#include "platform/portable/wine_reg_parse.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace aggiorna::portable {
namespace {

using wine_reg::SectionOrder;
constexpr std::uint64_t kNone = ~std::uint64_t{0};

// What tells one version of a file from another: Wine saves by renaming a new file over the old
// one, and an editor that writes in place changes the size or the times.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{}, changed{};

    explicit FileIdentity(const struct stat& st)
        : device(st.st_dev), inode(st.st_ino), size(st.st_size), modified(st.st_mtim), changed(st.st_ctim) {}
    bool operator==(const FileIdentity& o) const {
        return device == o.device && inode == o.inode && size == o.size &&
               modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec &&
               changed.tv_sec == o.changed.tv_sec && changed.tv_nsec == o.changed.tv_nsec;
    }
};

// Reads a file forward in large pieces with pread and delivers its lines. A failed or short read
// is the end of the file: a file cut short under the reader reads as the shorter file.
class LineReader {
public:
    explicit LineReader(std::size_t capacity)
        : capacity_(std::max<std::size_t>(capacity, 16)), max_capacity_(std::max(capacity_, kMaxLine)) {}

    // Starts reading `fd`; what was read from the previous file is forgotten.
    void attach(int fd) {
        fd_ = fd;
        base_ = pos_ = 0;
        len_ = 0;
        eof_ = false;
        pin_ = kNone;
        line_start_ = 0;
        before_ = '\n';
    }

    // Goes to `offset`, a line start. Section lines are delivered up to `limit` (exclusive); the
    // bytes up to it are read in pieces as large as the buffer allows.
    void seek(std::uint64_t offset, std::uint64_t limit) {
        limit_ = limit;
        pin_ = kNone;
        line_start_ = offset;
        if (offset >= base_ && offset <= base_ + len_) {
            pos_ = offset;
            return;
        }
        base_ = pos_ = offset;
        len_ = 0;
        eof_ = false;
        before_ = '\n';
    }

    // The next line that starts with '[': its offset and its text without the end of line.
    bool next_section(std::uint64_t& offset, std::string_view& line) {
        for (;;) {
            std::size_t rel = static_cast<std::size_t>(pos_ - base_);
            if (rel >= len_) {
                if (fill(rel) != Fill::more) return false;
                continue;
            }
            const void* hit = std::memchr(buffer() + rel, '[', len_ - rel);
            if (!hit) {
                pos_ = base_ + len_;
                continue;
            }
            const std::size_t j = static_cast<std::size_t>(static_cast<const char*>(hit) - buffer());
            const bool starts_line =
                base_ + j == line_start_ || (j > 0 ? buffer()[j - 1] == '\n' : before_ == '\n');
            if (!starts_line) {
                pos_ = base_ + j + 1;
                continue;
            }
            if (base_ + j >= limit_) {
                pos_ = base_ + j;
                return false;
            }
            const void* nl = std::memchr(buffer() + j, '\n', len_ - j);
            if (!nl && !eof_) {
                pos_ = line_start_ = base_ + j;
                const Fill f = fill(j);
                if (f == Fill::full) pos_ = line_start_ + 1;  // longer than any key name: no section
                continue;
            }
            const std::size_t end = nl ? static_cast<std::size_t>(static_cast<const char*>(nl) - buffer()) : len_;
            offset = base_ + j;
            line = std::string_view(buffer() + j, end - j);
            pos_ = base_ + end + (nl ? 1 : 0);
            return true;
        }
    }

    // The next line of any kind; `terminated` tells whether a '\n' ended it.
    bool next_line(std::string_view& line, bool& terminated) {
        for (;;) {
            std::size_t rel = static_cast<std::size_t>(pos_ - base_);
            if (rel >= len_) {
                if (fill(rel) != Fill::more) return false;
                continue;
            }
            const void* nl = std::memchr(buffer() + rel, '\n', len_ - rel);
            if (!nl && !eof_) {
                line_start_ = pos_;
                if (fill(rel) != Fill::full) continue;
                rel = static_cast<std::size_t>(pos_ - base_);  // too long to hold: delivered in parts
            }
            const std::size_t end = nl ? static_cast<std::size_t>(static_cast<const char*>(nl) - buffer()) : len_;
            line = std::string_view(buffer() + rel, end - rel);
            terminated = nl != nullptr;
            pos_ = base_ + end + (nl ? 1 : 0);
            return true;
        }
    }

    // Keeps the bytes from `offset` (a line already delivered) in memory while later lines are
    // read, for text_at. When a line is too long to keep both, the pin is dropped.
    void pin(std::uint64_t offset) { pin_ = offset; }
    bool pinned() const { return pin_ != kNone; }
    // `length` bytes from `offset`, which must lie in the pinned part of the buffer.
    std::string_view text_at(std::uint64_t offset, std::size_t length) const {
        return std::string_view(buffer() + (offset - base_), length);
    }

private:
    enum class Fill { more, end, full };

    const char* buffer() const { return buffer_.get(); }
    char* buffer() { return buffer_.get(); }

    // Reads more of the file after what the buffer holds, keeping the bytes from `keep` (and from
    // the pin) on.
    Fill fill(std::size_t keep) {
        if (eof_) return Fill::end;
        if (!buffer_) buffer_.reset(new char[capacity_]);
        const std::uint64_t wanted = base_ + keep;
        compact(pin_ != kNone && pin_ < wanted ? pin_ : wanted);
        if (len_ == capacity_) {
            if (capacity_ < max_capacity_) {
                const std::size_t grown = std::min(capacity_ * 2, max_capacity_);
                std::unique_ptr<char[]> bigger(new char[grown]);
                std::memcpy(bigger.get(), buffer(), len_);
                buffer_ = std::move(bigger);
                capacity_ = grown;
            } else if (pin_ != kNone) {
                pin_ = kNone;
                compact(wanted);
                if (len_ == capacity_) return Fill::full;
            } else {
                return Fill::full;
            }
        }
        std::size_t want = capacity_ - len_;
        const std::uint64_t end = base_ + len_;
        if (limit_ > end && limit_ - end < want) want = std::max<std::size_t>(limit_ - end, std::min(want, kMinRead));
        else if (limit_ <= end) want = std::min(want, kMinRead);
        for (;;) {
            const ssize_t n = ::pread(fd_, buffer() + len_, want, static_cast<off_t>(end));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                eof_ = true;
                return Fill::end;
            }
            len_ += static_cast<std::size_t>(n);
            return Fill::more;
        }
    }

    // Drops the bytes before file offset `keep`.
    void compact(std::uint64_t keep) {
        const auto n = static_cast<std::size_t>(keep - base_);
        if (n == 0) return;
        before_ = buffer()[n - 1];
        std::memmove(buffer(), buffer() + n, len_ - n);
        base_ = keep;
        len_ -= n;
    }

    static constexpr std::size_t kMinRead = 16 * 1024;
    // Key paths are at most a few thousand characters; a longer line is no section line.
    static constexpr std::size_t kMaxLine = 4 * 1024 * 1024;

    std::size_t capacity_;
    std::size_t max_capacity_;
    std::unique_ptr<char[]> buffer_;
    int fd_ = -1;
    std::uint64_t base_ = 0;        // file offset of buffer()[0]
    std::size_t len_ = 0;           // bytes held
    std::uint64_t pos_ = 0;         // file offset where the next search starts
    std::uint64_t limit_ = kNone;
    std::uint64_t line_start_ = 0;  // a file offset known to start a line
    std::uint64_t pin_ = kNone;
    bool eof_ = false;
    char before_ = '\n';            // the byte before buffer()[0]
};

struct Range {
    std::uint64_t from, to;
};

// The keys of the first three levels of one file, each with the stretches of the file that hold
// its section and those of every key below it, and the places where the order of the sections
// breaks. Folded names only; a few bytes per key.
class KeyIndex {
public:
    static constexpr std::size_t kDepth = 3;
    static constexpr std::uint32_t kFull = ~std::uint32_t{0};

    struct Entry {
        std::uint32_t name_at = 0, name_size = 0;
        std::uint64_t exact = kNone;  // the key's own first section
        std::uint32_t first_link = kFull, last_link = kFull;
    };

    // False when the file has more keys than the index keeps: every lookup then reads the file.
    bool usable = true;
    // False when the order breaks too often to be worth noting: no search then stops early.
    bool ordered = true;

    const Entry* find(std::u16string_view name) const {
        // Wine's order: the keys come sorted, depth first, as their first sections do.
        const auto sorted_end = entries_.begin() + static_cast<std::ptrdiff_t>(sorted_);
        const auto it = std::lower_bound(entries_.begin(), sorted_end, name, [&](const Entry& e, std::u16string_view n) {
            return wine_reg::compare_names(name_of(e), n) < 0;
        });
        if (it != sorted_end && name_of(*it) == name) return &*it;
        if (table_.empty()) return nullptr;
        for (std::size_t i = hash(name) & (table_.size() - 1);; i = (i + 1) & (table_.size() - 1)) {
            if (table_[i] == 0) return nullptr;
            const Entry& e = entries_[table_[i] - 1];
            if (name_of(e) == name) return &e;
        }
    }

    std::uint32_t find_or_add(std::u16string_view name) {
        // A key after every key so far is new; the others are looked for.
        const bool in_order = sorted_ == entries_.size() &&
                              (entries_.empty() || wine_reg::compare_names(name_of(entries_.back()), name) < 0);
        if (!in_order)
            if (const Entry* e = find(name)) return static_cast<std::uint32_t>(e - entries_.data());
        if (entries_.size() >= kMaxEntries || names_.size() + name.size() > kMaxNameUnits) return kFull;
        Entry e;
        e.name_at = static_cast<std::uint32_t>(names_.size());
        e.name_size = static_cast<std::uint32_t>(name.size());
        names_.insert(names_.end(), name.begin(), name.end());
        entries_.push_back(e);
        if (in_order) {
            ++sorted_;
        } else {
            if (table_.empty()) table_.assign(64, 0);
            std::size_t i = hash(name) & (table_.size() - 1);
            while (table_[i] != 0) i = (i + 1) & (table_.size() - 1);
            table_[i] = static_cast<std::uint32_t>(entries_.size());
            if (++unsorted_ * 2 > table_.size()) rehash();
        }
        return static_cast<std::uint32_t>(entries_.size() - 1);
    }

    std::u16string_view name(std::uint32_t entry) const { return name_of(entries_[entry]); }
    Entry& entry(std::uint32_t index) { return entries_[index]; }

    void add_range(std::uint32_t entry, std::uint64_t from, std::uint64_t to) {
        Entry& e = entries_[entry];
        if (e.last_link != kFull && links_[e.last_link].range.to == from) {
            links_[e.last_link].range.to = to;
            return;
        }
        links_.push_back({{from, to}, kFull});
        const auto link = static_cast<std::uint32_t>(links_.size() - 1);
        if (e.last_link == kFull) e.first_link = link;
        else links_[e.last_link].next = link;
        e.last_link = link;
    }

    std::vector<Range> ranges(const Entry& e) const {
        std::vector<Range> out;
        for (std::uint32_t l = e.first_link; l != kFull; l = links_[l].next) out.push_back(links_[l].range);
        return out;
    }

    // The section at `at` sorts before the one ahead of it.
    void add_break(std::uint64_t at) {
        if (!ordered) return;
        if (breaks_.size() >= kMaxBreaks) {
            ordered = false;
            breaks_.clear();
            return;
        }
        breaks_.push_back(at);
    }

    // The first break after `at`: the sections from `at` up to it come in order. kNone when the
    // order is unknown.
    std::uint64_t next_break(std::uint64_t at) const {
        if (!ordered) return at;
        const auto it = std::upper_bound(breaks_.begin(), breaks_.end(), at);
        return it == breaks_.end() ? kNone : *it;
    }

private:
    static constexpr std::size_t kMaxEntries = 1 << 16;
    static constexpr std::size_t kMaxNameUnits = 1 << 21;
    static constexpr std::size_t kMaxBreaks = 1 << 16;

    struct Link {
        Range range;
        std::uint32_t next;
    };

    static std::size_t hash(std::u16string_view name) {
        std::uint32_t h = 2166136261u;
        for (char16_t u : name) h = (h ^ u) * 16777619u;
        return h;
    }
    std::u16string_view name_of(const Entry& e) const {
        return std::u16string_view(names_.data() + e.name_at, e.name_size);
    }
    void rehash() {
        std::vector<std::uint32_t> table(table_.size() * 2, 0);
        for (auto n = static_cast<std::uint32_t>(sorted_ + 1); n <= entries_.size(); ++n) {
            std::size_t i = hash(name_of(entries_[n - 1])) & (table.size() - 1);
            while (table[i] != 0) i = (i + 1) & (table.size() - 1);
            table[i] = n;
        }
        table_ = std::move(table);
    }

    std::vector<char16_t> names_;
    std::vector<Entry> entries_;
    std::size_t sorted_ = 0;    // the first entries, in order
    std::size_t unsorted_ = 0;  // the others, found through table_
    std::vector<std::uint32_t> table_;  // entry number + 1; 0 is free
    std::vector<Link> links_;
    std::vector<std::uint64_t> breaks_;
};

// Builds the index of a file in one pass. Consecutive sections mostly share a long start (Wine
// saves depth first, in order), so each section line is compared byte for byte with the one
// before it; only names with escapes other than "\\" or with UTF-8 are decoded.
class IndexBuilder {
public:
    IndexBuilder(LineReader& reader, KeyIndex& index) : reader_(reader), index_(index) {}

    void run(std::uint64_t size) {
        reader_.seek(0, kNone);
        std::uint64_t offset = 0;
        std::string_view line;
        while (reader_.next_section(offset, line)) {
            if (!quick(offset, line)) thorough(offset, line);
        }
        close_levels(0, std::max(size, last_offset_));
    }

private:
    static constexpr int kEnd = -2, kSep = -1;

    // The raw shape of a section line whose name holds no escape but "\\" and no UTF-8.
    struct Shape {
        bool valid = false;      // a section line was seen (and is pinned)
        bool simple = false;
        bool decoded = false;    // previous_name_ holds its name
        std::uint64_t offset = 0;
        std::size_t end = 0;     // position of the ']' in the line
        std::size_t seps[KeyIndex::kDepth] = {};  // positions of the first separators
        std::size_t nseps = 0;   // separators, counted up to kDepth
    };

    // The common case: the line differs from the one before in plain characters.
    bool quick(std::uint64_t offset, std::string_view line) {
        if (!prev_.valid || !prev_.simple || !reader_.pinned()) return false;
        const char* const before = reader_.text_at(prev_.offset, prev_.end + 1).data();
        const auto* const text = reinterpret_cast<const unsigned char*>(line.data());
        const std::size_t size = line.size();
        const std::size_t before_size = prev_.end + 1;
        const std::size_t m = mismatch(before, line.data(), std::min(before_size, size));
        if (m == before_size) {  // the same name again
            moved_to(offset);
            return true;
        }
        if (m >= size) return false;  // cut short: decided the slow way
        std::size_t run = 0;  // backslashes just before m: pairs are separators
        while (run < m && text[m - 1 - run] == '\\') ++run;
        if (run % 2 != 0) return false;
        const int a = value_at(reinterpret_cast<const unsigned char*>(before), before_size, m);
        const int b = value_at(text, size, m);
        if (a == b || a == kDecode || b == kDecode) return false;

        // The rest of the name: its separators and its end.
        std::size_t seps[KeyIndex::kDepth];
        std::size_t nseps = 0;
        while (nseps < prev_.nseps && prev_.seps[nseps] < m) {
            seps[nseps] = prev_.seps[nseps];
            ++nseps;
        }
        const std::size_t common = nseps;
        std::size_t i = m;
        for (;;) {
            i = plain_run_end(text, i, size);
            if (i >= size) return false;
            if (text[i] == ']') break;
            if (text[i] != '\\' || i + 1 >= size || text[i + 1] != '\\') return false;
            if (nseps < KeyIndex::kDepth) seps[nseps++] = i;
            i += 2;
        }

        const std::size_t first_changed = common + (a < 0 && b < 0 ? 1 : 0);
        const bool new_levels = index_.usable && (first_changed < KeyIndex::kDepth || nseps < KeyIndex::kDepth);
        if (new_levels && first_changed > open_depth_) return false;
        if (a > b) index_.add_break(offset);
        if (new_levels) {
            close_levels(first_changed, offset);
            const std::size_t k = std::min(nseps + 1, KeyIndex::kDepth);
            for (std::size_t d = first_changed; d < k && index_.usable; ++d) {
                scratch_.clear();
                if (d > 0) {
                    scratch_ = index_.name(open_[d - 1].entry);
                    scratch_ += u'\\';
                }
                const std::size_t from = d == 0 ? 1 : seps[d - 1] + 2;
                const std::size_t to = d < nseps ? seps[d] : i;
                for (std::size_t p = from; p < to; ++p) scratch_ += static_cast<char16_t>(fold_ascii(text[p]));
                open_level(d, scratch_, offset);
            }
            if (nseps < KeyIndex::kDepth) note_exact(nseps + 1, offset);
        }
        prev_.end = i;
        std::copy(seps, seps + nseps, prev_.seps);
        prev_.nseps = nseps;
        prev_.decoded = false;
        moved_to(offset);
        return true;
    }

    // The first position from `i` on that holds ']', '\\' or a byte of UTF-8; `size` when none.
    static std::size_t plain_run_end(const unsigned char* text, std::size_t i, std::size_t size) {
        if constexpr (std::endian::native == std::endian::little) {
            constexpr std::uint64_t ones = 0x0101010101010101u, highs = 0x8080808080808080u;
            const auto zero_bytes = [](std::uint64_t v) { return (v - ones) & ~v & highs; };
            for (; i + 8 <= size; i += 8) {
                std::uint64_t x;
                std::memcpy(&x, text + i, 8);
                // The lowest flag is exact; flags above it may not be.
                const std::uint64_t hits = zero_bytes(x ^ (ones * ']')) | zero_bytes(x ^ (ones * '\\')) | (x & highs);
                if (hits) return i + static_cast<std::size_t>(std::countr_zero(hits) / 8);
            }
        }
        while (i < size && kPlain[text[i]]) ++i;
        return i;
    }

    // The first position where `a` and `b` differ, or `n`.
    static std::size_t mismatch(const char* a, const char* b, std::size_t n) {
        std::size_t m = 0;
        if constexpr (std::endian::native == std::endian::little) {
            for (; m + 8 <= n; m += 8) {
                std::uint64_t x, y;
                std::memcpy(&x, a + m, 8);
                std::memcpy(&y, b + m, 8);
                if (x != y) return m + static_cast<std::size_t>(std::countr_zero(x ^ y) / 8);
            }
        }
        while (m < n && a[m] == b[m]) ++m;
        return m;
    }

    // Any section line: decoded whole.
    void thorough(std::uint64_t offset, std::string_view line) {
        if (!wine_reg::section_name(line, name_)) return;  // no section line
        if (prev_.valid) {
            bool known = prev_.decoded;
            if (!known && reader_.pinned())
                known = wine_reg::section_name(reader_.text_at(prev_.offset, prev_.end + 1), previous_name_);
            if (!known || wine_reg::compare_names(previous_name_, name_) > 0) index_.add_break(offset);
        }
        prev_.valid = true;
        prev_.simple = true;
        prev_.nseps = 0;
        std::size_t i = 1;
        for (; i < line.size(); ++i) {
            const auto c = static_cast<unsigned char>(line[i]);
            if (c == ']') break;
            if (c >= 0x80) prev_.simple = false;
            if (c == '\\') {
                if (i + 1 < line.size() && line[i + 1] == '\\') {
                    if (prev_.nseps < KeyIndex::kDepth) prev_.seps[prev_.nseps++] = i;
                } else {
                    prev_.simple = false;
                }
                ++i;
            }
        }
        prev_.end = i;  // right for simple names, the only ones whose end is used
        levels(name_, count(name_, u'\\') + 1, offset);
        prev_.decoded = true;
        std::swap(name_, previous_name_);
        moved_to(offset);
    }

    static constexpr int kDecode = kEnd - 1;

    static constexpr int fold_ascii(unsigned char c) { return c >= 'a' && c <= 'z' ? c - 0x20 : c; }

    // Bytes that stand for themselves in a name: not ']', '\\' or the start of UTF-8.
    static constexpr auto kPlain = [] {
        std::array<bool, 256> plain{};
        for (int c = 0; c < 0x80; ++c) plain[c] = c != ']' && c != '\\';
        return plain;
    }();

    // The order value of the name's byte at `m` (not inside an escape); kDecode when it needs
    // decoding.
    static int value_at(const unsigned char* text, std::size_t size, std::size_t m) {
        const unsigned char c = text[m];
        if (c == ']') return kEnd;
        if (c >= 0x80) return kDecode;
        if (c == '\\') return m + 1 < size && text[m + 1] == '\\' ? kSep : kDecode;
        return fold_ascii(c);
    }

    static std::size_t count(std::u16string_view s, char16_t u) {
        return static_cast<std::size_t>(std::count(s.begin(), s.end(), u));
    }

    void moved_to(std::uint64_t offset) {
        prev_.offset = offset;
        reader_.pin(offset);
        last_offset_ = offset;
    }

    // `name` (at least its first three components) of a section of `depth` components at
    // `offset`: ends the stretches of the keys it is not below, starts those of its own.
    void levels(std::u16string_view name, std::size_t depth, std::uint64_t offset) {
        const std::size_t k = std::min(depth, KeyIndex::kDepth);
        std::size_t ends[KeyIndex::kDepth];
        std::size_t found = 0;
        for (std::size_t p = 0; p <= name.size() && found < k; ++p)
            if (p == name.size() || name[p] == u'\\') ends[found++] = p;
        std::size_t d = 0;
        while (d < open_depth_ && d < k && index_.name(open_[d].entry) == name.substr(0, ends[d])) ++d;
        close_levels(d, offset);
        for (; d < k && index_.usable; ++d) open_level(d, name.substr(0, ends[d]), offset);
        if (depth <= KeyIndex::kDepth) note_exact(depth, offset);
    }

    // Starts the stretch of the key `name` at level d (0 for the first) at `offset`.
    void open_level(std::size_t d, std::u16string_view name, std::uint64_t offset) {
        const std::uint32_t e = index_.find_or_add(name);
        if (e == KeyIndex::kFull) {
            index_.usable = false;
            return;
        }
        open_[d] = {e, offset};
        open_depth_ = d + 1;
    }

    void note_exact(std::size_t depth, std::uint64_t offset) {
        if (depth > open_depth_) return;
        KeyIndex::Entry& e = index_.entry(open_[depth - 1].entry);
        if (e.exact == kNone) e.exact = offset;
    }

    void close_levels(std::size_t from_depth, std::uint64_t offset) {
        for (std::size_t d = from_depth; d < open_depth_; ++d)
            index_.add_range(open_[d].entry, open_[d].from, offset);
        open_depth_ = std::min(open_depth_, from_depth);
    }

    struct Open {
        std::uint32_t entry;
        std::uint64_t from;
    };

    LineReader& reader_;
    KeyIndex& index_;
    Shape prev_;
    Open open_[KeyIndex::kDepth] = {};
    std::size_t open_depth_ = 0;
    std::uint64_t last_offset_ = 0;
    std::u16string scratch_, name_, previous_name_;
};

constexpr std::u16string_view kSoftware = u"SOFTWARE";
constexpr std::u16string_view kWow6432Node = u"WOW6432NODE";

std::size_t component_count(std::u16string_view path) {
    return path.empty() ? 0 : 1 + static_cast<std::size_t>(std::count(path.begin(), path.end(), u'\\'));
}

// The first `n` components of `path`.
std::u16string_view leading(std::u16string_view path, std::size_t n) {
    std::size_t p = 0;
    for (std::size_t i = 0; i < n; ++i) {
        p = path.find(u'\\', p);
        if (p == std::u16string_view::npos) return path;
        if (i + 1 < n) ++p;
    }
    return path.substr(0, p);
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

// Whether `ancestor` is `path` or a key above it.
bool at_or_above(std::u16string_view ancestor, std::u16string_view path) {
    return ancestor.empty() || (path.substr(0, ancestor.size()) == ancestor &&
                                (path.size() == ancestor.size() || path[ancestor.size()] == u'\\'));
}

}  // namespace

struct WineRegistry::State {
    enum HiveId { machine = 0, user = 1 };

    // One registry file: open while keys below its root are, its index kept while it stays the same.
    struct Hive {
        std::filesystem::path file;
        int fd = -1;
        std::size_t users = 0;
        std::uint64_t size = 0;
        bool win64 = false;
        std::optional<FileIdentity> indexed;
        KeyIndex index;
        LineReader reader;

        explicit Hive(std::size_t buffer_size) : reader(buffer_size) {}
    };

    struct Key {
        HiveId hive = machine;
        std::u16string path;     // as the caller named it, folded; components joined by '\'
        bool wow = false;        // found under Software\Wow6432Node
        std::uint64_t start = 0;  // the first section at or below the key: searches below it start there
        bool section_known = false;
        std::uint64_t section = kNone;  // the key's own section, when it has one

        std::u16string physical_path() const { return wow ? wow_path_of(path) : path; }
    };

    // Where a search for a key's sections starts.
    struct Found {
        std::uint64_t first = kNone;  // the first section at or below the key
        bool exact = false;           // that section is the key's own
    };

    Hive hives[2];
    std::unordered_map<RegKey, Key> keys;
    RegKey next_key = 1;
    std::size_t index_builds = 0;

    explicit State(std::size_t buffer_size) : hives{Hive(buffer_size), Hive(buffer_size)} {}
    ~State() {
        for (Hive& h : hives)
            if (h.fd >= 0) ::close(h.fd);
    }

    Key* find(RegKey key) {
        const auto it = keys.find(key);
        return it == keys.end() ? nullptr : &it->second;
    }

    // The hive's file, opened (and indexed when it changed) at the first key below its root;
    // nullptr when it is missing or no Wine registry file.
    Hive* open_hive(HiveId id) {
        Hive& h = hives[id];
        if (h.fd >= 0) return &h;
        const int fd = ::open(h.file.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return nullptr;
        struct stat st {};
        char head[4096];
        ssize_t n = -1;
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) n = ::pread(fd, head, sizeof head, 0);
        const auto kind = n > 0 ? wine_reg::read_hive_kind(std::string_view(head, static_cast<std::size_t>(n)))
                                : wine_reg::HiveKind::invalid;
        if (kind == wine_reg::HiveKind::invalid) {
            ::close(fd);
            return nullptr;
        }
        h.fd = fd;
        h.win64 = kind == wine_reg::HiveKind::win64;
        h.size = static_cast<std::uint64_t>(st.st_size);
        h.reader.attach(fd);
        const FileIdentity identity(st);
        if (!h.indexed || !(*h.indexed == identity)) {
            h.index = KeyIndex();
            IndexBuilder(h.reader, h.index).run(h.size);
            h.indexed = identity;
            ++index_builds;
        }
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

    // The stretches of the file that hold every section at or below `path`; empty when there is
    // none. `exact` receives the key's own section when the index knows it.
    std::vector<Range> area_of(Hive& h, std::u16string_view path, const KeyIndex::Entry** entry) {
        *entry = nullptr;
        const std::size_t depth = component_count(path);
        if (!h.index.usable || depth == 0) return {{0, kNone}};
        const KeyIndex::Entry* e = h.index.find(leading(path, std::min(depth, KeyIndex::kDepth)));
        if (!e) return {};
        if (depth <= KeyIndex::kDepth) *entry = e;
        return h.index.ranges(*e);
    }

    // The first section at or below `path` (a physical path), searching from `start` on: the
    // caller knows no such section lies before it.
    Found locate(Hive& h, std::u16string_view path, std::uint64_t start) {
        Found found;
        const KeyIndex::Entry* entry = nullptr;
        const std::vector<Range> area = area_of(h, path, &entry);
        if (area.empty()) return found;
        if (entry) {
            found.first = area.front().from;
            found.exact = entry->exact == found.first;
            return found;
        }
        search(h, area, path, start, [&](std::uint64_t at, SectionOrder order) {
            found.first = at;
            found.exact = order == SectionOrder::exact;
            return true;
        });
        return found;
    }

    // The key's own section.
    std::uint64_t own_section(Hive& h, const Key& key) {
        const std::u16string path = key.physical_path();
        const KeyIndex::Entry* entry = nullptr;
        const std::vector<Range> area = area_of(h, path, &entry);
        if (entry) return entry->exact;
        std::uint64_t section = kNone;
        search(h, area, path, key.start, [&](std::uint64_t at, SectionOrder order) {
            if (order != SectionOrder::exact) return false;
            section = at;
            return true;
        });
        return section;
    }

    // Calls hit(offset, order) for the sections at or below `path` in `area` from `start` on,
    // until it returns true. Where the sections come in order, a section that sorts after the key
    // ends the search of that ordered stretch.
    template <typename Hit>
    void search(Hive& h, const std::vector<Range>& area, std::u16string_view path, std::uint64_t start, Hit&& hit) {
        for (const Range& r : area) {
            const std::uint64_t to = r.to;
            if (to <= start) continue;
            h.reader.seek(std::max(r.from, start), to);
            std::uint64_t at = 0;
            std::string_view line;
            while (h.reader.next_section(at, line)) {
                const SectionOrder order = wine_reg::compare_section(line, path);
                if (order == SectionOrder::exact || order == SectionOrder::below) {
                    if (hit(at, order)) return;
                    if (order == SectionOrder::exact) continue;
                } else if (order != SectionOrder::after) {
                    continue;
                }
                // Past the key (or, for a search of its own section, past that section): nothing
                // more to find in this ordered stretch.
                const std::uint64_t next = h.index.next_break(at);
                if (next == at) continue;
                if (next >= to) break;
                h.reader.seek(next, to);
            }
        }
    }

    std::optional<wine_reg::Value> read_value(RegKey handle, std::string_view name) {
        Key* key = find(handle);
        if (!key) return std::nullopt;
        Hive& h = hives[key->hive];
        if (h.fd < 0) return std::nullopt;
        if (!key->section_known) {
            key->section = own_section(h, *key);
            key->section_known = true;
        }
        if (key->section == kNone) return std::nullopt;
        h.reader.seek(key->section, key->section + 1);
        std::string_view line;
        bool terminated = false;
        if (!h.reader.next_line(line, terminated) || line.empty() || line[0] != '[') return std::nullopt;
        wine_reg::ValueFinder finder(wine_reg::folded_utf16(name));
        while (terminated && h.reader.next_line(line, terminated)) {
            if (!line.empty() && line[0] == '[') break;
            finder.line(line, terminated);
        }
        return finder.result();
    }
};

WineRegistry::WineRegistry(std::filesystem::path prefix, std::size_t buffer_size)
    : state_(std::make_unique<State>(buffer_size)) {
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

    const bool parent_wow = key.wow;
    const std::size_t parent_depth = component_count(key.path);
    const std::u16string parent_physical = key.physical_path();
    const std::uint64_t parent_start = key.start;
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

    // Where a search below the parent starts: its first section, when the parent's sections lie
    // in the same stretches as the key's.
    auto start_for = [&](std::u16string_view physical) -> std::uint64_t {
        if (!parent_key || !at_or_above(parent_physical, physical)) return 0;
        if (hive->index.usable && component_count(parent_physical) < KeyIndex::kDepth) return 0;
        return parent_start;
    };

    // Below a key already found outside Wow6432Node, nothing lies under Wow6432Node either.
    const bool redirect = key.hive == State::machine && hive->win64 && redirectable(key.path) &&
                          (!parent_key || parent_wow || parent_depth < 2);
    State::Found found;
    key.wow = false;
    if (redirect) {
        const std::u16string wow = wow_path_of(key.path);
        found = s.locate(*hive, wow, start_for(wow));
        key.wow = found.first != kNone;
    }
    if (found.first == kNone) found = s.locate(*hive, key.path, start_for(key.path));
    if (found.first == kNone) {
        if (!parent_key) s.release_if_unused(key.hive);
        return 0;
    }
    key.start = found.first;
    key.section_known = found.exact;
    key.section = found.exact ? found.first : kNone;
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
    const State::HiveId hive = it->second.hive;
    s.keys.erase(it);
    --s.hives[hive].users;
    s.release_if_unused(hive);
}

std::size_t WineRegistry::open_key_count() const { return state_->keys.size(); }

std::size_t WineRegistry::index_builds() const { return state_->index_builds; }

}  // namespace aggiorna::portable
