// SHA-256 through CNG (bcrypt.dll, Windows Vista and later): the hash of a copy's bytes as they
// are read, and of a whole file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/windows/win.h"

namespace aggiorna::windows {

// One running SHA-256. Every failure of CNG throws Error (57, the device I/O error) with the
// call and its NTSTATUS in the detail; the provider and the hash object are released on every path.
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void add(const void* bytes, std::size_t size);
    // The digest as 64 lowercase hex digits; the object takes no more bytes after it.
    std::string finish();

private:
    void* provider_ = nullptr;          // BCRYPT_ALG_HANDLE
    void* hash_ = nullptr;              // BCRYPT_HASH_HANDLE
    std::vector<std::uint8_t> object_;  // the hash object's memory, which Vista wants from the caller
};

// The digest's bytes as lowercase hex digits.
std::string hex_digits(const std::uint8_t* bytes, std::size_t size);

}  // namespace aggiorna::windows
