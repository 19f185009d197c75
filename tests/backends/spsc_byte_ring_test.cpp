#include "jack/midi_message_splitter.h"
#include "jack/spsc_byte_ring.h"

#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace strata {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(SpscByteRing, WritesAreAllOrNothingAndWrapAround) {
    SpscByteRing ring(60);
    ASSERT_EQ(ring.capacity(), 64u);
    Bytes in(40), out(40);
    for (int round = 0; round < 10; ++round) { // positions wrap past the end many times
        for (std::size_t i = 0; i < in.size(); ++i)
            in[i] = static_cast<std::uint8_t>(round * 40 + i);
        ASSERT_TRUE(ring.write(in.data(), 30, in.data() + 30, 10));
        EXPECT_FALSE(ring.write(in.data(), 25)) << "does not fit: nothing written";
        EXPECT_EQ(ring.readable(), 40u);
        std::uint8_t first = 0;
        ASSERT_TRUE(ring.peek(&first, 1, 5));
        EXPECT_EQ(first, in[5]);
        ASSERT_TRUE(ring.read(out.data(), out.size()));
        EXPECT_EQ(out, in);
        EXPECT_TRUE(ring.empty());
    }
    EXPECT_FALSE(ring.peek(out.data(), 1));
    const Bytes full(64, 0x55);
    EXPECT_TRUE(ring.write(full.data(), full.size()));
    EXPECT_EQ(ring.writable(), 0u);
}

TEST(SpscByteRing, TwoThreadsSeeEveryRecordWholeAndInOrder) {
    SpscByteRing ring(1024);
    constexpr std::uint32_t kRecords = 20000;
    std::thread producer([&] {
        for (std::uint32_t n = 0; n < kRecords;) {
            const std::uint32_t length = n % 37;
            Bytes payload(length, static_cast<std::uint8_t>(n));
            const std::uint32_t header[2] = {n, length};
            if (ring.write(header, sizeof header, payload.data(), length))
                ++n;
            else
                std::this_thread::yield();
        }
    });
    std::uint32_t expected = 0;
    while (expected < kRecords) {
        std::uint32_t header[2];
        if (!ring.peek(header, sizeof header)) {
            std::this_thread::yield();
            continue;
        }
        ASSERT_EQ(header[0], expected);
        ASSERT_EQ(header[1], expected % 37);
        Bytes payload(header[1]);
        ASSERT_TRUE(ring.peek(payload.data(), payload.size(), sizeof header));
        for (std::uint8_t b : payload)
            ASSERT_EQ(b, static_cast<std::uint8_t>(expected));
        ring.skip(sizeof header + header[1]);
        ++expected;
    }
    producer.join();
    EXPECT_TRUE(ring.empty());
}

TEST(MidiMessageSplitter, CutsAStreamIntoSingleMessages) {
    const struct {
        const char* what;
        Bytes in;
        std::vector<Bytes> out;
    } cases[] = {
        {"press and release",
         {0x90, 0x10, 0x7F, 0x90, 0x10, 0x00},
         {{0x90, 0x10, 0x7F}, {0x90, 0x10, 0x00}}},
        {"running status expanded",
         {0xB0, 0x07, 0x10, 0x07, 0x20},
         {{0xB0, 0x07, 0x10}, {0xB0, 0x07, 0x20}}},
        {"two-byte messages", {0xC1, 0x05, 0x06}, {{0xC1, 0x05}, {0xC1, 0x06}}},
        {"system exclusive whole",
         {0xF0, 0x00, 0x66, 0xF7, 0xC0, 0x01},
         {{0xF0, 0x00, 0x66, 0xF7}, {0xC0, 0x01}}},
        {"real time inside a message's gap",
         {0xF8, 0x90, 0x3C, 0x40},
         {{0xF8}, {0x90, 0x3C, 0x40}}},
        {"unterminated exclusive ends at a status",
         {0xF0, 0x01, 0x02, 0x90, 0x3C, 0x40},
         {{0xF0, 0x01, 0x02}, {0x90, 0x3C, 0x40}}},
        {"continuation of an exclusive", {0x01, 0x02, 0xF7}, {{0x01, 0x02, 0xF7}}},
        {"truncated message kept", {0x90, 0x3C}, {{0x90, 0x3C}}},
        {"system common", {0xF2, 0x01, 0x02, 0xF6}, {{0xF2, 0x01, 0x02}, {0xF6}}},
        {"nothing", {}, {}},
    };
    for (const auto& c : cases) {
        std::vector<Bytes> out;
        MidiMessageSplitter::split(
            c.in.data(), c.in.size(),
            [&](const std::uint8_t* d, std::size_t n) { out.emplace_back(d, d + n); });
        EXPECT_EQ(out, c.out) << c.what;
    }
}

} // namespace
} // namespace strata
