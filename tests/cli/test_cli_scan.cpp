// `quarnel-cli scan` as a user runs it: listing, JSON, recovery into a tree or flat, names
// that never overwrite, refusals and exit codes.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstring>
#include <filesystem>
#include <set>

#include "tests/engines/fat/fat_image_builder.h"
#include "tests/support/fixture.h"
#include "tests/support/loop_device.h"

namespace {

namespace fs = std::filesystem;

std::string quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

struct cli_result_s {
    int status = -1;
    std::string out;
    std::string err;
};

cli_result_s run_cli(const std::string& arguments) {
    static int counter = 0;
    std::string err_file = scratch_dir("cli-err") + "/stderr" + std::to_string(counter++);
    cli_result_s result;
    result.status = run_command("TZ=UTC " + quote(QUARNEL_CLI_PATH) + " scan " + arguments + " 2>" +
                                    quote(err_file) + " </dev/null",
                                &result.out);
    std::vector<uint8_t> err = read_file_bytes(err_file);
    result.err.assign(err.begin(), err.end());
    return result;
}

std::vector<uint8_t> fixture_content(const std::string& name, size_t size) {
    std::string unit = name + "|";
    std::vector<uint8_t> bytes;
    while (bytes.size() < size) {
        bytes.push_back(uint8_t(unit[bytes.size() % unit.size()]));
    }
    return bytes;
}

const char* const unicode_name =
    "\xC3\x9Cn\xC3\xAF"
    "code na\xC3\xAFve \xE6\x96\x87\xE4\xBB\xB6.txt";

// Every deleted file of the fixture tree: where it is recovered and what it holds.
struct recovered_s {
    std::string path;
    std::string original_name;
    size_t size;
};
const recovered_s fixture_files[] = {
    {"Alpha beta.txt", "Alpha beta.txt", 1000},
    {"big photo.jpg", "big photo.jpg", 9000},
    {"#ILE8.TXT", "FILE8.TXT", 700},
    {"Docs/Quarterly report.pdf", "Quarterly report.pdf", 5000},
    {std::string("Docs/") + unicode_name, unicode_name, 1500},
    {"Old Projects/design notes.txt", "design notes.txt", 2500},
    {"Old Projects/Sub Folder/deep file.txt", "deep file.txt", 3000},
    {"Old Projects/Sub Folder/Nested/#.bin", "x.bin", 600},
};

std::set<std::string> files_under(const std::string& dir) {
    std::set<std::string> out;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        if (entry.is_regular_file()) {
            out.insert(fs::relative(entry.path(), dir).string());
        }
    }
    return out;
}

}  // namespace

TEST(CliScan, UsageErrorsExitWithTwo) {
    std::string image = fixture_path("fat/disk.img");
    const char* cases[] = {"",
                           "--json",
                           "IMG --bogus",
                           "IMG --flat",
                           "IMG --force",
                           "IMG --partition x",
                           "IMG --whole-disk",
                           "IMG IMG"};
    for (const char* c : cases) {
        std::string args = c;
        for (size_t at; (at = args.find("IMG")) != std::string::npos;) {
            args.replace(at, 3, quote(image));
        }
        EXPECT_EQ(run_cli(args).status, 2) << c;
    }
    // A disk with two volumes needs --partition; the message lists them.
    cli_result_s both = run_cli(quote(image));
    EXPECT_EQ(both.status, 2);
    EXPECT_NE(both.err.find("--partition 2"), std::string::npos) << both.err;
}

TEST(CliScan, SourcesThatCannotBeScannedExitWithOne) {
    std::string dir = scratch_dir("cli-bad");
    write_file_bytes(dir + "/zeros.img", std::vector<uint8_t>(1 << 20, 0));
    cli_result_s missing = run_cli(quote(dir + "/missing.img"));
    EXPECT_EQ(missing.status, 1);
    cli_result_s zeros = run_cli(quote(dir + "/zeros.img"));
    EXPECT_EQ(zeros.status, 1);
    EXPECT_NE(zeros.err.find("--deep"), std::string::npos) << zeros.err;
    EXPECT_TRUE(zeros.out.empty());
    // A FAT volume with 1,024-byte sectors is named as such, and refused.
    std::vector<uint8_t> bytes = read_file_bytes(fixture_path("fat/fat12.img"));
    bytes[12] = 0x04;
    write_file_bytes(dir + "/sector1k.img", bytes);
    cli_result_s large = run_cli(quote(dir + "/sector1k.img"));
    EXPECT_EQ(large.status, 1);
    EXPECT_NE(large.err.find("512-byte sectors"), std::string::npos) << large.err;
}

TEST(CliScan, JsonListsEveryFoundEntryWithItsPath) {
    std::string image = fixture_path("fat/fat16.img");
    cli_result_s result = run_cli(quote(image) + " --json");
    ASSERT_EQ(result.status, 0) << result.err;
    QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(result.out));
    ASSERT_TRUE(doc.isObject()) << result.out;
    EXPECT_EQ(doc["file_system"].toString(), "FAT");
    EXPECT_FALSE(doc["stopped"].toBool());
    std::set<std::string> listed;
    for (const QJsonValue& value : doc["entries"].toArray()) {
        QJsonObject e = value.toObject();
        listed.insert(e["path"].toString().toStdString() + (e["folder"].toBool() ? "/" : "") +
                      (e["deleted"].toBool() ? " deleted" : " live") + " " +
                      std::to_string(e["size"].toInteger()));
        EXPECT_TRUE(e.contains("modified") && e.contains("created") && e.contains("id"));
        EXPECT_FALSE(e["orphaned"].toBool());
    }
    std::set<std::string> expected = {"Docs/ live 0", "Keep/ live 0", "Old Projects/ deleted 0",
                                      "Old Projects/Sub Folder/ deleted 0",
                                      "Old Projects/Sub Folder/Nested/ deleted 0"};
    for (const recovered_s& file : fixture_files) {
        expected.insert(file.path + " deleted " + std::to_string(file.size));
    }
    EXPECT_EQ(listed, expected);
    // The text listing has the same paths, one a line.
    cli_result_s text = run_cli(quote(image));
    EXPECT_EQ(text.status, 0);
    EXPECT_NE(text.out.find("deleted file           3000  2024-03-15 10:20:30"), std::string::npos)
        << text.out;
    EXPECT_NE(text.out.find("Old Projects/Sub Folder/deep file.txt"), std::string::npos);
}

TEST(CliScan, RecoverKeepsTheTreeAndNeverOverwrites) {
    std::string image = fixture_path("fat/fat32.img");
    std::string before = file_sha256(image);
    std::string out = scratch_dir("cli-tree") + "/out";
    cli_result_s first = run_cli(quote(image) + " --recover " + quote(out));
    ASSERT_EQ(first.status, 0) << first.err;
    std::set<std::string> expected;
    for (const recovered_s& file : fixture_files) {
        expected.insert(file.path);
        EXPECT_EQ(read_file_bytes(out + "/" + file.path),
                  fixture_content(file.original_name, file.size))
            << file.path;
    }
    EXPECT_EQ(files_under(out), expected);
    // A second run into the same folder adds variants beside the first files.
    cli_result_s second = run_cli(quote(image) + " --recover " + quote(out));
    ASSERT_EQ(second.status, 0) << second.err;
    EXPECT_EQ(files_under(out).size(), 2 * expected.size());
    EXPECT_EQ(read_file_bytes(out + "/Alpha beta (2).txt"),
              fixture_content("Alpha beta.txt", 1000));
    EXPECT_EQ(read_file_bytes(out + "/Alpha beta.txt"), fixture_content("Alpha beta.txt", 1000));
    EXPECT_EQ(file_sha256(image), before);
}

TEST(CliScan, FlatPutsEveryFileDirectlyIntoTheFolder) {
    std::string image = fixture_path("fat/disk.img");
    std::string out = scratch_dir("cli-flat");
    cli_result_s result =
        run_cli(quote(image) + " --partition 1 --flat --json --recover " + quote(out));
    ASSERT_EQ(result.status, 0) << result.err;
    std::set<std::string> expected;
    for (const recovered_s& file : fixture_files) {
        expected.insert(fs::path(file.path).filename().string());
    }
    EXPECT_EQ(files_under(out), expected);
    QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(result.out));
    EXPECT_EQ(doc["recovered"].toInteger(), qint64(std::size(fixture_files)));
    // The partition can also be named the way 'volumes' prints it.
    cli_result_s second = run_cli(quote(image + "@2"));
    EXPECT_EQ(second.status, 0) << second.err;
    EXPECT_NE(second.out.find("second partition.txt"), std::string::npos) << second.out;
}

TEST(CliScan, AVolumeWithoutDeletedFilesSuggestsADeepScan) {
    if (!have_program("mkfs.fat")) {
        GTEST_SKIP() << "mkfs.fat (dosfstools) is not installed";
    }
    std::string image = scratch_dir("cli-empty") + "/empty.img";
    ASSERT_EQ(run_command("mkfs.fat -C " + quote(image) + " 2048 >/dev/null 2>&1"), 0);
    cli_result_s result = run_cli(quote(image));
    EXPECT_EQ(result.status, 0);
    EXPECT_NE(result.err.find("no deleted files"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("--deep"), std::string::npos);
}

TEST(CliScan, SmallFat32FromMkfsIsReadAsFat32) {
    // mkfs.fat makes FAT32 with fewer than 65,525 clusters on small media.
    if (!have_program("mkfs.fat")) {
        GTEST_SKIP() << "mkfs.fat (dosfstools) is not installed";
    }
    std::string image = scratch_dir("cli-small32") + "/small32.img";
    ASSERT_EQ(run_command("mkfs.fat -C -F 32 -s 1 " + quote(image) + " 4096 >/dev/null 2>&1"), 0);
    std::vector<uint8_t> bytes = read_file_bytes(image);
    ASSERT_GT(bytes.size(), 1u << 20);
    auto u16 = [&](size_t at) { return uint32_t(bytes[at] | (bytes[at + 1] << 8)); };
    auto u32 = [&](size_t at) { return u16(at) | (u16(at + 2) << 16); };
    ASSERT_EQ(u16(22), 0u);  // no 16-bit FAT size
    uint32_t per_cluster = bytes[13];
    uint64_t data = (u16(14) + uint64_t(bytes[16]) * u32(36)) * 512;
    uint64_t cluster_bytes = per_cluster * 512;
    // A deleted file with its long name in the root (cluster 2), its data in cluster 10.
    uint8_t* root = bytes.data() + data;
    uint32_t slot =
        fat_image_builder_c::put_long_name(root, 0, u"Lost holiday photo.jpg", "LOSTHO~1JPG", true);
    fat_image_builder_c::put_entry(root, slot, "LOSTHO~1JPG", 0x20, 10, 6000);
    fat_image_builder_c::mark_deleted(root, slot);
    std::vector<uint8_t> content = fixture_content("Lost holiday photo.jpg", 6000);
    std::memcpy(bytes.data() + data + 8 * cluster_bytes, content.data(), content.size());
    write_file_bytes(image, bytes);

    std::string out = scratch_dir("cli-small32-out");
    cli_result_s result = run_cli(quote(image) + " --recover " + quote(out));
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(read_file_bytes(out + "/Lost holiday photo.jpg"), content);
}

TEST(CliScan, AFileThatCannotBeReadCompletelyExitsWithOne) {
    // Two deleted files; one runs past the end of the volume.
    fat_image_builder_c image(16, 5000, 1);
    std::memset(image.cluster(100), 'a', 512);
    fat_image_builder_c::put_entry(image.root(), 0, "GOOD    TXT", 0x20, 100, 512);
    fat_image_builder_c::put_entry(image.root(), 1, "TAIL    BIN", 0x20, 5000, 4096);
    fat_image_builder_c::mark_deleted(image.root(), 0);
    fat_image_builder_c::mark_deleted(image.root(), 1);
    std::string dir = scratch_dir("cli-partial");
    write_file_bytes(dir + "/partial.img", image.bytes());
    cli_result_s result =
        run_cli(quote(dir + "/partial.img") + " --recover " + quote(dir + "/out"));
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("#AIL.BIN could not be recovered completely"), std::string::npos)
        << result.err;
    EXPECT_EQ(read_file_bytes(dir + "/out/#OOD.TXT"), std::vector<uint8_t>(512, 'a'));
}

TEST(CliScan, RefusesATargetOnTheScannedVolume) {
    if (!running_as_root() || !have_program("mkfs.ext2") || !have_program("sfdisk") ||
        !have_program("mkfs.fat")) {
        GTEST_SKIP() << "needs root, sfdisk, mkfs.fat and mkfs.ext2 to loop-mount a partition";
    }
    // Partition 1 FAT16 (scanned), partition 2 ext2 (mounted for the target folders).
    std::string dir = scratch_dir("cli-samevol");
    std::string image = dir + "/disk.img";
    std::string mnt = dir + "/mnt";
    ASSERT_EQ(run_command("truncate -s 24M " + image +
                          " && printf 'label: dos\\nstart=2048, size=20480, type=6\\n"
                          "start=22528, size=24576, type=83\\n' | sfdisk -q " +
                          image + " && mkfs.fat -F 16 --offset 2048 " + image +
                          " 10240 >/dev/null 2>&1 && mkfs.ext2 -q -F -E offset=" +
                          std::to_string(22528 * 512) + " " + image + " 12288 >/dev/null 2>&1" +
                          " && mkdir " + mnt),
              0);
    const loop_lock_c loop_lock;  // held until the umount below frees the device
    if (run_command("mount -o loop,offset=" + std::to_string(22528 * 512) + " " + image + " " +
                    mnt + " 2>/dev/null") != 0) {
        GTEST_SKIP() << "loop devices cannot be mounted here";
    }
    cli_result_s same = run_cli(quote(image) + " --partition 2 --recover " + quote(mnt + "/out"));
    EXPECT_EQ(same.status, 1);
    EXPECT_NE(same.err.find("lies on the volume being scanned"), std::string::npos) << same.err;
    EXPECT_FALSE(fs::exists(mnt + "/out"));
    // With --force the target is accepted; this volume is then refused for its file system.
    cli_result_s forced =
        run_cli(quote(image) + " --partition 2 --force --recover " + quote(mnt + "/out"));
    EXPECT_EQ(forced.status, 1);
    EXPECT_NE(forced.err.find("FAT12/16/32 and NTFS"), std::string::npos) << forced.err;
    // The other partition of the same image may receive files.
    cli_result_s other = run_cli(quote(image) + " --partition 1 --recover " + quote(mnt + "/out"));
    EXPECT_EQ(other.status, 0) << other.err;
    run_command("umount " + quote(mnt));
}

TEST(CliScan, CtrlCStopsTheScanAndKeepsWhatWasFound) {
    // Sixteen folders (all the root cluster holds) of 65,536 entries each: long enough to
    // interrupt.
    constexpr uint32_t folders = 16;
    constexpr uint32_t per_folder = 4096;  // clusters of one sector, 16 entries each
    fat_image_builder_c image(32, folders * per_folder + 200, 1);
    for (uint32_t f = 0; f < folders; ++f) {
        uint32_t first = 100 + f * per_folder;
        char name[12];
        std::snprintf(name, sizeof(name), "DIR%05u   ", f);
        fat_image_builder_c::put_entry(image.root(), f, name, 0x10, first, 0);
        std::vector<uint32_t> chain;
        for (uint32_t c = 0; c < per_folder; ++c) {
            chain.push_back(first + c);
            for (uint32_t slot = 0; slot < 16; ++slot) {
                fat_image_builder_c::put_entry(image.cluster(first + c), slot, "GONE    TXT", 0x20,
                                               3 + slot, 1);
                fat_image_builder_c::mark_deleted(image.cluster(first + c), slot);
            }
        }
        image.chain(chain);
    }
    std::string dir = scratch_dir("cli-interrupt");
    write_file_bytes(dir + "/big.img", image.bytes());
    std::string out;
    int status = run_command("cd " + quote(dir) + " && (" + quote(QUARNEL_CLI_PATH) +
                                 " scan big.img --json > list.json 2> err.txt & pid=$!; " +
                                 "sleep 0.3; kill -INT $pid; wait $pid; echo $? > status.txt)",
                             &out);
    ASSERT_EQ(status, 0);
    std::vector<uint8_t> code = read_file_bytes(dir + "/status.txt");
    EXPECT_EQ(std::string(code.begin(), code.end()), "0\n");
    std::vector<uint8_t> err = read_file_bytes(dir + "/err.txt");
    EXPECT_NE(std::string(err.begin(), err.end()).find("stopped"), std::string::npos);
    std::vector<uint8_t> json = read_file_bytes(dir + "/list.json");
    QJsonDocument doc = QJsonDocument::fromJson(
        QByteArray(reinterpret_cast<const char*>(json.data()), qsizetype(json.size())));
    ASSERT_TRUE(doc.isObject());
    EXPECT_TRUE(doc["stopped"].toBool());
    EXPECT_GT(doc["entries"].toArray().size(), 0);

    // A second Ctrl-C quits at once.
    ASSERT_EQ(run_command("cd " + quote(dir) + " && (" + quote(QUARNEL_CLI_PATH) +
                          " scan big.img --recover out > /dev/null 2>&1 & pid=$!; " +
                          "sleep 0.3; kill -INT $pid; sleep 0.05; kill -INT $pid; wait $pid; " +
                          "echo $? > status.txt)"),
              0);
    code = read_file_bytes(dir + "/status.txt");
    EXPECT_EQ(std::string(code.begin(), code.end()), "130\n");
}

TEST(CliScan, EntriesWhoseChainMissesTheRootGoUnderOrphaned) {
    // Folder A holds B and B holds a copy of A: A's record then names B as its parent, and
    // the file in B never reaches the root.
    fat_image_builder_c image(16, 5000, 1);
    fat_image_builder_c::put_entry(image.root(), 0, "A          ", 0x10, 100, 0);
    fat_image_builder_c::put_entry(image.cluster(100), 0, "B          ", 0x10, 101, 0);
    fat_image_builder_c::put_entry(image.cluster(101), 0, "A          ", 0x10, 100, 0);
    uint32_t slot = fat_image_builder_c::put_long_name(image.cluster(101), 1, u"kept name.txt",
                                                       "KEPTNA~1TXT", true);
    fat_image_builder_c::put_entry(image.cluster(101), slot, "KEPTNA~1TXT", 0x20, 200, 300);
    fat_image_builder_c::mark_deleted(image.cluster(101), slot);
    std::memset(image.cluster(200), 'k', 512);
    std::string dir = scratch_dir("cli-orphans");
    write_file_bytes(dir + "/loop.img", image.bytes());
    cli_result_s result =
        run_cli(quote(dir + "/loop.img") + " --json --recover " + quote(dir + "/out"));
    ASSERT_EQ(result.status, 0) << result.err;
    QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(result.out));
    bool seen = false;
    for (const QJsonValue& value : doc["entries"].toArray()) {
        QJsonObject e = value.toObject();
        if (e["name"].toString() == "kept name.txt") {
            seen = true;
            EXPECT_TRUE(e["orphaned"].toBool());
            EXPECT_EQ(e["path"].toString(), "_orphaned/A/B/kept name.txt");
        }
    }
    EXPECT_TRUE(seen) << result.out;
    EXPECT_EQ(read_file_bytes(dir + "/out/_orphaned/A/B/kept name.txt"),
              std::vector<uint8_t>(300, 'k'));
}
