// Sha256 over EVP (libcrypto uses the processor's SHA extensions where it has them), and the
// thread that sums a copy's chunks.
#include "platform/portable/sha256.h"

#include <openssl/evp.h>

#include <new>
#include <system_error>

namespace aggiorna::portable {

struct Sha256::Context {
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    ~Context() { EVP_MD_CTX_free(ctx); }
};

Sha256::Sha256() : context_(std::make_unique<Context>()) {
    if (!context_->ctx || EVP_DigestInit_ex(context_->ctx, EVP_sha256(), nullptr) != 1) throw std::bad_alloc();
}

Sha256::~Sha256() = default;

void Sha256::update(const void* data, std::size_t size) noexcept {
    // With a context made for SHA-256 an update cannot fail.
    if (size > 0) EVP_DigestUpdate(context_->ctx, data, size);
}

std::string Sha256::hex() {
    unsigned char sum[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_DigestFinal_ex(context_->ctx, sum, &size);
    constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(2 * size);
    for (unsigned int i = 0; i < size; ++i) {
        text += kDigits[sum[i] >> 4];
        text += kDigits[sum[i] & 0xF];
    }
    return text;
}

BackgroundSha256::BackgroundSha256(bool on_a_thread) : memory_(kChunks * kChunk) {
    try {
        if (on_a_thread) thread_ = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        // The copy goes on, summing as it goes.
    }
}

BackgroundSha256::~BackgroundSha256() { stop(); }

std::span<std::uint8_t> BackgroundSha256::next() {
    free_.acquire();
    return {memory_.data() + (head_.load() % kChunks) * kChunk, kChunk};
}

void BackgroundSha256::hash(std::size_t size) {
    const std::size_t slot = head_.load() % kChunks;
    sizes_[slot] = size;
    head_.fetch_add(1);
    if (thread_.joinable()) {
        handed_.release();
        return;
    }
    sum_.update(memory_.data() + slot * kChunk, size);
    free_.release();
}

std::string BackgroundSha256::hex() {
    stop();
    return sum_.hex();
}

void BackgroundSha256::stop() {
    if (!thread_.joinable()) return;
    handed_.release();  // one more than the chunks: the thread ends when it finds none left
    thread_.join();
}

void BackgroundSha256::run() {
    for (;;) {
        handed_.acquire();
        if (tail_ == head_.load()) return;
        const std::size_t slot = tail_ % kChunks;
        sum_.update(memory_.data() + slot * kChunk, sizes_[slot]);
        ++tail_;
        free_.release();
    }
}

}  // namespace aggiorna::portable
