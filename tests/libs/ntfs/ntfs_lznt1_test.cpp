#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "libs/ntfs/ntfs_lznt1.h"

namespace {

// "abcabcabcabc" as one compressed chunk: three literals, then a back-reference of
// distance 3 and length 9 (offset bits 4 at position 3: token = (3-1) << 12 | (9-3)).
TEST(ntfs_lznt1, expands_literals_and_overlapping_back_references) {
    const std::vector<uint8_t> in = {0x05, 0xB0, 0x08, 'a', 'b', 'c', 0x06, 0x20, 0x00, 0x00};
    std::vector<uint8_t> out(16, 0xEE);
    ASSERT_EQ(lznt1_decompress(in.data(), in.size(), out.data(), out.size()), 0);
    EXPECT_EQ(std::string(out.begin(), out.begin() + 12), "abcabcabcabc");
    EXPECT_EQ(out[12], 0);  // the rest of the unit is zeros
}

TEST(ntfs_lznt1, rejects_malformed_chunks) {
    const std::vector<std::vector<uint8_t>> cases = {
        {0x02, 0xB0, 0x01, 0x00, 0x10},  // back-reference before the first byte
        {0xFF, 0xBF, 0x00, 'a'},         // chunk longer than its input
        {0x02, 0xB0, 0x02, 'a', 0x00},   // token cut short
    };
    for (const auto& in : cases) {
        std::vector<uint8_t> out(4096);
        EXPECT_EQ(lznt1_decompress(in.data(), in.size(), out.data(), out.size()), -1);
    }
}

}  // namespace
