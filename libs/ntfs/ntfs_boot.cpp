#include "libs/ntfs/ntfs_boot.h"

#include <cstring>
#include <vector>

#include "libs/ntfs/le_load.h"
#include "libs/ntfs/ntfs_layout.h"

using namespace ntfs_layout;

namespace {

constexpr uint32_t max_cluster_size = 2u * 1024 * 1024;
constexpr uint32_t min_record_size = 256;
constexpr uint32_t max_record_size = 64u * 1024;
constexpr uint16_t boot_signature_value = 0xAA55;

bool is_power_of_two(uint64_t v) {
    return v != 0 && (v & (v - 1)) == 0;
}

}  // namespace

int parse_ntfs_boot(const uint8_t* sector, uint64_t volume_bytes, ntfs_boot_s& out) {
    if (std::memcmp(sector + boot_oem_id, "NTFS    ", 8) != 0 ||
        ld_u16(sector + boot_signature) != boot_signature_value) {
        return -1;
    }
    const uint32_t bps = ld_u16(sector + boot_bytes_per_sector);
    if (bps < 512 || bps > 4096 || !is_power_of_two(bps)) {
        return -1;
    }
    // Values above 0x80 encode clusters larger than 255 sectors as 2^(256 - value).
    const uint8_t spc_raw = sector[boot_sectors_per_cluster];
    uint64_t cluster = 0;
    if (spc_raw == 0) {
        return -1;
    } else if (spc_raw <= 0x80) {
        if (!is_power_of_two(spc_raw)) {
            return -1;
        }
        cluster = static_cast<uint64_t>(spc_raw) * bps;
    } else {
        const uint32_t shift = 256u - spc_raw;
        if (shift > 21) {
            return -1;
        }
        cluster = (1ull << shift) * bps;
    }
    if (cluster > max_cluster_size) {
        return -1;
    }
    const int8_t cpr = static_cast<int8_t>(sector[boot_clusters_per_record]);
    uint64_t record = 0;
    if (cpr > 0) {
        record = cluster * static_cast<uint64_t>(cpr);
    } else {
        const int shift = -static_cast<int>(cpr);
        if (shift < 8 || shift > 16) {
            return -1;
        }
        record = 1ull << shift;
    }
    if (record < min_record_size || record > max_record_size || !is_power_of_two(record)) {
        return -1;
    }
    const uint64_t total_sectors = ld_u64(sector + boot_total_sectors);
    if (total_sectors == 0 || total_sectors > UINT64_MAX / bps) {
        return -1;
    }
    // The image may be cut short; the volume is what both the boot sector and the medium
    // hold.
    uint64_t bytes = total_sectors * bps;
    if (volume_bytes != 0 && volume_bytes < bytes) {
        bytes = volume_bytes;
    }
    const uint64_t clusters = bytes / cluster;
    const uint64_t mft = ld_u64(sector + boot_mft_lcn);
    const uint64_t mirror = ld_u64(sector + boot_mft_mirror_lcn);
    if (mft == 0 || mft >= clusters) {
        return -1;
    }
    out.bytes_per_sector = bps;
    out.cluster_size = static_cast<uint32_t>(cluster);
    out.record_size = static_cast<uint32_t>(record);
    out.total_sectors = total_sectors;
    out.total_clusters = clusters;
    out.mft_lcn = mft;
    out.mft_mirror_lcn = mirror < clusters ? mirror : 0;
    return 0;
}

int read_ntfs_boot(block_source_c& source, ntfs_boot_s& out) {
    const uint64_t size = source.size();
    std::vector<uint8_t> sector(4096);
    bool read_any = false;
    if (size >= boot_min_bytes && read_exact(source, 0, sector.data(), boot_min_bytes) == 0) {
        read_any = true;
        if (parse_ntfs_boot(sector.data(), size, out) == 0) {
            return 0;
        }
    }
    // The backup sits in the volume's last sector; try each sector size it could have.
    for (uint32_t bps = 512; bps <= 4096; bps *= 2) {
        if (size < 2ull * bps) {
            break;
        }
        if (read_exact(source, size - bps, sector.data(), boot_min_bytes) != 0) {
            continue;
        }
        read_any = true;
        ntfs_boot_s backup;
        if (parse_ntfs_boot(sector.data(), size, backup) == 0 && backup.bytes_per_sector == bps) {
            out = backup;
            return 0;
        }
    }
    return read_any ? -2 : -1;
}
