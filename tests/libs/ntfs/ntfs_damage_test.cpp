#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "libs/ntfs/le_load.h"
#include "libs/ntfs/ntfs_layout.h"
#include "libs/ntfs/ntfs_library.h"
#include "libs/ntfs/ntfs_source_startup.h"
#include "platform/memory_source.h"
#include "tests/libs/ntfs/ntfs_image.h"
#include "tests/support/fixture.h"

namespace {

using namespace ntfs_layout;
// The last two bytes of a record's first 512-byte block carry the update sequence number.
constexpr uint64_t first_block_tail = 510;

// The fixture's bytes, read once: each test patches its own copy.
std::vector<uint8_t> mixed_bytes() {
    static const std::vector<uint8_t> bytes = read_file_bytes(fixture_path("ntfs/mixed.img"));
    return bytes;
}

std::map<uint64_t, ntfs_entry_s> scan_bytes(std::vector<uint8_t> bytes, int* startup = nullptr) {
    ntfs_context_s context;
    const int r =
        ntfs_scan_startup_source(std::make_shared<memory_source_c>(std::move(bytes)), &context);
    if (startup != nullptr) {
        *startup = r;
    }
    return r == 0 ? scan_all(context) : std::map<uint64_t, ntfs_entry_s>{};
}

uint64_t id_of(const std::string& path) {
    static const auto entries = scan_bytes(mixed_bytes());
    return find_entry(entries, path);
}

// Damage that must cost exactly one record (or nothing) and never the scan.
struct record_damage_s {
    const char* what;
    const char* path;  // the record damaged
    void (*apply)(std::vector<uint8_t>& image, uint64_t record);
    bool record_lost;
};

const record_damage_s record_damages[] = {
    {"fix-up value does not match", "docs/gone_big.bin",
     [](std::vector<uint8_t>& image, uint64_t rec) { image[rec + first_block_tail] ^= 0xFF; },
     true},
    {"no FILE signature", "docs/gone_big.bin",
     [](std::vector<uint8_t>& image, uint64_t rec) { image[rec] = 'X'; }, true},
    {"attribute length overflows the record", "old/a.txt",
     [](std::vector<uint8_t>& image, uint64_t rec) {
         const uint64_t first = rec + ld_u16(&image[rec + rec_first_attribute]);
         image[first + attr_length] = 0xF0;
         image[first + attr_length + 1] = 0xFF;
     },
     true},
    {"first attribute offset past the record", "old/a.txt",
     [](std::vector<uint8_t>& image, uint64_t rec) {
         image[rec + rec_first_attribute] = 0xF8;  // 0x3F8: the record's last bytes
         image[rec + rec_first_attribute + 1] = 0x03;
     },
     true},
    {"file name length past its attribute", "docs/café.txt",
     [](std::vector<uint8_t>& image, uint64_t rec) {
         // Raise every $FILE_NAME's length byte: the names no longer fit.
         uint64_t pos = rec + ld_u16(&image[rec + rec_first_attribute]);
         while (ld_u32(&image[pos]) != type_end) {
             if (ld_u32(&image[pos]) == type_file_name) {
                 image[pos + ld_u16(&image[pos + attr_value_offset]) + fn_name_length] = 0xFF;
             }
             pos += ld_u32(&image[pos + attr_length]);
         }
     },
     true},
};

TEST(ntfs_damage, a_damaged_record_is_skipped_and_the_rest_is_found) {
    const std::vector<uint8_t> clean = mixed_bytes();
    const size_t expected = scan_bytes(clean).size();
    for (const record_damage_s& d : record_damages) {
        SCOPED_TRACE(d.what);
        const uint64_t id = id_of(d.path);
        ASSERT_NE(id, UINT64_MAX);
        std::vector<uint8_t> image = clean;
        d.apply(image, record_offset(image, id));
        int startup = -100;
        const auto entries = scan_bytes(image, &startup);
        ASSERT_EQ(startup, 0);
        EXPECT_EQ(entries.count(id), d.record_lost ? 0u : 1u);
        EXPECT_EQ(entries.size(), expected - (d.record_lost ? 1 : 0));
        EXPECT_NE(find_entry(entries, "docs/keep.txt"), UINT64_MAX);
    }
}

TEST(ntfs_damage, the_backup_boot_sector_stands_in_for_a_damaged_one) {
    std::vector<uint8_t> image = mixed_bytes();
    const size_t expected = scan_bytes(image).size();
    std::fill(image.begin(), image.begin() + 512, 0);
    int startup = -100;
    EXPECT_EQ(scan_bytes(image, &startup).size(), expected);
    EXPECT_EQ(startup, 0);
    std::fill(image.end() - 512, image.end(), 0);
    scan_bytes(image, &startup);
    EXPECT_EQ(startup, ntfs_err_not_ntfs);
}

TEST(ntfs_damage, the_mft_mirror_stands_in_for_a_damaged_mft_record) {
    std::vector<uint8_t> image = mixed_bytes();
    const size_t expected = scan_bytes(image).size();
    image[record_offset(image, 0) + first_block_tail] ^=
        0xFF;  // $MFT's own record fails its fix-up
    int startup = -100;
    // Record 0 itself is lost, every other one is still reached.
    EXPECT_EQ(scan_bytes(image, &startup).size(), expected - 1);
    EXPECT_EQ(startup, 0);
}

// A folder record taken over by a newer file (in use, sequence number moved on): the
// deleted files that pointed at the old folder become orphans instead of being filed
// under the wrong folder. One step back while the record is free is still the folder.
TEST(ntfs_damage, a_reused_folder_record_makes_its_old_files_orphans) {
    const uint64_t old = id_of("old");
    const uint64_t file = id_of("old/a.txt");
    ASSERT_NE(old, UINT64_MAX);
    ASSERT_NE(file, UINT64_MAX);
    std::vector<uint8_t> image = mixed_bytes();
    const uint64_t rec = record_offset(image, old);
    image[rec + rec_flags] |= rec_flag_in_use;  // in use again
    image[rec + rec_sequence] += 1;             // by a file one generation later
    const auto entries = scan_bytes(image);
    ASSERT_TRUE(entries.count(file));
    EXPECT_EQ(entries.at(file).parent_id, ntfs_orphan_parent);
    EXPECT_EQ(entries.at(file).flags, ntfs_flag_file | ntfs_flag_deleted);
    EXPECT_NE(find_entry(entries, "docs/gone_small.txt"), UINT64_MAX);
    // Unpatched, the same file belongs to its deleted folder.
    EXPECT_EQ(scan_bytes(mixed_bytes()).at(file).parent_id, old);
}

// A bad area in the middle of the MFT costs the records in it, not the ones before it.
TEST(ntfs_damage, an_unreadable_area_of_the_mft_costs_only_its_records) {
    const std::vector<uint8_t> clean = mixed_bytes();
    const uint64_t docs = id_of("docs");
    ASSERT_NE(docs, UINT64_MAX);
    auto source = std::make_shared<memory_source_c>(clean);
    source->fail_reads_from(record_offset(clean, docs + 1));
    ntfs_context_s context;
    ASSERT_EQ(ntfs_scan_startup_source(source, &context), 0);
    const auto entries = scan_all(context);
    EXPECT_EQ(entries.count(docs), 1u);
    EXPECT_EQ(entries.count(5), 1u);
    EXPECT_EQ(context.records_done, context.records_total);
    for (const auto& [id, entry] : entries) {
        EXPECT_LE(id, docs);
    }
}

// Writes the image to a file and recovers one entry: the result and what was left.
int recover_from(const std::vector<uint8_t>& image, uint64_t id, std::string& target) {
    ntfs_context_s context;
    if (ntfs_scan_startup_source(std::make_shared<memory_source_c>(image), &context) != 0) {
        return 1;
    }
    target = scratch_dir("ntfs-damage") + "/out.bin";
    return ntfs_recover_file(&context, id, target.c_str(), nullptr);
}

TEST(ntfs_damage, runs_leaving_the_volume_and_encryption_fail_without_a_target) {
    const uint64_t id = id_of("docs/gone_big.bin");
    ASSERT_NE(id, UINT64_MAX);
    const std::vector<uint8_t> clean = mixed_bytes();
    const uint64_t data_at = attribute_offset(clean, id, type_data);
    ASSERT_NE(data_at, 0u);
    ASSERT_EQ(clean[data_at + attr_non_resident], 1) << "the test file must be non-resident";
    const uint64_t pairs_at = data_at + ld_u16(&clean[data_at + attr_mapping_pairs]);
    struct case_s {
        const char* what;
        int expected;
        void (*apply)(std::vector<uint8_t>&, uint64_t data, uint64_t pairs);
    } cases[] = {
        {"first run starts past the volume's end", ntfs_err_bad_runs,
         [](std::vector<uint8_t>& image, uint64_t, uint64_t pairs) {
             const uint32_t length_bytes = image[pairs] & 0x0F;
             const uint32_t offset_bytes = image[pairs] >> 4;
             image[pairs + length_bytes + offset_bytes] = 0x7F;  // highest byte of the offset
         }},
        {"run length of 2^56 clusters", ntfs_err_bad_runs,
         [](std::vector<uint8_t>& image, uint64_t, uint64_t pairs) {
             image[pairs + (image[pairs] & 0x0F)] = 0x7F;
         }},
        {"size beyond the runs", ntfs_err_bad_runs,
         [](std::vector<uint8_t>& image, uint64_t data, uint64_t) {
             image[data + attr_data_size + 6] = 0x01;  // 2^48 bytes
         }},
        {"encrypted stream", ntfs_err_encrypted,
         [](std::vector<uint8_t>& image, uint64_t data, uint64_t) {
             image[data + attr_flags + 1] |= attr_flag_encrypted >> 8;
         }},
    };
    for (const case_s& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> image = clean;
        c.apply(image, data_at, pairs_at);
        std::string target;
        EXPECT_EQ(recover_from(image, id, target), c.expected);
        EXPECT_FALSE(std::filesystem::exists(target));
    }
}

// Random bytes thrown over the MFT: the scan and every recovery end, without a crash.
TEST(ntfs_damage, random_mft_damage_never_crashes) {
    const std::vector<uint8_t> clean = mixed_bytes();
    const uint64_t mft = record_offset(clean, 0);
    const uint32_t rs = record_size_of(clean);
    std::mt19937 rng(1234);
    const std::string out = scratch_dir("ntfs-fuzz") + "/out.bin";
    for (int round = 0; round < 30; ++round) {
        std::vector<uint8_t> image = clean;
        for (int i = 0; i < 200; ++i) {
            const uint64_t at = mft + rng() % (64ull * rs);
            image[at] = static_cast<uint8_t>(rng());
        }
        ntfs_context_s context;
        if (ntfs_scan_startup_source(std::make_shared<memory_source_c>(image), &context) != 0) {
            continue;
        }
        for (const auto& [id, entry] : scan_all(context)) {
            ntfs_recover_file(&context, id, out.c_str(), nullptr);
        }
    }
}

}  // namespace
