// Every engine and the partition search only read their source: each fixture image is
// scanned and recovered from a read-only file and, as root, from a read-only loop device,
// and its checksum (and, for the file, its modification time) is the same afterwards.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ostream>
#include <string>
#include <vector>

#include "tests/robustness/robustness_cli.h"
#include "tests/support/fixture.h"
#include "tests/support/loop_device.h"

namespace {

struct source_case_s {
    const char* fixture;
    // quarnel-cli runs; {SRC} is the source, {OUT} a fresh output folder.
    std::vector<std::string> commands;
    bool recovers;  // the first run must write at least one file
};

const source_case_s source_cases[] = {
    {"fat/fat12.img",
     {"scan {SRC} --recover {OUT}/tree", "scan {SRC} --recover {OUT}/flat --flat"},
     true},
    {"fat/fat32.img", {"scan {SRC} --recover {OUT}/tree"}, true},
    {"fat/disk.img", {"scan {SRC} --partition 1 --recover {OUT}/tree", "partitions {SRC}"}, true},
    {"ntfs/mixed.img", {"scan {SRC} --recover {OUT}/tree", "partitions {SRC}"}, true},
    {"ntfs/sector4k.img", {"scan {SRC} --recover {OUT}/flat --flat"}, true},
    {"robustness/ntfs_names.img", {"scan {SRC} --recover {OUT}/tree"}, true},
    {"carve/carve.img",
     {"scan {SRC} --deep --whole-disk --save {OUT}/result.sav --recover {OUT}/deep",
      "load {OUT}/result.sav --recover {OUT}/loaded"},
     true},
    // Its files are text, which the deep scan does not recognise: nothing to recover.
    {"fat/fat12.img", {"scan {SRC} --deep --recover {OUT}/deep"}, false},
};

// Names the case in test output instead of dumping its bytes.
void PrintTo(const source_case_s& c, std::ostream* out) {
    *out << c.fixture;
}

std::string expand(std::string command, const std::string& source, const std::string& out) {
    for (const auto& [key, value] :
         {std::pair{std::string("{SRC}"), source}, std::pair{std::string("{OUT}"), out}}) {
        for (size_t at = command.find(key); at != std::string::npos; at = command.find(key)) {
            command.replace(at, key.size(), shell_quote(value));
        }
    }
    return command;
}

// Runs the case's commands against `source`; every run must succeed.
void run_case(const source_case_s& c, const std::string& source) {
    const std::string out = scratch_dir("untouched-out");
    for (const std::string& command : c.commands) {
        const cli_run_s run = run_cli(expand(command, source, out));
        EXPECT_EQ(run.status, 0) << command << " on " << c.fixture << ": " << run.err;
    }
    if (c.recovers) {
        EXPECT_FALSE(entries_under(out).empty()) << c.fixture << ": nothing was recovered";
    }
}

int64_t modified_ns(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        return -1;
    }
    return int64_t{info.st_mtim.tv_sec} * 1000000000 + info.st_mtim.tv_nsec;
}

class source_untouched : public testing::TestWithParam<source_case_s> {};

TEST_P(source_untouched, read_only_image_file) {
    const source_case_s& c = GetParam();
    const std::string image = fixture_path(c.fixture);
    ASSERT_EQ(chmod(image.c_str(), 0444), 0);
    const std::string before = file_sha256(image);
    const int64_t mtime = modified_ns(image);
    ASSERT_FALSE(before.empty());
    run_case(c, image);
    EXPECT_EQ(file_sha256(image), before) << c.fixture << " was changed";
    EXPECT_EQ(modified_ns(image), mtime) << c.fixture << " was written to";
}

TEST_P(source_untouched, read_only_loop_device) {
    if (!running_as_root()) {
        GTEST_SKIP() << "attaching a loop device needs root";
    }
    if (!have_program("losetup")) {
        GTEST_SKIP() << "losetup is not installed";
    }
    const source_case_s& c = GetParam();
    const std::string image = fixture_path(c.fixture);
    const std::string before = file_sha256(image);
    loop_device_c loop(image);
    if (loop.path().empty()) {
        GTEST_SKIP() << "no loop device could be attached (none free, or no loop support here)";
    }
    // The device may be shorter than its file: it ends at the last whole sector.
    const std::string device_before = file_sha256(loop.path());
    ASSERT_FALSE(device_before.empty());
    run_case(c, loop.path());
    EXPECT_EQ(file_sha256(loop.path()), device_before)
        << c.fixture << " changed through its loop device";
    EXPECT_EQ(file_sha256(image), before) << c.fixture << " was changed";
}

std::string case_name(const testing::TestParamInfo<source_case_s>& info) {
    std::string name = std::to_string(info.index) + "_" + info.param.fixture;
    for (char& ch : name) {
        if (!std::isalnum(static_cast<unsigned char>(ch))) {
            ch = '_';
        }
    }
    return name;
}

INSTANTIATE_TEST_SUITE_P(fixtures, source_untouched, testing::ValuesIn(source_cases), case_name);

}  // namespace
