#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdlib>

#include "tests/partitions/partition_images.h"
#include "tests/support/fixture.h"

namespace {

class cli_partitions : public testing::Test {
protected:
    void SetUp() override {
        std::string missing = partition_image_tools_missing();
        if (!missing.empty()) {
            GTEST_SKIP() << missing;
        }
        dir_ = scratch_dir("cli-partitions");
        image_ = dir_ + "/lost.img";
        ASSERT_EQ(make_partition_image(image_, 100, "ntfs:2047:16 fat32:50001:40", false), 0);
    }

    int cli(const std::string& args, std::string* out = nullptr) {
        return run_command("XDG_STATE_HOME=" + shell_quote(dir_ + "/state") + " " +
                               shell_quote(QUARNEL_CLI_PATH) + " partitions " + args +
                               " </dev/null 2>/dev/null",
                           out);
    }

    std::string dir_, image_;
};

TEST_F(cli_partitions, lists_what_it_finds_as_json) {
    std::string out;
    ASSERT_EQ(cli(shell_quote(image_) + " --json", &out), 0);
    QJsonArray parts =
        QJsonDocument::fromJson(QByteArray::fromStdString(out)).object()["partitions"].toArray();
    ASSERT_EQ(parts.size(), 2) << out;
    EXPECT_EQ(parts[0].toObject()["file_system"].toString(), "NTFS");
    EXPECT_EQ(parts[0].toObject()["start_sector"].toInt(), 2047);
    EXPECT_EQ(parts[0].toObject()["end_sector"].toInt(), 2047 + 32767);
    EXPECT_EQ(parts[1].toObject()["file_system"].toString(), "FAT32");
    EXPECT_EQ(parts[1].toObject()["start_sector"].toInt(), 50001);
    EXPECT_EQ(parts[1].toObject()["size"].toInt(), 40 << 20);
}

TEST_F(cli_partitions, takes_the_disk_number_that_disks_lists) {
    std::string out;
    ASSERT_EQ(run_command(shell_quote(QUARNEL_CLI_PATH) + " disks --json --image " +
                              shell_quote(image_) + " 2>/dev/null",
                          &out),
              0);
    int number = -1;
    for (const QJsonValue& disk :
         QJsonDocument::fromJson(QByteArray::fromStdString(out)).object()["disks"].toArray()) {
        if (disk.toObject()["name"].toString().toStdString() == image_) {
            number = disk.toObject()["number"].toInt();
        }
    }
    ASSERT_GE(number, 0) << out;
    out.clear();
    ASSERT_EQ(cli(std::to_string(number) + " --image " + shell_quote(image_) + " --json", &out), 0);
    QJsonObject result = QJsonDocument::fromJson(QByteArray::fromStdString(out)).object();
    EXPECT_EQ(result["disk"].toString().toStdString(), image_);
    EXPECT_EQ(result["partitions"].toArray().size(), 2);
    EXPECT_EQ(cli("9999 --json"), 1);
}

TEST_F(cli_partitions, repair_asks_unless_told_yes) {
    std::string before = file_sha256(image_);
    EXPECT_EQ(cli(shell_quote(image_) + " --repair"), 1);  // no terminal to ask on
    EXPECT_EQ(file_sha256(image_), before);

    std::string out;
    ASSERT_EQ(cli(shell_quote(image_) + " --repair --yes --json", &out), 0);
    QJsonObject repair =
        QJsonDocument::fromJson(QByteArray::fromStdString(out)).object()["repair"].toObject();
    EXPECT_TRUE(repair["written"].toBool()) << out;
    EXPECT_EQ(read_file_bytes(repair["backup"].toString().toStdString()).size(), 512u);
    QJsonArray parts = sfdisk_table(image_)["partitiontable"].toObject()["partitions"].toArray();
    ASSERT_EQ(parts.size(), 2);
    EXPECT_EQ(parts[1].toObject()["start"].toInt(), 50001);
}

TEST(cli_partitions_usage, errors) {
    auto cli = [](const std::string& args) {
        return run_command(std::string(QUARNEL_CLI_PATH) + " partitions " + args +
                           " >/dev/null 2>&1");
    };
    EXPECT_EQ(cli(""), 2);
    EXPECT_EQ(cli("/nonexistent.img"), 1);
    EXPECT_EQ(cli("/nonexistent.img --yes"), 2);
    EXPECT_EQ(cli("a.img b.img"), 2);
}

}  // namespace
