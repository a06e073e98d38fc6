#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <string>

#include "partitions/mbr_boot_code.h"
#include "partitions/partition_table_repair.h"
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

namespace {

std::string qemu_program() {
    for (const char* name : {"qemu-system-x86_64", "qemu-system-i386"}) {
        if (have_program(name)) {
            return name;
        }
    }
    return "";
}

// Boots `image` in a virtual PC and returns what its serial port (and, with no display,
// the BIOS text screen) printed once `expected` showed up or the machine ended itself.
// `disk` replaces the default IDE disk options (to fix its geometry, for instance).
std::string boot(const std::string& image, const std::string& expected,
                 const std::string& disk = "") {
    std::string dir = std::filesystem::path(image).parent_path().string();
    std::string log = dir + "/serial.txt";
    std::string drive =
        disk.empty() ? "-drive file=" + shell_quote(image) + ",format=raw,if=ide" : disk;
    std::string script =
        shell_quote(qemu_program()) + " -nographic -net none -m 32 -no-reboot " + drive +
        " -device isa-debug-exit,iobase=0xf4,iosize=0x04 >" + shell_quote(log) +
        " 2>&1 & pid=$!; i=0; while [ $i -lt 300 ] && kill -0 $pid 2>/dev/null && ! grep -q " +
        shell_quote(expected) + " " + shell_quote(log) +
        "; do sleep 0.1; i=$((i+1)); done; kill $pid 2>/dev/null; wait $pid; cat " +
        shell_quote(log);
    std::string out;
    run_command("sh -c " + shell_quote(script), &out);
    return out;
}

std::string boot_tools_missing() {
    if (qemu_program().empty()) {
        return "qemu-system-x86 is not installed; the boot program is not run";
    }
    if (!have_program("nasm") || !partition_image_tools_missing().empty()) {
        return "needs nasm, mkntfs and mkfs.fat to build the boot image";
    }
    return "";
}

// An image with one NTFS volume at sector 2047 whose boot sector is the probe.
std::string probe_image(const std::string& dir) {
    std::string img = dir + "/boot.img";
    EXPECT_EQ(make_partition_image(img, 32, "ntfs:2047:8", false), 0);
    return img;
}

void install_probe(const std::string& dir, const std::string& img) {
    std::string probe = dir + "/probe.bin";
    std::string source = std::string(QUARNEL_SOURCE_DIR) + "/tests/partitions/boot_probe.asm";
    ASSERT_EQ(run_command("nasm -f bin -o " + shell_quote(probe) + " " + shell_quote(source)), 0);
    // The volume's own boot sector is replaced by the probe, which reports over the serial port.
    ASSERT_EQ(run_command("dd if=" + shell_quote(probe) + " of=" + shell_quote(img) +
                          " bs=512 seek=2047 conv=notrunc status=none"),
              0);
}

struct boot_case_s {
    const char* what;
    const char* patch;  // shell commands run on $img after the repair
    const char* expected;
};

class mbr_boot_in_qemu : public testing::TestWithParam<boot_case_s> {};

TEST_P(mbr_boot_in_qemu, boots_or_says_why_not) {
    std::string missing = boot_tools_missing();
    if (!missing.empty()) {
        GTEST_SKIP() << missing;
    }
    std::string dir = scratch_dir("boot");
    std::string img = probe_image(dir);
    std::string cli = shell_quote(QUARNEL_CLI_PATH);
    ASSERT_EQ(run_command("XDG_STATE_HOME=" + shell_quote(dir) + " " + cli + " partitions " +
                          shell_quote(img) + " --repair --yes >/dev/null 2>&1"),
              0);
    ASSERT_NO_FATAL_FAILURE(install_probe(dir, img));
    ASSERT_EQ(run_command("img=" + shell_quote(img) + "; " + GetParam().patch), 0);
    std::string out = boot(img, GetParam().expected);
    EXPECT_NE(out.find(GetParam().expected), std::string::npos) << GetParam().what << ":\n" << out;
}

INSTANTIATE_TEST_SUITE_P(
    cases, mbr_boot_in_qemu,
    testing::Values(
        // DS:SI must point at the entry: the probe prints its first sector, 2047 = 0x7FF.
        boot_case_s{"active partition booted", "true", "BOOTED 000007FF"},
        boot_case_s{"no boot signature",
                    "dd if=/dev/zero of=\"$img\" bs=1 seek=$((2047*512+510)) count=2 "
                    "conv=notrunc status=none",
                    "Missing operating system"},
        boot_case_s{"two active entries",
                    "printf '\\200\\0\\0\\0\\7' | dd of=\"$img\" bs=1 seek=462 conv=notrunc "
                    "status=none",
                    "Invalid partition table"},
        boot_case_s{"unreadable first sector",
                    "printf '\\377\\377\\377\\0' | dd of=\"$img\" bs=1 seek=454 conv=notrunc "
                    "status=none",
                    "Error loading operating system"}));

// Without the BIOS's extended disk services the boot program reads by cylinder, head and
// sector, which must agree with the geometry the BIOS uses: 16 heads and 63 sectors here.
TEST(mbr_boot_in_qemu_chs, boots_through_chs_reads) {
    std::string missing = boot_tools_missing();
    if (!missing.empty()) {
        GTEST_SKIP() << missing;
    }
    std::string dir = scratch_dir("boot-chs");
    std::string img = probe_image(dir);
    partition_item_s ntfs{QStringLiteral("NTFS"), 7, 2047, 2047 + 16383};
    repair_report_s report;
    setenv("XDG_STATE_HOME", dir.c_str(), 1);
    ASSERT_EQ(repair_partition_table(img, {ntfs}, chs_geometry_s{16, 63}, report), 0)
        << report.message;
    ASSERT_NO_FATAL_FAILURE(install_probe(dir, img));
    // Make the check for the extended services fail: "mov ah, 41h" becomes "mov ah, 0".
    std::vector<uint8_t> bytes = read_file_bytes(img);
    const uint8_t check[] = {0xB4, 0x41, 0xBB, 0xAA, 0x55};
    auto at = std::search(bytes.begin(), bytes.begin() + 440, std::begin(check), std::end(check));
    ASSERT_NE(at, bytes.begin() + 440);
    *(at + 1) = 0x00;
    write_file_bytes(img, bytes);
    std::string out = boot(img, "BOOTED 000007FF",
                           "-drive file=" + shell_quote(img) +
                               ",format=raw,if=none,id=disk -device ide-hd,drive=disk,cyls=65,"
                               "heads=16,secs=63,bios-chs-trans=none");
    EXPECT_NE(out.find("BOOTED 000007FF"), std::string::npos) << out;
}

}  // namespace
