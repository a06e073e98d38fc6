#pragma once

#include <cstdint>

// The disk geometry a partition entry's cylinder-head-sector fields are computed with.
struct chs_geometry_s {
    uint32_t heads = 255;  // tracks per cylinder
    uint32_t sectors_per_track = 63;
};

// A geometry that the three CHS bytes can express: the disk's own when it has 1-255 heads
// and 1-63 sectors per track, else the customary 255 heads and 63 sectors.
chs_geometry_s usable_chs_geometry(uint32_t heads, uint32_t sectors_per_track);

// Writes the three CHS bytes of sector `lba` (head; sector with cylinder bits 8-9; cylinder
// bits 0-7). Sectors beyond cylinder 1023 get the largest address, as is the custom:
// booting them must go through the LBA fields.
void chs_address(uint64_t lba, const chs_geometry_s& geometry, uint8_t out[3]);
