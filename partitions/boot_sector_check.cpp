#include "partitions/boot_sector_check.h"

#include <cstring>

#include "partitions/boot_sector_layout.h"

namespace bs = boot_sector;

uint16_t load_le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t load_le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

uint64_t load_le64(const uint8_t* p) {
    return static_cast<uint64_t>(load_le32(p)) | (static_cast<uint64_t>(load_le32(p + 4)) << 32);
}

namespace {

constexpr char ntfs_oem[] = "NTFS    ";
constexpr size_t ntfs_oem_length = sizeof(ntfs_oem) - 1;

bool is_power_of_two(uint32_t value) {
    return value != 0 && (value & (value - 1)) == 0;
}

bool valid_sector_size(uint32_t bytes) {
    return is_power_of_two(bytes) && bytes >= bs::min_sector_size && bytes <= bs::max_sector_size;
}

// 512-byte units per sector of the volume; NTFS sizes with a nonsensical sector size are
// taken as counted in 512-byte sectors.
uint32_t units_per_sector(const uint8_t* sector) {
    uint32_t bytes = load_le16(sector + bs::bytes_per_sector);
    return valid_sector_size(bytes) ? bytes / bs::sector_bytes : 1;
}

uint64_t scaled(uint64_t count, uint32_t units) {
    if (count > UINT64_MAX / units) {
        return 0;
    }
    return count * units;
}

}  // namespace

bool has_boot_signature(const uint8_t* sector) {
    return sector[bs::signature] == bs::signature_0 && sector[bs::signature + 1] == bs::signature_1;
}

bool is_ntfs_boot_sector(const uint8_t* sector) {
    return has_boot_signature(sector) &&
           std::memcmp(sector + bs::oem_name, ntfs_oem, ntfs_oem_length) == 0;
}

bool is_fat32_boot_sector(const uint8_t* sector) {
    if (!has_boot_signature(sector)) {
        return false;
    }
    uint8_t jump = sector[bs::jump_opcode];
    uint8_t fats = sector[bs::fat_count];
    return (jump == bs::short_jump || jump == bs::near_jump) &&
           valid_sector_size(load_le16(sector + bs::bytes_per_sector)) &&
           is_power_of_two(sector[bs::sectors_per_cluster]) &&
           load_le16(sector + bs::reserved_sectors) >= 1 && (fats == 1 || fats == 2) &&
           load_le16(sector + bs::root_entries) == 0 && load_le16(sector + bs::fat_size_16) == 0 &&
           load_le32(sector + bs::fat32_fat_size) != 0;
}

uint32_t fat32_next_sector_distance(const uint8_t* sector) {
    return units_per_sector(sector);
}

uint64_t ntfs_volume_sectors(const uint8_t* sector) {
    uint64_t count = load_le64(sector + bs::ntfs_total_sectors);
    if (count == UINT64_MAX) {
        return 0;
    }
    return scaled(count + 1, units_per_sector(sector));
}

uint64_t fat32_volume_sectors(const uint8_t* sector) {
    return scaled(load_le32(sector + bs::fat32_total_sectors), units_per_sector(sector));
}

namespace {

// `at` when the copy's distance from the recorded start does not lead back to `at`.
uint64_t start_of_copy(const uint8_t* sector, uint64_t at, uint64_t copy_distance) {
    uint64_t recorded = scaled(load_le32(sector + bs::hidden_sectors), units_per_sector(sector));
    if (recorded == 0 || copy_distance == 0 || recorded >= at || at - recorded != copy_distance) {
        return at;
    }
    return recorded;
}

}  // namespace

uint64_t ntfs_volume_start(const uint8_t* sector, uint64_t at) {
    uint64_t count = load_le64(sector + bs::ntfs_total_sectors);
    return start_of_copy(sector, at, scaled(count, units_per_sector(sector)));
}

uint64_t fat32_volume_start(const uint8_t* sector, uint64_t at) {
    uint16_t copy = load_le16(sector + bs::fat32_backup_boot);
    return start_of_copy(sector, at, scaled(copy, units_per_sector(sector)));
}
