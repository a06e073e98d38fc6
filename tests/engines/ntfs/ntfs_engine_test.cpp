#include <gtest/gtest.h>

#include <QString>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <atomic>
#include <chrono>
#include <thread>

#include "engines/ntfs_recovery.h"
#include "platform/linux_backend.h"
#include "tests/support/fixture.h"

namespace {

// Offsets the patches below need: boot sector and file record fields.
constexpr size_t boot_bytes_per_sector = 0x0B;
constexpr size_t boot_sectors_per_cluster = 0x0D;
constexpr size_t boot_mft_lcn = 0x30;
constexpr size_t record_sequence = 0x10;
constexpr size_t record_first_attribute = 0x14;
constexpr size_t attribute_length = 0x04;
constexpr size_t attribute_value_offset = 0x14;
constexpr uint32_t type_file_name = 0x30;
constexpr uint32_t record_bytes = 1024;  // the fixtures' file records

uint64_t load(const std::vector<uint8_t>& b, size_t at, int width) {
    uint64_t v = 0;
    for (int i = width - 1; i >= 0; --i) {
        v = (v << 8) | b[at + static_cast<size_t>(i)];
    }
    return v;
}

volume_item_s volume_for(const std::string& image, const QString& root = "E:\\") {
    volume_item_s volume;
    volume.device_name = QString::fromStdString(image);
    volume.volume_path = QString::fromStdString(image);
    volume.file_system = "NTFS";
    volume.root_path = root;
    return volume;
}

void scan(ntfs_recovery_c& engine, const std::string& image, const QString& root = "E:\\") {
    engine.set_volume(volume_for(image, root));
    engine.start();
    ASSERT_TRUE(engine.wait(60000));
}

const ntfs_record_s* by_name(const ntfs_recovery_c& engine, const QString& name) {
    for (const auto& [id, record] : engine.records()) {
        if (QString::fromUtf16(record.entry.name) == name) {
            return &record;
        }
    }
    return nullptr;
}

class ntfs_engine_test : public testing::Test {
protected:
    void SetUp() override {
        state_ = scratch_dir("ntfs-state");
        setenv("XDG_STATE_HOME", state_.c_str(), 1);
    }
    std::string state_;
};

TEST_F(ntfs_engine_test, keeps_folders_and_deleted_entries_and_links_them) {
    const std::string image = fixture_path("ntfs/mixed.img");
    const std::string before = file_sha256(image);
    ntfs_recovery_c engine;
    scan(engine, image);
    EXPECT_EQ(engine.open_result(), 0);
    EXPECT_DOUBLE_EQ(engine.get_progress(), 1.0);
    EXPECT_EQ(engine.found_count(), engine.records().size());
    EXPECT_GT(engine.scanned_count(), engine.found_count());  // live files are only counted
    EXPECT_EQ(by_name(engine, "keep.txt"), nullptr);
    const ntfs_record_s* root = &engine.records().at(5);
    EXPECT_TRUE(root->children.contains(const_cast<ntfs_record_s*>(root)));
    EXPECT_TRUE(root->has_found);

    const ntfs_record_s* docs = by_name(engine, "docs");  // live folder
    const ntfs_record_s* old = by_name(engine, "old");    // deleted folder
    const ntfs_record_s* inner = by_name(engine, "inner");
    const ntfs_record_s* deep = by_name(engine, "deep.txt");
    ASSERT_TRUE(docs && old && inner && deep);
    EXPECT_EQ(docs->entry.flags, ntfs_flag_folder);
    EXPECT_EQ(old->entry.flags, ntfs_flag_folder | ntfs_flag_deleted);
    EXPECT_TRUE(docs->has_found);
    EXPECT_TRUE(old->has_found);
    EXPECT_TRUE(inner->has_found);
    EXPECT_FALSE(deep->has_found);
    EXPECT_TRUE(inner->children.contains(const_cast<ntfs_record_s*>(deep)));
    // A folder holding only live files leads to nothing found.
    const ntfs_record_s* extend = by_name(engine, "$Extend");
    ASSERT_NE(extend, nullptr);
    EXPECT_FALSE(extend->has_found);

    std::wstring path;
    EXPECT_EQ(engine.entry_path(deep->entry.entry_id, path), 0);
    EXPECT_EQ(path, L"E:/old/inner/deep.txt");

    // A second run on the same object reopens the volume and finds the same.
    const size_t first = engine.records().size();
    scan(engine, image, "E:");
    EXPECT_EQ(engine.records().size(), first);
    deep = by_name(engine, "deep.txt");  // the first run's records are gone
    old = by_name(engine, "old");
    ASSERT_TRUE(deep && old);
    EXPECT_EQ(engine.entry_path(deep->entry.entry_id, path), 0);
    EXPECT_EQ(path, L"E:/old/inner/deep.txt");

    const std::string out = scratch_dir("ntfs-engine");
    EXPECT_EQ(engine.recover_file(deep->entry.entry_id, QString::fromStdString(out + "/d")), 0);
    EXPECT_EQ(std::filesystem::file_size(out + "/d"), 5000u);
    // An existing target is replaced, not appended to.
    EXPECT_EQ(engine.recover_file(deep->entry.entry_id, QString::fromStdString(out + "/d")), 0);
    EXPECT_EQ(std::filesystem::file_size(out + "/d"), 5000u);
    // Failures say so and leave no empty file behind.
    EXPECT_LT(engine.recover_file(999999, QString::fromStdString(out + "/none")), 0);
    EXPECT_FALSE(std::filesystem::exists(out + "/none"));
    EXPECT_LT(engine.recover_file(old->entry.entry_id, QString::fromStdString(out + "/dir")), 0);
    EXPECT_FALSE(std::filesystem::exists(out + "/dir"));
    // A link at the target is replaced, never written through; a failed recovery leaves no
    // older file under the name either.
    write_file_bytes(out + "/other", {1, 2, 3});
    std::filesystem::create_symlink(out + "/other", out + "/link");
    EXPECT_EQ(engine.recover_file(deep->entry.entry_id, QString::fromStdString(out + "/link")), 0);
    EXPECT_FALSE(std::filesystem::is_symlink(out + "/link"));
    EXPECT_EQ(std::filesystem::file_size(out + "/link"), 5000u);
    EXPECT_EQ(std::filesystem::file_size(out + "/other"), 3u);
    EXPECT_LT(engine.recover_file(999999, QString::fromStdString(out + "/other")), 0);
    EXPECT_FALSE(std::filesystem::exists(out + "/other"));
    EXPECT_EQ(file_sha256(image), before);

    engine.reset();
    EXPECT_EQ(engine.found_count(), 0u);
    EXPECT_TRUE(engine.records().empty());
}

// Folder records patched to name each other as parent: the scan ends, the marks end, and
// the paths below them are refused instead of looping.
TEST_F(ntfs_engine_test, a_loop_of_parents_is_cut) {
    const std::string image = fixture_path("ntfs/mixed.img");
    uint64_t docs_id = 0;
    uint64_t links_id = 0;
    {
        ntfs_recovery_c engine;
        scan(engine, image);
        docs_id = by_name(engine, "docs")->entry.entry_id;
        links_id = by_name(engine, "links")->entry.entry_id;
    }
    std::vector<uint8_t> bytes = read_file_bytes(image);
    const uint64_t cluster =
        load(bytes, boot_bytes_per_sector, 2) * bytes[boot_sectors_per_cluster];
    const uint64_t mft = load(bytes, boot_mft_lcn, 8) * cluster;
    auto point_at = [&](uint64_t from, uint64_t to) {
        const size_t rec = static_cast<size_t>(mft + from * record_bytes);
        const uint64_t reference =
            to |
            (load(bytes, static_cast<size_t>(mft + to * record_bytes) + record_sequence, 2) << 48);
        size_t pos = rec + load(bytes, rec + record_first_attribute, 2);
        while (load(bytes, pos, 4) != type_file_name) {
            pos += load(bytes, pos + attribute_length, 4);
        }
        const size_t value = pos + load(bytes, pos + attribute_value_offset, 2);
        for (int i = 0; i < 8; ++i) {
            bytes[value + static_cast<size_t>(i)] = static_cast<uint8_t>(reference >> (8 * i));
        }
    };
    point_at(docs_id, links_id);
    point_at(links_id, docs_id);
    const std::string looped = scratch_dir("ntfs-loop") + "/looped.img";
    write_file_bytes(looped, bytes);

    ntfs_recovery_c engine;
    scan(engine, looped);
    const ntfs_record_s* small = by_name(engine, "gone_small.txt");
    ASSERT_NE(small, nullptr);
    EXPECT_EQ(engine.records().at(docs_id).entry.parent_id, links_id);
    std::wstring path;
    EXPECT_EQ(engine.entry_path(small->entry.entry_id, path), -1);
    EXPECT_EQ(path, L"E:");
    EXPECT_TRUE(engine.records().at(docs_id).has_found);
}

TEST_F(ntfs_engine_test, a_failed_startup_is_logged_and_finds_nothing) {
    const std::string dir = scratch_dir("ntfs-fail");
    const std::string zeros = dir + "/zeros.img";
    write_file_bytes(zeros, std::vector<uint8_t>(1 << 20, 0));
    ntfs_recovery_c engine;
    testing::internal::CaptureStderr();
    scan(engine, zeros);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("ERROR: [ntfs_recovery.cpp:"), std::string::npos) << err;
    EXPECT_NE(err.find("ntfs_scan_startup failed with return value (-2)"), std::string::npos);
    EXPECT_TRUE(engine.records().empty());
    EXPECT_EQ(engine.get_progress(), 0.0);
    EXPECT_EQ(ntfs_recovery_c::log_path().toStdString(), state_ + "/quarnel/Tamblin.log");
    std::ifstream log(state_ + "/quarnel/Tamblin.log");
    std::string line;
    ASSERT_TRUE(std::getline(log, line));
    EXPECT_NE(line.find("  [ntfs_recovery.cpp:"), std::string::npos) << line;
    EXPECT_NE(line.find("] ntfs_scan_startup failed with return value (-2)"), std::string::npos);
    EXPECT_FALSE(std::getline(log, line));

    // A state folder that cannot be made: only the standard-error line, no crash.
    const std::string blocker = dir + "/blocker";
    write_file_bytes(blocker, {1});
    setenv("XDG_STATE_HOME", blocker.c_str(), 1);
    testing::internal::CaptureStderr();
    scan(engine, zeros);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("ERROR: "), std::string::npos);
}

// Holds the first large read (the walk's first batch of records) until the test lets it go,
// so the test can pause the engine at a known point.
class gated_source_c : public block_source_c {
public:
    gated_source_c(std::unique_ptr<block_source_c> inner, std::atomic<int>& gate)
        : inner_(std::move(inner)), gate_(gate) {}
    int64_t read_at(uint64_t offset, void* buffer, size_t len) override {
        if (len >= 64 * 1024) {
            int closed = 0;
            gate_.compare_exchange_strong(closed, 1);  // 1: a read is waiting
            while (gate_.load() == 1) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
        return inner_->read_at(offset, buffer, len);
    }
    uint64_t size() const override { return inner_->size(); }

private:
    std::unique_ptr<block_source_c> inner_;
    std::atomic<int>& gate_;  // 0 closed, 1 a read waits, 2 open
};

class gated_backend_c : public linux_backend_c {
public:
    explicit gated_backend_c(std::atomic<int>& gate) : gate_(gate) {}
    std::unique_ptr<block_source_c> open_read(const std::string& path) override {
        auto inner = linux_backend_c::open_read(path);
        if (!inner) {
            return nullptr;
        }
        return std::make_unique<gated_source_c>(std::move(inner), gate_);
    }

private:
    std::atomic<int>& gate_;
};

TEST_F(ntfs_engine_test, a_stop_while_paused_ends_the_scan) {
    const std::string image = fixture_path("ntfs/mixed.img");
    static std::atomic<int> gate{0};
    gate = 0;
    set_platform(std::make_unique<gated_backend_c>(gate));
    ntfs_recovery_c engine;
    // Runs before the engine's destructor waits for its thread.
    struct restore_s {
        ~restore_s() {
            gate = 2;  // never leave a read waiting
            set_platform(nullptr);
        }
    } restore;
    engine.set_volume(volume_for(image));
    engine.start();
    for (int waited = 0; gate.load() != 1 && waited < 10000; ++waited) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(gate.load(), 1) << "the walk never read its first batch";
    engine.set_pause(1);
    gate = 2;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_TRUE(engine.isRunning());  // paused, not finished
    EXPECT_EQ(engine.scanned_count(), 1u);
    engine.set_stop(stop_user);
    ASSERT_TRUE(engine.wait(5000));
    EXPECT_EQ(engine.is_stopped(), stop_user);
    EXPECT_EQ(engine.scanned_count(), 1u);
}

}  // namespace
