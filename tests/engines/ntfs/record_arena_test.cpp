#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory_resource>
#include <unordered_map>
#include <vector>

#include "engines/record_arena.h"

namespace {

struct piece_s {
    uint8_t* at;
    size_t bytes;
    size_t alignment;
    uint8_t mark;
};

// Sizes and alignments as a map and a listing ask for them, and larger than a block.
TEST(RecordArena, PiecesAreAlignedAndNeverOverlapAcrossBlocks) {
    record_arena_c arena;
    const size_t sizes[] = {1, 24, 640, 4096, 70000, (5u << 20) + 3};
    const size_t alignments[] = {1, 8, 16, 64, 4096};
    for (int round = 0; round < 2; ++round) {
        std::vector<piece_s> pieces;
        uint8_t mark = 1;
        for (int repeat = 0; repeat < 40; ++repeat) {
            for (size_t bytes : sizes) {
                if (bytes > (1u << 20) && repeat > 0) {
                    continue;  // one round of the large ones is enough
                }
                for (size_t alignment : alignments) {
                    auto* at = static_cast<uint8_t*>(arena.allocate(bytes, alignment));
                    ASSERT_EQ(reinterpret_cast<uintptr_t>(at) % alignment, 0u);
                    std::memset(at, mark, bytes);
                    pieces.push_back({at, bytes, alignment, mark});
                    mark = static_cast<uint8_t>(mark % 250 + 1);
                }
            }
        }
        // Every piece still holds its own mark: no later piece was placed over it.
        for (const piece_s& p : pieces) {
            ASSERT_TRUE(std::all_of(p.at, p.at + p.bytes, [&p](uint8_t b) { return b == p.mark; }));
        }
        for (const piece_s& p : pieces) {
            arena.deallocate(p.at, p.bytes, p.alignment);
        }
        arena.release();  // and the arena is used again after it
    }
}

TEST(RecordArena, AMapOfLargeRecordsKeepsEveryRecord) {
    struct record_s {
        uint64_t id;
        char16_t name[260];
    };
    record_arena_c arena;
    std::pmr::unordered_map<uint64_t, record_s> map(&arena);
    for (uint64_t id = 0; id < 20000; ++id) {
        record_s& r = map[id * 7];
        r.id = id;
        r.name[259] = static_cast<char16_t>(id);
    }
    ASSERT_EQ(map.size(), 20000u);
    for (uint64_t id = 0; id < 20000; id += 997) {
        const record_s& r = map.at(id * 7);
        EXPECT_EQ(r.id, id);
        EXPECT_EQ(r.name[259], static_cast<char16_t>(id));
    }
}

}  // namespace
