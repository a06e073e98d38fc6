// Format readers on hand-built structures for formats the fixture has no tool to make, and
// the end rules: the last "%%EOF" before the next file, cuts at the device end.
#include <gtest/gtest.h>

#include "tests/libs/sigscan/scan_helpers.h"

namespace {

class format_reader_test : public ::testing::Test {
protected:
    void SetUp() override { sc_load_config("/nonexistent/Quarnel.conf"); }
};

std::vector<uint8_t> box(const std::string& type, size_t body) {
    std::vector<uint8_t> out =
        join({be32_bytes(static_cast<uint32_t>(8 + body)), text_bytes(type)});
    out.resize(8 + body, 0x5A);
    return out;
}

std::vector<uint8_t> movie(const std::string& brand, size_t data) {
    std::vector<uint8_t> ftyp =
        join({be32_bytes(20), text_bytes("ftyp" + brand), be32_bytes(0), text_bytes("isom")});
    return join({ftyp, box("moov", 100), box("mdat", data)});
}

TEST_F(format_reader_test, mp4_and_mov_end_after_their_last_box_even_back_to_back) {
    std::vector<uint8_t> bytes = test_noise(16384, 1);
    std::vector<uint8_t> first = movie("isom", 3000);
    std::vector<uint8_t> second = movie("qt  ", 1000);
    put(bytes, 1024, first);
    size_t second_at = (1024 + first.size() + 511) / 512 * 512;
    put(bytes, second_at, second);
    std::vector<test_find_s> finds = scan_bytes(bytes);
    ASSERT_EQ(finds.size(), 2u);
    EXPECT_EQ(finds[0].extension, "mp4");
    EXPECT_EQ(finds[0].start, 1024u);
    EXPECT_EQ(finds[0].size, first.size());
    EXPECT_EQ(finds[1].extension, "mov");
    EXPECT_EQ(finds[1].start, second_at);
    EXPECT_EQ(finds[1].size, second.size());
}

TEST_F(format_reader_test, pdf_ends_at_its_last_eof_before_the_next_file) {
    std::vector<uint8_t> bytes = test_noise(16384, 2);
    // An incrementally updated PDF has two end markers; the last one counts.
    std::vector<uint8_t> pdf = text_bytes(
        "%PDF-1.4\n1 0 obj\n<<>>\nendobj\ntrailer\n<<>>\n%%EOF\n2 0 obj\n<<>>\nendobj\n"
        "%%EOF\r\n");
    put(bytes, 512, pdf);
    // The next file, one sector on, holds "%%EOF" itself: it must not be taken for the PDF's.
    std::vector<uint8_t> gif = join({text_bytes("GIF89a"),
                                     {2, 0, 2, 0, 0, 0, 0},
                                     {0x2C, 0, 0, 0, 0, 2, 0, 2, 0, 0},
                                     {2, 5},
                                     text_bytes("%%EOF"),
                                     {0, 0x3B}});
    put(bytes, 1024, gif);
    std::vector<test_find_s> finds = scan_bytes(bytes);
    ASSERT_EQ(finds.size(), 2u);
    EXPECT_EQ(finds[0].extension, "pdf");
    EXPECT_EQ(finds[0].size, pdf.size());
    EXPECT_EQ(finds[1].extension, "gif");
    EXPECT_EQ(finds[1].size, gif.size());
}

TEST_F(format_reader_test, no_find_runs_past_the_end_of_the_device) {
    std::vector<uint8_t> bytes = test_noise(4096, 3);
    // A RIFF WAVE header that claims 1 MiB on a 4 KiB device.
    put(bytes, 2048,
        join(
            {text_bytes("RIFF"), {0x00, 0x00, 0x10, 0x00}, text_bytes("WAVEfmt "), {16, 0, 0, 0}}));
    std::vector<test_find_s> finds = scan_bytes(bytes);
    ASSERT_EQ(finds.size(), 1u);
    EXPECT_EQ(finds[0].extension, "wav");
    EXPECT_EQ(finds[0].start + finds[0].size, bytes.size());
}

TEST_F(format_reader_test, pe_ends_after_its_last_section) {
    std::vector<uint8_t> bytes = test_noise(16384, 4);
    std::vector<uint8_t> pe(0x400 + 0x600, 0);
    pe[0] = 'M';
    pe[1] = 'Z';
    pe[0x3C] = 0x80;
    put(pe, 0x80, text_bytes(std::string("PE\0\0", 4)));
    pe[0x80 + 6] = 1;      // one section
    pe[0x80 + 20] = 0xE0;  // optional header size
    pe[0x80 + 22] = 0x02;  // characteristics: executable
    pe[0x80 + 24] = 0x0B;  // PE32 magic
    pe[0x80 + 25] = 0x01;
    pe[0x80 + 24 + 60] = 0x00;  // size of headers 0x400
    pe[0x80 + 24 + 61] = 0x04;
    size_t section = 0x80 + 24 + 0xE0;
    pe[section + 16 + 1] = 0x06;  // raw size 0x600
    pe[section + 20 + 1] = 0x04;  // raw pointer 0x400
    put(bytes, 4096, pe);
    std::vector<test_find_s> finds = scan_bytes(bytes);
    ASSERT_EQ(finds.size(), 1u);
    EXPECT_EQ(finds[0].extension, "exe");
    EXPECT_EQ(finds[0].size, pe.size());
}

void put_le32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

void put_utf16(std::vector<uint8_t>& bytes, size_t at, const std::string& name) {
    for (size_t i = 0; i < name.size(); ++i) {
        bytes[at + 2 * i] = static_cast<uint8_t>(name[i]);
    }
    bytes[at + 64] = static_cast<uint8_t>(2 * (name.size() + 1));  // name length with its zero
}

// A compound file with 512-byte sectors: the FAT in sector 0, the directory in sector 1 and
// one stream called `stream` in sectors 2 to 5.
std::vector<uint8_t> compound_file(const std::string& stream) {
    const uint32_t end_of_chain = 0xFFFFFFFE;
    std::vector<uint8_t> file(512 * 7, 0);
    put(file, 0, {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1});
    file[24] = 0x3E;  // minor version
    file[26] = 3;     // major version: 512-byte sectors
    file[28] = 0xFE;  // byte order mark
    file[29] = 0xFF;
    file[30] = 9;           // sector shift
    file[32] = 6;           // mini sector shift
    put_le32(file, 44, 1);  // one FAT sector
    put_le32(file, 48, 1);  // the directory starts in sector 1
    put_le32(file, 56, 4096);
    put_le32(file, 60, end_of_chain);
    put_le32(file, 68, end_of_chain);
    for (size_t i = 0; i < 109; ++i) {
        put_le32(file, 76 + 4 * i, i == 0 ? 0 : 0xFFFFFFFF);
    }
    size_t fat = 512;
    for (size_t i = 0; i < 128; ++i) {
        put_le32(file, fat + 4 * i, 0xFFFFFFFF);
    }
    put_le32(file, fat + 0, 0xFFFFFFFD);  // the FAT's own sector
    put_le32(file, fat + 4, end_of_chain);
    for (uint32_t sector = 2; sector < 5; ++sector) {
        put_le32(file, fat + 4 * sector, sector + 1);
    }
    put_le32(file, fat + 4 * 5, end_of_chain);
    size_t directory = 1024;
    put_utf16(file, directory, "Root Entry");
    file[directory + 66] = 5;
    put_le32(file, directory + 116, end_of_chain);
    put_utf16(file, directory + 128, stream);
    file[directory + 128 + 66] = 2;
    put_le32(file, directory + 128 + 116, 2);
    put_le32(file, directory + 128 + 120, 2048);
    for (size_t i = 512 * 3; i < file.size(); ++i) {
        file[i] = static_cast<uint8_t>(i * 13);
    }
    return file;
}

TEST_F(format_reader_test, compound_files_end_after_their_last_sector_and_are_told_apart) {
    const struct {
        const char* stream;
        const char* extension;
    } cases[] = {{"WordDocument", "doc"},
                 {"Workbook", "xls"},
                 {"PowerPoint Document", "ppt"},
                 {"Contents", "ole"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stream);
        std::vector<uint8_t> bytes = test_noise(16384, 10);
        std::vector<uint8_t> file = compound_file(c.stream);
        put(bytes, 4096, file);
        std::vector<test_find_s> finds = scan_bytes(bytes);
        ASSERT_EQ(finds.size(), 1u);
        EXPECT_EQ(finds[0].extension, c.extension);
        EXPECT_EQ(finds[0].start, 4096u);
        EXPECT_EQ(finds[0].size, file.size());
    }
}

std::vector<uint8_t> rar5_archive() {
    std::vector<uint8_t> out = text_bytes(std::string("Rar!\x1a\x07\x01\x00", 8));
    auto block = [&out](std::vector<uint8_t> header, size_t data) {
        out.insert(out.end(), {0xAA, 0xBB, 0xCC, 0xDD});  // CRC, not checked
        out.push_back(static_cast<uint8_t>(header.size()));
        out.insert(out.end(), header.begin(), header.end());
        out.resize(out.size() + data, 0x42);
    };
    block({1, 0, 0}, 0);                                    // main header
    block({2, 2, 100, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 100);  // a file with 100 bytes
    block({5, 0, 0}, 0);                                    // end of archive
    return out;
}

std::vector<uint8_t> rar4_archive() {
    std::vector<uint8_t> out = text_bytes(std::string("Rar!\x1a\x07\x00", 7));
    out.insert(out.end(), {0x11, 0x22, 0x73, 0x00, 0x00, 13, 0, 0, 0, 0, 0, 0, 0});
    std::vector<uint8_t> file(36, 0);
    file[2] = 0x74;
    file[4] = 0x80;  // a long block: the packed size follows
    file[5] = 36;
    file[7] = 50;  // packed size
    out.insert(out.end(), file.begin(), file.end());
    out.resize(out.size() + 50, 0x43);
    out.insert(out.end(), {0x33, 0x44, 0x7B, 0x00, 0x40, 7, 0});
    return out;
}

TEST_F(format_reader_test, rar_archives_end_after_their_end_block) {
    for (const std::vector<uint8_t>& archive : {rar5_archive(), rar4_archive()}) {
        std::vector<uint8_t> bytes = test_noise(8192, 11);
        put(bytes, 1536, archive);
        std::vector<test_find_s> finds = scan_bytes(bytes);
        ASSERT_EQ(finds.size(), 1u);
        EXPECT_EQ(finds[0].extension, "rar");
        EXPECT_EQ(finds[0].size, archive.size());
    }
}

TEST_F(format_reader_test, mpeg_program_stream_ends_at_its_end_code) {
    std::vector<uint8_t> stream;
    for (int pack = 0; pack < 3; ++pack) {
        // An MPEG-2 pack header without stuffing, then one video packet of 200 bytes.
        stream.insert(stream.end(), {0, 0, 1, 0xBA, 0x44, 0, 4, 0, 4, 1, 1, 0x89, 0xC3, 0xF8});
        stream.insert(stream.end(), {0, 0, 1, 0xE0, 0, 200});
        stream.resize(stream.size() + 200, 0x55);
    }
    stream.insert(stream.end(), {0, 0, 1, 0xB9});
    std::vector<uint8_t> bytes = test_noise(8192, 12);
    put(bytes, 2560, stream);
    std::vector<test_find_s> finds = scan_bytes(bytes);
    ASSERT_EQ(finds.size(), 1u);
    EXPECT_EQ(finds[0].extension, "mpg");
    EXPECT_EQ(finds[0].size, stream.size());
}

// A GIMP image with one 8x8 layer: one level of one tile, then a dummy level.
std::vector<uint8_t> xcf_image() {
    std::vector<uint8_t> out = text_bytes(std::string("gimp xcf v003\0", 14));
    auto u32 = [&out](uint32_t v) {
        std::vector<uint8_t> b = be32_bytes(v);
        out.insert(out.end(), b.begin(), b.end());
    };
    u32(8), u32(8), u32(0);  // width, height, RGB
    u32(0), u32(0);          // end of the image properties
    uint32_t layer = static_cast<uint32_t>(out.size() + 12);
    u32(layer), u32(0);              // layer list
    u32(0);                          // channel list
    u32(8), u32(8), u32(1), u32(6);  // the layer: size, type, name length
    out.insert(out.end(), {'L', 'a', 'y', 'e', 'r', 0});
    u32(0), u32(0);  // end of the layer properties
    uint32_t hierarchy = static_cast<uint32_t>(out.size() + 8);
    u32(hierarchy), u32(0);  // hierarchy, no mask
    uint32_t level = hierarchy + 20;
    uint32_t tile = level + 16;
    uint32_t dummy = tile + 64;
    u32(8), u32(8), u32(4), u32(level), u32(dummy);  // hierarchy with two levels
    u32(0);
    u32(8), u32(8), u32(tile), u32(0);  // the level and its one tile
    out.resize(out.size() + 64, 0x77);  // tile data
    u32(4), u32(4), u32(0);             // the dummy level
    return out;
}

TEST_F(format_reader_test, xcf_ends_after_its_last_level) {
    std::vector<uint8_t> bytes = test_noise(8192, 13);
    std::vector<uint8_t> image = xcf_image();
    put(bytes, 1024, image);
    std::vector<test_find_s> finds = scan_bytes(bytes);
    ASSERT_EQ(finds.size(), 1u);
    EXPECT_EQ(finds[0].extension, "xcf");
    EXPECT_EQ(finds[0].size, image.size());
}

TEST_F(format_reader_test, erased_and_zeroed_areas_hold_nothing) {
    std::vector<uint8_t> bytes(8u << 20, 0xFF);
    std::fill(bytes.begin() + (4u << 20), bytes.end(), 0x00);
    std::vector<uint8_t> gif = join({text_bytes("GIF89a"),
                                     {1, 0, 1, 0, 0, 0, 0},
                                     {0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0},
                                     {2, 2, 0x4C, 0x01, 0, 0x3B}});
    put(bytes, 3u << 20, gif);
    std::vector<test_find_s> finds = scan_bytes(bytes);
    ASSERT_EQ(finds.size(), 1u);
    EXPECT_EQ(finds[0].start, 3u << 20);
    EXPECT_EQ(finds[0].size, gif.size());
}

TEST_F(format_reader_test, weak_headers_in_noise_are_not_reported) {
    std::vector<uint8_t> bytes = test_noise(64 * 1024, 5);
    const std::vector<std::vector<uint8_t>> weak = {{'B', 'M'},         {'M', 'Z'},
                                                    {0xFF, 0xFB, 0x90}, {'P', '6', '\n'},
                                                    {'I', 'D', '3'},    {0x00, 0x00, 0x01, 0xBA},
                                                    {0x1F, 0x8B, 0x08}, {'P', 'K', 3, 4}};
    for (size_t i = 0; i < weak.size(); ++i) {
        put(bytes, 512 * (2 * i + 1), weak[i]);
    }
    EXPECT_TRUE(scan_bytes(bytes).empty());
}

}  // namespace
