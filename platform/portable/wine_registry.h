// The portable backend's registry: HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER read from a Wine
// prefix's system.reg and user.reg.
#pragma once

#include "platform/platform.h"

#include <filesystem>
#include <memory>

namespace aggiorna::portable {

// Reads the registry files of a Wine prefix; nothing is ever written.
//
// Lookups read the 32-bit view, the one the 32-bit host writes: on a 64-bit prefix a key under
// HKLM\Software\X is looked for under Software\Wow6432Node\X first and, where it is not there,
// under Software\X (Wine shares some keys between the views). A missing prefix or file, or a file
// that is not a Wine registry, reads as an empty registry; a file cut short while it is read reads
// as the shorter file. The file of a root is opened at the first open_key below that root and
// closed with the last handle of that root, so one lookup sees one consistent file.
//
// No tree is held in memory: the first lookup in a file reads it once through, in pieces of
// `buffer_size` bytes, and keeps a small index (the stretches of the file below each key of the
// first three levels, and where the order of the sections breaks); later lookups read only those
// stretches. The index is kept while the file stays the same (device, inode, size, times).
class WineRegistry final : public Registry {
public:
    static constexpr std::size_t kDefaultBufferSize = 256 * 1024;
    explicit WineRegistry(std::filesystem::path prefix, std::size_t buffer_size = kDefaultBufferSize);
    ~WineRegistry() override;
    WineRegistry(const WineRegistry&) = delete;
    WineRegistry& operator=(const WineRegistry&) = delete;

    // `name` may hold several components separated by '\'; access masks are never refused.
    RegKey open_key(RegKey parent, std::string_view name, std::uint32_t access) override;
    // On failure `length` is left as it was.
    bool query_value(RegKey key, std::string_view name, std::span<std::uint8_t> area,
                     std::uint32_t& length) override;
    std::optional<std::string> query_string(RegKey key, std::string_view name) override;
    // Closing a root, an unknown key or an already closed key does nothing.
    void close_key(RegKey key) override;

    // Keys opened and not yet closed.
    std::size_t open_key_count() const;
    // How many times a file was read through to index it: once per file while it stays the same.
    std::size_t index_builds() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace aggiorna::portable
