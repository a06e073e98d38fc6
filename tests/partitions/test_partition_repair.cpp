#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QJsonArray>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "partitions/mbr_boot_code.h"
#include "partitions/partition_repair.h"
#include "platform/memory_source.h"
#include "tests/partitions/partition_images.h"
#include "tests/partitions/synthetic_disk.h"
#include "tests/support/fixture.h"
#include "tests/support/loop_device.h"

namespace fs = std::filesystem;

namespace {

// A disk whose reads wait until the test opens the gate.
class gated_source_c : public block_source_c {
public:
    gated_source_c(std::vector<uint8_t> bytes, std::atomic<bool>& gate)
        : inner_(std::move(bytes)), gate_(gate) {}
    int64_t read_at(uint64_t offset, void* buffer, size_t len) override {
        waiting.store(true);
        while (!gate_.load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return inner_.read_at(offset, buffer, len);
    }
    uint64_t size() const override { return inner_.size(); }
    static inline std::atomic<bool> waiting{false};

private:
    memory_source_c inner_;
    std::atomic<bool>& gate_;
};

class gated_backend_c : public platform_backend_c {
public:
    gated_backend_c(std::vector<uint8_t> bytes, std::atomic<bool>& gate)
        : bytes_(std::move(bytes)), gate_(gate) {}
    int disk_paths(std::vector<std::string>& out) override {
        out = {"gated"};
        return 0;
    }
    int query_disk(const std::string&, disk_probe_s&) override { return -1; }
    std::vector<volume_probe_s> volumes_of(const disk_probe_s&, int32_t) override { return {}; }
    std::unique_ptr<block_source_c> open_read(const std::string& path) override {
        if (path != "gated") {
            return nullptr;
        }
        return std::make_unique<gated_source_c>(bytes_, gate_);
    }

private:
    std::vector<uint8_t> bytes_;
    std::atomic<bool>& gate_;
};

struct platform_guard_s {
    ~platform_guard_s() { set_platform(nullptr); }
};

drive_item_s drive_named(const std::string& name, uint64_t size) {
    drive_item_s drive;
    drive.name = QString::fromStdString(name);
    drive.size = size;
    drive.geometry = disk_geometry_s{0, 0, 255, 63, 512};
    return drive;
}

TEST(partition_repair_thread, repair_refused_while_searching_and_stop_is_cooperative) {
    synthetic_disk_s disk(8192);
    disk.put_ntfs(10, 20);
    disk.put_ntfs(5000, 20);
    std::atomic<bool> gate{false};
    platform_guard_s guard;
    set_platform(std::make_unique<gated_backend_c>(disk.bytes, gate));

    partition_repair_c search;
    int emitted = 0;
    QObject::connect(&search, &partition_repair_c::partition_found, [&] { ++emitted; });
    search.set_drive(drive_named("gated", disk.bytes.size()));
    gated_source_c::waiting.store(false);
    search.start();
    while (!gated_source_c::waiting.load()) {  // the search is inside its first read
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(search.write_partition_table(), -1);
    EXPECT_FALSE(search.last_repair().message.empty());
    search.request_stop();
    gate.store(true);
    ASSERT_TRUE(search.wait(QDeadlineTimer(10000)));
    EXPECT_EQ(search.search_status(), 1);
    ASSERT_EQ(search.partitions().size(), 1);  // the first chunk was searched, then it stopped
    EXPECT_EQ(search.partitions()[0].start_sector, 10u);
    EXPECT_EQ(emitted, 1);
    EXPECT_LT(search.progress(), 1.0);

    // A new run starts from an empty list and runs to the end.
    search.start();
    ASSERT_TRUE(search.wait(QDeadlineTimer(10000)));
    EXPECT_EQ(search.search_status(), 0);
    EXPECT_EQ(search.partitions().size(), 2);
    EXPECT_EQ(emitted, 3);
    EXPECT_EQ(search.progress(), 1.0);

    // Another disk: the finds of this one must not be written there.
    search.set_drive(drive_named("/nonexistent/other.img", 1 << 20));
    EXPECT_TRUE(search.partitions().isEmpty());
    EXPECT_EQ(search.write_partition_table(), -1);
}

TEST(partition_repair_thread, disk_that_cannot_be_opened) {
    partition_repair_c search;
    search.set_drive(drive_named("/nonexistent/disk.img", 1 << 20));
    search.start();
    ASSERT_TRUE(search.wait(QDeadlineTimer(10000)));
    EXPECT_EQ(search.search_status(), -1);
    EXPECT_TRUE(search.partitions().isEmpty());
    EXPECT_EQ(search.progress(), 0.0);
    EXPECT_EQ(search.write_partition_table(), -1);  // nothing found: nothing to write
}

// A scratch image with three volumes at known places and an XDG state folder of its own.
class partition_repair_image : public testing::Test {
protected:
    void SetUp() override {
        std::string missing = partition_image_tools_missing();
        if (!missing.empty()) {
            GTEST_SKIP() << missing;
        }
        dir_ = scratch_dir("repair");
        image_ = dir_ + "/disk.img";
        state_ = dir_ + "/state";
        setenv("XDG_STATE_HOME", state_.c_str(), 1);
    }

    void make(bool with_table, const std::string& specs = kSpecs) {
        ASSERT_EQ(make_partition_image(image_, 140, specs, with_table), 0);
    }

    int search_and_repair(partition_repair_c& search) {
        search.set_drive(drive_named(image_, fs::file_size(image_)));
        search.start();
        EXPECT_TRUE(search.wait(QDeadlineTimer(60000)));
        return search.write_partition_table();
    }

    static constexpr const char* kSpecs = "ntfs:63:16 fat32:40000:40 ntfs:200001:30";
    std::string dir_, image_, state_;
};

TEST_F(partition_repair_image, wiped_first_sector_is_restored) {
    make(true);
    std::vector<uint8_t> garbage(512);
    for (size_t i = 0; i < garbage.size(); ++i) {
        garbage[i] = static_cast<uint8_t>(i * 7 + 3);  // no table, no 0x55 0xAA
    }
    write_file_bytes(dir_ + "/garbage", garbage);
    ASSERT_EQ(run_command("dd if=" + shell_quote(dir_ + "/garbage") + " of=" + shell_quote(image_) +
                          " conv=notrunc status=none"),
              0);
    std::string tail_before = tail_sha256(image_);
    ASSERT_TRUE(sfdisk_table(image_).isEmpty());

    partition_repair_c search;
    ASSERT_EQ(search_and_repair(search), 0) << search.last_repair().message;

    QJsonArray parts = sfdisk_table(image_)["partitiontable"].toObject()["partitions"].toArray();
    struct want_s {
        int start;
        int size;
        const char* type;
        const char* blkid;
    } want[] = {
        {63, 32768, "7", "ntfs"}, {40000, 81920, "c", "vfat"}, {200001, 61440, "7", "ntfs"}};
    ASSERT_EQ(parts.size(), 3);
    for (int i = 0; i < 3; ++i) {
        QJsonObject p = parts[i].toObject();
        EXPECT_EQ(p["start"].toInt(), want[i].start) << i;
        EXPECT_EQ(p["size"].toInt(), want[i].size) << i;
        EXPECT_EQ(p["type"].toString().toStdString(), want[i].type) << i;
        EXPECT_EQ(p["bootable"].toBool(), i == 0) << i;
        EXPECT_EQ(blkid_type_at(image_, uint64_t(want[i].start) * 512), want[i].blkid) << i;
    }
    std::string pttype;
    run_command("blkid -p -o value -s PTTYPE " + shell_quote(image_), &pttype);
    EXPECT_EQ(pttype, "dos\n");

    const std::string& backup = search.last_repair().backup_path;
    EXPECT_EQ(fs::path(backup).parent_path(), fs::path(state_) / "quarnel");
    EXPECT_EQ(read_file_bytes(backup), garbage);
    EXPECT_EQ(tail_sha256(image_), tail_before);
    std::string head;
    run_command("head -c 440 " + shell_quote(image_), &head);
    EXPECT_EQ(head, std::string(mbr_boot_code, mbr_boot_code + mbr_boot_code_size));
}

TEST_F(partition_repair_image, wiped_boot_sectors_are_found_through_their_copies) {
    make(false);
    for (int sector : {63, 40000}) {
        ASSERT_EQ(
            run_command("dd if=/dev/zero of=" + shell_quote(image_) +
                        " bs=512 count=1 conv=notrunc status=none seek=" + std::to_string(sector)),
            0);
    }
    partition_repair_c search;
    search.set_drive(drive_named(image_, fs::file_size(image_)));
    search.start();
    ASSERT_TRUE(search.wait(QDeadlineTimer(60000)));
    QList<partition_item_s> found = search.partitions();
    ASSERT_EQ(found.size(), 3);
    EXPECT_EQ(found[0].fs_name, "NTFS");
    EXPECT_EQ(found[0].start_sector, 63u);
    EXPECT_EQ(found[0].end_sector, 63u + 32768 - 1);
    EXPECT_EQ(found[1].fs_name, "FAT32");
    EXPECT_EQ(found[1].start_sector, 40000u);
    EXPECT_EQ(found[1].end_sector, 40000u + 81920 - 1);
    EXPECT_EQ(found[2].start_sector, 200001u);
}

TEST_F(partition_repair_image, gpt_disk_is_refused_untouched) {
    make(false, "fat32:40000:40");
    ASSERT_EQ(run_command("printf 'label: gpt\\nstart=40000,size=81920\\n' | sfdisk -q " +
                          shell_quote(image_) + " >/dev/null 2>&1"),
              0);
    std::string before = file_sha256(image_);
    partition_repair_c search;
    EXPECT_EQ(search_and_repair(search), -1);
    EXPECT_NE(search.last_repair().message.find("GPT"), std::string::npos);
    EXPECT_EQ(search.partitions().size(), 1);
    EXPECT_EQ(file_sha256(image_), before);
    EXPECT_FALSE(fs::exists(state_));
}

TEST_F(partition_repair_image, no_backup_means_no_write) {
    make(false);
    write_file_bytes(dir_ + "/blocker", {1});
    setenv("XDG_STATE_HOME", (dir_ + "/blocker").c_str(), 1);  // a file: no folder fits there
    std::string before = file_sha256(image_);
    partition_repair_c search;
    EXPECT_EQ(search_and_repair(search), -1);
    EXPECT_NE(search.last_repair().message.find("backup"), std::string::npos);
    EXPECT_TRUE(search.last_repair().backup_path.empty());
    EXPECT_EQ(file_sha256(image_), before);
}

TEST_F(partition_repair_image, block_device_in_use_is_refused_then_repaired) {
    if (!running_as_root() || !have_program("losetup")) {
        GTEST_SKIP() << "needs root and losetup to attach the image to a loop device";
    }
    make(false);
    loop_device_c device(image_, {.read_only = false});
    if (device.path().empty()) {
        GTEST_SKIP() << "no loop device available";
    }
    const std::string loop = device.path();
    std::string before = file_sha256(image_);
    partition_repair_c on_file;
    EXPECT_EQ(search_and_repair(on_file), -1);  // the image behind a loop device
    EXPECT_NE(on_file.last_repair().message.find(loop), std::string::npos)
        << on_file.last_repair().message;

    // A mounted file system claims its device exclusively; hold the same claim.
    int claim = open(loop.c_str(), O_RDONLY | O_EXCL | O_CLOEXEC);
    ASSERT_GE(claim, 0);
    partition_repair_c on_device;
    on_device.set_drive(drive_named(loop, fs::file_size(image_)));
    on_device.start();
    ASSERT_TRUE(on_device.wait(QDeadlineTimer(60000)));
    EXPECT_EQ(on_device.partitions().size(), 3);
    EXPECT_EQ(on_device.write_partition_table(), -1);
    EXPECT_NE(on_device.last_repair().message.find("in use"), std::string::npos)
        << on_device.last_repair().message;
    close(claim);
    EXPECT_EQ(file_sha256(image_), before);

    // Released: the repair writes through the block device and has the kernel re-read it.
    EXPECT_EQ(on_device.write_partition_table(), 0) << on_device.last_repair().message;
    device.detach();
    QJsonArray parts = sfdisk_table(image_)["partitiontable"].toObject()["partitions"].toArray();
    EXPECT_EQ(parts.size(), 3);
}

}  // namespace
