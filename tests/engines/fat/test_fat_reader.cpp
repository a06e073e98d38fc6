// The FAT reader over hand-made volumes: mounting, file reads, folder listing with deleted
// entries and long names, and damaged structures.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>

#include "engines/fat/fat_file.h"
#include "engines/fat/fat_folder.h"
#include "engines/fat/oem_codepage.h"
#include "engines/fat/sector_access.h"
#include "engines/fat_entry.h"
#include "tests/engines/fat/fat_image_builder.h"

namespace {

fat_volume_s test_volume;

// Puts the image into sector drive 0 and attaches it; returns the mount result.
fat_result attach(fat_image_builder_c& image, folder_cursor_s& cursor) {
    install_sector_drive(0, image.source());
    volume_bindings[0] = volume_binding_s{0, 0, 0};
    f_attach(0, &test_volume);
    return f_opendir(cursor, "/");
}

struct listed_s {
    std::u16string short_name;
    std::u16string long_name;
    uint8_t attr = 0;
    uint32_t cluster = 0;
};

// Every entry of the folder the cursor is on, and the result that ended the listing.
std::vector<listed_s> list_all(folder_cursor_s& cursor, fat_result* last = nullptr) {
    std::vector<listed_s> out;
    char16_t long_name[512];
    entry_info_s info;
    info.long_name = long_name;
    info.long_name_size = 512;
    for (int guard = 0; guard < 200000; ++guard) {
        fat_result result = f_readdir(cursor, &info);
        if (info.short_name[0] != 0) {
            out.push_back({info.short_name, long_name, info.attr, info.first_cluster});
        }
        if (result != fat_ok || info.short_name[0] == 0) {
            if (last != nullptr) {
                *last = result;
            }
            break;
        }
    }
    return out;
}

std::string utf8(const std::u16string& text) {
    std::string out;
    for (char16_t c : text) {
        out += c < 0x80 ? char(c) : '?';
    }
    return out;
}

}  // namespace

TEST(FatMount, TypeFollowsClusterCountAtTheBoundaries) {
    struct case_s {
        int kind;
        uint32_t clusters;
        uint8_t type;
    } cases[] = {{12, 4085, fat_type_12},
                 {16, 4086, fat_type_16},
                 {16, 65525, fat_type_16},
                 {32, 65526, fat_type_32},
                 // mkfs.fat makes small FAT32 volumes; their 16-bit FAT size and root count
                 // are 0, so they are FAT32 whatever the count.
                 {32, 1000, fat_type_32},
                 {32, 20000, fat_type_32}};
    for (const case_s& c : cases) {
        fat_image_builder_c image(c.kind, c.clusters, 1, 16);
        folder_cursor_s cursor;
        EXPECT_EQ(attach(image, cursor), fat_ok) << c.clusters;
        EXPECT_EQ(test_volume.fs_type, c.type) << c.clusters;
        EXPECT_EQ(test_volume.fat_entries, c.clusters + 2);
    }
}

TEST(FatMount, RefusesWhatIsNotAUsableFatBootSector) {
    struct case_s {
        const char* why;
        uint32_t offset;
        uint8_t value;
    } cases[] = {{"1,024-byte sectors", 12, 0x04},
                 {"no signature", 510, 0x00},
                 {"three FATs", 16, 3},
                 {"cluster size not a power of two", 13, 3},
                 {"no reserved sectors", 14, 0}};
    for (const case_s& c : cases) {
        fat_image_builder_c image(16, 5000, 1, 16);
        image.bytes()[c.offset] = c.value;
        if (c.offset == 14) {
            image.bytes()[15] = 0;
        }
        folder_cursor_s cursor;
        EXPECT_EQ(attach(image, cursor), fat_no_file_system) << c.why;
    }
}

TEST(FatFile, ContiguousModeIgnoresTheFatAndChainModeFollowsIt) {
    fat_image_builder_c image(16, 5000, 4);
    for (uint32_t c = 100; c < 110; ++c) {
        std::memset(image.cluster(c), int(c), image.cluster_bytes());
    }
    image.chain({100, 105, 107});
    folder_cursor_s cursor;
    ASSERT_EQ(attach(image, cursor), fat_ok);
    uint32_t size = 2 * image.cluster_bytes() + 904;  // 5,000 bytes over three clusters
    for (bool contiguous : {true, false}) {
        file_cursor_s file;
        file.volume = &test_volume;
        file.mount_id = test_volume.mount_id;
        file.flags = file_open_read;
        file.size = size;
        file.first_cluster = 100;
        std::vector<uint8_t> data(8192);
        uint32_t read = 0;
        ASSERT_EQ(f_readfile(file, data.data(), 7000, read, contiguous), fat_ok);
        ASSERT_EQ(read, size);
        uint8_t expect[3] = {100, uint8_t(contiguous ? 101 : 105), uint8_t(contiguous ? 102 : 107)};
        for (int k = 0; k < 3; ++k) {
            EXPECT_EQ(data[k * image.cluster_bytes() + 10], expect[k]) << contiguous << k;
        }
    }
}

TEST(FatFile, BrokenChainsEndTheReadWithTheBytesBefore) {
    fat_image_builder_c image(16, 5000, 1);
    image.set_fat(100, 101);
    image.set_fat(101, 100);   // a loop
    image.set_fat(200, 6000);  // leaves the volume
    folder_cursor_s cursor;
    ASSERT_EQ(attach(image, cursor), fat_ok);
    std::vector<uint8_t> data(1 << 20);
    file_cursor_s looping;
    looping.volume = &test_volume;
    looping.mount_id = test_volume.mount_id;
    looping.flags = file_open_read;
    looping.size = 1 << 20;  // the size bounds the loop
    looping.first_cluster = 100;
    uint32_t read = 0;
    EXPECT_EQ(f_readfile(looping, data.data(), 1 << 20, read, false), fat_ok);
    EXPECT_EQ(read, 1u << 20);

    file_cursor_s leaving = looping;
    leaving.position = 0;
    leaving.first_cluster = 200;
    EXPECT_EQ(f_readfile(leaving, data.data(), 4096, read, false), fat_internal_error);
    EXPECT_EQ(read, 512u);
    EXPECT_EQ(f_readfile(leaving, data.data(), 4096, read, false), fat_internal_error);
    EXPECT_EQ(read, 0u);

    // Contiguous reads stop at the end of the volume.
    file_cursor_s at_end = looping;
    at_end.position = 0;
    at_end.first_cluster = 5001;
    EXPECT_EQ(f_readfile(at_end, data.data(), 4096, read, true), fat_internal_error);
    EXPECT_EQ(read, 512u);
}

TEST(FatFile, ACursorFromAnEarlierMountIsRefused) {
    fat_image_builder_c image(12, 100);
    folder_cursor_s cursor;
    ASSERT_EQ(attach(image, cursor), fat_ok);
    file_cursor_s file;
    file.volume = &test_volume;
    file.mount_id = test_volume.mount_id;
    file.flags = file_open_read;
    file.size = 10;
    file.first_cluster = 5;
    folder_cursor_s again;
    ASSERT_EQ(attach(image, again), fat_ok);
    uint8_t data[16];
    uint32_t read = 0;
    EXPECT_EQ(f_readfile(file, data, 10, read, false), fat_invalid_object);
    EXPECT_EQ(f_readdir(cursor, nullptr), fat_invalid_object);
}

TEST(FatFolder, LongNamesAndDeletedEntries) {
    fat_image_builder_c image(16, 5000);
    uint8_t* root = image.root();
    uint32_t slot = 0;
    // A live file with a long name.
    slot = fat_image_builder_c::put_long_name(root, slot, u"Quarterly report.pdf", "QUARTE~1PDF",
                                              false);
    fat_image_builder_c::put_entry(root, slot++, "QUARTE~1PDF", 0x20, 10, 100);
    // Deleted the way Linux, Windows and cameras delete: every part marked.
    slot = fat_image_builder_c::put_long_name(root, slot, u"Alpha beta.txt", "ALPHAB~1TXT", true);
    fat_image_builder_c::put_entry(root, slot, "ALPHAB~1TXT", 0x20, 11, 100);
    fat_image_builder_c::mark_deleted(root, slot++);
    // Deleted without a long name: the first character is unknown.
    fat_image_builder_c::put_entry(root, slot, "ABC     TXT", 0x20, 12, 100);
    fat_image_builder_c::mark_deleted(root, slot++);
    // A long name with a wrong checksum.
    slot = fat_image_builder_c::put_long_name(root, slot, u"Wrong sum.txt", "OTHER   TXT", false);
    fat_image_builder_c::put_entry(root, slot++, "WRONGS~1TXT", 0x20, 13, 100);
    // A long name with its middle part missing.
    uint32_t start = slot;
    slot = fat_image_builder_c::put_long_name(root, slot, u"A rather long name, three parts.txt",
                                              "ARATHE~1TXT", false);
    std::memmove(root + (start + 1) * 32, root + (start + 2) * 32, 32);
    fat_image_builder_c::put_entry(root, slot - 1, "ARATHE~1TXT", 0x20, 14, 100);
    // Deleted parts of a long name whose first part is missing (not well made).
    start = slot;
    slot = fat_image_builder_c::put_long_name(root, slot, u"Incomplete name here.txt",
                                              "INCOMP~1TXT", true);
    std::memset(root + start * 32, 0, 32);
    root[start * 32] = 0xE5;  // a deleted plain entry where the first part was
    root[start * 32 + 11] = 0x20;
    fat_image_builder_c::put_entry(root, slot, "INCOMP~1TXT", 0x20, 15, 100);
    fat_image_builder_c::mark_deleted(root, slot++);
    // Deleted parts whose checksum gives a first byte no short name can start with.
    slot = fat_image_builder_c::put_long_name(root, slot, u"Lower case.txt", "lOWERC~1TXT", true);
    fat_image_builder_c::put_entry(root, slot, "LOWERC~1TXT", 0x20, 18, 100);
    fat_image_builder_c::mark_deleted(root, slot++);
    // A live short name with lower-case flags and a GBK name.
    fat_image_builder_c::put_entry(root, slot, "README  TXT", 0x20, 16, 1);
    root[slot++ * 32 + 12] = 0x18;
    fat_image_builder_c::put_entry(root, slot++, "\xD6\xD0\xCE\xC4    TXT", 0x20, 17, 1);

    folder_cursor_s cursor;
    ASSERT_EQ(attach(image, cursor), fat_ok);
    std::map<uint32_t, listed_s> by_cluster;
    for (const listed_s& entry : list_all(cursor)) {
        by_cluster[entry.cluster] = entry;
    }
    ASSERT_EQ(by_cluster.size(), 10u);
    EXPECT_EQ(by_cluster[10].long_name, u"Quarterly report.pdf");
    EXPECT_EQ(by_cluster[10].attr & fat_attr_deleted, 0);
    EXPECT_EQ(by_cluster[11].long_name, u"Alpha beta.txt");
    EXPECT_EQ(by_cluster[11].short_name, u"ALPHAB~1.TXT");  // first byte restored
    EXPECT_EQ(by_cluster[11].attr & fat_attr_deleted, fat_attr_deleted);
    EXPECT_EQ(by_cluster[12].short_name, u"#BC.TXT");
    EXPECT_EQ(by_cluster[12].long_name, u"");
    EXPECT_EQ(by_cluster[13].long_name, u"");  // wrong checksum
    EXPECT_EQ(by_cluster[14].long_name, u"");  // missing part
    // Only part 1 is left: it looks complete, but the short name's extension needs a dot.
    EXPECT_EQ(by_cluster[15].long_name, u"") << utf8(by_cluster[15].long_name);
    EXPECT_EQ(by_cluster[15].short_name, u"#NCOMP~1.TXT");
    EXPECT_EQ(by_cluster[18].long_name, u"");
    EXPECT_EQ(by_cluster[18].short_name, u"#OWERC~1.TXT");
    EXPECT_EQ(by_cluster[16].short_name, u"readme.txt");
    EXPECT_EQ(by_cluster[17].short_name, u"\u4E2D\u6587.TXT");
}

TEST(FatFolder, DeletedNamesKeepEveryKnownCharacter) {
    // The lost first byte is not decoded as a lead byte that swallows the next one.
    fat_image_builder_c image(12, 100);
    uint8_t* root = image.root();
    fat_image_builder_c::put_entry(root, 0, "ABC     TXT", 0x20, 5, 10);
    fat_image_builder_c::mark_deleted(root, 0);
    // A GBK name deleted: its lead byte is gone, the trail byte stands alone.
    fat_image_builder_c::put_entry(root, 1, "\x81\x40XY    TXT", 0x20, 6, 10);
    fat_image_builder_c::mark_deleted(root, 1);
    folder_cursor_s cursor;
    ASSERT_EQ(attach(image, cursor), fat_ok);
    std::vector<listed_s> entries = list_all(cursor);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].short_name, u"#BC.TXT");
    EXPECT_EQ(entries[1].short_name, u"#@XY.TXT");
}

TEST(FatFolder, FixedRootEndsAfterItsEntries) {
    fat_image_builder_c image(16, 5000);
    for (uint32_t slot = 0; slot < 512; ++slot) {
        char name[12];
        std::snprintf(name, sizeof(name), "F%06u TXT", slot);
        fat_image_builder_c::put_entry(image.root(), slot, name, 0x20, 2 + slot, 1);
    }
    folder_cursor_s cursor;
    ASSERT_EQ(attach(image, cursor), fat_ok);
    fat_result last = fat_disk_error;
    EXPECT_EQ(list_all(cursor, &last).size(), 512u);
    EXPECT_EQ(last, fat_ok);
}

TEST(FatFolder, AFolderWhoseChainIsGoneListsItsFirstCluster) {
    fat_image_builder_c image(32, 1000);
    uint8_t* folder = image.cluster(50);  // FAT entry 0: free, as after a deletion
    for (uint32_t slot = 0; slot < 16; ++slot) {
        fat_image_builder_c::put_entry(folder, slot, "FILE    BIN", 0x20, 60 + slot, 1);
    }
    folder_cursor_s cursor;
    ASSERT_EQ(attach(image, cursor), fat_ok);
    cursor.start_cluster = 50;
    ASSERT_EQ(f_readdir(cursor, nullptr), fat_ok);
    fat_result last = fat_ok;
    EXPECT_EQ(list_all(cursor, &last).size(), 16u);  // the 16th comes with the error
    EXPECT_EQ(last, fat_internal_error);
}

TEST(FatFolder, LoopingFolderChainsEnd) {
    fat_image_builder_c image(32, 1000);
    image.set_fat(50, 51);
    image.set_fat(51, 50);
    for (uint32_t c : {50u, 51u}) {
        for (uint32_t slot = 0; slot < 16; ++slot) {
            fat_image_builder_c::put_entry(image.cluster(c), slot, "FILE    BIN", 0x20, 60, 1);
        }
    }
    std::unordered_set<uint32_t> listed;
    folder_cursor_s cursor;
    ASSERT_EQ(attach(image, cursor), fat_ok);
    cursor.listed_clusters = &listed;
    cursor.start_cluster = 50;
    ASSERT_EQ(f_readdir(cursor, nullptr), fat_ok);
    EXPECT_EQ(list_all(cursor).size(), 32u);  // each cluster once
    // Even without the shared set, the 65,536-entry limit ends the folder.
    folder_cursor_s unguarded;
    ASSERT_EQ(f_opendir(unguarded, "/"), fat_ok);
    unguarded.start_cluster = 50;
    ASSERT_EQ(f_readdir(unguarded, nullptr), fat_ok);
    EXPECT_EQ(list_all(unguarded).size(), 65536u);
}

TEST(FatCodepage, GbkComesFromTheCLibrary) {
    EXPECT_EQ(oem_to_unicode('A'), u'A');
    EXPECT_EQ(oem_to_unicode(0x80), u'\u20AC');
    EXPECT_EQ(oem_to_unicode(0xB0A1), u'\u554A');
    EXPECT_EQ(oem_to_unicode(0xD6D0), u'\u4E2D');
    EXPECT_EQ(oem_to_unicode(0xFE4F), u'\uFA29');
    EXPECT_EQ(oem_to_unicode(0x817F), 0);  // 0x7F is no trail byte
}
