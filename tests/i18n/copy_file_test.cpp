#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QString>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "i18n/copy_file.h"
#include "tests/support/fixture.h"

namespace {

std::vector<uint8_t> pattern_bytes(size_t size) {
    std::vector<uint8_t> bytes(size);
    uint32_t state = 12345;
    for (uint8_t& byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<uint8_t>(state >> 16);
    }
    return bytes;
}

QString q(const std::string& path) {
    return QString::fromStdString(path);
}

TEST(copy_file_test, copies_files_of_any_size_exactly) {
    // Around the 128 KiB piece size, and the three-piece 300,000-byte file.
    const size_t sizes[] = {0, 1, 131071, 131072, 131073, 300000};
    const std::string folder = scratch_dir("copy-sizes");
    for (size_t size : sizes) {
        SCOPED_TRACE(size);
        const std::string source = folder + "/source-" + std::to_string(size);
        const std::string target = folder + "/target-" + std::to_string(size);
        write_file_bytes(source, pattern_bytes(size));
        ASSERT_EQ(copy_file(q(source), q(target)), 0);
        EXPECT_EQ(read_file_bytes(target), pattern_bytes(size));
    }
}

TEST(copy_file_test, replaces_a_longer_existing_target_entirely) {
    const std::string folder = scratch_dir("copy-replace");
    const std::string source = folder + "/source";
    const std::string target = folder + "/target";
    write_file_bytes(source, pattern_bytes(1000));
    write_file_bytes(target, std::vector<uint8_t>(400000, 0xAA));
    ASSERT_EQ(copy_file(q(source), q(target)), 0);
    EXPECT_EQ(read_file_bytes(target), pattern_bytes(1000));
}

TEST(copy_file_test, missing_source_fails_without_creating_the_target) {
    const std::string folder = scratch_dir("copy-missing");
    const std::string target = folder + "/target";
    EXPECT_EQ(copy_file(q(folder + "/nothing-here"), q(target)), -1);
    EXPECT_FALSE(std::filesystem::exists(target));
}

TEST(copy_file_test, target_that_cannot_be_created_fails) {
    const std::string folder = scratch_dir("copy-no-folder");
    const std::string source = folder + "/source";
    write_file_bytes(source, pattern_bytes(10));
    EXPECT_EQ(copy_file(q(source), q(folder + "/no/such/folder/target")), -1);
    EXPECT_EQ(copy_file(q(source), q(folder)), -1);  // a folder is no file to write
}

TEST(copy_file_test, copy_onto_the_source_itself_leaves_it_whole) {
    const std::string folder = scratch_dir("copy-same");
    const std::string source = folder + "/source";
    write_file_bytes(source, pattern_bytes(5000));
    std::filesystem::create_hard_link(source, folder + "/hard");
    std::filesystem::create_symlink(source, folder + "/soft");
    for (const std::string& target : {source, folder + "/hard", folder + "/soft"}) {
        SCOPED_TRACE(target);
        EXPECT_EQ(copy_file(q(source), q(target)), -1);
        EXPECT_EQ(read_file_bytes(source), pattern_bytes(5000));
    }
}

TEST(copy_file_test, full_target_is_a_failure_not_a_short_success) {
    if (!std::filesystem::exists("/dev/full")) {
        GTEST_SKIP() << "/dev/full is missing on this machine";
    }
    const std::string folder = scratch_dir("copy-full");
    const std::string source = folder + "/source";
    write_file_bytes(source, pattern_bytes(300000));
    EXPECT_EQ(copy_file(q(source), "/dev/full"), -1);
}

TEST(copy_file_test, unreadable_source_content_is_a_failure) {
    // A folder opens for reading but every read of it fails.
    const std::string folder = scratch_dir("copy-read-error");
    const std::string target = folder + "/target";
    EXPECT_EQ(copy_file(q(folder), q(target)), -1);
}

TEST(copy_file_test, read_only_target_fails_and_keeps_its_content) {
    const std::string folder = scratch_dir("copy-read-only");
    const std::string source = folder + "/source";
    const std::string target = folder + "/target";
    write_file_bytes(source, pattern_bytes(100));
    write_file_bytes(target, std::vector<uint8_t>(50, 0x55));
    ASSERT_EQ(chmod(target.c_str(), 0444), 0);
    // Root writes through file modes; the immutable attribute stops root as well.
    const bool immutable =
        running_as_root() && run_command("chattr +i '" + target + "' 2>/dev/null") == 0;
    if (running_as_root() && !immutable) {
        GTEST_SKIP() << "running as root and this file system has no immutable attribute, so "
                        "no target is read-only for us";
    }
    const int result = copy_file(q(source), q(target));
    if (immutable) {
        run_command("chattr -i '" + target + "'");
    }
    EXPECT_EQ(result, -1);
    EXPECT_EQ(read_file_bytes(target), std::vector<uint8_t>(50, 0x55));
}

}  // namespace
