// The file-type configuration: the shipped file, the format, bad lines and the lookup order.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "libs/sigscan/sc_config.h"
#include "libs/sigscan/sigscan.h"
#include "platform/memory_source.h"
#include "tests/support/fixture.h"

namespace {

std::string read_text(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

struct find_s {
    std::string extension;
    uint64_t start, size;
};

void collect(void* user, const char* extension, uint64_t start, uint64_t size) {
    static_cast<std::vector<find_s>*>(user)->push_back({extension, start, size});
}

std::vector<find_s> scan(const std::vector<uint8_t>& bytes) {
    std::vector<find_s> finds;
    memory_source_c source(bytes);
    sc_control_s control;
    control.user = &finds;
    control.found_callback = collect;
    EXPECT_EQ(sc_scan_source(&control, source), 0);
    return finds;
}

// Runs a test body inside a fresh current folder and returns to the old one after.
class config_lookup_test : public ::testing::Test {
protected:
    void SetUp() override {
        old_dir = std::filesystem::current_path();
        dir = scratch_dir("config");
        std::filesystem::current_path(dir);
    }
    void TearDown() override {
        std::filesystem::current_path(old_dir);
        sc_load_config("/nonexistent/Quarnel.conf");
    }
    std::filesystem::path old_dir;
    std::string dir;
};

TEST(sc_config, shipped_file_is_the_builtin_table) {
    std::string shipped = read_text(std::string(QUARNEL_SOURCE_DIR) + "/Quarnel.conf");
    ASSERT_FALSE(shipped.empty()) << "Quarnel.conf is missing from the repository root";
    sc_config_s from_file, builtin;
    std::string message;
    EXPECT_EQ(sc_parse_config(shipped, from_file, &message), 0) << message;
    EXPECT_EQ(sc_parse_config(sc_default_config_text(), builtin, &message), 0) << message;
    ASSERT_EQ(from_file.types.size(), builtin.types.size());
    for (size_t i = 0; i < builtin.types.size(); ++i) {
        const sc_type_s& a = from_file.types[i];
        const sc_type_s& b = builtin.types[i];
        EXPECT_EQ(a.extension, b.extension);
        EXPECT_EQ(a.max_size, b.max_size);
        EXPECT_EQ(a.header, b.header);
        EXPECT_EQ(a.header_mask, b.header_mask);
        EXPECT_EQ(a.footer, b.footer);
        EXPECT_EQ(a.format, b.format);
        EXPECT_EQ(a.any_offset, b.any_offset);
        EXPECT_EQ(a.enabled, b.enabled);
    }
}

TEST(sc_config, reads_sizes_wildcards_and_options) {
    sc_config_s config;
    std::string message;
    ASSERT_EQ(sc_parse_config("abc 2K a??b0c footer=0d0a any-offset\n"
                              "wav 4G 52494646????????57415645 format=riff off # comment\n",
                              config, &message),
              0)
        << message;
    ASSERT_EQ(config.types.size(), 2u);
    EXPECT_EQ(config.types[0].max_size, 2048u);
    EXPECT_EQ(config.types[0].header, (std::vector<uint8_t>{0xA0, 0x0B, 0x0C}));
    EXPECT_EQ(config.types[0].header_mask, (std::vector<uint8_t>{0xF0, 0x0F, 0xFF}));
    EXPECT_EQ(config.types[0].footer, (std::vector<uint8_t>{0x0D, 0x0A}));
    EXPECT_TRUE(config.types[0].any_offset);
    EXPECT_EQ(config.types[0].format, "");
    EXPECT_EQ(config.types[1].max_size, 4ull << 30);
    EXPECT_EQ(config.types[1].format, "riff");
    EXPECT_FALSE(config.types[1].enabled);
}

TEST(sc_config, skips_bad_lines_and_says_which) {
    const char* bad_lines[] = {
        "JPG 1M ffd8ff",           // upper-case extension
        "jpg 1X ffd8ff",           // unknown size unit
        "jpg 0 ffd8ff",            // zero size
        "jpg 1M ffd8f",            // odd number of hex digits
        "jpg 1M zz",               // not hex
        "jpg 1M ????",             // nothing fixed to look for
        "jpg 1M ffd8ff footer=1",  // bad footer
        "jpg 1M ffd8ff format=nope",
        "jpg 1M ffd8ff sometimes",
        "jpg",
    };
    for (const char* line : bad_lines) {
        SCOPED_TRACE(line);
        sc_config_s config;
        std::string message;
        EXPECT_EQ(sc_parse_config(std::string("png 1M 89504e47\n") + line + "\n", config, &message),
                  -1);
        EXPECT_EQ(config.types.size(), 1u);
        EXPECT_NE(message.find("line 2"), std::string::npos) << message;
    }
}

TEST_F(config_lookup_test, current_folder_file_adds_types_and_turns_others_off) {
    std::ofstream("Quarnel.conf") << "txt 4K 2d2d2d424547494e footer=2d2d2d454e44\n"
                                     "jpg 1M ffd8ff off\n";
    EXPECT_EQ(sc_load_config("./Quarnel.conf"), 0);
    std::vector<uint8_t> bytes(8192, 0);
    std::string text = "---BEGIN hello ---END";
    std::copy(text.begin(), text.end(), bytes.begin() + 1024);
    const uint8_t jpeg_start[] = {0xFF, 0xD8, 0xFF, 0xE0};
    std::copy(std::begin(jpeg_start), std::end(jpeg_start), bytes.begin() + 4096);
    std::vector<find_s> finds = scan(bytes);
    ASSERT_EQ(finds.size(), 1u);
    EXPECT_EQ(finds[0].extension, "txt");
    EXPECT_EQ(finds[0].start, 1024u);
    EXPECT_EQ(finds[0].size, text.size());
}

TEST_F(config_lookup_test, any_offset_types_are_found_between_boundaries) {
    std::ofstream("Quarnel.conf") << "abc 1K 3c3c4142433e3e footer=3c3c454e443e3e any-offset\n";
    ASSERT_EQ(sc_load_config("./Quarnel.conf"), 0);
    std::vector<uint8_t> bytes(8192, 0);
    std::string first = "<<ABC>> one <<END>>";
    std::string second = "<<ABC>> two <<END>>";
    std::copy(first.begin(), first.end(), bytes.begin() + 700);
    std::copy(second.begin(), second.end(), bytes.begin() + 4095);
    std::vector<find_s> finds = scan(bytes);
    ASSERT_EQ(finds.size(), 2u);
    EXPECT_EQ(finds[0].start, 700u);
    EXPECT_EQ(finds[0].size, first.size());
    EXPECT_EQ(finds[1].start, 4095u);
    EXPECT_EQ(finds[1].size, second.size());
}

TEST_F(config_lookup_test, builtin_types_apply_when_no_file_is_found) {
    EXPECT_EQ(sc_load_config("./Quarnel.conf"), 1);
    std::string message;
    std::ofstream("Broken.conf") << "jpg 1M ffd8ff\nnot a line\n";
    EXPECT_EQ(sc_load_config("./Broken.conf", &message), -1);
    EXPECT_NE(message.find("line 2"), std::string::npos);
}

}  // namespace
