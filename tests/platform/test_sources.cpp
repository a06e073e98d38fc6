#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/memory_source.h"
#include "platform/platform_backend.h"
#include "platform/slice_source.h"

namespace {

std::vector<uint8_t> counting_bytes(size_t n) {
    std::vector<uint8_t> bytes(n);
    for (size_t i = 0; i < n; ++i) {
        bytes[i] = static_cast<uint8_t>(i);
    }
    return bytes;
}

}  // namespace

TEST(sources, reads_stop_at_the_end_and_slices_never_leave_their_window) {
    auto disk = std::make_shared<memory_source_c>(counting_bytes(1000));
    uint8_t buf[64];
    EXPECT_EQ(disk->read_at(990, buf, sizeof buf), 10);
    EXPECT_EQ(disk->read_at(1000, buf, sizeof buf), 0);
    EXPECT_EQ(disk->read_at(5000, buf, sizeof buf), 0);

    slice_source_c part(disk, 100, 50);
    EXPECT_EQ(part.size(), 50u);
    ASSERT_EQ(part.read_at(40, buf, sizeof buf), 10);
    EXPECT_EQ(buf[0], 140);
    EXPECT_EQ(part.read_at(50, buf, sizeof buf), 0);

    // A partition entry that claims more than the disk holds is cut at the disk's end.
    slice_source_c too_long(disk, 900, 500);
    EXPECT_EQ(too_long.size(), 100u);
    slice_source_c past_end(disk, 2000, 10);
    EXPECT_EQ(past_end.size(), 0u);
    EXPECT_EQ(past_end.read_at(0, buf, 1), 0);
}

TEST(sources, read_exact_reports_short_reads_and_errors) {
    memory_source_c disk(counting_bytes(100));
    uint8_t buf[20];
    EXPECT_EQ(read_exact(disk, 80, buf, 20), 0);
    EXPECT_EQ(read_exact(disk, 81, buf, 20), -1);
    disk.fail_reads_from(50);
    EXPECT_EQ(read_exact(disk, 40, buf, 20), -1);
    disk.set_present(false);
    EXPECT_EQ(disk.read_at(0, buf, 1), -1);
}

TEST(sources, disk_names_sort_in_natural_order) {
    std::vector<std::string> names = {"sdaa",    "nvme10n1", "sdb", "nvme1n1", "sda",
                                      "nvme0n1", "mmcblk0",  "sdz", "vda"};
    std::sort(names.begin(), names.end(), natural_name_less);
    EXPECT_EQ(names, (std::vector<std::string>{"mmcblk0", "nvme0n1", "nvme1n1", "nvme10n1", "sda",
                                               "sdb", "sdz", "sdaa", "vda"}));
}
