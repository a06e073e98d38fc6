// Disk and volume lists over a fake platform: the cases that cannot be had for real here.

#include <gtest/gtest.h>

#include <map>

#include "discovery/drive_item.h"
#include "discovery/volume_item.h"
#include "platform/memory_source.h"
#include "platform/platform_backend.h"

namespace {

struct fake_disk_s {
    bool answers = true;
    disk_probe_s probe;
    std::vector<volume_probe_s> volumes;
};

class fake_backend_c : public platform_backend_c {
public:
    std::vector<std::pair<std::string, fake_disk_s>> disks;
    int list_status = 0;

    int disk_paths(std::vector<std::string>& out) override {
        out.clear();
        for (auto& [path, disk] : disks) {
            out.push_back(path);
        }
        return list_status;
    }
    int query_disk(const std::string& path, disk_probe_s& out) override {
        for (auto& [name, disk] : disks) {
            if (name == path && disk.answers) {
                out = disk.probe;
                return 0;
            }
        }
        return -1;
    }
    std::vector<volume_probe_s> volumes_of(const disk_probe_s& disk, int32_t number) override {
        for (auto& [name, fake] : disks) {
            if (name == disk.path) {
                std::vector<volume_probe_s> volumes = fake.volumes;
                for (volume_probe_s& v : volumes) {
                    v.disk_number = number;
                }
                return volumes;
            }
        }
        return {};
    }
    std::unique_ptr<block_source_c> open_read(const std::string&) override { return nullptr; }

    void add(const std::string& path, uint64_t size, std::vector<std::string> roots = {}) {
        fake_disk_s disk;
        disk.probe.path = path;
        disk.probe.size = size;
        disk.probe.geometry = {static_cast<int64_t>(size / (512 * 255 * 63)), 12, 255, 63, 512};
        int32_t part = 1;
        for (const std::string& root : roots) {
            volume_probe_s v;
            v.device_name = path + std::to_string(part);
            v.volume_path = v.device_name;
            v.root_path = root;
            v.partition_number = part++;
            disk.volumes.push_back(v);
        }
        disks.emplace_back(path, disk);
    }
};

class discovery : public ::testing::Test {
protected:
    fake_backend_c* fake = nullptr;
    void SetUp() override {
        auto backend = std::make_unique<fake_backend_c>();
        fake = backend.get();
        set_platform(std::move(backend));
    }
    void TearDown() override { set_platform(nullptr); }
};

}  // namespace

TEST_F(discovery, drive_list_keeps_every_answering_disk_with_its_true_size) {
    fake->add("/dev/sda", 8422686720ull + 4096);  // a partial last cylinder still counts
    fake->add("/dev/sdb", 1000);
    fake->disks.back().second.answers = false;  // a card reader without a card
    fake->add("/dev/sdc", 512 * 100);
    ASSERT_EQ(enumerate_drives(), 0);
    ASSERT_EQ(drive_list.size(), 3);
    EXPECT_TRUE(drive_list[0].name.isEmpty());
    EXPECT_FALSE(drive_list[0].geometry.has_value());
    EXPECT_EQ(drive_list[1].name, "/dev/sda");
    EXPECT_EQ(drive_list[1].size, 8422686720ull + 4096);
    EXPECT_EQ(drive_list[1].geometry->cylinders, 1024);
    EXPECT_EQ(drive_list[2].name, "/dev/sdc");  // the gap does not end the list

    QList<drive_item_s> first = drive_list;
    enumerate_drives();
    ASSERT_EQ(drive_list.size(), first.size());
    for (qsizetype i = 0; i < first.size(); ++i) {
        EXPECT_EQ(drive_list[i].name, first[i].name);
    }
}

TEST_F(discovery, drive_list_of_a_machine_without_disks_is_just_the_header) {
    ASSERT_EQ(enumerate_drives(), 0);
    ASSERT_EQ(drive_list.size(), 1);
    EXPECT_TRUE(drive_list[0].name.isEmpty());
}

TEST_F(discovery, volumes_are_sorted_by_root_path_after_one_header_row) {
    fake->add("/dev/sda", 1 << 30, {"/mnt/data", "/", "/dev/sda3"});
    fake->add("/dev/sdb", 1 << 30, {"/media/usb"});
    for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(enumerate_volumes(), 0);
        ASSERT_EQ(volume_list.size(), 5);
        EXPECT_TRUE(volume_list[0].device_name.isEmpty());
        QStringList roots;
        for (qsizetype i = 1; i < volume_list.size(); ++i) {
            roots << volume_list[i].root_path;
        }
        EXPECT_EQ(roots, (QStringList{"/", "/dev/sda3", "/media/usb", "/mnt/data"}));
    }
    EXPECT_EQ(volume_list[3].disk_number, 1);
}

TEST_F(discovery, volume_list_is_empty_without_header_when_disks_cannot_be_listed) {
    fake->list_status = -1;
    EXPECT_EQ(enumerate_volumes(), -1);
    EXPECT_TRUE(volume_list.isEmpty());
}
