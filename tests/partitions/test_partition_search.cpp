#include <gtest/gtest.h>

#include <cstring>
#include <tuple>
#include <vector>

#include "partitions/partition_search.h"
#include "platform/memory_source.h"
#include "tests/partitions/synthetic_disk.h"

namespace {

struct search_result_s {
    std::vector<partition_item_s> found;
    double progress = 0;
    int status = -1;
};

search_result_s search(synthetic_disk_s& disk, uint64_t fail_from = UINT64_MAX, bool stop = false) {
    memory_source_c source(disk.bytes);
    source.fail_reads_from(fail_from);
    search_result_s result;
    std::atomic<double> progress{0.0};
    std::atomic<bool> stop_flag{stop};
    partition_search_hooks_s hooks;
    hooks.found = [&](const partition_item_s& item) { result.found.push_back(item); };
    hooks.progress = &progress;
    hooks.stop = &stop_flag;
    result.status = search_partitions(source, hooks);
    result.progress = progress.load();
    return result;
}

struct expected_s {
    const char* fs;
    uint64_t first;
    uint64_t last;
};

void expect_found(const search_result_s& result, const std::vector<expected_s>& expected) {
    ASSERT_EQ(result.found.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(result.found[i].fs_name.toStdString(), expected[i].fs) << "find " << i;
        EXPECT_EQ(result.found[i].start_sector, expected[i].first) << "find " << i;
        EXPECT_EQ(result.found[i].end_sector, expected[i].last) << "find " << i;
    }
}

TEST(partition_search, ntfs_volume_is_jumped_over) {
    synthetic_disk_s disk(4096);
    disk.put_ntfs(63, 900);
    disk.put_ntfs(500, 10);  // inside the first volume: never looked at
    disk.put_fat32(964, 1000, "mkfs.fat");
    search_result_s result = search(disk);
    expect_found(result, {{"NTFS", 63, 963}, {"FAT32", 964, 1963}});
    EXPECT_EQ(result.found[0].partition_type, 7);
    EXPECT_EQ(result.found[1].partition_type, 0x0C);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.progress, 1.0);
}

TEST(partition_search, fat32_needs_its_following_sector) {
    synthetic_disk_s disk(4096);
    disk.put_fat32(100, 50, "MSWIN4.1", false);
    disk.put_fat32(200, 50, "MSDOS5.0", true);
    expect_found(search(disk), {{"FAT32", 200, 249}});
}

TEST(partition_search, sector_passing_both_tests_is_ntfs) {
    synthetic_disk_s disk(4096);
    disk.put_fat32(300, 50);
    std::memcpy(disk.sector(300) + 3, "NTFS    ", 8);
    disk.put_le32(300, 40, 99);
    disk.put_le32(300, 44, 0);
    expect_found(search(disk), {{"NTFS", 300, 399}});
}

// Without finds, chunks start at 0, 255, 510, 765: sector 255 is the untested last sector of
// chunk 0 and the first of chunk 1; a FAT32 boot sector at 254 or 509 has its FSInfo sector
// in its chunk's last sector.
class chunk_boundary_test : public testing::TestWithParam<std::tuple<bool, uint64_t>> {};

TEST_P(chunk_boundary_test, boot_sector_is_found_once) {
    auto [ntfs, at] = GetParam();
    synthetic_disk_s disk(2048);
    if (ntfs) {
        disk.put_ntfs(at, 99);
    } else {
        disk.put_fat32(at, 100, "mkfs.fat");
    }
    expect_found(search(disk), {{ntfs ? "NTFS" : "FAT32", at, at + 99}});
}

INSTANTIATE_TEST_SUITE_P(positions, chunk_boundary_test,
                         testing::Combine(testing::Bool(),
                                          testing::Values(0, 253, 254, 255, 256, 509, 510, 764, 765,
                                                          1020)));

TEST(partition_search, short_last_chunk_is_searched_too) {
    // 600 sectors: full chunks at 0 and 255, then 90 sectors at 510.
    synthetic_disk_s disk(600);
    disk.put_fat32(590, 8);
    disk.put_ntfs(599, 0);  // the very last sector: a one-sector volume
    expect_found(search(disk), {{"FAT32", 590, 597}, {"NTFS", 599, 599}});
}

TEST(partition_search, size_zero_moves_on_by_one_sector) {
    synthetic_disk_s disk(1024);
    disk.put_fat32(10, 0);
    disk.put_ntfs(11, UINT64_MAX);  // count + 1 wraps to 0
    disk.put_ntfs(12, 20);
    search_result_s result = search(disk);
    expect_found(result, {{"NTFS", 12, 32}});
    EXPECT_EQ(result.progress, 1.0);
}

TEST(partition_search, volume_past_the_end_is_cut_and_ends_the_search) {
    synthetic_disk_s disk(2000);
    disk.put_ntfs(1000, 1000000);
    search_result_s result = search(disk);
    expect_found(result, {{"NTFS", 1000, 1999}});
    EXPECT_EQ(result.progress, 1.0);
}

// A volume whose first boot sector was destroyed is found through its copy (NTFS: the last
// sector; FAT32: sector 6), placed by the hidden-sectors field. Copies of volumes that start
// inside one already found are leftovers and are passed over.
TEST(partition_search, boot_sector_copies_stand_in_for_lost_ones) {
    synthetic_disk_s disk(8192);
    disk.put_ntfs(1100, 1000);  // copy of an NTFS volume at 100
    disk.put_le32(1100, 28, 100);
    disk.put_fat32(1506, 1000);  // copy of a FAT32 volume at 1500
    disk.put_le32(1506, 28, 1500);
    disk.put_le16(1506, 50, 6);
    disk.put_fat32(3000, 2000);  // an intact volume, 3000-4999
    disk.put_le32(3000, 28, 3000);
    disk.put_le16(3000, 50, 6);
    disk.put_ntfs(5050, 1550);  // the copy of an older volume that began at 3500
    disk.put_le32(5050, 28, 3500);
    disk.put_ntfs(5100, 1000);  // the hidden-sectors field does not lead here: a volume at 5100
    disk.put_le32(5100, 28, 77);
    expect_found(
        search(disk),
        {{"NTFS", 100, 1100}, {"FAT32", 1500, 2499}, {"FAT32", 3000, 4999}, {"NTFS", 5100, 6100}});
}

TEST(partition_search, nothing_found) {
    synthetic_disk_s disk(3000);
    search_result_s result = search(disk);
    EXPECT_TRUE(result.found.empty());
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.progress, 1.0);
}

TEST(partition_search, read_error_ends_like_the_disk_end) {
    synthetic_disk_s disk(4096);
    disk.put_ntfs(10, 20);
    disk.put_ntfs(3000, 20);
    search_result_s result = search(disk, 2000 * 512);
    expect_found(result, {{"NTFS", 10, 30}});
    EXPECT_EQ(result.progress, 1.0);
}

TEST(partition_search, stop_ends_between_chunks) {
    synthetic_disk_s disk(4096);
    disk.put_ntfs(10, 20);
    search_result_s result = search(disk, UINT64_MAX, true);
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(result.found.empty());
    EXPECT_LT(result.progress, 1.0);
}

TEST(partition_search, tiny_and_empty_disks) {
    synthetic_disk_s one(1);
    one.put_ntfs(0, 0);
    expect_found(search(one), {{"NTFS", 0, 0}});
    synthetic_disk_s none(0);
    search_result_s result = search(none);
    EXPECT_TRUE(result.found.empty());
    EXPECT_EQ(result.progress, 1.0);
}

}  // namespace
