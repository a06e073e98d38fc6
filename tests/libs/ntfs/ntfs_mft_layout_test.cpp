#include <gtest/gtest.h>

#include <cstring>

#include "libs/ntfs/le_load.h"
#include "libs/ntfs/ntfs_layout.h"
#include "libs/ntfs/ntfs_library.h"
#include "libs/ntfs/ntfs_record.h"
#include "libs/ntfs/ntfs_runlist.h"
#include "libs/ntfs/ntfs_source_startup.h"
#include "platform/memory_source.h"
#include "tests/libs/ntfs/ntfs_image.h"
#include "tests/support/fixture.h"

// An MFT in two pieces far apart, described either by two runs of $MFT's own record or by a
// second $DATA extent in an extension record named by an attribute list: the walk must find
// every record either way (old volumes have fragmented MFTs).

namespace {

using namespace ntfs_layout;
constexpr uint32_t type_si = type_standard_information;
constexpr uint32_t rec_bytes_allocated = 0x1C;  // u32
constexpr uint16_t list_entry_bytes = 0x20;
// A fresh extension record: header up to its update sequence, then one $DATA extent.
constexpr uint16_t fresh_usa_offset = 0x30;
constexpr uint16_t fresh_first_attribute = 0x38;
constexpr uint32_t fresh_data_length = 0x48;
constexpr uint64_t kept_clusters = 64;  // the first piece: records 0..63 at 1 KiB clusters
constexpr uint64_t extension_record = 20;

// Undoes and redoes the update-sequence protection of one record.
void unprotect(uint8_t* rec, uint32_t size) {
    ASSERT_EQ(apply_record_fixups(rec, size), 0);
}
void protect(uint8_t* rec, uint32_t size) {
    const uint32_t usa = ld_u16(rec + rec_usa_offset);
    const uint32_t count = ld_u16(rec + rec_usa_count);
    const uint32_t stride = size / (count - 1);
    const uint16_t usn = static_cast<uint16_t>(ld_u16(rec + usa) + 1);
    st_u16(rec + usa, usn);
    for (uint32_t i = 0; i + 1 < count; ++i) {
        uint8_t* tail = rec + (i + 1) * stride - 2;
        std::memcpy(rec + usa + 2 + 2 * i, tail, 2);
        st_u16(tail, usn);
    }
}

void put_u32(uint8_t* p, uint32_t v) {
    st_u16(p, static_cast<uint16_t>(v));
    st_u16(p + 2, static_cast<uint16_t>(v >> 16));
}
void put_u64(uint8_t* p, uint64_t v) {
    put_u32(p, static_cast<uint32_t>(v));
    put_u32(p + 4, static_cast<uint32_t>(v >> 32));
}

// Offset of the first attribute of `type` inside a record, or 0.
uint32_t find_attribute(const uint8_t* rec, uint32_t type) {
    uint32_t pos = ld_u16(rec + rec_first_attribute);
    while (ld_u32(rec + pos) != type_end) {
        if (ld_u32(rec + pos) == type) {
            return pos;
        }
        pos += ld_u32(rec + pos + attr_length);
    }
    return 0;
}

// Opens a gap of `delta` bytes at `pos` (or closes one when negative).
void shift_tail(uint8_t* rec, uint32_t pos, int32_t delta) {
    const uint32_t in_use = ld_u32(rec + rec_bytes_in_use);
    std::memmove(rec + pos + delta, rec + pos, in_use - pos);
    put_u32(rec + rec_bytes_in_use, static_cast<uint32_t>(static_cast<int32_t>(in_use) + delta));
}

// Replaces the mapping pairs of the non-resident attribute at `attr`.
void set_pairs(uint8_t* rec, uint32_t attr, const std::vector<uint8_t>& pairs, uint64_t lowest,
               uint64_t highest) {
    const uint32_t pairs_at = ld_u16(rec + attr + attr_mapping_pairs);
    const uint32_t old_length = ld_u32(rec + attr + attr_length);
    const uint32_t new_length = (pairs_at + static_cast<uint32_t>(pairs.size()) + 7) & ~7u;
    shift_tail(rec, attr + old_length, static_cast<int32_t>(new_length - old_length));
    put_u32(rec + attr + attr_length, new_length);
    std::memset(rec + attr + pairs_at, 0, new_length - pairs_at);
    std::memcpy(rec + attr + pairs_at, pairs.data(), pairs.size());
    put_u64(rec + attr + attr_lowest_vcn, lowest);
    put_u64(rec + attr + attr_highest_vcn, highest);
}

// One run as mapping pairs: 2-byte length, 2-byte signed offset.
std::vector<uint8_t> run_pair(uint64_t length, int64_t offset) {
    return {0x22, static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8),
            static_cast<uint8_t>(offset), static_cast<uint8_t>(offset >> 8)};
}

struct layout_s {
    std::vector<uint8_t> image;
    uint32_t rs = 0;
    uint32_t cs = 0;
    uint64_t mft_lcn = 0;
    uint64_t mft_clusters = 0;
    uint64_t target_lcn = 0;  // where the second piece goes
};

// Loads the fixture and moves the MFT's tail into the longest run of the ballast file (a
// live file of zeros that fills the volume and that no test reads).
layout_s split_mft() {
    layout_s l;
    l.image = read_file_bytes(fixture_path("ntfs/mixed.img"));
    l.rs = record_size_of(l.image);
    l.cs = ld_u16(&l.image[boot_bytes_per_sector]) * l.image[boot_sectors_per_cluster];
    l.mft_lcn = ld_u64(&l.image[boot_mft_lcn]);
    ntfs_context_s context;
    EXPECT_EQ(ntfs_scan_startup_source(std::make_shared<memory_source_c>(l.image), &context), 0);
    const uint64_t ballast = find_entry(scan_all(context), "ballast");
    EXPECT_NE(ballast, UINT64_MAX);

    std::vector<uint8_t> rec(l.image.begin() + static_cast<long>(record_offset(l.image, 0)),
                             l.image.begin() + static_cast<long>(record_offset(l.image, 1)));
    unprotect(rec.data(), l.rs);
    ntfs_record_s parsed;
    EXPECT_EQ(parse_record(rec.data(), l.rs, parsed), 0);
    std::vector<ntfs_run_s> runs;
    for (const ntfs_attribute_s& a : parsed.attributes) {
        if (a.type == type_data) {
            decode_runlist(a.mapping_pairs, a.mapping_pairs_length, 0, UINT64_MAX >> 20, runs);
        }
    }
    EXPECT_EQ(runs.size(), 1u);  // the fixture's MFT is in one piece
    l.mft_clusters = runs.at(0).length;

    std::vector<uint8_t> brec(
        l.image.begin() + static_cast<long>(record_offset(l.image, ballast)),
        l.image.begin() + static_cast<long>(record_offset(l.image, ballast + 1)));
    unprotect(brec.data(), l.rs);
    EXPECT_EQ(parse_record(brec.data(), l.rs, parsed), 0);
    std::vector<ntfs_run_s> ballast_runs;
    for (const ntfs_attribute_s& a : parsed.attributes) {
        if (a.type == type_data) {
            decode_runlist(a.mapping_pairs, a.mapping_pairs_length, 0, UINT64_MAX >> 20,
                           ballast_runs);
        }
    }
    ntfs_run_s longest;
    for (const ntfs_run_s& r : ballast_runs) {
        if (r.lcn != ntfs_run_hole && r.length > longest.length) {
            longest = r;
        }
    }
    EXPECT_GE(longest.length, l.mft_clusters - kept_clusters);
    l.target_lcn = longest.lcn;

    // Move the tail and wipe where it was, so that reading on from the first piece fails.
    const uint64_t from = (l.mft_lcn + kept_clusters) * l.cs;
    const uint64_t bytes = (l.mft_clusters - kept_clusters) * l.cs;
    std::memcpy(&l.image[l.target_lcn * l.cs], &l.image[from], bytes);
    std::memset(&l.image[from], 0, bytes);
    return l;
}

void store_record(layout_s& l, uint64_t number, std::vector<uint8_t>& rec) {
    protect(rec.data(), l.rs);
    std::memcpy(&l.image[record_offset(l.image, number)], rec.data(), l.rs);
}

std::vector<uint8_t> load_record(const layout_s& l, uint64_t number) {
    std::vector<uint8_t> rec(l.rs);
    std::memcpy(rec.data(), &l.image[record_offset(l.image, number)], l.rs);
    return rec;
}

std::map<uint64_t, std::string> names(const std::vector<uint8_t>& image) {
    ntfs_context_s context;
    std::map<uint64_t, std::string> out;
    if (ntfs_scan_startup_source(std::make_shared<memory_source_c>(image), &context) != 0) {
        return out;
    }
    const auto entries = scan_all(context);
    for (const auto& [id, entry] : entries) {
        out[id] = entry_path(entries, id);
    }
    return out;
}

TEST(ntfs_mft_layout, an_mft_in_two_runs_is_read_through_both) {
    const auto expected = names(read_file_bytes(fixture_path("ntfs/mixed.img")));
    layout_s l = split_mft();
    std::vector<uint8_t> rec = load_record(l, 0);
    unprotect(rec.data(), l.rs);
    std::vector<uint8_t> pairs = run_pair(kept_clusters, static_cast<int64_t>(l.mft_lcn));
    const std::vector<uint8_t> second =
        run_pair(l.mft_clusters - kept_clusters,
                 static_cast<int64_t>(l.target_lcn) - static_cast<int64_t>(l.mft_lcn));
    pairs.insert(pairs.end(), second.begin(), second.end());
    pairs.push_back(0);
    set_pairs(rec.data(), find_attribute(rec.data(), type_data), pairs, 0, l.mft_clusters - 1);
    store_record(l, 0, rec);
    EXPECT_EQ(names(l.image), expected);
}

TEST(ntfs_mft_layout, an_mft_continued_through_its_attribute_list_is_read_whole) {
    const auto expected = names(read_file_bytes(fixture_path("ntfs/mixed.img")));
    layout_s l = split_mft();
    std::vector<uint8_t> rec = load_record(l, 0);
    unprotect(rec.data(), l.rs);
    const uint16_t mft_sequence = ld_u16(rec.data() + rec_sequence);

    // The base keeps the first piece only.
    std::vector<uint8_t> pairs = run_pair(kept_clusters, static_cast<int64_t>(l.mft_lcn));
    pairs.push_back(0);
    set_pairs(rec.data(), find_attribute(rec.data(), type_data), pairs, 0, kept_clusters - 1);

    // An attribute list after $STANDARD_INFORMATION naming both $DATA extents.
    const uint64_t base_ref = static_cast<uint64_t>(mft_sequence) << 48;
    const uint64_t ext_ref = extension_record | (1ull << 48);
    std::vector<uint8_t> list;
    auto entry = [&](uint32_t type, uint64_t vcn, uint64_t ref) {
        std::vector<uint8_t> e(list_entry_bytes, 0);
        put_u32(&e[al_type], type);
        st_u16(&e[al_length], list_entry_bytes);
        e[al_name_offset] = al_min_length;
        put_u64(&e[al_lowest_vcn], vcn);
        put_u64(&e[al_segment_reference], ref);
        list.insert(list.end(), e.begin(), e.end());
    };
    entry(type_si, 0, base_ref);
    entry(type_data, 0, base_ref);
    entry(type_data, kept_clusters, ext_ref);
    std::vector<uint8_t> attr(attr_resident_min + list.size(), 0);
    put_u32(&attr[attr_type], type_attribute_list);
    put_u32(&attr[attr_length], static_cast<uint32_t>(attr.size()));
    put_u32(&attr[attr_value_length], static_cast<uint32_t>(list.size()));
    st_u16(&attr[attr_value_offset], attr_resident_min);
    std::memcpy(&attr[attr_resident_min], list.data(), list.size());
    const uint32_t si = find_attribute(rec.data(), type_si);
    const uint32_t after_si = si + ld_u32(rec.data() + si + attr_length);
    shift_tail(rec.data(), after_si, static_cast<int32_t>(attr.size()));
    std::memcpy(rec.data() + after_si, attr.data(), attr.size());
    ASSERT_LE(ld_u32(rec.data() + rec_bytes_in_use), l.rs);
    store_record(l, 0, rec);

    // The extension record: a fresh record holding the second extent.
    std::vector<uint8_t> ext(l.rs, 0);
    std::memcpy(ext.data() + rec_magic, "FILE", 4);
    st_u16(&ext[rec_usa_offset], fresh_usa_offset);
    st_u16(&ext[rec_usa_count], static_cast<uint16_t>(l.rs / 512 + 1));
    st_u16(&ext[rec_sequence], 1);
    st_u16(&ext[rec_first_attribute], fresh_first_attribute);
    st_u16(&ext[rec_flags], rec_flag_in_use);
    put_u32(&ext[rec_bytes_allocated], l.rs);
    put_u64(&ext[rec_base_reference], base_ref);
    uint8_t* data = &ext[fresh_first_attribute];
    put_u32(data + attr_type, type_data);
    put_u32(data + attr_length, fresh_data_length);
    data[attr_non_resident] = 1;
    st_u16(data + attr_mapping_pairs, attr_non_resident_min);
    std::vector<uint8_t> tail =
        run_pair(l.mft_clusters - kept_clusters, static_cast<int64_t>(l.target_lcn));
    tail.push_back(0);
    std::memcpy(data + attr_non_resident_min, tail.data(), tail.size());
    put_u64(data + attr_lowest_vcn, kept_clusters);
    put_u64(data + attr_highest_vcn, l.mft_clusters - 1);
    put_u32(&ext[fresh_first_attribute + fresh_data_length], type_end);
    put_u32(&ext[rec_bytes_in_use], fresh_first_attribute + fresh_data_length + 8);
    store_record(l, extension_record, ext);

    EXPECT_EQ(names(l.image), expected);
}

}  // namespace
