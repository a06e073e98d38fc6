#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "partitions/mbr_boot_code.h"
#include "tests/partitions/partition_images.h"
#include "tests/support/fixture.h"

namespace {

bool contains(const std::string& text) {
    return std::search(mbr_boot_code, mbr_boot_code + mbr_boot_code_size, text.begin(),
                       text.end()) != mbr_boot_code + mbr_boot_code_size;
}

TEST(mbr_boot_code, fits_and_carries_its_messages) {
    EXPECT_LE(mbr_boot_code_size, 440u);
    EXPECT_TRUE(contains("Invalid partition table"));
    EXPECT_TRUE(contains("Error loading operating system"));
    EXPECT_TRUE(contains("Missing operating system"));
}

TEST(mbr_boot_code, matches_the_assembly) {
    if (!have_program("nasm")) {
        GTEST_SKIP() << "nasm is not installed; cannot check the committed bytes";
    }
    std::string out = scratch_dir("nasm") + "/mbr_boot.bin";
    std::string source = std::string(QUARNEL_SOURCE_DIR) + "/partitions/mbr_boot.asm";
    ASSERT_EQ(run_command("nasm -f bin -o " + shell_quote(out) + " " + shell_quote(source)), 0);
    std::vector<uint8_t> assembled = read_file_bytes(out);
    std::vector<uint8_t> committed(mbr_boot_code, mbr_boot_code + mbr_boot_code_size);
    EXPECT_EQ(assembled, committed)
        << "partitions/mbr_boot_code.cpp is stale: run tools/make_partition_boot_code.sh";
}

}  // namespace
