#include "partitions/partition_search.h"

#include <algorithm>
#include <vector>

#include "partitions/boot_sector_check.h"
#include "partitions/boot_sector_layout.h"

namespace {

constexpr uint64_t sector_bytes = boot_sector::sector_bytes;

// A volume whose boot sector (or its copy) is at sector `at` of the disk.
struct hit_s {
    uint64_t start = 0;
    uint64_t size = 0;  // 0: no boot sector we know, or one of size 0
};

// Tests sector j of the chunk; `kind` gets the file system on a hit.
hit_s test_sector(block_source_c& disk, const uint8_t* chunk, uint32_t chunk_count,
                  uint64_t chunk_start, uint32_t j, partition_item_s& kind) {
    const uint8_t* sector = chunk + j * sector_bytes;
    uint64_t at = chunk_start + j;
    if (!has_boot_signature(sector)) {
        return {};  // both tests need it; most sectors stop here
    }
    if (is_ntfs_boot_sector(sector)) {
        kind.fs_name = QStringLiteral("NTFS");
        kind.partition_type = partition_search::type_ntfs;
        return {ntfs_volume_start(sector, at), ntfs_volume_sectors(sector)};
    }
    if (!is_fat32_boot_sector(sector)) {
        return {};
    }
    uint32_t distance = fat32_next_sector_distance(sector);
    uint8_t spare[sector_bytes];
    const uint8_t* next = nullptr;
    if (j + distance < chunk_count) {
        next = chunk + (j + distance) * sector_bytes;
    } else if (read_exact(disk, (at + distance) * sector_bytes, spare, sizeof(spare)) == 0) {
        next = spare;  // a 4 KiB-sector volume near the chunk's end
    }
    if (next == nullptr || !has_boot_signature(next)) {
        return {};
    }
    kind.fs_name = QStringLiteral("FAT32");
    kind.partition_type = partition_search::type_fat32_lba;
    return {fat32_volume_start(sector, at), fat32_volume_sectors(sector)};
}

}  // namespace

int search_partitions(block_source_c& disk, const partition_search_hooks_s& hooks) {
    auto set_progress = [&](double value) {
        if (hooks.progress != nullptr) {
            hooks.progress->store(value);
        }
    };
    const uint64_t disk_sectors = disk.size() / sector_bytes;
    std::vector<uint8_t> chunk(partition_search::chunk_sectors * sector_bytes);
    disk.advise_sequential();
    uint64_t cur = 0;    // the sector at which the chunk in hand starts
    uint64_t floor = 0;  // the first sector after the last volume found
    while (cur < disk_sectors) {
        if (hooks.stop != nullptr && hooks.stop->load()) {
            return 1;
        }
        set_progress(static_cast<double>(cur) / static_cast<double>(disk_sectors));
        uint64_t want = std::min<uint64_t>(partition_search::chunk_sectors, disk_sectors - cur);
        int64_t got = disk.read_at(cur * sector_bytes, chunk.data(), want * sector_bytes);
        if (got < static_cast<int64_t>(sector_bytes)) {
            break;
        }
        auto count = static_cast<uint32_t>(static_cast<uint64_t>(got) / sector_bytes);
        // A full chunk leaves its last sector to the next one; a short (last) chunk is tested
        // to its end, since no further chunk will come.
        bool short_chunk = count < partition_search::chunk_sectors;
        uint32_t tested = short_chunk ? count : count - 1;
        bool hit = false;
        for (uint32_t j = 0; j < tested; ++j) {
            partition_item_s item;
            hit_s found = test_sector(disk, chunk.data(), count, cur, j, item);
            // A size of 0 would find the same sector again without end; the copy of a boot
            // sector whose volume starts inside one already found is a stale leftover, and a
            // volume must reach past the sector that revealed it.
            if (found.size == 0 || found.start < floor || found.size <= cur + j - found.start) {
                continue;
            }
            item.start_sector = found.start;
            bool past_end = found.size > disk_sectors - item.start_sector;
            item.end_sector = past_end ? disk_sectors - 1 : item.start_sector + found.size - 1;
            if (hooks.found) {
                hooks.found(item);
            }
            if (past_end) {
                set_progress(1.0);
                return 0;
            }
            cur = item.start_sector + found.size;  // nothing inside a found volume is searched
            floor = cur;
            hit = true;
            break;
        }
        if (!hit) {
            if (short_chunk) {
                break;
            }
            cur += tested;
        }
    }
    set_progress(1.0);
    return 0;
}
