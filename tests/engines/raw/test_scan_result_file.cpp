// The ".sav" scan-result file: layout, round trip and damaged or hostile files.
#include <gtest/gtest.h>

#include <QFile>

#include "engines/raw_recovery.h"
#include "tests/support/fixture.h"

namespace {

class scan_result_test : public ::testing::Test {
protected:
    void SetUp() override {
        dir = scratch_dir("sav");
        volume_item_s volume;
        volume.volume_path = "/dev/sdz1";
        engine.set_volume(volume);
    }
    QString path(const std::string& name) { return QString::fromStdString(dir + "/" + name); }
    std::string dir;
    raw_recovery_c engine;
};

TEST_F(scan_result_test, round_trip_keeps_records_and_groups) {
    engine.add_record("jpg", 512, 1000);
    engine.add_record("doc", 4096, 20000);
    engine.add_record("jpg", 1u << 30, 7);
    ASSERT_EQ(engine.save_result(path("r.sav")), 0);
    std::vector<uint8_t> file = read_file_bytes(dir + "/r.sav");
    ASSERT_EQ(file.size(), 256u + 3 * 32);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(file.data())), "/dev/sdz1");
    EXPECT_EQ(file[256 + 32 + 8 + 1], 0x10);  // second record's start offset, 4096 LE
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&file[256 + 32 + 24]), 3), "doc");

    raw_recovery_c loaded;
    EXPECT_EQ(loaded.load_result(path("r.sav")), "/dev/sdz1");
    ASSERT_EQ(loaded.records().size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(loaded.records()[i].index, engine.records()[i].index);
        EXPECT_EQ(loaded.records()[i].start_offset, engine.records()[i].start_offset);
        EXPECT_EQ(loaded.records()[i].size, engine.records()[i].size);
        EXPECT_EQ(raw_record_extension(loaded.records()[i]),
                  raw_record_extension(engine.records()[i]));
    }
    std::map<std::string, std::vector<uint64_t>> groups = {{"jpg", {0, 2}}, {"doc", {1}}};
    EXPECT_EQ(loaded.by_extension(), groups);
}

TEST_F(scan_result_test, long_extensions_keep_eight_bytes) {
    engine.add_record("abcdefghij", 0, 1);
    EXPECT_EQ(engine.by_extension().begin()->first, "abcdefghij");
    ASSERT_EQ(engine.save_result(path("long.sav")), 0);
    raw_recovery_c loaded;
    ASSERT_FALSE(loaded.load_result(path("long.sav")).isEmpty());
    EXPECT_EQ(loaded.by_extension().begin()->first, "abcdefgh");
}

TEST_F(scan_result_test, nothing_to_save_or_a_path_that_does_not_fit_writes_nothing) {
    EXPECT_EQ(engine.save_result(path("empty.sav")), -1);
    EXPECT_FALSE(QFile::exists(path("empty.sav")));
    volume_item_s volume;
    volume.volume_path = "/dev/" + QString(251, u'x');  // 256 bytes
    engine.set_volume(volume);
    engine.add_record("jpg", 0, 1);
    EXPECT_EQ(engine.save_result(path("long.sav")), -1);
    EXPECT_FALSE(QFile::exists(path("long.sav")));
    volume.volume_path = "/dev/" + QString(250, u'x');  // 255 bytes: fits with its zero
    engine.set_volume(volume);
    EXPECT_EQ(engine.save_result(path("fits.sav")), 0);
    raw_recovery_c loaded;
    EXPECT_EQ(loaded.load_result(path("fits.sav")), volume.volume_path);
}

TEST_F(scan_result_test, non_ascii_names_load_again) {
    volume_item_s volume;
    volume.volume_path = QString::fromUtf8("/srv/Prüfung/Fotos ä.img");
    engine.set_volume(volume);
    engine.add_record("jpg", 0, 1);
    QString name = path("Ergebnis ö.sav");
    ASSERT_EQ(engine.save_result(name), 0);
    raw_recovery_c loaded;
    EXPECT_EQ(loaded.load_result(name), volume.volume_path);
}

TEST_F(scan_result_test, damaged_files_are_refused_and_change_nothing) {
    engine.add_record("png", 0, 5);
    ASSERT_EQ(engine.save_result(path("good.sav")), 0);
    std::vector<uint8_t> good = read_file_bytes(dir + "/good.sav");
    struct case_s {
        const char* name;
        size_t size;
    } cases[] = {{"short_header", 100},
                 {"header_only", 256},
                 {"part_record", 256 + 31},
                 {"extra_bytes", 256 + 33}};
    raw_recovery_c loaded;
    ASSERT_FALSE(loaded.load_result(path("good.sav")).isEmpty());
    for (const case_s& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> bytes = good;
        bytes.resize(c.size, 0);
        write_file_bytes(dir + "/" + c.name, bytes);
        EXPECT_TRUE(loaded.load_result(path(c.name)).isEmpty());
        EXPECT_EQ(loaded.records().size(), 1u);
        EXPECT_EQ(loaded.device_path(), "/dev/sdz1");
    }
    EXPECT_TRUE(loaded.load_result(path("missing.sav")).isEmpty());
}

TEST_F(scan_result_test, stored_indexes_are_kept_and_recovery_stays_inside) {
    std::string device = dir + "/device.img";
    std::vector<uint8_t> data(4096);
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<uint8_t>(i / 16);
    }
    write_file_bytes(device, data);
    // Two records whose stored indexes are 9 and 0, in that order.
    std::vector<uint8_t> file(256 + 64, 0);
    std::copy(device.begin(), device.end(), file.begin());
    file[256 + 0] = 9;
    file[256 + 8 + 1] = 0x02;  // start 512
    file[256 + 16] = 16;       // size 16
    file[256 + 24] = 'a';
    file[256 + 32 + 8 + 1] = 0x04;  // start 1024
    file[256 + 32 + 16] = 16;
    file[256 + 32 + 24] = 'b';
    write_file_bytes(dir + "/odd.sav", file);
    raw_recovery_c loaded;
    ASSERT_EQ(loaded.load_result(path("odd.sav")).toStdString(), device);
    volume_item_s volume;
    volume.volume_path = QString::fromStdString(device);
    loaded.set_volume(volume);
    EXPECT_EQ(loaded.records()[0].index, 9u);
    EXPECT_EQ(loaded.by_extension().at("a"), std::vector<uint64_t>{9});
    ASSERT_EQ(loaded.recover_file(9, path("nine")), 0);
    EXPECT_EQ(read_file_bytes(dir + "/nine"), std::vector<uint8_t>(16, 512 / 16));
    EXPECT_EQ(loaded.recover_file(1, path("one")), -1);
    EXPECT_EQ(loaded.recover_file(0, path("zero")), 0);
    EXPECT_EQ(read_file_bytes(dir + "/zero"), std::vector<uint8_t>(16, 1024 / 16));
}

}  // namespace
