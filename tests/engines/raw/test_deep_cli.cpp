// quarnel-cli scan --deep --save and load, end to end over the carving fixture.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <set>

#include "tests/support/fixture.h"

namespace {

std::set<std::string> hashes_below(const std::string& dir) {
    std::set<std::string> out;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
        if (entry.is_regular_file()) {
            out.insert(file_sha256(entry.path().string()));
        }
    }
    return out;
}

TEST(deep_cli, scan_save_then_load_recover_the_same_files) {
    if (access(QUARNEL_CLI_PATH, X_OK) != 0) {
        GTEST_SKIP() << "quarnel-cli is not built (" << QUARNEL_CLI_PATH << ")";
    }
    std::string cli = QUARNEL_CLI_PATH;
    std::string image = fixture_path("carve/carve.img");
    std::string dir = scratch_dir("deep-cli");
    std::string out;
    ASSERT_EQ(run_command(cli + " scan '" + image + "' --deep --whole-disk --save '" + dir +
                              "/r.sav' --recover '" + dir + "/scan' 2>&1",
                          &out),
              0)
        << out;
    EXPECT_NE(out.find("png: 2"), std::string::npos) << out;
    EXPECT_TRUE(std::filesystem::exists(dir + "/scan/jpg/00000000.jpg"));
    ASSERT_EQ(run_command(
                  cli + " load '" + dir + "/r.sav' --flat --json --recover '" + dir + "/load' 2>&1",
                  &out),
              0)
        << out;
    EXPECT_NE(out.find("\"found\": 24"), std::string::npos) << out;
    EXPECT_EQ(hashes_below(dir + "/scan"), hashes_below(dir + "/load"));
    // A placed file of the fixture, as the tool made it.
    EXPECT_TRUE(hashes_below(dir + "/load")
                    .count("c3f0723b59bce8b5c439ecdf636b8585dc66d1b4412e73a85c21525b202babd3"));

    EXPECT_EQ(run_command(cli + " load '" + dir + "/missing.sav' 2>&1", &out), 1);
    write_file_bytes(dir + "/bad.sav", std::vector<uint8_t>(256 + 31, 0));
    EXPECT_EQ(run_command(cli + " load '" + dir + "/bad.sav' 2>&1", &out), 1);
    EXPECT_NE(out.find("not a deep-scan result"), std::string::npos) << out;
}

}  // namespace
