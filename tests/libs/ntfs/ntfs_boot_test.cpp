#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "libs/ntfs/ntfs_boot.h"

namespace {

struct boot_case_s {
    const char* what;
    uint16_t bytes_per_sector;
    uint8_t sectors_per_cluster;
    int8_t clusters_per_record;
    int result;
    uint32_t cluster_size;
    uint32_t record_size;
};

std::vector<uint8_t> boot_sector(const boot_case_s& c) {
    std::vector<uint8_t> s(512, 0);
    std::memcpy(&s[3], "NTFS    ", 8);
    s[0x0B] = static_cast<uint8_t>(c.bytes_per_sector);
    s[0x0C] = static_cast<uint8_t>(c.bytes_per_sector >> 8);
    s[0x0D] = c.sectors_per_cluster;
    const uint64_t sectors = 1ull << 32;
    std::memcpy(&s[0x28], &sectors, 8);  // the tests run on little-endian machines
    s[0x30] = 4;                         // MFT at cluster 4
    s[0x38] = 8;
    s[0x40] = static_cast<uint8_t>(c.clusters_per_record);
    s[0x1FE] = 0x55;
    s[0x1FF] = 0xAA;
    return s;
}

TEST(ntfs_boot, geometry_encodings_and_insane_values) {
    const boot_case_s cases[] = {
        {"512-byte sectors, 4 KiB clusters, record as 2^-10", 512, 8, -10, 0, 4096, 1024},
        {"4 KiB sectors and clusters, 4 KiB records", 4096, 1, -12, 0, 4096, 4096},
        {"record as whole clusters", 512, 2, 1, 0, 1024, 1024},
        {"2 MiB clusters as 2^(256-value) sectors", 512, 0xF4, -10, 0, 2u << 20, 1024},
        {"clusters larger than 2 MiB", 512, 0xF3, -10, -1, 0, 0},
        {"sectors of 300 bytes", 300, 1, -10, -1, 0, 0},
        {"sectors of 8 KiB", 8192, 1, -10, -1, 0, 0},
        {"no sectors per cluster", 512, 0, -10, -1, 0, 0},
        {"three sectors per cluster", 512, 3, -10, -1, 0, 0},
        {"records of 2^20 bytes", 512, 8, -20, -1, 0, 0},
        {"records of 128 bytes", 512, 8, -7, -1, 0, 0},
    };
    for (const boot_case_s& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<uint8_t> sector = boot_sector(c);
        ntfs_boot_s boot;
        ASSERT_EQ(parse_ntfs_boot(sector.data(), 0, boot), c.result);
        if (c.result == 0) {
            EXPECT_EQ(boot.cluster_size, c.cluster_size);
            EXPECT_EQ(boot.record_size, c.record_size);
            EXPECT_EQ(boot.mft_lcn, 4u);
        }
    }
}

TEST(ntfs_boot, the_mft_must_lie_inside_the_volume) {
    std::vector<uint8_t> sector = boot_sector({"", 512, 8, -10, 0, 0, 0});
    ntfs_boot_s boot;
    EXPECT_EQ(parse_ntfs_boot(sector.data(), 4096 * 4, boot), -1);  // a 4-cluster medium
    EXPECT_EQ(parse_ntfs_boot(sector.data(), 4096 * 5, boot), 0);
    sector[0x1FF] = 0;  // no boot signature
    EXPECT_EQ(parse_ntfs_boot(sector.data(), 0, boot), -1);
}

}  // namespace
