#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "partitions/boot_sector_check.h"
#include "tests/partitions/synthetic_disk.h"

namespace {

struct fat32_case_s {
    const char* what;
    std::function<void(synthetic_disk_s&)> change;
    bool passes;
};

class fat32_boot_sector_test : public testing::TestWithParam<fat32_case_s> {};

// Sector 0 is the boot sector and sector 1 its FSInfo sector, as the search sees them.
bool passes_fat32(synthetic_disk_s& disk) {
    return is_fat32_boot_sector(disk.sector(0)) &&
           has_boot_signature(disk.sector(fat32_next_sector_distance(disk.sector(0))));
}

TEST_P(fat32_boot_sector_test, follows_the_bpb_not_the_oem_name) {
    synthetic_disk_s disk(16);
    disk.put_fat32(0, 81920);
    GetParam().change(disk);
    EXPECT_EQ(passes_fat32(disk), GetParam().passes) << GetParam().what;
}

void set_oem(synthetic_disk_s& d, const char* oem) {
    std::memcpy(d.sector(0) + 3, oem, 8);
}

INSTANTIATE_TEST_SUITE_P(
    cases, fat32_boot_sector_test,
    testing::Values(
        fat32_case_s{"as Windows formats it", [](synthetic_disk_s&) {}, true},
        fat32_case_s{"MSDOS5.0", [](synthetic_disk_s& d) { set_oem(d, "MSDOS5.0"); }, true},
        fat32_case_s{"mkfs.fat", [](synthetic_disk_s& d) { set_oem(d, "mkfs.fat"); }, true},
        fat32_case_s{"a camera's name", [](synthetic_disk_s& d) { set_oem(d, "CANON   "); }, true},
        fat32_case_s{"near jump", [](synthetic_disk_s& d) { d.sector(0)[0] = 0xE9; }, true},
        fat32_case_s{"4096-byte sectors, FSInfo 8 sectors on",
                     [](synthetic_disk_s& d) {
                         d.put_le16(0, 11, 4096);
                         d.sector(1)[510] = 0;
                         d.sector(8)[510] = 0x55;
                         d.sector(8)[511] = 0xAA;
                     },
                     true},
        fat32_case_s{"next sector without 0x55 0xAA",
                     [](synthetic_disk_s& d) { d.sector(1)[511] = 0; }, false},
        fat32_case_s{"no signature", [](synthetic_disk_s& d) { d.sector(0)[510] = 0; }, false},
        fat32_case_s{"no jump", [](synthetic_disk_s& d) { d.sector(0)[0] = 0x00; }, false},
        fat32_case_s{"256-byte sectors", [](synthetic_disk_s& d) { d.put_le16(0, 11, 256); },
                     false},
        fat32_case_s{"8192-byte sectors", [](synthetic_disk_s& d) { d.put_le16(0, 11, 8192); },
                     false},
        fat32_case_s{"600-byte sectors", [](synthetic_disk_s& d) { d.put_le16(0, 11, 600); },
                     false},
        fat32_case_s{"3 sectors per cluster", [](synthetic_disk_s& d) { d.sector(0)[13] = 3; },
                     false},
        fat32_case_s{"0 sectors per cluster", [](synthetic_disk_s& d) { d.sector(0)[13] = 0; },
                     false},
        fat32_case_s{"no reserved sectors", [](synthetic_disk_s& d) { d.put_le16(0, 14, 0); },
                     false},
        fat32_case_s{"three FATs", [](synthetic_disk_s& d) { d.sector(0)[16] = 3; }, false},
        fat32_case_s{"no FAT", [](synthetic_disk_s& d) { d.sector(0)[16] = 0; }, false},
        fat32_case_s{"a FAT16 root folder", [](synthetic_disk_s& d) { d.put_le16(0, 17, 512); },
                     false},
        fat32_case_s{"a 16-bit FAT size", [](synthetic_disk_s& d) { d.put_le16(0, 22, 200); },
                     false},
        fat32_case_s{"no 32-bit FAT size", [](synthetic_disk_s& d) { d.put_le32(0, 36, 0); },
                     false}));

TEST(ntfs_boot_sector, needs_oem_name_and_signature) {
    synthetic_disk_s disk(4);
    disk.put_ntfs(0, 900);
    EXPECT_TRUE(is_ntfs_boot_sector(disk.sector(0)));
    disk.sector(0)[10] = 'X';
    EXPECT_FALSE(is_ntfs_boot_sector(disk.sector(0)));
    disk.put_ntfs(1, 900);
    disk.sector(1)[511] = 0;
    EXPECT_FALSE(is_ntfs_boot_sector(disk.sector(1)));
}

TEST(volume_size, counts_512_byte_sectors) {
    synthetic_disk_s disk(5);
    disk.put_ntfs(0, 900);
    EXPECT_EQ(ntfs_volume_sectors(disk.sector(0)), 901u);  // plus the backup boot sector
    disk.put_ntfs(1, 900, 4096);
    EXPECT_EQ(ntfs_volume_sectors(disk.sector(1)), 901u * 8);
    disk.put_ntfs(2, UINT64_MAX);
    EXPECT_EQ(ntfs_volume_sectors(disk.sector(2)), 0u);
    disk.put_fat32(3, 81920);
    EXPECT_EQ(fat32_volume_sectors(disk.sector(3)), 81920u);
}

}  // namespace
