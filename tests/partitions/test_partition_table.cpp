#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>

#include "partitions/boot_sector_check.h"
#include "partitions/chs_address.h"
#include "partitions/mbr_boot_code.h"
#include "partitions/partition_table.h"

namespace {

constexpr size_t entries_at = 446;

partition_item_s item(const char* fs, int type, uint64_t first, uint64_t last) {
    return partition_item_s{QString::fromLatin1(fs), type, first, last};
}

const uint8_t* entry(const sector_bytes_t& sector, int k) {
    return sector.data() + entries_at + 16 * k;
}

void put_old_entry(sector_bytes_t& sector, int k, uint8_t status, uint8_t type, uint32_t first,
                   uint32_t count) {
    uint8_t* e = sector.data() + entries_at + 16 * k;
    e[0] = status;
    e[4] = type;
    for (int i = 0; i < 4; ++i) {
        e[8 + i] = static_cast<uint8_t>(first >> (8 * i));
        e[12 + i] = static_cast<uint8_t>(count >> (8 * i));
    }
    sector[510] = 0x55;
    sector[511] = 0xAA;
}

partition_table_input_s input_with(std::vector<partition_item_s> found) {
    partition_table_input_s input;
    input.found = std::move(found);
    input.disk_sectors = 10'000'000;
    for (size_t i = 0; i < 440; ++i) {
        input.old_sector[i] = 0xCC;  // an old boot program that must go
    }
    const uint8_t disk_id[6] = {0x12, 0x34, 0x56, 0x78, 0x00, 0x00};
    std::memcpy(input.old_sector.data() + 440, disk_id, 6);
    return input;
}

TEST(partition_table, one_partition_fills_entry_zero_as_active) {
    partition_table_input_s input = input_with({item("NTFS", 7, 63, 963)});
    sector_bytes_t out{};
    std::string error;
    ASSERT_EQ(build_partition_sector(input, out, error), 0) << error;
    EXPECT_EQ(std::memcmp(out.data(), mbr_boot_code, mbr_boot_code_size), 0);
    EXPECT_EQ(std::memcmp(out.data() + 440, input.old_sector.data() + 440, 6), 0);
    const uint8_t* e = entry(out, 0);
    EXPECT_EQ(e[0], 0x80);
    EXPECT_EQ(e[4], 7);
    EXPECT_EQ(load_le32(e + 8), 63u);
    EXPECT_EQ(load_le32(e + 12), 901u);
    // 255 heads, 63 sectors: sector 63 is C0 H1 S1; sector 963 is C0 H15 S19.
    EXPECT_EQ(std::vector<uint8_t>(e + 1, e + 4), (std::vector<uint8_t>{1, 1, 0}));
    EXPECT_EQ(std::vector<uint8_t>(e + 5, e + 8), (std::vector<uint8_t>{15, 19, 0}));
    for (int k = 1; k < 4; ++k) {
        const uint8_t* empty = entry(out, k);
        EXPECT_TRUE(std::all_of(empty, empty + 16, [](uint8_t b) { return b == 0; })) << k;
    }
    EXPECT_EQ(out[510], 0x55);
    EXPECT_EQ(out[511], 0xAA);
}

TEST(partition_table, keeps_old_entries_that_overlap_nothing_found) {
    partition_table_input_s input =
        input_with({item("NTFS", 7, 2048, 100000), item("FAT32", 12, 300000, 400000)});
    put_old_entry(input.old_sector, 0, 0x00, 0x07, 2048, 98000);      // overlaps: replaced
    put_old_entry(input.old_sector, 1, 0x00, 0x83, 200000, 50000);    // Linux: kept
    put_old_entry(input.old_sector, 2, 0x00, 0x83, 9'999'000, 5000);  // past the disk: dropped
    put_old_entry(input.old_sector, 3, 0x42, 0x83, 500000, 50000);    // bad status: dropped
    sector_bytes_t out{};
    std::string error;
    ASSERT_EQ(build_partition_sector(input, out, error), 0) << error;
    uint32_t firsts[4];
    uint8_t types[4], status[4];
    for (int k = 0; k < 4; ++k) {
        firsts[k] = load_le32(entry(out, k) + 8);
        types[k] = entry(out, k)[4];
        status[k] = entry(out, k)[0];
    }
    EXPECT_EQ(firsts[0], 2048u);
    EXPECT_EQ(types[0], 0x07);
    EXPECT_EQ(status[0], 0x80);
    EXPECT_EQ(firsts[1], 200000u);
    EXPECT_EQ(types[1], 0x83);
    EXPECT_EQ(load_le32(entry(out, 1) + 12), 50000u);
    EXPECT_EQ(firsts[2], 300000u);
    EXPECT_EQ(types[2], 0x0C);
    EXPECT_EQ(status[1] | status[2], 0);
    EXPECT_EQ(types[3], 0);
}

TEST(partition_table, a_kept_active_entry_stays_the_only_active_one) {
    partition_table_input_s input = input_with({item("FAT32", 12, 300000, 400000)});
    put_old_entry(input.old_sector, 0, 0x80, 0x83, 2048, 50000);
    sector_bytes_t out{};
    std::string error;
    ASSERT_EQ(build_partition_sector(input, out, error), 0) << error;
    EXPECT_EQ(entry(out, 0)[0], 0x80);
    EXPECT_EQ(entry(out, 1)[0], 0x00);
    EXPECT_EQ(entry(out, 1)[4], 0x0C);
}

struct refusal_s {
    const char* what;
    std::function<void(partition_table_input_s&)> setup;
};

class partition_table_refusal : public testing::TestWithParam<refusal_s> {};

TEST_P(partition_table_refusal, refuses) {
    partition_table_input_s input = input_with({item("NTFS", 7, 2048, 100000)});
    GetParam().setup(input);
    sector_bytes_t out{};
    out.fill(0x5A);
    std::string error;
    EXPECT_EQ(build_partition_sector(input, out, error), -1) << GetParam().what;
    EXPECT_FALSE(error.empty());
}

INSTANTIATE_TEST_SUITE_P(
    cases, partition_table_refusal,
    testing::Values(
        refusal_s{"nothing found", [](partition_table_input_s& in) { in.found.clear(); }},
        refusal_s{"GPT protective entry",
                  [](partition_table_input_s& in) {
                      put_old_entry(in.old_sector, 0, 0, 0xEE, 1, 0xFFFFFFFF);
                  }},
        refusal_s{
            "GPT header in sector 1",
            [](partition_table_input_s& in) { std::memcpy(in.next_sector.data(), "EFI PART", 8); }},
        refusal_s{"five entries",
                  [](partition_table_input_s& in) {
                      for (uint64_t k = 1; k <= 4; ++k) {
                          in.found.push_back(item("FAT32", 12, k * 1'000'000, k * 1'000'000 + 9));
                      }
                  }},
        refusal_s{"four found plus a kept one",
                  [](partition_table_input_s& in) {
                      for (uint64_t k = 1; k <= 3; ++k) {
                          in.found.push_back(item("FAT32", 12, k * 1'000'000, k * 1'000'000 + 9));
                      }
                      put_old_entry(in.old_sector, 3, 0, 0x83, 5'000'000, 100);
                  }},
        refusal_s{"partition past the disk's end",
                  [](partition_table_input_s& in) { in.disk_sectors = 100000; }},
        refusal_s{"start past 2 TiB",
                  [](partition_table_input_s& in) {
                      in.disk_sectors = 1ULL << 34;
                      in.found.push_back(item("NTFS", 7, 1ULL << 32, (1ULL << 32) + 100));
                  }},
        refusal_s{"size past 2 TiB", [](partition_table_input_s& in) {
                      in.disk_sectors = 1ULL << 34;
                      in.found.push_back(item("NTFS", 7, 200000, 200000 + (1ULL << 32)));
                  }}));

struct chs_case_s {
    uint64_t lba;
    uint32_t heads;
    uint32_t sectors;
    uint8_t expected[3];
};

class chs_test : public testing::TestWithParam<chs_case_s> {};

TEST_P(chs_test, address) {
    const chs_case_s& c = GetParam();
    uint8_t out[3] = {};
    chs_address(c.lba, chs_geometry_s{c.heads, c.sectors}, out);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 3), std::vector<uint8_t>(c.expected, c.expected + 3))
        << "lba " << c.lba;
}

INSTANTIATE_TEST_SUITE_P(
    cases, chs_test,
    testing::Values(chs_case_s{0, 255, 63, {0, 1, 0}}, chs_case_s{63, 255, 63, {1, 1, 0}},
                    chs_case_s{2048, 255, 63, {32, 33, 0}},
                    // cylinder 300 = 0x12C: bits 8-9 go to the sector byte's top bits
                    chs_case_s{300ULL * 255 * 63, 255, 63, {0, 0x41, 0x2C}},
                    chs_case_s{1024ULL * 255 * 63 - 1, 255, 63, {254, 0xFF, 0xFF}},
                    chs_case_s{1024ULL * 255 * 63, 255, 63, {254, 0xFF, 0xFF}},
                    chs_case_s{1ULL << 40, 255, 63, {254, 0xFF, 0xFF}},
                    chs_case_s{100, 16, 32, {3, 5, 0}},
                    chs_case_s{63, 0, 0, {1, 1, 0}}));  // no geometry: 255/63

}  // namespace
