#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "partitions/chs_address.h"
#include "partitions/partition_item.h"

using sector_bytes_t = std::array<uint8_t, 512>;

// What the new first sector is built from.
struct partition_table_input_s {
    sector_bytes_t old_sector{};   // the disk's sector 0 as it is now
    sector_bytes_t next_sector{};  // sector 1, to recognise a GPT header
    std::vector<partition_item_s> found;
    uint64_t disk_sectors = 0;
    chs_geometry_s geometry;
};

// Builds the new sector 0: our boot program, the old disk signature, one entry per found
// partition plus every valid old entry that overlaps none of them, sorted by first sector,
// and the 0x55 0xAA ending. The old active entry stays active if it is kept; otherwise the
// first found partition becomes active. Returns 0, or -1 with `error` saying why the disk
// must not be written: nothing found, a GPT disk, more than four entries, or a partition
// the table's 32-bit fields cannot hold.
int build_partition_sector(const partition_table_input_s& input, sector_bytes_t& out,
                           std::string& error);
