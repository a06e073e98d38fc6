#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "libs/ntfs/ntfs_layout.h"
#include "libs/ntfs/ntfs_library.h"
#include "tests/libs/ntfs/ntfs_image.h"
#include "tests/support/fixture.h"

namespace {

// `quarnel-cli scan IMG --recover OUT` brings back every deleted file of the fixture under
// its folders, byte-identical, and leaves the image as it was.
TEST(ntfs_cli, scan_recovers_the_deleted_files_into_their_folders) {
    for (const std::string name : {"mixed", "sector4k"}) {
        SCOPED_TRACE(name);
        const std::string image = fixture_path("ntfs/" + name + ".img");
        const std::string before = file_sha256(image);
        const std::string out = scratch_dir("ntfs-cli") + "/out";
        std::string listing;
        ASSERT_EQ(run_command(std::string(QUARNEL_CLI_PATH) + " scan '" + image + "' --recover '" +
                                  out + "' 2>&1",
                              &listing),
                  0)
            << listing;
        std::ifstream manifest(std::string(QUARNEL_SOURCE_DIR) + "/tests/fixtures/ntfs/" + name +
                               ".manifest");
        std::string line;
        int deleted = 0;
        while (std::getline(manifest, line)) {
            std::istringstream fields(line);
            std::string state, size, sha, path;
            std::getline(fields, state, '\t');
            std::getline(fields, size, '\t');
            std::getline(fields, sha, '\t');
            std::getline(fields, path);
            SCOPED_TRACE(path);
            if (state != "deleted") {
                EXPECT_FALSE(std::filesystem::exists(out + "/" + path));
                continue;
            }
            ++deleted;
            EXPECT_EQ(file_sha256(out + "/" + path), sha);
        }
        EXPECT_GT(deleted, 0);
        EXPECT_EQ(file_sha256(image), before);
    }
}

// A deleted folder whose record was taken by a newer file: what was inside it is recovered
// under the orphans' folder, keeping the part of the chain that is still known.
TEST(ntfs_cli, files_of_a_reused_folder_come_back_as_orphans) {
    const std::string image = fixture_path("ntfs/mixed.img");
    std::vector<uint8_t> bytes = read_file_bytes(image);
    ntfs_context_s context;
    ASSERT_EQ(ntfs_scan_startup(image.c_str(), &context), 0);
    const uint64_t old = find_entry(scan_all(context), "old");
    ASSERT_NE(old, UINT64_MAX);
    const uint64_t rec = record_offset(bytes, old);
    bytes[rec + ntfs_layout::rec_flags] |= ntfs_layout::rec_flag_in_use;
    bytes[rec + ntfs_layout::rec_sequence] += 1;
    write_file_bytes(image, bytes);

    const std::string out = scratch_dir("ntfs-cli-orphans") + "/out";
    std::string listing;
    ASSERT_EQ(run_command(std::string(QUARNEL_CLI_PATH) + " scan '" + image + "' --recover '" +
                              out + "' 2>&1",
                          &listing),
              0)
        << listing;
    std::map<std::string, std::string> expected;
    for (const manifest_line_s& m : read_manifest("mixed.manifest")) {
        expected[m.path] = m.sha256;
    }
    EXPECT_EQ(file_sha256(out + "/_orphaned/a.txt"), expected["old/a.txt"]) << listing;
    EXPECT_EQ(file_sha256(out + "/_orphaned/inner/deep.txt"), expected["old/inner/deep.txt"]);
    EXPECT_EQ(file_sha256(out + "/docs/gone_big.bin"), expected["docs/gone_big.bin"]);
}

}  // namespace

// A volume whose first sector was wiped is not recognised by its type, yet the scan reads it
// through the backup boot sector at its end. A volume with no NTFS at all fails with 1.
TEST(ntfs_cli, a_wiped_boot_sector_is_read_through_its_backup) {
    const std::string image = fixture_path("ntfs/mixed.img");
    std::vector<uint8_t> bytes = read_file_bytes(image);
    std::fill(bytes.begin(), bytes.begin() + 512, 0);
    write_file_bytes(image, bytes);
    std::string listing;
    EXPECT_EQ(run_command(std::string(QUARNEL_CLI_PATH) + " scan '" + image + "' 2>&1", &listing),
              0)
        << listing;
    EXPECT_NE(listing.find("deleted"), std::string::npos) << listing;

    std::fill(bytes.end() - 512, bytes.end(), 0);
    write_file_bytes(image, bytes);
    listing.clear();
    EXPECT_EQ(run_command(std::string(QUARNEL_CLI_PATH) + " scan '" + image + "' 2>&1", &listing),
              1);
    EXPECT_NE(listing.find("backup copy"), std::string::npos) << listing;
}
