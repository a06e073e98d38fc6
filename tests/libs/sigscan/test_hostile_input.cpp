// Damaged and hostile images: the scan ends, reports nothing past the device and never
// asks for absurd amounts of memory.
#include <gtest/gtest.h>

#include "tests/libs/sigscan/scan_helpers.h"
#include "tests/support/fixture.h"

namespace {

TEST(hostile_input, damaged_copies_of_the_fixture_scan_to_the_end) {
    sc_load_config("/nonexistent/Quarnel.conf");
    std::vector<uint8_t> original = read_file_bytes(fixture_path("carve/carve.img"));
    ASSERT_FALSE(original.empty());
    uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return seed;
    };
    for (int round = 0; round < 24; ++round) {
        std::vector<uint8_t> bytes = original;
        // Overwrite a few hundred bytes, mostly in the first sectors of the placed files
        // where the structures that give sizes and offsets live.
        for (int k = 0; k < 300; ++k) {
            size_t at = next() % bytes.size();
            if (k % 2) {
                at = (at & ~size_t{511}) + next() % 64;
            }
            bytes[std::min(at, bytes.size() - 1)] = static_cast<uint8_t>(next() >> 24);
        }
        memory_source_c source(bytes);
        std::vector<test_find_s> finds;
        sc_control_s control;
        control.user = &finds;
        control.found_callback = test_collect;
        ASSERT_EQ(sc_scan_source(&control, source), 0) << "round " << round;
        for (const test_find_s& f : finds) {
            EXPECT_GT(f.size, 0u);
            EXPECT_LE(f.start + f.size, bytes.size()) << f.extension << " round " << round;
        }
    }
}

TEST(hostile_input, oversized_tables_are_refused_or_cut) {
    sc_load_config("/nonexistent/Quarnel.conf");
    std::vector<uint8_t> bytes = test_noise(8192, 9);
    // An ELF header whose program-header table would take 4 GiB.
    std::vector<uint8_t> elf(64, 0);
    put(elf, 0, {0x7F, 'E', 'L', 'F', 2, 1, 1});
    elf[16] = 2;                     // executable
    elf[52] = 64;                    // header size
    elf[54] = 0xFF, elf[55] = 0xFF;  // entry size 65535
    elf[56] = 0xFF, elf[57] = 0xFF;  // 65535 entries
    put(bytes, 512, elf);
    // A zip64 end record claiming an enormous size right after one entry.
    std::vector<uint8_t> zip = {'P', 'K', 3, 4,    20,   0,    0,    0,    0,    0,    0,
                                0,   0,   0, 0,    0,    0,    0,    1,    0,    0,    0,
                                1,   0,   0, 0,    1,    0,    0,    0,    'a',  'x',  'P',
                                'K', 6,   6, 0xF4, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    put(bytes, 2048, zip);
    std::vector<test_find_s> finds = scan_bytes(bytes);
    for (const test_find_s& f : finds) {
        EXPECT_LE(f.start + f.size, bytes.size()) << f.extension;
    }
}

TEST(hostile_input, tiff_entries_with_no_values) {
    sc_load_config("/nonexistent/Quarnel.conf");
    std::vector<uint8_t> bytes = test_noise(8192, 11);
    // A little-endian TIFF whose one directory holds empty strip and sub-directory arrays
    // (count 0): read as empty, they must not make the reader copy from nowhere.
    std::vector<uint8_t> tiff = {'I', 'I', 42, 0, 8, 0, 0, 0, 3, 0};
    // Strip offsets (273), strip byte counts (279), sub-directories (330): LONG, count 0.
    for (uint8_t tag : {0x11, 0x17, 0x4A}) {
        tiff.insert(tiff.end(), {tag, 1, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    }
    tiff.insert(tiff.end(), {0, 0, 0, 0});  // no next directory
    put(bytes, 1024, tiff);
    for (const test_find_s& f : scan_bytes(bytes)) {
        EXPECT_LE(f.start + f.size, bytes.size()) << f.extension;
    }
}

}  // namespace
