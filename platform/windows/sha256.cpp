// SHA-256 over BCryptOpenAlgorithmProvider, BCryptCreateHash, BCryptHashData, BCryptFinishHash.
#include "platform/windows/sha256.h"

#include <algorithm>
#include <cstdio>

#include "platform/platform.h"

#include <bcrypt.h>

namespace aggiorna::windows {
namespace {

constexpr int kDeviceIoError = 57;

void check(NTSTATUS status, const char* call) {
    if (status >= 0) return;
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(status));
    throw Error(kDeviceIoError, std::string(call) + " failed with NTSTATUS " + text);
}

}  // namespace

std::string hex_digits(const std::uint8_t* bytes, std::size_t size) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(size * 2);
    for (std::size_t i = 0; i < size; ++i) {
        text.push_back(kDigits[bytes[i] >> 4]);
        text.push_back(kDigits[bytes[i] & 0xF]);
    }
    return text;
}

Sha256::Sha256() {
    BCRYPT_ALG_HANDLE provider = nullptr;
    check(BCryptOpenAlgorithmProvider(&provider, BCRYPT_SHA256_ALGORITHM, nullptr, 0),
          "BCryptOpenAlgorithmProvider (SHA-256)");
    provider_ = provider;
    try {
        DWORD object_size = 0;
        ULONG got = 0;
        check(BCryptGetProperty(provider, BCRYPT_OBJECT_LENGTH, reinterpret_cast<PUCHAR>(&object_size),
                                sizeof object_size, &got, 0),
              "BCryptGetProperty (object length)");
        object_.resize(object_size);
        BCRYPT_HASH_HANDLE hash = nullptr;
        check(BCryptCreateHash(provider, &hash, object_.data(), object_size, nullptr, 0, 0), "BCryptCreateHash");
        hash_ = hash;
    } catch (...) {
        BCryptCloseAlgorithmProvider(provider, 0);
        throw;
    }
}

Sha256::~Sha256() {
    if (hash_ != nullptr) BCryptDestroyHash(hash_);
    BCryptCloseAlgorithmProvider(provider_, 0);
}

void Sha256::add(const void* bytes, std::size_t size) {
    const auto* at = static_cast<const std::uint8_t*>(bytes);
    while (size > 0) {
        const ULONG part = static_cast<ULONG>(std::min<std::size_t>(size, 1u << 30));
        check(BCryptHashData(hash_, const_cast<PUCHAR>(at), part, 0), "BCryptHashData");
        at += part;
        size -= part;
    }
}

std::string Sha256::finish() {
    std::uint8_t digest[32] = {};
    check(BCryptFinishHash(hash_, digest, sizeof digest, 0), "BCryptFinishHash");
    return hex_digits(digest, sizeof digest);
}

}  // namespace aggiorna::windows
