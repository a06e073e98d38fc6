#pragma once

#include <cstdint>

#include "platform/block_source.h"

// The geometry an NTFS boot sector gives, checked for sanity.
struct ntfs_boot_s {
    uint32_t bytes_per_sector = 0;
    uint32_t cluster_size = 0;  // bytes
    uint32_t record_size = 0;   // bytes per file record
    uint64_t total_sectors = 0;
    uint64_t total_clusters = 0;
    uint64_t mft_lcn = 0;
    uint64_t mft_mirror_lcn = 0;
};

// Parses one candidate boot sector (at least 512 bytes). 0 when it is a sane NTFS boot
// sector for a volume of `volume_bytes`, -1 otherwise.
int parse_ntfs_boot(const uint8_t* sector, uint64_t volume_bytes, ntfs_boot_s& out);

// Reads the boot sector, falling back to the backup copy in the volume's last sector.
// 0 on success, -1 when the volume cannot be read, -2 when neither copy is NTFS.
int read_ntfs_boot(block_source_c& source, ntfs_boot_s& out);
