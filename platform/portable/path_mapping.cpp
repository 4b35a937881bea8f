// Windows paths to native paths in a Wine prefix and back.
#include "platform/portable/path_mapping.h"

#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <system_error>
#include <vector>

#include "platform/portable/cp1252.h"

namespace aggiorna::portable {
namespace fs = std::filesystem;

namespace {

bool is_ascii_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
char ascii_lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
char ascii_upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// The lower-case form of a code point for the scripts a Western European Windows installation
// names its files in; everything else is its own lower case.
char32_t fold(char32_t cp) {
    if (cp >= 'A' && cp <= 'Z') return cp + 32;
    if (cp >= 0xC0 && cp <= 0xDE && cp != 0xD7) return cp + 32;
    if (cp == 0x178) return 0xFF;  // Ÿ
    if ((cp >= 0x100 && cp <= 0x12F) || (cp >= 0x132 && cp <= 0x137) || (cp >= 0x14A && cp <= 0x177))
        return cp | 1;  // pairs with the capital on the even code point
    if ((cp >= 0x139 && cp <= 0x148) || (cp >= 0x179 && cp <= 0x17E))
        return (cp & 1) ? cp + 1 : cp;  // pairs with the capital on the odd code point
    return cp;
}

// A name as a sequence of folded code points; a byte that is not part of valid UTF-8 becomes a
// value outside Unicode so that it only ever equals the same byte.
std::u32string folded(std::string_view name) {
    std::u32string out;
    out.reserve(name.size());
    for (std::size_t pos = 0; pos < name.size();) {
        const std::size_t start = pos;
        if (const auto cp = next_code_point(name, pos)) {
            out += fold(*cp);
        } else {
            out += static_cast<char32_t>(0x110000 + static_cast<unsigned char>(name[start]));
        }
    }
    return out;
}

bool entry_exists(const fs::path& p) {
    struct stat st;
    return ::lstat(p.c_str(), &st) == 0;
}

// The entry of `folder` whose name matches `name` ignoring case; the smallest such name in byte
// order, so that the choice does not depend on the order of the folder listing.
std::optional<std::string> find_ignoring_case(const fs::path& folder, const std::string& name) {
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    if (ec) return std::nullopt;
    const std::u32string wanted = folded(name);
    std::optional<std::string> best;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec) break;
        std::string candidate = it->path().filename().string();
        if (folded(candidate) == wanted && (!best || candidate < *best)) best = std::move(candidate);
    }
    return best;
}

bool starts_with_path(const fs::path& whole, const fs::path& head) {
    auto w = whole.begin();
    for (auto h = head.begin(); h != head.end(); ++h, ++w) {
        if (h->empty()) continue;  // the empty last element of a path ending in a separator
        if (w == whole.end() || *w != *h) return false;
    }
    return true;
}

std::size_t component_count(const fs::path& p) {
    std::size_t n = 0;
    for (const auto& c : p) n += c.empty() ? 0 : 1;
    return n;
}

}  // namespace

bool names_equal_ignoring_case(std::string_view a, std::string_view b) { return folded(a) == folded(b); }

std::optional<fs::path> map_windows_path(const fs::path& prefix, std::string_view windows_path) {
    if (windows_path.size() < 2 || windows_path[1] != ':' || !is_ascii_letter(windows_path[0]))
        return std::nullopt;
    // A NUL would silently cut the path short at the system call.
    if (windows_path.find('\0') != std::string_view::npos) return std::nullopt;

    const char letter = ascii_lower(windows_path[0]);
    const fs::path drive = prefix / "dosdevices" / std::string{letter, ':'};
    fs::path root;
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(drive, ec))) {
        if (letter != 'z') return std::nullopt;
        root = "/";
    } else {
        const fs::path target = fs::canonical(drive, ec);
        root = ec ? drive : target;  // a dangling drive link still maps; nothing under it exists
    }

    std::vector<std::string> parts;
    const std::string_view rest = windows_path.substr(2);
    for (std::size_t pos = 0; pos <= rest.size();) {
        std::size_t end = rest.find_first_of("\\/", pos);
        if (end == std::string_view::npos) end = rest.size();
        const std::string_view part = rest.substr(pos, end - pos);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.emplace_back(part);
        }
        pos = end + 1;
    }

    fs::path mapped = root;
    bool found_so_far = true;
    for (const std::string& part : parts) {
        if (found_so_far) {
            if (entry_exists(mapped / part)) {
                mapped /= part;
                continue;
            }
            if (auto match = find_ignoring_case(mapped, part)) {
                mapped /= *match;
                continue;
            }
            found_so_far = false;
        }
        mapped /= part;
    }
    return mapped;
}

std::string to_windows_path(const fs::path& prefix, const fs::path& native) {
    std::error_code ec;
    fs::path path = fs::weakly_canonical(fs::absolute(native, ec), ec);
    if (ec) path = fs::absolute(native).lexically_normal();

    // Drives in letter order, so that of two drives with the same target the first letter wins.
    std::vector<std::pair<char, fs::path>> drives;
    for (fs::directory_iterator it(prefix / "dosdevices", ec); !ec && it != fs::directory_iterator();
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() != 2 || name[1] != ':' || !is_ascii_letter(name[0])) continue;
        std::error_code target_ec;
        fs::path target = fs::canonical(it->path(), target_ec);
        if (!target_ec) drives.emplace_back(ascii_lower(name[0]), std::move(target));
    }
    std::sort(drives.begin(), drives.end());

    char letter = 'z';
    fs::path root = "/";
    std::size_t best = 0;
    bool have_drive = false;
    for (const auto& [drive_letter, target] : drives) {
        const std::size_t length = component_count(target);
        if (starts_with_path(path, target) && (!have_drive || length > best)) {
            letter = drive_letter;
            root = target;
            best = length;
            have_drive = true;
        }
    }

    std::string out{ascii_upper(letter), ':'};
    const fs::path relative = path.lexically_relative(root);
    for (const auto& part : relative) {
        if (part.empty() || part == ".") continue;
        out += '\\';
        out += part.string();
    }
    if (out.size() == 2) out += '\\';
    return out;
}

}  // namespace aggiorna::portable
