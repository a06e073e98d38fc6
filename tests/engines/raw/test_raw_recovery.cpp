// The deep-scan engine: its contract answers, copying finds out, and a whole scan.
#include <gtest/gtest.h>

#include <QFile>
#include <fstream>
#include <sstream>

#include "engines/raw_recovery.h"
#include "tests/support/fixture.h"

namespace {

std::vector<uint8_t> counting_bytes(size_t n) {
    std::vector<uint8_t> bytes(n);
    for (size_t i = 0; i < n; ++i) {
        bytes[i] = static_cast<uint8_t>((i * 7 + i / 251) & 0xFF);
    }
    return bytes;
}

// An engine whose device is a plain file of known bytes.
class raw_engine_test : public ::testing::Test {
protected:
    void SetUp() override {
        dir = scratch_dir("raw");
        device = dir + "/device.img";
        bytes = counting_bytes(64 * 1024);
        write_file_bytes(device, bytes);
        volume_item_s volume;
        volume.volume_path = QString::fromStdString(device);
        engine.set_volume(volume);
    }
    QString target(const std::string& name) { return QString::fromStdString(dir + "/" + name); }
    std::vector<uint8_t> slice(uint64_t start, uint64_t size) {
        return std::vector<uint8_t>(bytes.begin() + static_cast<long>(start),
                                    bytes.begin() + static_cast<long>(start + size));
    }
    std::string dir;
    std::string device;
    std::vector<uint8_t> bytes;
    raw_recovery_c engine;
};

TEST_F(raw_engine_test, copies_exactly_the_file_bytes_whatever_the_alignment) {
    struct case_s {
        uint64_t start, size;
    } cases[] = {{1024, 20000}, {1000, 20000}, {513, 1}, {0, 8192}, {4096, 0}, {65000, 536}};
    for (const case_s& c : cases) {
        SCOPED_TRACE(std::to_string(c.start) + "+" + std::to_string(c.size));
        engine.reset();
        engine.add_record("bin", c.start, c.size);
        ASSERT_EQ(engine.recover_file(0, target("out.bin")), 0);
        EXPECT_EQ(read_file_bytes(dir + "/out.bin"), slice(c.start, c.size));
    }
}

TEST_F(raw_engine_test, a_copy_that_runs_off_the_device_fails) {
    engine.add_record("bin", 60000, 10000);
    EXPECT_EQ(engine.recover_file(0, target("short.bin")), -1);
}

TEST_F(raw_engine_test, unknown_index_bad_target_or_missing_device_fail) {
    engine.add_record("bin", 0, 100);
    EXPECT_EQ(engine.recover_file(1, target("none.bin")), -1);
    EXPECT_FALSE(QFile::exists(target("none.bin")));
    EXPECT_EQ(engine.recover_file(0, target("no/such/folder/x.bin")), -1);
    volume_item_s gone;
    gone.volume_path = QString::fromStdString(dir + "/gone.img");
    engine.set_volume(gone);
    EXPECT_EQ(engine.recover_file(0, target("x.bin")), -1);
}

TEST_F(raw_engine_test, contract_answers) {
    volume_item_s volume;
    volume.volume_path = "D:\\";
    engine.set_volume(volume);
    EXPECT_EQ(engine.device_path(), "D:");
    volume.volume_path = "/dev/sdb1";
    engine.set_volume(volume);
    EXPECT_EQ(engine.device_path(), "/dev/sdb1");
    engine.set_pause(1);
    engine.set_stop(3);
    engine.set_progress(0.5);
    EXPECT_EQ(engine.is_paused(), 1);
    EXPECT_EQ(engine.is_stopped(), 3);
    EXPECT_EQ(engine.get_progress(), 0.5);
    engine.add_record("jpg", 0, 1);
    engine.reset();
    EXPECT_EQ(engine.is_paused(), 0);
    EXPECT_EQ(engine.is_stopped(), 0);
    EXPECT_EQ(engine.get_progress(), 0.0);
    EXPECT_TRUE(engine.records().empty());
    EXPECT_TRUE(engine.by_extension().empty());
    EXPECT_EQ(engine.scanned_count(), 0u);
    EXPECT_EQ(engine.found_count(), 0u);
    std::wstring path = L"kept";
    EXPECT_EQ(engine.entry_path(0, path), 0);
    EXPECT_EQ(path, L"kept");
}

struct manifest_entry_s {
    uint64_t offset, size;
    std::string sha256, expectation;
};

std::vector<manifest_entry_s> carve_manifest() {
    std::ifstream in(std::string(QUARNEL_SOURCE_DIR) + "/tests/fixtures/carve/carve.manifest");
    std::vector<manifest_entry_s> rows;
    std::string line, name;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        std::istringstream fields(line);
        manifest_entry_s row;
        fields >> name >> row.offset >> row.size >> row.sha256 >> row.expectation;
        rows.push_back(row);
    }
    return rows;
}

TEST(raw_engine_scan, scan_save_load_and_recover_give_the_same_files) {
    sc_load_config("/nonexistent/Quarnel.conf");
    std::string image = fixture_path("carve/carve.img");
    std::vector<manifest_entry_s> rows = carve_manifest();
    ASSERT_FALSE(rows.empty());
    raw_recovery_c scanner;
    volume_item_s volume;
    volume.volume_path = QString::fromStdString(image);
    scanner.set_volume(volume);
    scanner.start();
    ASSERT_TRUE(scanner.wait(60000));
    EXPECT_EQ(scanner.get_progress(), 1.0);
    ASSERT_FALSE(scanner.records().empty());
    for (size_t i = 0; i < scanner.records().size(); ++i) {
        EXPECT_EQ(scanner.records()[i].index, i);
    }

    std::string dir = scratch_dir("raw-scan");
    QString saved = QString::fromStdString(dir + "/result.sav");
    ASSERT_EQ(scanner.save_result(saved), 0);
    raw_recovery_c loaded;
    ASSERT_EQ(loaded.load_result(saved), QString::fromStdString(image));
    volume_item_s again;
    again.volume_path = loaded.device_path();
    loaded.set_volume(again);
    ASSERT_EQ(loaded.records().size(), scanner.records().size());

    size_t exact = 0;
    for (const manifest_entry_s& row : rows) {
        if (row.expectation != "exact") {
            continue;
        }
        for (const raw_record_s& record : loaded.records()) {
            if (record.start_offset != row.offset) {
                continue;
            }
            std::string out = dir + "/" + std::to_string(record.index);
            ASSERT_EQ(loaded.recover_file(record.index, QString::fromStdString(out)), 0);
            EXPECT_EQ(file_sha256(out), row.sha256) << "at " << row.offset;
            ++exact;
        }
    }
    EXPECT_GT(exact, 0u);
}

}  // namespace
