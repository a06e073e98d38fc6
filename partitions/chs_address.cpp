#include "partitions/chs_address.h"

namespace {
constexpr uint32_t max_heads = 255;
constexpr uint32_t max_sectors_per_track = 63;
constexpr uint64_t max_cylinder = 1023;
constexpr uint32_t cylinder_high_mask = 0xC0;  // cylinder bits 8-9 sit in the sector byte
}  // namespace

chs_geometry_s usable_chs_geometry(uint32_t heads, uint32_t sectors_per_track) {
    if (heads == 0 || heads > max_heads || sectors_per_track == 0 ||
        sectors_per_track > max_sectors_per_track) {
        return chs_geometry_s{};
    }
    return chs_geometry_s{heads, sectors_per_track};
}

void chs_address(uint64_t lba, const chs_geometry_s& geometry, uint8_t out[3]) {
    chs_geometry_s g = usable_chs_geometry(geometry.heads, geometry.sectors_per_track);
    uint64_t sector = lba % g.sectors_per_track + 1;
    uint64_t head = (lba / g.sectors_per_track) % g.heads;
    uint64_t cylinder = lba / g.sectors_per_track / g.heads;
    if (cylinder > max_cylinder) {
        cylinder = max_cylinder;
        head = g.heads - 1;
        sector = g.sectors_per_track;
    }
    out[0] = static_cast<uint8_t>(head);
    out[1] = static_cast<uint8_t>(sector | ((cylinder >> 2) & cylinder_high_mask));
    out[2] = static_cast<uint8_t>(cylinder & 0xFF);
}
