#include <gtest/gtest.h>

#include <filesystem>

#include "libs/ntfs/ntfs_library.h"
#include "tests/libs/ntfs/ntfs_image.h"
#include "tests/support/fixture.h"

namespace {

class ntfs_fixture_test : public testing::TestWithParam<const char*> {};

// Every file the generator wrote is handed out with its state, size and folder chain, and
// comes back byte-identical; the image is unchanged by the scan and the recoveries.
TEST_P(ntfs_fixture_test, scans_and_recovers_every_file_of_the_manifest) {
    const std::string name = GetParam();
    const std::string image = fixture_path("ntfs/" + name + ".img");
    const std::string before = file_sha256(image);
    ntfs_context_s context;
    ASSERT_EQ(ntfs_scan_startup(image.c_str(), &context), 0);
    ASSERT_NE(context.open, 0);
    const auto entries = scan_all(context);
    EXPECT_EQ(context.records_done, context.records_total);
    ASSERT_TRUE(entries.count(5));
    EXPECT_EQ(entries.at(5).parent_id, 5u);
    EXPECT_EQ(entries.at(5).flags, ntfs_flag_folder);

    const std::string out = scratch_dir("ntfs-recover");
    int index = 0;
    for (const manifest_line_s& m : read_manifest(name + ".manifest")) {
        SCOPED_TRACE(m.path);
        const uint64_t id = find_entry(entries, m.path);
        ASSERT_NE(id, UINT64_MAX);
        const ntfs_entry_s& entry = entries.at(id);
        const uint32_t state =
            m.state == "live" ? ntfs_flag_file : (ntfs_flag_file | ntfs_flag_deleted);
        EXPECT_EQ(entry.flags, state);
        EXPECT_EQ(entry.size, m.size);
        EXPECT_GT(entry.date1, 1700000000);  // made this decade, not 1601 or garbage
        EXPECT_GT(entry.date2, 1700000000);
        const std::string target = out + "/" + std::to_string(index++);
        uint32_t word = 0;
        ASSERT_EQ(ntfs_recover_file(&context, id, target.c_str(), &word), 0);
        EXPECT_EQ(file_sha256(target), m.sha256);
    }
    ntfs_scan_close(&context);
    EXPECT_EQ(context.open, 0);
    EXPECT_EQ(file_sha256(image), before);
}

INSTANTIATE_TEST_SUITE_P(fixtures, ntfs_fixture_test, testing::Values("mixed", "sector4k"));

TEST(ntfs_library, deleted_folders_keep_their_files_and_the_long_name_wins) {
    const std::string image = fixture_path("ntfs/mixed.img");
    ntfs_context_s context;
    ASSERT_EQ(ntfs_scan_startup(image.c_str(), &context), 0);
    const auto entries = scan_all(context);
    const uint64_t old = find_entry(entries, "old");
    ASSERT_NE(old, UINT64_MAX);
    EXPECT_EQ(entries.at(old).flags, ntfs_flag_folder | ntfs_flag_deleted);
    const uint64_t docs = find_entry(entries, "docs");
    ASSERT_NE(docs, UINT64_MAX);
    EXPECT_EQ(entries.at(docs).flags, ntfs_flag_folder);
    // The DOS alias exists on disk but never replaces the long name.
    EXPECT_NE(find_entry(entries, "docs/long name for the dos test.txt"), UINT64_MAX);
    for (const auto& [id, entry] : entries) {
        EXPECT_NE(utf8_name(entry), "LONGNA~1.TXT");
    }
    // A folder is not a file: recovering it fails and leaves nothing behind.
    const std::string target = scratch_dir("ntfs-folder") + "/docs";
    EXPECT_LT(ntfs_recover_file(&context, docs, target.c_str(), nullptr), 0);
    EXPECT_FALSE(std::filesystem::exists(target));
}

TEST(ntfs_library, refuses_what_is_not_ntfs_and_closed_contexts) {
    const std::string dir = scratch_dir("ntfs-notntfs");
    const std::string zeros = dir + "/zeros.img";
    write_file_bytes(zeros, std::vector<uint8_t>(1 << 20, 0));
    ntfs_context_s context;
    EXPECT_EQ(ntfs_scan_startup(zeros.c_str(), &context), ntfs_err_not_ntfs);
    EXPECT_EQ(context.open, 0);
    EXPECT_EQ(ntfs_scan_startup((dir + "/missing.img").c_str(), &context), ntfs_err_open);
    ntfs_entry_s entry{};
    EXPECT_EQ(ntfs_scan_next(&context, &entry), 0);
    EXPECT_EQ(ntfs_recover_file(&context, 5, (dir + "/x").c_str(), nullptr), ntfs_err_no_volume);
    ntfs_scan_close(&context);
    ntfs_scan_close(&context);
}

}  // namespace
