#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

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

}  // namespace
