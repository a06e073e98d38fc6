#include "partitions/partition_table.h"

#include <algorithm>
#include <cstring>

#include "partitions/boot_sector_check.h"
#include "partitions/mbr_boot_code.h"
#include "partitions/mbr_layout.h"

namespace {

struct entry_s {
    uint8_t status = mbr::status_inactive;
    uint8_t type = 0;
    uint64_t first = 0;
    uint64_t count = 0;
};

void store_le32(uint8_t* p, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

bool has_signature(const sector_bytes_t& sector) {
    return sector[mbr::signature] == mbr::signature_0 &&
           sector[mbr::signature + 1] == mbr::signature_1;
}

const uint8_t* entry_at(const sector_bytes_t& sector, size_t k) {
    return sector.data() + mbr::entries + k * mbr::entry_bytes;
}

bool is_gpt_disk(const partition_table_input_s& input) {
    if (std::memcmp(input.next_sector.data(), mbr::gpt_header_magic, mbr::gpt_header_magic_bytes) ==
        0) {
        return true;
    }
    if (!has_signature(input.old_sector)) {
        return false;
    }
    for (size_t k = 0; k < mbr::entry_count; ++k) {
        if (entry_at(input.old_sector, k)[mbr::entry_type] == mbr::type_gpt_protective) {
            return true;
        }
    }
    return false;
}

bool overlaps(uint64_t first, uint64_t count, const partition_item_s& found) {
    uint64_t last = first + count - 1;
    return first <= found.end_sector && found.start_sector <= last;
}

// The entries of the old table that describe some other volume: well formed, inside the
// disk, and clear of every found partition.
std::vector<entry_s> kept_entries(const partition_table_input_s& input) {
    std::vector<entry_s> kept;
    if (!has_signature(input.old_sector)) {
        return kept;
    }
    for (size_t k = 0; k < mbr::entry_count; ++k) {
        const uint8_t* raw = entry_at(input.old_sector, k);
        entry_s entry{raw[mbr::entry_status], raw[mbr::entry_type],
                      load_le32(raw + mbr::entry_lba_first),
                      load_le32(raw + mbr::entry_sector_count)};
        bool well_formed =
            entry.type != 0 && entry.first != 0 && entry.count != 0 &&
            (entry.status == mbr::status_active || entry.status == mbr::status_inactive) &&
            entry.first + entry.count <= input.disk_sectors;
        if (!well_formed) {
            continue;
        }
        bool clear = std::none_of(input.found.begin(), input.found.end(),
                                  [&](const partition_item_s& found) {
                                      return overlaps(entry.first, entry.count, found);
                                  });
        if (clear) {
            kept.push_back(entry);
        }
    }
    return kept;
}

}  // namespace

int build_partition_sector(const partition_table_input_s& input, sector_bytes_t& out,
                           std::string& error) {
    if (input.found.empty()) {
        error = "no partition was found; an empty table would help nothing";
        return -1;
    }
    if (is_gpt_disk(input)) {
        error = "the disk has a GPT partition table; writing an MBR would destroy it";
        return -1;
    }
    std::vector<entry_s> entries = kept_entries(input);
    bool kept_active = std::any_of(entries.begin(), entries.end(), [](const entry_s& entry) {
        return entry.status == mbr::status_active;
    });
    for (size_t i = 0; i < static_cast<size_t>(input.found.size()); ++i) {
        const partition_item_s& found = input.found[i];
        if (found.end_sector < found.start_sector || found.start_sector > UINT32_MAX ||
            found.end_sector - found.start_sector >= UINT32_MAX) {
            error = "a found partition lies beyond what an MBR entry can describe (2 TiB)";
            return -1;
        }
        if (found.end_sector >= input.disk_sectors) {
            error =
                "a found partition ends past the end of the disk; has the disk changed "
                "since the search? Search again";
            return -1;
        }
        entry_s entry;
        entry.status = (i == 0 && !kept_active) ? mbr::status_active : mbr::status_inactive;
        entry.type = static_cast<uint8_t>(found.partition_type);
        entry.first = found.start_sector;
        entry.count = found.end_sector - found.start_sector + 1;
        entries.push_back(entry);
    }
    if (entries.size() > mbr::entry_count) {
        error = "the found partitions and the old ones they leave in place need " +
                std::to_string(entries.size()) + " entries; an MBR holds only four";
        return -1;
    }
    std::stable_sort(entries.begin(), entries.end(),
                     [](const entry_s& a, const entry_s& b) { return a.first < b.first; });

    out = input.old_sector;
    std::memcpy(out.data() + mbr::boot_code, mbr_boot_code, mbr_boot_code_size);
    std::memset(out.data() + mbr::boot_code + mbr_boot_code_size, 0,
                mbr::boot_code_bytes - mbr_boot_code_size);
    std::memset(out.data() + mbr::entries, 0, mbr::entry_count * mbr::entry_bytes);
    for (size_t k = 0; k < entries.size(); ++k) {
        uint8_t* raw = out.data() + mbr::entries + k * mbr::entry_bytes;
        const entry_s& entry = entries[k];
        raw[mbr::entry_status] = entry.status;
        chs_address(entry.first, input.geometry, raw + mbr::entry_chs_first);
        raw[mbr::entry_type] = entry.type;
        chs_address(entry.first + entry.count - 1, input.geometry, raw + mbr::entry_chs_last);
        store_le32(raw + mbr::entry_lba_first, static_cast<uint32_t>(entry.first));
        store_le32(raw + mbr::entry_sector_count, static_cast<uint32_t>(entry.count));
    }
    out[mbr::signature] = mbr::signature_0;
    out[mbr::signature + 1] = mbr::signature_1;
    return 0;
}
