// Tests of the SHA-256 sums: libcrypto's, and the copy's, taken chunk by chunk on a thread.
#include "platform/portable/sha256.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace aggiorna::portable {
namespace {

std::string sum_of(const std::string& data) {
    Sha256 sum;
    sum.update(data.data(), data.size());
    return sum.hex();
}

TEST(Sha256, PublishedVectors) {
    EXPECT_EQ(sum_of(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(sum_of("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    Sha256 pieces;  // the same bytes handed over in pieces
    for (const char* piece : {"a", "", "bc"}) pieces.update(piece, std::strlen(piece));
    EXPECT_EQ(pieces.hex(), sum_of("abc"));
}

// The stream handed over in chunks of every size, through more chunks than there are buffers (so
// each buffer is used again): the same sum as at once, on the thread and without one.
TEST(BackgroundSha256, SameSumAsAtOnceWhateverTheChunks) {
    std::string data(3 * BackgroundSha256::kChunks * BackgroundSha256::kChunk + 777, '\0');
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 131 + i / 7919);
    const std::string expected = sum_of(data);
    for (const bool on_a_thread : {true, false}) {
        for (const std::size_t step : {std::size_t{1} << 10, BackgroundSha256::kChunk - 3, BackgroundSha256::kChunk}) {
            SCOPED_TRACE(std::to_string(on_a_thread) + " " + std::to_string(step));
            BackgroundSha256 sum(on_a_thread);
            for (std::size_t at = 0; at < data.size(); at += step) {
                const auto buffer = sum.next();
                ASSERT_EQ(buffer.size(), BackgroundSha256::kChunk);
                ASSERT_EQ(reinterpret_cast<std::uintptr_t>(buffer.data()) % alignof(std::max_align_t), 0u);
                const std::size_t n = std::min(step, data.size() - at);
                std::memcpy(buffer.data(), data.data() + at, n);
                sum.hash(n);
            }
            EXPECT_EQ(sum.hex(), expected);
        }
    }
    // Nothing handed over: the sum of nothing; abandoned midway: the thread still ends.
    EXPECT_EQ(BackgroundSha256().hex(), sum_of(""));
    BackgroundSha256 abandoned;
    abandoned.next();
    abandoned.hash(5);
    abandoned.next();
}

}  // namespace
}  // namespace aggiorna::portable
