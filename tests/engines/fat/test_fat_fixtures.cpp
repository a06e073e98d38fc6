// The FAT engine end to end over images made by mkfs.fat and mtools (tools/make_fat_fixtures.sh):
// every deleted file the walk reaches comes back byte-identical under its full name and in
// its folder, and the image is never written to.
#include <gtest/gtest.h>

#include <QString>
#include <map>

#include "engines/fat/sector_access.h"
#include "engines/fat_recovery.h"
#include "platform/platform_backend.h"
#include "tests/support/fixture.h"

namespace {

// What the fixture script puts in a file: its name repeated, cut to its size.
std::vector<uint8_t> fixture_content(const std::string& name, size_t size) {
    std::string unit = name + "|";
    std::vector<uint8_t> bytes;
    while (bytes.size() < size) {
        bytes.push_back(uint8_t(unit[bytes.size() % unit.size()]));
    }
    return bytes;
}

struct expected_s {
    std::string path;           // from the root, as the engine names it
    std::string original_name;  // the name the content was made from
    uint32_t size;
    bool folder;
};

// The same tree on every volume the script filled.
const expected_s expected_tree[] = {
    {"Alpha beta.txt", "Alpha beta.txt", 1000, false},
    {"big photo.jpg", "big photo.jpg", 9000, false},
    {"#ILE8.TXT", "FILE8.TXT", 700, false},  // a plain short name: its first byte is lost
    {"Docs", "", 0, true},
    {"Docs/Quarterly report.pdf", "Quarterly report.pdf", 5000, false},
    {"Docs/\xC3\x9Cn\xC3\xAF"
     "code na\xC3\xAFve \xE6\x96\x87\xE4\xBB\xB6.txt",
     "\xC3\x9Cn\xC3\xAF"
     "code na\xC3\xAFve \xE6\x96\x87\xE4\xBB\xB6.txt",
     1500, false},
    {"Keep", "", 0, true},
    {"Old Projects", "", 0, true},
    {"Old Projects/design notes.txt", "design notes.txt", 2500, false},
    {"Old Projects/Sub Folder", "", 0, true},
    {"Old Projects/Sub Folder/deep file.txt", "deep file.txt", 3000, false},
    {"Old Projects/Sub Folder/Nested", "", 0, true},
    {"Old Projects/Sub Folder/Nested/#.bin", "x.bin", 600, false},
};

std::string path_of(const fat_record_map& records, const fat_record_s& record) {
    std::string path = QString::fromUtf16(record.entry.name).toStdString();
    uint32_t parent = record.entry.parent_id;
    for (int depth = 0; parent != 0 && depth < 64; ++depth) {
        auto found = records.find(parent);
        if (found == records.end()) {
            return "?/" + path;
        }
        path = QString::fromUtf16(found->second.entry.name).toStdString() + "/" + path;
        parent = found->second.entry.parent_id;
    }
    return path;
}

class FatFixture : public testing::TestWithParam<std::pair<const char*, int>> {};

}  // namespace

TEST_P(FatFixture, RecoversEveryReachableDeletedFile) {
    const auto& [fixture, partition] = GetParam();
    std::string image = fixture_path(std::string("fat/") + fixture);
    std::string before = file_sha256(image);
    clear_images();
    ASSERT_EQ(add_image(image), 0);
    open_sector_drives();
    volume_item_s volume;
    for (const volume_probe_s& v : list_volumes()) {
        if ((v.device_name == image || v.device_name.rfind(image + "@", 0) == 0) &&
            v.partition_number == partition) {
            volume.volume_path = QString::fromStdString(v.volume_path);
            volume.file_system = QString::fromStdString(v.file_system);
        }
    }
    ASSERT_FALSE(volume.volume_path.isEmpty()) << "the platform lists no such volume";
    EXPECT_TRUE(volume.file_system.startsWith("FAT")) << volume.file_system.toStdString();

    fat_recovery_c engine;
    engine.set_volume(volume);
    engine.start();
    ASSERT_TRUE(engine.wait(60000));
    EXPECT_EQ(engine.open_result(), 0);

    std::map<std::string, const fat_record_s*> by_path;
    for (const auto& [key, record] : engine.records()) {
        if (key != 0) {
            by_path[path_of(engine.records(), record)] = &record;
        }
    }
    std::string out = scratch_dir("fat-fixture");
    for (const expected_s& want : expected_tree) {
        auto found = by_path.find(want.path);
        ASSERT_NE(found, by_path.end()) << want.path;
        const fat_entry_s& entry = found->second->entry;
        EXPECT_EQ(bool(entry.attr & fat_attr_folder), want.folder) << want.path;
        if (want.folder) {
            continue;
        }
        EXPECT_EQ(entry.attr & fat_attr_deleted, fat_attr_deleted) << want.path;
        EXPECT_EQ(entry.size, want.size) << want.path;
        QString target = QString::fromStdString(out + "/" + std::to_string(entry.entry_id));
        EXPECT_EQ(engine.recover_file(entry.entry_id, target), 0) << want.path;
        EXPECT_EQ(read_file_bytes(target.toStdString()),
                  fixture_content(want.original_name, want.size))
            << want.path;
    }
    // Live files and empty deleted files are never records.
    EXPECT_EQ(by_path.count("readme.txt"), 0u);
    EXPECT_EQ(by_path.count("Docs/kept.txt"), 0u);
    EXPECT_EQ(by_path.size(), std::size(expected_tree));
    EXPECT_EQ(file_sha256(image), before);
    clear_images();
}

INSTANTIATE_TEST_SUITE_P(
    Images, FatFixture,
    testing::Values(std::make_pair("fat12.img", 0), std::make_pair("fat16.img", 0),
                    std::make_pair("fat32.img", 0), std::make_pair("disk.img", 1)),
    [](const testing::TestParamInfo<FatFixture::ParamType>& param) {
        std::string name = param.param.first;
        return name.substr(0, name.find('.')) + "_part" + std::to_string(param.param.second);
    });
