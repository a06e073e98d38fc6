#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include "partitions/partition_item.h"
#include "platform/block_source.h"

// How the search reports and how it is stopped. Every member may be left empty.
struct partition_search_hooks_s {
    std::function<void(const partition_item_s&)> found;  // called on each find, in order
    std::atomic<double>* progress = nullptr;             // fraction 0..1 of the disk searched
    const std::atomic<bool>* stop = nullptr;             // checked between chunks
};

namespace partition_search {
constexpr uint32_t chunk_sectors = 256;  // 128 KiB per read
constexpr uint8_t type_ntfs = 0x07;
constexpr uint8_t type_fat32_lba = 0x0C;
}  // namespace partition_search

// Reads `disk` from its first sector to its end looking for NTFS and FAT32 boot sectors.
// Chunks overlap by one sector so that the FAT32 test always has the following sector in
// hand; after a find the search goes on after the end of the volume. A volume whose boot
// sector was destroyed is found through the copy it keeps further in, at its real start.
// A read error ends the search as if the disk ended there. Returns 0 when the search reached
// the end, 1 when it was stopped. `progress` is 1.0 after a search that reached the end.
int search_partitions(block_source_c& disk, const partition_search_hooks_s& hooks);
