// The Linux backend over real images made by the real tools, and over loop devices as root.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/file_source.h"
#include "platform/platform_backend.h"
#include "tests/support/fixture.h"
#include "tests/support/loop_device.h"

namespace {

std::string demo_image() {
    std::string dir = scratch_dir("demo");
    std::string path = dir + "/demo.img";
    EXPECT_EQ(run_command("gzip -dc '" + std::string(QUARNEL_SOURCE_DIR) +
                          "/demo/demo.img.gz' > '" + path + "'"),
              0);
    return path;
}

std::vector<volume_probe_s> volumes_on(const std::string& disk_path) {
    std::vector<volume_probe_s> mine;
    for (const volume_probe_s& v : list_volumes()) {
        if (v.device_name.rfind(disk_path, 0) == 0) {
            mine.push_back(v);
        }
    }
    return mine;
}

class linux_backend : public ::testing::Test {
protected:
    void SetUp() override { clear_images(); }
    void TearDown() override { clear_images(); }
};

}  // namespace

TEST_F(linux_backend, image_with_mbr_lists_its_partitions_with_file_systems) {
    std::string image = demo_image();
    ASSERT_EQ(add_image(image), 0);
    std::vector<disk_probe_s> disks = list_disks();
    ASSERT_FALSE(disks.empty());
    const disk_probe_s& disk = disks.back();
    EXPECT_EQ(disk.path, std::filesystem::canonical(image).string());
    EXPECT_TRUE(disk.is_image);
    EXPECT_EQ(disk.size, std::filesystem::file_size(image));
    EXPECT_EQ(disk.geometry.bytes_per_sector, 512u);
    EXPECT_EQ(disk.geometry.cylinders, static_cast<int64_t>(disk.size / (512ull * 255 * 63)));

    std::vector<volume_probe_s> volumes = volumes_on(disk.path);
    ASSERT_EQ(volumes.size(), 2u);
    EXPECT_EQ(volumes[0].file_system, "FAT32");
    EXPECT_EQ(volumes[0].label, "QUARNELDEMO");
    EXPECT_EQ(volumes[0].partition_number, 1);
    EXPECT_EQ(volumes[0].start_offset, 2048u * 512);
    EXPECT_EQ(volumes[0].volume_path, disk.path + "@1");
    EXPECT_EQ(volumes[0].root_path, volumes[0].device_name);
    EXPECT_EQ(volumes[0].total_bytes, volumes[0].length);
    EXPECT_EQ(volumes[0].free_bytes, 0u);
    EXPECT_EQ(volumes[1].file_system, "NTFS");
    EXPECT_EQ(volumes[1].partition_number, 2);
    EXPECT_EQ(volumes[1].disk_number, volumes[0].disk_number);

    // The volume path leads back to the same extent, with or without a trailing slash, and
    // a relative or unregistered image path works too.
    for (const std::string& path : {volumes[1].volume_path, volumes[1].volume_path + "/"}) {
        location_s where;
        ASSERT_EQ(resolve_location(path, where), 0) << path;
        EXPECT_EQ(where.start_offset, volumes[1].start_offset);
        EXPECT_EQ(where.length, volumes[1].length);
        EXPECT_EQ(where.partition_number, 2);
        EXPECT_FALSE(where.whole_disk);
    }
    location_s whole;
    ASSERT_EQ(resolve_location(image, whole), 0);
    EXPECT_TRUE(whole.whole_disk);
    EXPECT_EQ(whole.length, disk.size);
    location_s none;
    EXPECT_EQ(resolve_location(image + "@9", none), -1);
    EXPECT_EQ(resolve_location("/no/such/disk", none), -1);

    // What open_volume gives starts at the volume's boot sector.
    std::unique_ptr<block_source_c> ntfs = open_volume(volumes[1].volume_path);
    ASSERT_TRUE(ntfs);
    char oem[8];
    ASSERT_EQ(read_exact(*ntfs, 3, oem, sizeof oem), 0);
    EXPECT_EQ(std::string(oem, 8), "NTFS    ");
}

TEST_F(linux_backend, extended_gpt_and_whole_image_layouts) {
    if (!have_program("sfdisk") || !have_program("mkfs.fat")) {
        GTEST_SKIP() << "sfdisk and mkfs.fat are needed to make the images";
    }
    std::string dir = scratch_dir("layouts");
    std::string mbr = dir + "/logical.img";
    ASSERT_EQ(run_command("truncate -s 40M " + mbr +
                          " && printf 'label: dos\\nstart=2048, size=20480, type=c\\n"
                          "start=22528, type=5\\nstart=24576, size=8192, type=83\\nstart=34816, "
                          "size=8192, type=7\\n' "
                          "| sfdisk -q " +
                          mbr + " >/dev/null 2>&1"),
              0);
    std::string gpt = dir + "/gpt.img";
    ASSERT_EQ(
        run_command("truncate -s 20M " + gpt +
                    " && printf 'label: gpt\\nstart=2048, size=10240\\nstart=14336, size=8192\\n' "
                    "| sfdisk -q " +
                    gpt + " >/dev/null 2>&1 && mkfs.fat --offset 14336 " + gpt +
                    " 4096 >/dev/null 2>&1"),
        0);
    std::string bare = dir + "/bare.img";
    ASSERT_EQ(run_command("mkfs.fat -C " + bare + " 2048 >/dev/null"), 0);
    std::string blank = dir + "/blank.img";
    ASSERT_EQ(run_command("truncate -s 1M " + blank), 0);
    for (const std::string& image : {mbr, gpt, bare, blank}) {
        ASSERT_EQ(add_image(image), 0);
    }

    std::vector<int32_t> numbers;
    for (const volume_probe_s& v : volumes_on(mbr)) {
        numbers.push_back(v.partition_number);
    }
    EXPECT_EQ(numbers, (std::vector<int32_t>{1, 5, 6}));  // the extended container is no volume

    std::vector<volume_probe_s> on_gpt = volumes_on(gpt);
    ASSERT_EQ(on_gpt.size(), 2u);
    EXPECT_EQ(on_gpt[1].partition_number, 2);
    EXPECT_EQ(on_gpt[1].start_offset, 14336u * 512);
    EXPECT_EQ(on_gpt[1].file_system, "FAT");
    EXPECT_EQ(on_gpt[0].file_system, "");

    // A file system without a table is one volume at offset 0; so is an empty image.
    for (const std::string& image : {bare, blank}) {
        std::vector<volume_probe_s> single = volumes_on(image);
        ASSERT_EQ(single.size(), 1u) << image;
        EXPECT_EQ(single[0].partition_number, 0);
        EXPECT_EQ(single[0].start_offset, 0u);
        EXPECT_EQ(single[0].volume_path, single[0].device_name);
    }
    EXPECT_EQ(volumes_on(bare)[0].file_system, "FAT");
    EXPECT_EQ(volumes_on(blank)[0].file_system, "");
}

TEST_F(linux_backend, a_deleted_image_is_no_longer_present) {
    std::string path = scratch_dir("vanish") + "/disk.img";
    write_file_bytes(path, std::vector<uint8_t>(4096, 1));
    std::unique_ptr<file_source_c> source = file_source_c::open(path);
    ASSERT_TRUE(source);
    EXPECT_TRUE(source->present());
    std::filesystem::remove(path);
    EXPECT_FALSE(source->present());
    EXPECT_EQ(add_image(path), -1);
    EXPECT_EQ(add_image(scratch_dir("not-a-file")), -1);
}

TEST_F(linux_backend, read_only_loop_device_is_a_disk_with_partition_nodes) {
    if (!running_as_root() || !have_program("losetup")) {
        GTEST_SKIP() << "loop devices need root and losetup";
    }
    std::string image = demo_image();
    loop_device_c loop(image, {.read_only = true, .partition_scan = true});
    if (loop.path().empty()) {
        GTEST_SKIP() << "no loop device could be set up here";
    }
    const std::string device = loop.path();
    run_command("udevadm settle 2>/dev/null");
    std::vector<volume_probe_s> volumes = volumes_on(device);
    loop.detach();

    // A wiped disk (no table, no file system) is still one volume, for the deep scan.
    std::string blank = scratch_dir("blank-loop") + "/blank.img";
    ASSERT_EQ(run_command("truncate -s 4M '" + blank + "'"), 0);
    loop_device_c blank_loop(blank);
    if (!blank_loop.path().empty()) {
        const std::string blank_device = blank_loop.path();
        std::vector<volume_probe_s> wiped = volumes_on(blank_device);
        blank_loop.detach();
        ASSERT_EQ(wiped.size(), 1u);
        EXPECT_EQ(wiped[0].file_system, "");
        EXPECT_EQ(wiped[0].volume_path, blank_device);
    }
    ASSERT_EQ(volumes.size(), 2u);
    EXPECT_EQ(volumes[1].file_system, "NTFS");
    // With partition scanning the kernel made nodes; without, the IMAGE@N form stands in.
    EXPECT_TRUE(volumes[1].device_name == device + "p2" || volumes[1].device_name == device + "@2")
        << volumes[1].device_name;
}
