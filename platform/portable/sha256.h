// SHA-256 through OpenSSL's libcrypto (EVP): the sum of a delivered file, and the sum a copy takes
// of what it reads, on a thread of its own so that the copy goes on writing meanwhile.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <semaphore>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace aggiorna::portable {

class Sha256 {
public:
    // Throws std::bad_alloc when libcrypto cannot make its context, as any allocation would.
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void update(const void* data, std::size_t size) noexcept;
    // The sum of every byte given so far, 64 lowercase hex digits. Ends the stream: call it once.
    std::string hex();

private:
    struct Context;
    std::unique_ptr<Context> context_;
};

// The SHA-256 of a stream that the caller reads chunk by chunk into the buffers this hands out:
// each chunk handed over is hashed on another thread while the caller goes on with it (writes
// it) and reads the next. A buffer comes back once its chunk is hashed, so that the memory stays
// kChunks * kChunk bytes whatever the stream's length.
class BackgroundSha256 {
public:
    static constexpr std::size_t kChunk = 256 * 1024, kChunks = 4;
    // `on_a_thread` false, or no thread to be had (a process limit): each chunk is summed when it
    // is handed over.
    explicit BackgroundSha256(bool on_a_thread = true);
    // Waits for the thread, which first sums what was handed over.
    ~BackgroundSha256();
    BackgroundSha256(const BackgroundSha256&) = delete;
    BackgroundSha256& operator=(const BackgroundSha256&) = delete;

    // The buffer for the next chunk (kChunk bytes), waiting while all are still being hashed. The
    // caller may read a chunk it handed over until it asks for kChunks more buffers.
    std::span<std::uint8_t> next();
    // Hands over the first `size` bytes of the buffer next() gave last.
    void hash(std::size_t size);
    // The sum of all chunks handed over, once they are hashed. Ends the stream: call it once.
    std::string hex();

private:
    void run();
    void stop();

    Sha256 sum_;
    std::vector<std::uint8_t> memory_;
    std::size_t sizes_[kChunks] = {};
    std::counting_semaphore<kChunks> free_{kChunks};
    std::counting_semaphore<kChunks + 1> handed_{0};
    std::atomic<std::uint64_t> head_{0};  // chunks handed over
    std::uint64_t tail_ = 0;              // chunks hashed (the thread's own)
    std::thread thread_;                  // last: started once everything above is made
};

}  // namespace aggiorna::portable
