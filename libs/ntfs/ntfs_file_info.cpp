#include "libs/ntfs/ntfs_file_info.h"

#include <algorithm>

#include "libs/ntfs/le_load.h"
#include "libs/ntfs/ntfs_layout.h"
#include "libs/ntfs/ntfs_record.h"
#include "libs/ntfs/ntfs_volume.h"

using namespace ntfs_layout;

namespace {

constexpr uint32_t max_attribute_list_bytes = 1u << 20;
constexpr size_t max_extension_records = 4096;
constexpr size_t max_scan_extension_records = 64;
constexpr uint64_t file_time_per_second = 10000000ull;
constexpr int64_t seconds_1601_to_1970 = 11644473600ll;

// One piece of a non-resident $DATA, kept until every record has been seen.
struct data_extent_s {
    uint64_t lowest_vcn = 0;
    uint64_t highest_vcn = 0;
    std::vector<uint8_t> pairs;
};

struct collector_s {
    bool want_runs = false;
    int name_rank = 0;           // 2 for a Win32 or POSIX name, 1 for a DOS-only name
    int name_record = -1;        // 0: the base record, 1 and up: extension records in order
    uint16_t name_instance = 0;  // attribute instance of the chosen name
    int current_record = 0;
    std::vector<data_extent_s> extents;
    bool have_first_extent = false;
};

bool is_i30(const ntfs_attribute_s& a) {
    static const char16_t i30[4] = {u'$', u'I', u'3', u'0'};
    if (a.name_length != 4) {
        return false;
    }
    for (int i = 0; i < 4; ++i) {
        if (ld_u16(a.name_bytes + 2 * i) != i30[i]) {
            return false;
        }
    }
    return true;
}

void take_file_name(const ntfs_attribute_s& a, ntfs_file_info_s& out, collector_s& c) {
    if (a.non_resident || a.value_length < fn_name) {
        return;
    }
    const uint8_t* v = a.value;
    const uint32_t length = v[fn_name_length];
    if (length == 0 || fn_name + 2 * length > a.value_length) {
        return;
    }
    const int rank = v[fn_namespace] == namespace_dos ? 1 : 2;
    if ((ld_u32(v + fn_flags) & fn_flag_directory) != 0) {
        out.is_dir = true;
    }
    // Among equal names the oldest one wins (the lowest instance of the first record that
    // has one): for a file with hard links, the name it was created under.
    const bool better =
        rank > c.name_rank ||
        (rank == c.name_rank && c.current_record == c.name_record && a.instance < c.name_instance);
    if (!better) {
        return;
    }
    c.name_rank = rank;
    c.name_record = c.current_record;
    c.name_instance = a.instance;
    out.has_name = true;
    out.name.resize(length);
    for (uint32_t i = 0; i < length; ++i) {
        out.name[i] = static_cast<char16_t>(ld_u16(v + fn_name + 2 * i));
    }
    out.parent_reference = ld_u64(v + fn_parent_reference);
    if (!out.has_times) {
        out.created = ld_u64(v + fn_creation_time);
        out.modified = ld_u64(v + fn_modification_time);
    }
}

void take_attribute(const ntfs_attribute_s& a, ntfs_file_info_s& out, collector_s& c) {
    switch (a.type) {
        case type_standard_information:
            if (!a.non_resident && a.value_length >= si_min_length) {
                out.has_times = true;
                out.created = ld_u64(a.value + si_creation_time);
                out.modified = ld_u64(a.value + si_modification_time);
                if (ld_u32(a.value + si_file_attributes) & file_attribute_encrypted) {
                    out.encrypted = true;
                }
            }
            break;
        case type_file_name:
            take_file_name(a, out, c);
            break;
        case type_index_root:
            if (is_i30(a)) {
                out.is_dir = true;
            }
            break;
        case type_data: {
            if (a.name_length != 0) {
                break;
            }
            ntfs_data_stream_s& d = out.data;
            if (a.flags & attr_flag_encrypted) {
                d.encrypted = true;
            }
            if (!a.non_resident) {
                if (d.present) {
                    break;
                }
                d.present = true;
                d.resident = true;
                d.data_size = a.value_length;
                d.initialized_size = a.value_length;
                if (c.want_runs) {
                    d.resident_bytes.assign(a.value, a.value + a.value_length);
                }
                break;
            }
            if (d.resident) {
                break;
            }
            d.present = true;
            if (a.lowest_vcn == 0 && !c.have_first_extent) {
                c.have_first_extent = true;
                d.data_size = a.data_size;
                d.initialized_size = std::min(a.initialized_size, a.data_size);
                d.compressed = (a.flags & attr_flag_compressed) != 0 && a.compression_unit != 0;
                d.compression_unit = a.compression_unit;
            }
            if (c.want_runs) {
                data_extent_s e;
                e.lowest_vcn = a.lowest_vcn;
                e.highest_vcn = a.highest_vcn;
                e.pairs.assign(a.mapping_pairs, a.mapping_pairs + a.mapping_pairs_length);
                c.extents.push_back(std::move(e));
            }
            break;
        }
        default:
            break;
    }
}

// The attribute list's bytes, resident or not. Empty when unreadable.
std::vector<uint8_t> read_attribute_list(ntfs_volume_c& volume, const ntfs_attribute_s& a) {
    if (!a.non_resident) {
        return std::vector<uint8_t>(a.value, a.value + a.value_length);
    }
    if (a.lowest_vcn != 0 || a.data_size > max_attribute_list_bytes) {
        return {};
    }
    std::vector<ntfs_run_s> runs;
    if (decode_runlist(a.mapping_pairs, a.mapping_pairs_length, 0, volume.boot().total_clusters,
                       runs) != 0) {
        return {};
    }
    std::vector<uint8_t> bytes(a.data_size);
    if (volume.read_stream(runs, 0, bytes.data(), bytes.size()) != 0) {
        return {};
    }
    return bytes;
}

// An extension record that holds attributes we want, and whether only names are there.
struct extension_s {
    uint64_t record = 0;
    bool names_only = true;
};

// Extension records named by the attribute list, in list order. A scan (no runs wanted)
// only needs the first data extent and stops early, so a hostile list cannot make every
// record cost thousands of reads.
std::vector<extension_s> extension_records(const std::vector<uint8_t>& list, uint64_t base,
                                           bool want_runs) {
    const size_t cap = want_runs ? max_extension_records : max_scan_extension_records;
    std::vector<extension_s> records;
    size_t pos = 0;
    while (pos + al_min_length <= list.size()) {
        const uint8_t* e = list.data() + pos;
        const uint32_t length = ld_u16(e + al_length);
        if (length < al_min_length || length > list.size() - pos) {
            break;
        }
        pos += length;
        const uint32_t type = ld_u32(e + al_type);
        const uint64_t segment = ld_u64(e + al_segment_reference) & reference_number_mask;
        bool wanted = type == type_standard_information || type == type_file_name;
        if (type == type_data && e[al_name_length] == 0) {
            wanted = want_runs || ld_u64(e + al_lowest_vcn) == 0;
        }
        if (!wanted || segment == base) {
            continue;
        }
        auto it = std::find_if(records.begin(), records.end(),
                               [segment](const extension_s& x) { return x.record == segment; });
        if (it == records.end()) {
            if (records.size() >= cap) {
                break;
            }
            records.push_back({segment, true});
            it = records.end() - 1;
        }
        if (type != type_file_name) {
            it->names_only = false;
        }
    }
    return records;
}

// Sorts the data extents and decodes them into one contiguous run list.
void build_runs(ntfs_volume_c& volume, collector_s& c, ntfs_data_stream_s& d) {
    std::sort(
        c.extents.begin(), c.extents.end(),
        [](const data_extent_s& x, const data_extent_s& y) { return x.lowest_vcn < y.lowest_vcn; });
    d.runs.clear();
    d.runs_ok = false;
    uint64_t next_vcn = 0;
    for (const data_extent_s& e : c.extents) {
        // Extents must follow each other exactly: an overlap or a repeat would make the
        // stream loop over the same clusters.
        if (e.lowest_vcn != next_vcn || e.highest_vcn < e.lowest_vcn) {
            return;
        }
        if (decode_runlist(e.pairs.data(), static_cast<uint32_t>(e.pairs.size()), e.lowest_vcn,
                           volume.boot().total_clusters, d.runs) != 0) {
            return;
        }
        next_vcn = runs_end_vcn(d.runs);
        // The runs must cover exactly the extent's own range (an empty stream says -1).
        if (next_vcn != e.highest_vcn + 1) {
            return;
        }
    }
    d.runs_ok = true;
}

// Clears `out` but keeps the storage of its strings and vectors.
void reset_file_info(ntfs_file_info_s& out) {
    std::u16string name = std::move(out.name);
    std::vector<uint8_t> bytes = std::move(out.data.resident_bytes);
    std::vector<ntfs_run_s> runs = std::move(out.data.runs);
    out = ntfs_file_info_s{};
    name.clear();
    bytes.clear();
    runs.clear();
    out.name = std::move(name);
    out.data.resident_bytes = std::move(bytes);
    out.data.runs = std::move(runs);
}

}  // namespace

int collect_file_info(ntfs_volume_c& volume, uint64_t number, const uint8_t* record, bool want_runs,
                      ntfs_file_info_s& out) {
    reset_file_info(out);
    // Kept between calls: the walk parses every record, and reusing the attribute list's
    // storage keeps the allocator out of that loop.
    thread_local ntfs_record_s parsed;
    if (parse_record(record, volume.record_size(), parsed) != 0) {
        return -1;
    }
    if ((parsed.base_reference & reference_number_mask) != 0) {
        return -1;
    }
    out.sequence = parsed.sequence;
    out.in_use = (parsed.flags & rec_flag_in_use) != 0;
    out.is_dir = (parsed.flags & rec_flag_directory) != 0;
    collector_s c;
    c.want_runs = want_runs;
    const ntfs_attribute_s* list = nullptr;
    for (const ntfs_attribute_s& a : parsed.attributes) {
        if (a.type == type_attribute_list && list == nullptr) {
            list = &a;
        }
        take_attribute(a, out, c);
    }
    // Only consult the extensions for what the base record lacks or may hold in part.
    if (list != nullptr) {
        const std::vector<uint8_t> bytes = read_attribute_list(volume, *list);
        std::vector<uint8_t> ext;
        ntfs_record_s ext_parsed;
        for (const extension_s& x : extension_records(bytes, number, want_runs)) {
            if (x.names_only && c.name_rank == 2) {
                continue;  // a long name is already known
            }
            const uint64_t n = x.record;
            ++c.current_record;
            if (volume.read_record(n, ext) != 0 ||
                parse_record(ext.data(), volume.record_size(), ext_parsed) != 0 ||
                (ext_parsed.base_reference & reference_number_mask) != number) {
                continue;
            }
            for (const ntfs_attribute_s& a : ext_parsed.attributes) {
                take_attribute(a, out, c);
            }
        }
    }
    if (want_runs && out.data.present && !out.data.resident) {
        build_runs(volume, c, out.data);
    }
    if (out.data.encrypted) {
        out.encrypted = true;
    }
    return 0;
}

int64_t file_time_to_unix(uint64_t file_time) {
    if (file_time == 0) {
        return 0;
    }
    return static_cast<int64_t>(file_time / file_time_per_second) - seconds_1601_to_1970;
}
