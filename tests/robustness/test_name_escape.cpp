// Names read from a disk cannot lead a recovery out of its folder: FAT and NTFS volumes whose
// deleted entries are named "..", "a/b", "../../x", with NUL or control characters, 255
// UTF-16 units long, or twice the same, are recovered with quarnel-cli into a tree and flat.
// Every file must come back exactly once, inside the folder, under a safe name.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/engines/fat/fat_image_builder.h"
#include "tests/robustness/robustness_cli.h"
#include "tests/support/fixture.h"

namespace {

namespace fs = std::filesystem;

// Boot-sector fields of the mkfs.fat volume.
constexpr size_t bpb_bytes_per_sector = 11;
constexpr size_t bpb_sectors_per_cluster = 13;
constexpr size_t bpb_reserved_sectors = 14;
constexpr size_t bpb_fat_count = 16;
constexpr size_t bpb_root_entries = 17;
constexpr size_t bpb_fat_size16 = 22;
constexpr uint8_t attr_file = 0x20;
constexpr uint8_t attr_folder = 0x10;

uint32_t load16(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8;
}

std::string sha256_of(const std::string& path) {
    return file_sha256(path);
}

// The content each planted file holds: unique per file.
std::vector<uint8_t> planted_content(size_t index) {
    const std::string unit = "planted-" + std::to_string(index) + "|";
    std::vector<uint8_t> bytes(100 + 7 * index);
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = uint8_t(unit[i % unit.size()]);
    }
    return bytes;
}

// A FAT12 floppy made by mkfs.fat whose root holds deleted files with hostile long and short
// names and a deleted folder named ".." with one more inside. Fills `contents` with the
// sha256 of every planted file.
std::string hostile_fat_image(std::vector<std::string>& contents) {
    const std::string dir = scratch_dir("hostile-fat");
    const std::string path = dir + "/hostile.img";
    if (run_command("mkfs.fat -C -F 12 -i 12121212 " + shell_quote(path) +
                    " 1440 >/dev/null 2>&1") != 0) {
        return {};
    }
    std::vector<uint8_t> image = read_file_bytes(path);
    const uint32_t sector = load16(image, bpb_bytes_per_sector);
    const uint32_t cluster_bytes = sector * image[bpb_sectors_per_cluster];
    const size_t root = (load16(image, bpb_reserved_sectors) +
                         size_t{image[bpb_fat_count]} * load16(image, bpb_fat_size16)) *
                        sector;
    const size_t data = root + load16(image, bpb_root_entries) * 32;
    auto cluster = [&](uint32_t n) { return image.data() + data + (n - 2) * cluster_bytes; };

    const std::u16string long_names[] = {
        u"..",
        u"a/b",
        u"../../x",
        std::u16string(u"nul\0hidden.txt", 14),
        u"ctl\x01\x1b\x7f.txt",
        std::u16string(251, u'L') + u".txt",
        u"same.txt",
        u"same.txt",
        u".",
        u"/",
        u"\\..\\win.txt",
        u"  ",
    };
    // Raw short names with no long name; the first byte is lost to the deletion mark.
    const char* const short_only[] = {"XA/B    TXT", "X\x01\x1b\x7f    TXT", "X..        "};
    uint32_t slot = 0;
    size_t planted = 0;
    auto plant = [&](uint8_t* folder, const std::u16string* long_name, std::string name11) {
        const uint32_t first = uint32_t(10 + planted);
        const std::vector<uint8_t> bytes = planted_content(planted);
        std::memcpy(cluster(first), bytes.data(), bytes.size());
        write_file_bytes(dir + "/content", bytes);
        contents.push_back(sha256_of(dir + "/content"));
        if (long_name) {
            slot = fat_image_builder_c::put_long_name(folder, slot, *long_name, name11, true);
        }
        fat_image_builder_c::put_entry(folder, slot, name11, attr_file, first,
                                       uint32_t(bytes.size()));
        fat_image_builder_c::mark_deleted(folder, slot++);
        ++planted;
    };
    for (size_t i = 0; i < std::size(long_names); ++i) {
        plant(image.data() + root, &long_names[i], "HOSTILE" + std::to_string(i % 10) + "TXT");
    }
    for (const char* name11 : short_only) {
        plant(image.data() + root, nullptr, std::string(name11, 11));
    }
    // A deleted folder named ".." (cluster 60) with "../../escape.txt" inside.
    const std::u16string folder_name = u"..";
    slot = fat_image_builder_c::put_long_name(image.data() + root, slot, folder_name, "DOTDOT     ",
                                              true);
    fat_image_builder_c::put_entry(image.data() + root, slot, "DOTDOT     ", attr_folder, 60, 0);
    fat_image_builder_c::mark_deleted(image.data() + root, slot++);
    uint8_t* inside = cluster(60);
    fat_image_builder_c::put_entry(inside, 0, ".          ", attr_folder, 60, 0);
    fat_image_builder_c::put_entry(inside, 1, "..         ", attr_folder, 0, 0);
    slot = 2;
    const std::u16string inner = u"../../escape.txt";
    plant(inside, &inner, "ESCAPE  TXT");

    write_file_bytes(path, image);
    return path;
}

// What a name taken from a disk may look like once it is a file name here.
void expect_safe_component(const std::string& name, const std::string& where) {
    EXPECT_FALSE(name.empty()) << where;
    EXPECT_NE(name, ".") << where;
    EXPECT_NE(name, "..") << where;
    EXPECT_LE(name.size(), 255u) << where;
    for (unsigned char c : name) {
        EXPECT_TRUE(c >= 0x20 && c != 0x7F && c != '/') << "control byte in " << where;
    }
}

// Recovers `image` into a folder two levels below a fresh scratch folder and checks that
// every planted file is there exactly once, inside that folder, under a safe name, and
// that nothing else was written.
void check_recovery(const std::string& image, const std::vector<std::string>& contents, bool flat) {
    const std::string base = scratch_dir(flat ? "escape-flat" : "escape-tree");
    const std::string out = base + "/a/b/out";
    fs::create_directories(out);
    const cli_run_s run = run_cli("scan " + shell_quote(image) + " --recover " + shell_quote(out) +
                                  (flat ? " --flat" : ""));
    EXPECT_EQ(run.status, 0) << run.err;
    // The listing never passes a control character from the disk on to the terminal.
    for (unsigned char c : run.out + run.err) {
        EXPECT_TRUE(c >= 0x20 || c == '\n' || c == '\r') << "control byte " << int(c) << " printed";
    }

    // Only the output folder itself was made in the base folder.
    for (const std::string& entry : entries_under(base)) {
        const bool inside_out =
            entry == "a" || entry == "a/b" || entry == "a/b/out" || entry.rfind("a/b/out/", 0) == 0;
        EXPECT_TRUE(inside_out) << "written outside the recovery folder: " << entry;
    }
    std::map<std::string, int> seen;
    const fs::path root = fs::canonical(out);
    for (const std::string& entry : entries_under(out)) {
        const fs::path path = fs::path(out) / entry;
        EXPECT_FALSE(fs::is_symlink(fs::symlink_status(path))) << entry;
        const std::string real = fs::weakly_canonical(path).string();
        EXPECT_EQ(real.rfind(root.string() + "/", 0), 0u) << entry << " lies at " << real;
        for (const fs::path& part : fs::path(entry)) {
            expect_safe_component(part.string(), entry);
        }
        if (flat) {
            EXPECT_EQ(fs::path(entry).parent_path(), fs::path()) << "a folder in flat mode";
        }
        if (fs::is_regular_file(fs::symlink_status(path))) {
            ++seen[sha256_of(path.string())];
        }
    }
    for (size_t i = 0; i < contents.size(); ++i) {
        EXPECT_EQ(seen[contents[i]], 1)
            << "planted file " << i << " came back " << seen[contents[i]] << " times";
    }
    EXPECT_EQ(seen.size(), std::set<std::string>(contents.begin(), contents.end()).size())
        << "files that were never planted";
}

TEST(name_escape, fat_hostile_names) {
    if (!have_program("mkfs.fat")) {
        GTEST_SKIP() << "mkfs.fat (dosfstools) is not installed";
    }
    std::vector<std::string> contents;
    const std::string image = hostile_fat_image(contents);
    ASSERT_FALSE(image.empty()) << "mkfs.fat failed";
    check_recovery(image, contents, false);
    check_recovery(image, contents, true);
}

// The NTFS volume was made by tools/make_robustness_fixtures.sh; its manifest lists the
// sha256 of every planted file.
TEST(name_escape, ntfs_hostile_names) {
    const std::string image = fixture_path("robustness/ntfs_names.img");
    const std::vector<uint8_t> manifest = read_file_bytes(
        std::string(QUARNEL_SOURCE_DIR) + "/tests/fixtures/robustness/ntfs_names.manifest");
    std::vector<std::string> contents;
    std::string text(manifest.begin(), manifest.end());
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        end = end == std::string::npos ? text.size() : end;
        if (end - at >= 64) {
            contents.push_back(text.substr(at, 64));
        }
        at = end + 1;
    }
    ASSERT_GE(contents.size(), 10u) << "manifest unreadable";
    check_recovery(image, contents, false);
    check_recovery(image, contents, true);
}

}  // namespace
