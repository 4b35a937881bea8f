// libFuzzer target: the Wine registry reader (WineRegistry) on any registry file contents, making
// the program's own lookups through its public interface.
//
// Input: the first byte sets the size of the value area (0 to 255 bytes); the rest is written as
// both system.reg and user.reg of a scratch prefix. Every lookup must end in a value, a missing
// value or an aggiorna::Error, and keep the interface's promises: a failed query_value leaves the
// area and the length untouched, a successful one fits in the area, query_string gives UTF-8, and
// no value is kept beyond its bound.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/portable/wine_registry.h"

namespace {

using namespace aggiorna;
namespace fs = std::filesystem;

[[noreturn]] void failure(const char* what) {
    std::fprintf(stderr, "fuzz_wine_registry: %s\n", what);
    std::abort();
}

bool valid_utf8(const std::string& s) {
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        std::size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (n == 0 || i + n > s.size()) return false;
        for (std::size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += n;
    }
    return true;
}

struct Lookup {
    RegKey root;
    const char* path;  // several components, separated by '\'
    std::vector<const char*> values;
};

// The program's lookups, plus names that exercise case folding and the Latin-1 letters.
const std::vector<Lookup>& lookups() {
    static const std::vector<Lookup> all = {
        {kHkeyLocalMachine, "Software\\Quibex\\Quintrel! 4", {"InstallPath", "Version", ""}},
        {kHkeyLocalMachine, "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\quintrel.exe", {"", "Path"}},
        {kHkeyLocalMachine, "SOFTWARE\\wow6432node\\QUIBEX\\quintrel! 4", {"installpath"}},
        {kHkeyCurrentUser, "Software\\VB and VBA Program Settings\\Quintrel! 4\\Options",
         {"Formato valuta", "Nome valuta", "Ritenuta", "Show Tips at Startup"}},
        {kHkeyCurrentUser, "Software\\VB and VBA Program Settings\\Quintrel! 4\\Startup",
         {"Prima esecuzione", "NewVersName", "NewVersNumber"}},
        {kHkeyCurrentUser, "Software\\Societ\xC3\xA0\\Citt\xC3\xA0", {"Citt\xC3\xA0", "\xC3\xA8"}},
        {kHkeyCurrentUser, "A", {"a", "B"}},
    };
    return all;
}

void query(portable::WineRegistry& registry, RegKey key, const char* name, std::size_t area_size) {
    constexpr std::uint8_t kCanary = 0xCD;
    std::vector<std::uint8_t> area(area_size + 16, kCanary);
    std::uint32_t length = 0xDEADBEEF;
    const bool found = registry.query_value(key, name, std::span(area.data(), area_size), length);
    if (found) {
        if (length > area_size) failure("query_value: length beyond the area");
    } else {
        if (length != 0xDEADBEEF) failure("query_value failed but changed the length");
        for (std::size_t i = 0; i < area_size; ++i)
            if (area[i] != kCanary) failure("query_value failed but wrote into the area");
    }
    for (std::size_t i = area_size; i < area.size(); ++i)
        if (area[i] != kCanary) failure("query_value wrote past the area");
    if (const auto text = registry.query_string(key, name); text && !valid_utf8(*text))
        failure("query_string gave text that is not UTF-8");
    if (const auto raw = registry.query_raw(key, name);
        raw && (raw->data.size() > portable::wine_reg::kMaxData || raw->data.size() > raw->size))
        failure("query_raw kept more than its bound or than the value");
}

void run_lookups(portable::WineRegistry& registry, std::size_t area_size) {
    for (const auto& lookup : lookups()) {
        // The whole path at once, as the program opens its keys.
        if (const RegKey key = registry.open_key(lookup.root, lookup.path, reg_access::read)) {
            for (const char* name : lookup.values) query(registry, key, name, area_size);
            registry.close_key(key);
        }
        // Component by component, every parent left open until the end and closed last first.
        std::vector<RegKey> chain;
        RegKey parent = lookup.root;
        std::string_view rest = lookup.path;
        while (!rest.empty()) {
            const auto cut = rest.find('\\');
            const RegKey key = registry.open_key(parent, rest.substr(0, cut), reg_access::query_value);
            if (!key) break;
            chain.push_back(key);
            parent = key;
            rest = cut == std::string_view::npos ? std::string_view{} : rest.substr(cut + 1);
        }
        if (rest.empty() && !chain.empty())
            for (const char* name : lookup.values) query(registry, chain.back(), name, area_size);
        for (auto it = chain.rbegin(); it != chain.rend(); ++it) registry.close_key(*it);
    }
}

const fs::path& scratch_prefix() {
    static const fs::path dir = [] {
        const char* base = std::getenv("TMPDIR");
        fs::path p = fs::path(base ? base : "/tmp") / ("fuzz_wine_registry." + std::to_string(::getpid()));
        fs::create_directories(p);
        return p;
    }();
    return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::size_t area_size = data[0];
    const fs::path& prefix = scratch_prefix();
    for (const char* name : {"system.reg", "user.reg"}) {
        std::ofstream out(prefix / name, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data) + 1, static_cast<std::streamsize>(size - 1));
        if (!out) failure("cannot write the scratch registry file");
    }
    try {
        portable::WineRegistry registry(prefix);
        run_lookups(registry, area_size);
    } catch (const Error&) {
        // One of the program's codes is a proper end.
    }
    return 0;
}
