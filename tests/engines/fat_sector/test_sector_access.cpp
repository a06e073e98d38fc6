#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "engines/fat/sector_access.h"
#include "platform/memory_source.h"
#include "platform/platform_backend.h"
#include "tests/support/fixture.h"

namespace {

std::shared_ptr<memory_source_c> numbered_disk(uint32_t sectors) {
    std::vector<uint8_t> bytes(size_t{sectors} * 512);
    for (uint32_t s = 0; s < sectors; ++s) {
        bytes[size_t{s} * 512] = static_cast<uint8_t>(s);
    }
    return std::make_shared<memory_source_c>(std::move(bytes));
}

}  // namespace

TEST(sector_access, reads_up_to_the_transfer_buffer_and_refuses_more) {
    install_sector_drive(0, numbered_disk(300));
    std::vector<uint8_t> buf(256 * 512);
    EXPECT_EQ(read_sectors(0, buf.data(), 10, 128), sector_ok);
    EXPECT_EQ(buf[0], 10);
    EXPECT_EQ(buf[127 * 512], 137);
    buf[0] = 0xAA;
    EXPECT_EQ(read_sectors(0, buf.data(), 0, 129), sector_bad_parameter);
    EXPECT_EQ(read_sectors(0, buf.data(), 0, 0), sector_bad_parameter);
    EXPECT_EQ(buf[0], 0xAA);
    EXPECT_EQ(read_sectors(0, buf.data(), 299, 2), sector_read_error);  // runs off the end
    EXPECT_EQ(read_sectors(sector_drive_count(), buf.data(), 0, 1), sector_not_ready);
    EXPECT_EQ(drive_status(sector_drive_count() + 5), drive_not_ready);
}

TEST(sector_access, drive_with_4096_byte_sectors_is_not_ready) {
    install_sector_drive(1, numbered_disk(64), 4096);
    uint8_t buf[512];
    EXPECT_EQ(drive_initialize(1), drive_not_ready);
    EXPECT_EQ(read_sectors(1, buf, 0, 1), sector_not_ready);
}

TEST(sector_access, watchdog_marks_a_removed_medium_not_ready) {
    auto disk = numbered_disk(16);
    install_sector_drive(2, disk);
    EXPECT_EQ(drive_status(2) & drive_not_ready, 0);
    disk->set_present(false);
    // The watchdog polls every ~100 ms; give it ample time on a loaded machine.
    for (int i = 0; i < 100 && !(drive_status(2) & drive_not_ready); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_TRUE(drive_status(2) & drive_not_ready);
    uint8_t buf[512];
    EXPECT_EQ(read_sectors(2, buf, 0, 1), sector_not_ready);
    disk->set_present(true);  // stays not ready until queried again
    EXPECT_TRUE(drive_status(2) & drive_not_ready);
    EXPECT_EQ(drive_initialize(2) & drive_not_ready, 0);
}

TEST(sector_access, binding_an_image_partition_reads_its_boot_sector) {
    std::string image = scratch_dir("bind") + "/demo.img";
    ASSERT_EQ(run_command("gzip -dc '" + std::string(QUARNEL_SOURCE_DIR) +
                          "/demo/demo.img.gz' > '" + image + "'"),
              0);
    clear_images();
    ASSERT_EQ(add_image(image), 0);
    open_sector_drives();
    std::vector<volume_probe_s> volumes = list_volumes();
    ASSERT_FALSE(volumes.empty());
    const volume_probe_s& fat = volumes[volumes.size() - 2];
    for (const std::string& path : {fat.volume_path, fat.volume_path + "/"}) {
        ASSERT_EQ(bind_volume(path), 0);
        EXPECT_EQ(volume_bindings[0].start_sector, 2048u);
        EXPECT_EQ(volume_bindings[0].partition_number, 1u);
        EXPECT_EQ(volume_bindings[0].disk_number, static_cast<uint32_t>(fat.disk_number));
    }
    uint8_t boot[512];
    ASSERT_EQ(
        read_sectors(volume_bindings[0].disk_number, boot, volume_bindings[0].start_sector, 1),
        sector_ok);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(boot) + 82, 5), "FAT32");

    volume_binding_s before = volume_bindings[0];
    EXPECT_EQ(bind_volume("/no/such/volume"), -1);
    EXPECT_EQ(volume_bindings[0].start_sector, before.start_sector);
    EXPECT_EQ(volume_bindings[0].disk_number, before.disk_number);
    clear_images();
}
