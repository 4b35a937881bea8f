// The portable backend's registry: HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER read from a Wine
// prefix's system.reg and user.reg.
#pragma once

#include "platform/platform.h"
#include "platform/portable/wine_reg_parse.h"

#include <filesystem>
#include <memory>
#include <optional>

namespace aggiorna::portable {

// Reads the registry files of a Wine prefix; nothing is ever written. The files are read as Wine's
// own loader reads them (a key written in several sections has the values of all of them, the
// later definition of a value winning).
//
// Lookups read the 32-bit view, the one the 32-bit host writes: on a 64-bit prefix a key under
// HKLM\Software\X is looked for under Software\Wow6432Node\X first and, where it is not there,
// under Software\X (Wine shares some keys between the views). A missing prefix or file, a file
// that is not a regular file or not a Wine registry, reads as an empty registry; a file cut short
// while it is read reads as the shorter file. The file of a root is opened at the first open_key
// below that root and closed with the last handle of that root, so one lookup sees one file.
//
// No tree is held in memory: the first lookup in a file reads it once through and notes where each
// section stands, under a hash of its key's path (and of the keys above it); later lookups read
// only the sections of the keys asked for. The notes are kept while the file stays the same
// (device, inode, size, times). Their memory is bounded: in a file with more sections than they
// keep, the deepest keys are left out, and a lookup that reaches below the keys noted reads the
// file once more for the subtree of the key it asks for, whose keys are then noted (one subtree
// at a time). A key written in more sections than even that keeps is read through the file, once
// for the key and once for each value asked. A value longer than wine_reg::kMaxData is measured,
// not stored, and reads as not fitting.
class WineRegistry final : public Registry {
public:
    // `max_notes` bounds the notes of a file and of a subtree, in sections: 4 MiB of them.
    static constexpr std::size_t kMaxNotes = std::size_t{1} << 19;
    explicit WineRegistry(std::filesystem::path prefix, std::size_t max_notes = kMaxNotes);
    ~WineRegistry() override;
    WineRegistry(const WineRegistry&) = delete;
    WineRegistry& operator=(const WineRegistry&) = delete;

    // `name` may hold several components separated by '\'; access masks are never refused.
    RegKey open_key(RegKey parent, std::string_view name, std::uint32_t access) override;
    // On failure `length` is left as it was.
    bool query_value(RegKey key, std::string_view name, std::span<std::uint8_t> area,
                     std::uint32_t& length) override;
    std::optional<std::string> query_string(RegKey key, std::string_view name) override;
    // REG_EXPAND_SZ expanded against the environment a 32-bit program of this prefix starts with,
    // as build_environment (wine_environment.h) makes it from this registry at the first
    // expansion of the run.
    std::optional<std::string> query_path(RegKey key, std::string_view name) override;
    // Closing a root, an unknown key or an already closed key does nothing.
    void close_key(RegKey key) override;

    // The value as Wine holds it (type, UTF-16 strings with their NUL), for tests and tools.
    std::optional<wine_reg::Value> query_raw(RegKey key, std::string_view name);
    // Keys opened and not yet closed.
    std::size_t open_key_count() const;
    // How many times a file was read through: once to note its sections while it stays the
    // same, and once for each lookup its notes did not reach.
    std::size_t passes() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

// The architecture a registry file of a prefix is for, as Wine reads its "#arch=" line (win32 when
// it has none); nullopt when the file is missing, is not a regular file or is no Wine registry.
enum class RegistryArch { win32, win64 };
std::optional<RegistryArch> registry_arch(const std::filesystem::path& file);

}  // namespace aggiorna::portable
