// The FAT scan engine over hand-made volumes: which entries become records, the names they
// get, keep-or-drop, progress, pause and stop, damaged trees, and writing files out.
#include <gtest/gtest.h>

#include <QFile>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "engines/fat/fat_time.h"
#include "engines/fat/sector_access.h"
#include "engines/fat_recovery.h"
#include "engines/recovery_stop.h"
#include "tests/engines/fat/fat_image_builder.h"
#include "tests/support/fixture.h"

namespace {

// Installs `image` as sector drive 0 and scans it to the end.
void scan(fat_recovery_c& engine, fat_image_builder_c& image) {
    install_sector_drive(0, image.source());
    volume_item_s volume;
    volume.volume_path = QStringLiteral("memory:0");
    volume.root_path = QStringLiteral("/media/card/");
    engine.set_volume(volume);
    engine.start();
    ASSERT_TRUE(engine.wait(60000));
}

const fat_entry_s* record(fat_recovery_c& engine, uint32_t key) {
    auto found = engine.records().find(key);
    return found == engine.records().end() ? nullptr : &found->second.entry;
}

std::u16string name_of(const fat_entry_s* entry) {
    return entry == nullptr ? u"(none)" : std::u16string(entry->name);
}

constexpr uint8_t attr_file = 0x20;
constexpr uint8_t attr_dir = 0x10;

// A deleted-looking 5,000-byte file: clusters filled with their own number.
void fill_clusters(fat_image_builder_c& image, uint32_t first, uint32_t count) {
    for (uint32_t c = first; c < first + count; ++c) {
        std::memset(image.cluster(c), int(c & 0xFF), image.cluster_bytes());
    }
}

}  // namespace

TEST(FatEngine, RecordsFoldersAndDeletedFilesOnly) {
    fat_image_builder_c image(16, 5000);
    uint8_t* root = image.root();
    fat_image_builder_c::put_entry(root, 0, "LIVE    TXT", attr_file, 20, 10);
    fat_image_builder_c::put_entry(root, 1, "ABC     TXT", attr_file, 21, 10);
    fat_image_builder_c::mark_deleted(root, 1);
    fat_image_builder_c::put_entry(root, 2, "EMPTY   TXT", attr_file, 0, 0);  // no cluster
    fat_image_builder_c::mark_deleted(root, 2);
    fat_image_builder_c::put_entry(root, 3, "PHOTOS     ", attr_dir, 30, 0);
    image.chain({30});
    fat_image_builder_c::put_entry(image.cluster(30), 0, ".          ", attr_dir, 30, 0);
    fat_image_builder_c::put_entry(image.cluster(30), 1, "..         ", attr_dir, 0, 0);
    uint32_t slot = fat_image_builder_c::put_long_name(image.cluster(30), 2, u"Summer 2024.jpg",
                                                       "SUMMER~1JPG", true);
    fat_image_builder_c::put_entry(image.cluster(30), slot, "SUMMER~1JPG", attr_file, 31, 10);
    fat_image_builder_c::mark_deleted(image.cluster(30), slot);

    fat_recovery_c engine;
    scan(engine, image);
    EXPECT_EQ(engine.found_count(), 3u);
    EXPECT_EQ(record(engine, 20), nullptr);
    const fat_entry_s* deleted = record(engine, 21);
    ASSERT_NE(deleted, nullptr);
    EXPECT_EQ(name_of(deleted), u"#BC.TXT");  // the lost first byte, not the B
    EXPECT_EQ(deleted->attr & fat_attr_deleted, fat_attr_deleted);
    EXPECT_EQ(deleted->parent_id, 0u);
    EXPECT_EQ(deleted->in_deleted_folder, 0);
    EXPECT_EQ(name_of(record(engine, 30)), u"PHOTOS");
    EXPECT_EQ(name_of(record(engine, 31)), u"Summer 2024.jpg");  // no "#": the name is known
    EXPECT_EQ(record(engine, 31)->parent_id, 30u);
    // The root record, its children and the marks of folders with found files below.
    const auto& records = engine.records();
    ASSERT_EQ(records.count(0), 1u);
    EXPECT_EQ(records.at(0).entry.attr, fat_attr_folder);
    EXPECT_EQ(records.at(0).children.size(), 2);
    EXPECT_TRUE(records.at(0).has_found);
    EXPECT_TRUE(records.at(30).has_found);
    std::wstring path;
    EXPECT_EQ(engine.entry_path(31, path), 0);
    EXPECT_EQ(path, L"/media/card/PHOTOS/Summer 2024.jpg");
}

TEST(FatEngine, EverythingInADeletedFolderIsDeletedAndKeepsItsName) {
    fat_image_builder_c image(32, 1000);
    uint8_t* root = image.root();
    uint32_t slot =
        fat_image_builder_c::put_long_name(root, 0, u"Old projects", "OLDPRO~1   ", true);
    fat_image_builder_c::put_entry(root, slot, "OLDPRO~1   ", attr_dir, 40, 0);
    fat_image_builder_c::mark_deleted(root, slot);
    // Inside the deleted folder (its chain is gone): a live-looking sub-folder and file,
    // and a file in the last slot of the cluster, which comes with the read error.
    uint8_t* old = image.cluster(40);
    slot = fat_image_builder_c::put_long_name(old, 0, u"Drafts", "DRAFTS     ", false);
    fat_image_builder_c::put_entry(old, slot, "DRAFTS     ", attr_dir, 41, 0);
    fat_image_builder_c::put_entry(old, slot + 1, "NOTES   TXT", attr_file, 42, 10);
    for (uint32_t filler = slot + 2; filler < 15; ++filler) {
        fat_image_builder_c::put_entry(old, filler, "FILLER  TXT", attr_file, 0, 0);
        fat_image_builder_c::mark_deleted(old, filler);
    }
    fat_image_builder_c::put_entry(old, 15, "LAST    TXT", attr_file, 43, 10);
    fat_image_builder_c::mark_deleted(old, 15);
    fat_image_builder_c::put_entry(image.cluster(41), 0, "DEEP    TXT", attr_file, 44, 10);

    fat_recovery_c engine;
    scan(engine, image);
    const fat_entry_s* folder = record(engine, 40);
    ASSERT_NE(folder, nullptr);
    EXPECT_EQ(name_of(folder), u"Old projects");
    const fat_entry_s* drafts = record(engine, 41);
    ASSERT_NE(drafts, nullptr);
    EXPECT_EQ(name_of(drafts), u"Drafts");
    EXPECT_EQ(drafts->attr & (fat_attr_deleted | fat_attr_folder),
              fat_attr_deleted | fat_attr_folder);
    EXPECT_EQ(drafts->in_deleted_folder, 1);
    ASSERT_NE(record(engine, 42), nullptr);
    EXPECT_EQ(name_of(record(engine, 42)), u"NOTES.TXT");
    EXPECT_EQ(record(engine, 42)->attr & fat_attr_deleted, fat_attr_deleted);
    EXPECT_EQ(name_of(record(engine, 43)), u"#AST.TXT");
    ASSERT_NE(record(engine, 44), nullptr);
    EXPECT_EQ(record(engine, 44)->parent_id, 41u);
    EXPECT_EQ(record(engine, 44)->in_deleted_folder, 1);
}

TEST(FatEngine, KeepOrDropByFirstCluster) {
    fat_image_builder_c image(16, 5000);
    uint8_t* root = image.root();
    // Two deleted files on cluster 50: the later creation wins.
    fat_image_builder_c::put_entry(root, 0, "EARLY   TXT", attr_file, 50, 1, 0x5A21, 0, 0x5A21, 0);
    fat_image_builder_c::put_entry(root, 1, "LATER   TXT", attr_file, 50, 2, 0x5A21, 0, 0x5A22, 0);
    // Equal times on cluster 51: the first one met stays.
    fat_image_builder_c::put_entry(root, 2, "FIRST   TXT", attr_file, 51, 1);
    fat_image_builder_c::put_entry(root, 3, "SECOND  TXT", attr_file, 51, 2);
    // A deleted file, then a live folder on cluster 52: the folder replaces it.
    fat_image_builder_c::put_entry(root, 4, "GONE    TXT", attr_file, 52, 1);
    fat_image_builder_c::put_entry(root, 5, "KEEP       ", attr_dir, 52, 0);
    for (uint32_t s = 0; s < 5; ++s) {
        fat_image_builder_c::mark_deleted(root, s);
    }
    fat_image_builder_c::put_entry(image.cluster(52), 0, "INSIDE  TXT", attr_file, 53, 1);
    fat_image_builder_c::mark_deleted(image.cluster(52), 0);

    fat_recovery_c engine;
    scan(engine, image);
    EXPECT_EQ(name_of(record(engine, 50)), u"#ATER.TXT");
    EXPECT_EQ(name_of(record(engine, 51)), u"#IRST.TXT");
    EXPECT_EQ(name_of(record(engine, 52)), u"KEEP");
    EXPECT_EQ(record(engine, 53), nullptr);  // a folder whose key was known is not walked
    EXPECT_EQ(engine.found_count(), 3u);
}

TEST(FatEngine, ProgressClimbsToOneThenStaysBelow) {
    // Steps = entries + the final read that meets the end of the folder.
    struct case_s {
        uint32_t steps;
        double progress;
    } cases[] = {{2000, 0.9995}, {2001, 1.0}, {2002, 0.99}};
    for (const case_s& c : cases) {
        fat_image_builder_c image(32, 1000);
        std::vector<uint32_t> root_chain;
        for (uint32_t n = 2; n < 2 + 130; ++n) {
            root_chain.push_back(n);
        }
        image.chain(root_chain);
        for (uint32_t e = 0; e + 1 < c.steps; ++e) {
            uint8_t* cluster = image.cluster(2 + e / 16);
            fat_image_builder_c::put_entry(cluster, e % 16, "EMPTY   TXT", attr_file, 0, 0);
        }
        fat_recovery_c engine;
        scan(engine, image);
        EXPECT_EQ(engine.scanned_count(), c.steps);
        EXPECT_DOUBLE_EQ(engine.get_progress(), c.progress) << c.steps;
    }
}

TEST(FatEngine, DamagedTreesEndInTime) {
    // Folders nested 5,000 deep, then a folder loop: A holds B, B holds A.
    fat_image_builder_c image(32, 6000);
    constexpr uint32_t depth = 5000;
    fat_image_builder_c::put_entry(image.root(), 0, "D          ", attr_dir, 10, 0);
    for (uint32_t n = 10; n < 10 + depth; ++n) {
        image.chain({n});
        fat_image_builder_c::put_entry(image.cluster(n), 0, "D          ", attr_dir, n + 1, 0);
    }
    fat_image_builder_c::put_entry(image.root(), 1, "A          ", attr_dir, 5100, 0);
    fat_image_builder_c::put_entry(image.cluster(5100), 0, "B          ", attr_dir, 5101, 0);
    fat_image_builder_c::put_entry(image.cluster(5101), 0, "A          ", attr_dir, 5100, 0);
    fat_image_builder_c::put_entry(image.cluster(5101), 1, "X       TXT", attr_file, 5102, 9);
    fat_image_builder_c::mark_deleted(image.cluster(5101), 1);
    // A folder whose chain loops back on itself.
    fat_image_builder_c::put_entry(image.root(), 2, "L          ", attr_dir, 5200, 0);
    image.set_fat(5200, 5201);
    image.set_fat(5201, 5200);

    fat_recovery_c engine;
    scan(engine, image);
    EXPECT_NE(record(engine, 10 + depth), nullptr);
    EXPECT_NE(record(engine, 5102), nullptr);
    std::wstring path;
    EXPECT_EQ(engine.entry_path(10 + depth, path), 0);
    // A's record was replaced by its copy inside B: the chain of parents loops.
    EXPECT_EQ(engine.entry_path(5102, path), -1);
    EXPECT_EQ(path, L"/media/card");
}

namespace {

// A source whose reads wait while the gate is closed.
class gated_source_c : public memory_source_c {
public:
    using memory_source_c::memory_source_c;
    int64_t read_at(uint64_t offset, void* buffer, size_t len) override {
        while (closed.load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return memory_source_c::read_at(offset, buffer, len);
    }
    std::atomic<bool> closed{true};
};

}  // namespace

TEST(FatEngine, StopDuringPauseEndsTheWalkAndKeepsTheRoot) {
    fat_image_builder_c image(16, 5000);
    for (uint32_t s = 0; s < 100; ++s) {
        fat_image_builder_c::put_entry(image.root(), s, "DIR        ", attr_dir, 100 + s, 0);
    }
    auto source = std::make_shared<gated_source_c>(image.bytes());
    install_sector_drive(0, source);
    fat_recovery_c engine;
    volume_item_s volume;
    volume.volume_path = QStringLiteral("memory:0");
    engine.set_volume(volume);
    engine.start();
    // The engine waits on its first read; pause it before it can take a step.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    engine.set_pause(1);
    source->closed = false;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    uint64_t paused_at = engine.scanned_count();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(engine.scanned_count(), paused_at);
    auto asked = std::chrono::steady_clock::now();
    engine.set_stop(stop_user);
    ASSERT_TRUE(engine.wait(5000));
    EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::milliseconds(1000));
    EXPECT_EQ(engine.is_stopped(), stop_user);
    EXPECT_EQ(engine.records().count(0), 1u);
    EXPECT_LT(engine.found_count(), 100u);
}

TEST(FatEngine, RecoverFileReadsConsecutiveClustersOfADeletedFile) {
    fat_image_builder_c image(16, 5000, 4);
    fill_clusters(image, 199, 5);
    fat_image_builder_c::put_entry(image.root(), 0, "PHOTO   JPG", attr_file, 200, 5000);
    fat_image_builder_c::mark_deleted(image.root(), 0);
    // Runs past the end of the volume: only part of it can be read.
    fat_image_builder_c::put_entry(image.root(), 1, "TAIL    BIN", attr_file, 4999, 9000);
    fat_image_builder_c::mark_deleted(image.root(), 1);
    fat_recovery_c engine;
    scan(engine, image);

    std::string dir = scratch_dir("fat-recover");
    QString target = QString::fromStdString(dir + "/photo.jpg");
    ASSERT_EQ(engine.recover_file(200, target), 0);
    std::vector<uint8_t> data = read_file_bytes(target.toStdString());
    ASSERT_EQ(data.size(), 5000u);
    EXPECT_EQ(data[0], 200);
    EXPECT_EQ(data[2048], 201);
    EXPECT_EQ(data[4999], 202);

    // A short read is a failure; the partial file stays for the user to judge.
    QString tail = QString::fromStdString(dir + "/tail.bin");
    EXPECT_EQ(engine.recover_file(4999, tail), -1);
    EXPECT_EQ(read_file_bytes(tail.toStdString()).size(), 3u * 2048);  // clusters 4999..5001

    QString missing = QString::fromStdString(dir + "/missing.bin");
    EXPECT_EQ(engine.recover_file(777, missing), -1);
    EXPECT_FALSE(QFile::exists(missing));
    EXPECT_EQ(engine.recover_file(200, QStringLiteral("/nonexistent-dir/x")), -1);
}

TEST(FatEngine, RecoverFileFromTwoThreadsDoesNotMix) {
    fat_image_builder_c image(12, 2000, 1);
    fill_clusters(image, 100, 200);
    fat_image_builder_c::put_entry(image.root(), 0, "ONE     BIN", attr_file, 100, 50 * 512);
    fat_image_builder_c::put_entry(image.root(), 1, "TWO     BIN", attr_file, 200, 50 * 512);
    fat_image_builder_c::mark_deleted(image.root(), 0);
    fat_image_builder_c::mark_deleted(image.root(), 1);
    fat_recovery_c engine;
    scan(engine, image);
    std::string dir = scratch_dir("fat-threads");
    std::atomic<int> bad{0};
    auto worker = [&](uint32_t id) {
        for (int round = 0; round < 30; ++round) {
            QString target = QString::fromStdString(dir + "/" + std::to_string(id) + ".bin");
            if (engine.recover_file(id, target) != 0) {
                ++bad;
            }
            std::vector<uint8_t> data = read_file_bytes(target.toStdString());
            for (size_t i = 0; i < data.size(); i += 512) {
                if (data[i] != uint8_t(id + i / 512)) {
                    ++bad;
                    break;
                }
            }
        }
    };
    std::thread one(worker, 100);
    std::thread two(worker, 200);
    one.join();
    two.join();
    EXPECT_EQ(bad.load(), 0);
}

TEST(FatEngine, EntryPathNeedsEveryAncestor) {
    fat_image_builder_c image(16, 5000);
    fat_image_builder_c::put_entry(image.root(), 0, "DOCS       ", attr_dir, 60, 0);
    image.chain({60});
    fat_image_builder_c::put_entry(image.cluster(60), 0, "A       TXT", attr_file, 61, 3);
    fat_image_builder_c::mark_deleted(image.cluster(60), 0);
    fat_recovery_c engine;
    scan(engine, image);
    std::wstring path;
    EXPECT_EQ(engine.entry_path(60, path), 0);
    EXPECT_EQ(path, L"/media/card/DOCS");
    EXPECT_EQ(engine.entry_path(12345, path), -1);
    EXPECT_EQ(path, L"/media/card");
}

TEST(FatTime, ConvertsLocalFatTimes) {
    setenv("TZ", "UTC", 1);
    tzset();
    struct case_s {
        uint16_t date;
        uint16_t time;
        int64_t seconds;
    } cases[] = {
        {uint16_t((44 << 9) | (3 << 5) | 15), uint16_t((10 << 11) | (20 << 5) | 15), 1710498030},
        {uint16_t((0 << 9) | (1 << 5) | 1), 0, 315532800},       // 1980-01-01
        {uint16_t((44 << 9) | (0 << 5) | 1), 0, 1701388800},     // month 0: 2023-12-01
        {uint16_t((127 << 9) | (12 << 5) | 31), 0, 4354732800},  // 2107-12-31
    };
    for (const case_s& c : cases) {
        EXPECT_EQ(fat_time_to_unix(c.date, c.time), c.seconds) << c.date;
    }
}

TEST(FatEngine, RandomDamageGivesAPartialResultNeverACrash) {
    for (const char* fixture : {"fat/fat12.img", "fat/fat16.img"}) {
        std::vector<uint8_t> clean = read_file_bytes(fixture_path(fixture));
        ASSERT_GT(clean.size(), 1u << 20);
        std::string dir = scratch_dir("fat-damage");
        uint32_t seed = 12345;
        auto next = [&seed] {
            seed = seed * 1103515245 + 12345;
            return seed >> 8;
        };
        for (int round = 0; round < 40; ++round) {
            std::vector<uint8_t> bytes = clean;
            // The boot sector is left alone from round 20 on, so that damage reaches the
            // FAT and the folders of a volume that still mounts.
            size_t from = round < 20 ? 0 : 512;
            for (int hit = 0; hit < 300; ++hit) {
                size_t at = from + next() % (256 * 1024 - from);
                bytes[at] = uint8_t(next());
            }
            install_sector_drive(0, std::make_shared<memory_source_c>(bytes));
            fat_recovery_c engine;
            volume_item_s volume;
            volume.volume_path = QStringLiteral("memory:0");
            engine.set_volume(volume);
            engine.start();
            ASSERT_TRUE(engine.wait(60000)) << fixture << " round " << round;
            int recovered = 0;
            for (const auto& [key, record] : engine.records()) {
                if (key != 0 && record.entry.size < (1u << 20) && recovered++ < 50) {
                    engine.recover_file(key, QString::fromStdString(dir + "/out"));
                }
                std::wstring path;
                engine.entry_path(key, path);
            }
        }
    }
}

TEST(FatEngine, ResetDropsTheResults) {
    fat_image_builder_c image(12, 100);
    fat_image_builder_c::put_entry(image.root(), 0, "ABC     TXT", 0x20, 5, 10);
    fat_image_builder_c::mark_deleted(image.root(), 0);
    fat_recovery_c engine;
    scan(engine, image);
    EXPECT_EQ(engine.found_count(), 1u);
    engine.reset();
    EXPECT_EQ(engine.found_count(), 0u);
    EXPECT_EQ(engine.scanned_count(), 0u);
    EXPECT_TRUE(engine.records().empty());
    EXPECT_EQ(engine.recover_file(5, QStringLiteral("/nonexistent-dir/x")), -1);
}

TEST(NullEngine, EveryCallIsHarmless) {
    recovery_stop_c engine;
    engine.set_volume(volume_item_s{});
    engine.set_progress(0.5);
    engine.set_stop(stop_user);
    engine.set_pause(1);
    engine.reset();
    EXPECT_EQ(engine.get_progress(), 0.0);
    EXPECT_EQ(engine.is_stopped(), 1);
    EXPECT_EQ(engine.is_paused(), 0);
    EXPECT_EQ(engine.scanned_count(), 0u);
    EXPECT_EQ(engine.found_count(), 0u);
    std::string dir = scratch_dir("null-engine");
    QString target = QString::fromStdString(dir + "/never");
    EXPECT_EQ(engine.recover_file(7, target), 0);
    EXPECT_FALSE(QFile::exists(target));
    std::wstring path = L"kept";
    EXPECT_EQ(engine.entry_path(7, path), 0);
    EXPECT_EQ(path, L"kept");
}

TEST(FatEngine, AFolderWhoseClusterANewFolderTookIsReadAsTheNewOne) {
    // The deleted folder OLD is met first; its first cluster now holds the live folder NEW,
    // whose live file must not turn into a deleted one.
    fat_image_builder_c image(16, 5000);
    fat_image_builder_c::put_entry(image.root(), 0, "OLD        ", attr_dir, 70, 0);
    fat_image_builder_c::mark_deleted(image.root(), 0);
    fat_image_builder_c::put_entry(image.root(), 1, "NEW        ", attr_dir, 70, 0);
    image.chain({70});
    fat_image_builder_c::put_entry(image.cluster(70), 0, "LIVE    TXT", attr_file, 71, 10);
    fat_image_builder_c::put_entry(image.cluster(70), 1, "GONE    TXT", attr_file, 72, 10);
    fat_image_builder_c::mark_deleted(image.cluster(70), 1);
    fat_recovery_c engine;
    scan(engine, image);
    EXPECT_EQ(name_of(record(engine, 70)), u"NEW");
    EXPECT_EQ(record(engine, 71), nullptr);
    ASSERT_NE(record(engine, 72), nullptr);
    EXPECT_EQ(record(engine, 72)->in_deleted_folder, 0);
    EXPECT_EQ(record(engine, 72)->parent_id, 70u);
}
