// The deep scan over a small image of real files laid out with noise between them.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>

#include "libs/sigscan/sigscan.h"
#include "platform/memory_source.h"
#include "tests/libs/sigscan/carve_manifest.h"
#include "tests/support/fixture.h"

std::vector<manifest_row_s> read_manifest(const std::string& path) {
    std::ifstream in(std::string(QUARNEL_SOURCE_DIR) + "/tests/fixtures/" + path);
    std::vector<manifest_row_s> rows;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        std::istringstream fields(line);
        manifest_row_s row;
        fields >> row.name >> row.offset >> row.size >> row.sha256 >> row.expectation;
        rows.push_back(row);
    }
    return rows;
}

namespace {

struct find_s {
    std::string extension;
    uint64_t start = 0;
    uint64_t size = 0;
};

void collect(void* user, const char* extension, uint64_t start, uint64_t size) {
    static_cast<std::vector<find_s>*>(user)->push_back({extension, start, size});
}

std::string sha256_of(const std::vector<uint8_t>& bytes, uint64_t start, uint64_t size) {
    std::string path = scratch_dir("carve") + "/piece";
    write_file_bytes(path, std::vector<uint8_t>(bytes.begin() + static_cast<long>(start),
                                                bytes.begin() + static_cast<long>(start + size)));
    return file_sha256(path);
}

// The extension a file of this fixture name must be reported with.
std::string expected_extension(const std::string& name) {
    return name.substr(name.rfind('.') + 1);
}

class carve_fixture_test : public ::testing::Test {
protected:
    void SetUp() override {
        sc_load_config("/nonexistent/Quarnel.conf");  // the built-in types
        rows = read_manifest("carve/carve.manifest");
        ASSERT_FALSE(rows.empty()) << "the carving fixture's manifest is missing";
        bytes = read_file_bytes(fixture_path("carve/carve.img"));
        ASSERT_FALSE(bytes.empty());
        memory_source_c source(bytes);
        sc_control_s control;
        control.user = &finds;
        control.found_callback = collect;
        ASSERT_EQ(sc_scan_source(&control, source), 0);
        EXPECT_EQ(control.progress.load(), 1.0);
        for (const find_s& f : finds) {
            by_start[f.start] = f;
        }
    }
    std::vector<manifest_row_s> rows;
    std::vector<uint8_t> bytes;
    std::vector<find_s> finds;
    std::map<uint64_t, find_s> by_start;
};

TEST_F(carve_fixture_test, contiguous_files_come_out_byte_identical) {
    for (const manifest_row_s& row : rows) {
        if (row.expectation != "exact") {
            continue;
        }
        SCOPED_TRACE(row.name + " at " + std::to_string(row.offset));
        auto found = by_start.find(row.offset);
        ASSERT_NE(found, by_start.end()) << "not found";
        EXPECT_EQ(found->second.size, row.size);
        EXPECT_EQ(found->second.extension, expected_extension(row.name));
        EXPECT_EQ(sha256_of(bytes, row.offset, found->second.size), row.sha256);
    }
}

TEST_F(carve_fixture_test, cut_and_bodiless_files_do_not_swallow_their_neighbours) {
    for (size_t i = 0; i < rows.size(); ++i) {
        const manifest_row_s& row = rows[i];
        SCOPED_TRACE(row.name + " at " + std::to_string(row.offset));
        auto found = by_start.find(row.offset);
        if (row.expectation == "none") {
            EXPECT_EQ(found, by_start.end()) << "a header without a body was reported";
        } else if (row.expectation == "partial") {
            ASSERT_NE(found, by_start.end()) << "the cut-short file was lost";
            ASSERT_LT(i + 1, rows.size());
            EXPECT_LE(found->second.start + found->second.size, rows[i + 1].offset);
        }
    }
}

TEST_F(carve_fixture_test, reports_nothing_but_the_placed_files) {
    std::map<uint64_t, const manifest_row_s*> placed;
    for (const manifest_row_s& row : rows) {
        placed[row.offset] = &row;
    }
    for (const find_s& f : finds) {
        EXPECT_TRUE(placed.count(f.start))
            << "noise reported as " << f.extension << " at " << f.start << " size " << f.size;
        EXPECT_LE(f.start + f.size, bytes.size());
    }
}

}  // namespace
