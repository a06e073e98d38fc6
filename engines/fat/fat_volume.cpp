#include "engines/fat/fat_volume.h"

#include <cstring>

#include "engines/fat/fat_layout.h"
#include "engines/fat/sector_access.h"

namespace {

fat_volume_s* mount_table[fat_logical_drives] = {};
uint16_t mount_counter = 0;

constexpr uint32_t fat12_max_clusters = 4085;   // 4,086 clusters and more are FAT16
constexpr uint32_t fat16_max_clusters = 65525;  // 65,526 clusters and more are FAT32

enum : int {
    boot_fat = 0,
    boot_other = 1,
    boot_none = 2,
    boot_read_error = 3,
};

bool is_power_of_two(uint32_t value) {
    return value != 0 && (value & (value - 1)) == 0;
}

// Fills the geometry of `volume` from the boot sector in its window. `base` is the volume's
// first sector on the disk.
fat_result read_boot_parameters(fat_volume_s& volume, uint64_t base) {
    const uint8_t* boot = volume.window;
    if (load_u16(boot + bpb_bytes_per_sector) != fat_sector_size) {
        return fat_no_file_system;
    }
    uint32_t fat_size16 = load_u16(boot + bpb_fat_size16);
    uint32_t fat_size = fat_size16 != 0 ? fat_size16 : load_u32(boot + bpb_fat_size32);
    uint32_t fat_count = boot[bpb_fat_count];
    if (fat_count != 1 && fat_count != 2) {
        return fat_no_file_system;
    }
    uint32_t per_cluster = boot[bpb_sectors_per_cluster];
    if (!is_power_of_two(per_cluster)) {
        return fat_no_file_system;
    }
    uint32_t root_entries = load_u16(boot + bpb_root_entries);
    if (root_entries % fat_entries_per_sector != 0) {
        return fat_no_file_system;
    }
    uint64_t total = load_u16(boot + bpb_total_sectors16);
    if (total == 0) {
        total = load_u32(boot + bpb_total_sectors32);
    }
    uint32_t reserved = load_u16(boot + bpb_reserved_sectors);
    if (reserved == 0) {
        return fat_no_file_system;
    }
    uint64_t system =
        reserved + uint64_t(fat_size) * fat_count + root_entries / fat_entries_per_sector;
    if (total < system) {
        return fat_no_file_system;
    }
    uint64_t clusters = (total - system) / per_cluster;
    if (clusters == 0 || clusters > 0x0FFFFFF5) {
        return fat_no_file_system;
    }

    uint8_t type = fat_type_12;
    if (clusters > fat12_max_clusters) {
        type = fat_type_16;
    }
    if (clusters > fat16_max_clusters) {
        type = fat_type_32;
    }
    // mkfs.fat makes FAT32 with fewer clusters on small media; its 16-bit FAT size and root
    // entry count are 0, which no FAT12/16 volume can have.
    if (fat_size16 == 0 && root_entries == 0) {
        type = fat_type_32;
    }

    volume.fat_entries = uint32_t(clusters + 2);
    volume.data_start = base + system;
    volume.fat_start = base + reserved;
    volume.fat_size = fat_size;
    volume.fat_count = uint8_t(fat_count);
    volume.sectors_per_cluster = uint8_t(per_cluster);
    volume.root_entries = uint16_t(root_entries);
    uint64_t fat_bytes = 0;
    if (type == fat_type_32) {
        if (root_entries != 0) {
            return fat_no_file_system;
        }
        volume.root_start = load_u32(boot + bpb_root_cluster32);
        fat_bytes = uint64_t(volume.fat_entries) * 4;
    } else {
        if (root_entries == 0) {
            return fat_no_file_system;
        }
        volume.root_start = volume.fat_start + uint64_t(fat_size) * fat_count;
        fat_bytes = type == fat_type_16
                        ? uint64_t(volume.fat_entries) * 2
                        : uint64_t(volume.fat_entries) * 3 / 2 + (volume.fat_entries & 1);
    }
    if (fat_size < (fat_bytes + fat_sector_size - 1) / fat_sector_size) {
        return fat_no_file_system;
    }
    volume.fs_type = type;
    return fat_ok;
}

}  // namespace

fat_result f_attach(uint32_t drive, fat_volume_s* volume) {
    if (drive >= fat_logical_drives) {
        return fat_invalid_drive;
    }
    if (mount_table[drive] != nullptr) {
        mount_table[drive]->fs_type = fat_type_none;
    }
    if (volume != nullptr) {
        volume->fs_type = fat_type_none;
    }
    mount_table[drive] = volume;
    return fat_ok;
}

fat_result mount_volume(const char*& path, fat_volume_s*& volume) {
    uint32_t drive = 0;
    if (path[0] >= '0' && path[0] <= '9' && path[1] == ':') {
        drive = uint32_t(path[0] - '0');
        path += 2;
    }
    if (drive >= fat_logical_drives) {
        return fat_invalid_drive;
    }
    volume = mount_table[drive];
    if (volume == nullptr) {
        return fat_no_volume_attached;
    }
    if (volume->fs_type != fat_type_none && !(drive_status(volume->drive) & drive_not_ready)) {
        return fat_ok;
    }
    volume->fs_type = fat_type_none;
    const volume_binding_s& binding = volume_bindings[drive];
    volume->drive = binding.disk_number;
    if (drive_initialize(volume->drive) & drive_not_ready) {
        return fat_not_ready;
    }
    int format = probe_boot_sector(*volume, 0);
    uint64_t base = 0;
    if ((binding.partition_number != 0 && format == boot_fat) || format == boot_other) {
        base = binding.start_sector;
        format = probe_boot_sector(*volume, base);
    }
    if (format == boot_read_error) {
        return fat_disk_error;
    }
    if (format != boot_fat) {
        return fat_no_file_system;
    }
    fat_result result = read_boot_parameters(*volume, base);
    if (result != fat_ok) {
        volume->fs_type = fat_type_none;
        return result;
    }
    volume->mount_id = ++mount_counter;
    volume->window_sector = 0;
    return fat_ok;
}

fat_result load_window(fat_volume_s& volume, uint64_t sector) {
    if (sector != volume.window_sector && sector != 0) {
        if (read_sectors(volume.drive, volume.window, sector, 1) != sector_ok) {
            volume.window_sector = 0;
            return fat_disk_error;
        }
        volume.window_sector = sector;
    }
    return fat_ok;
}

uint64_t cluster_to_sector(const fat_volume_s& volume, uint32_t cluster) {
    if (cluster < 2 || cluster - 2 >= volume.fat_entries - 2) {
        return 0;
    }
    return uint64_t(cluster - 2) * volume.sectors_per_cluster + volume.data_start;
}

uint32_t read_fat_entry(fat_volume_s& volume, uint32_t cluster) {
    if (cluster < 2 || cluster >= volume.fat_entries) {
        return 1;
    }
    switch (volume.fs_type) {
        case fat_type_12: {
            uint32_t offset = cluster + cluster / 2;
            if (load_window(volume, volume.fat_start + offset / fat_sector_size) != fat_ok) {
                return fat_read_failed;
            }
            uint32_t low = volume.window[offset % fat_sector_size];
            ++offset;
            if (load_window(volume, volume.fat_start + offset / fat_sector_size) != fat_ok) {
                return fat_read_failed;
            }
            uint32_t value = low | (uint32_t(volume.window[offset % fat_sector_size]) << 8);
            return (cluster & 1) ? value >> 4 : value & 0xFFF;
        }
        case fat_type_16:
            if (load_window(volume, volume.fat_start + cluster / (fat_sector_size / 2)) != fat_ok) {
                return fat_read_failed;
            }
            return load_u16(volume.window + (cluster * 2) % fat_sector_size);
        case fat_type_32:
            if (load_window(volume, volume.fat_start + cluster / (fat_sector_size / 4)) != fat_ok) {
                return fat_read_failed;
            }
            return load_u32(volume.window + (cluster * 4) % fat_sector_size) & 0x0FFFFFFF;
        default:
            return fat_read_failed;
    }
}

int probe_boot_sector(fat_volume_s& volume, uint64_t sector) {
    volume.window_sector = 0;
    if (read_sectors(volume.drive, volume.window, sector, 1) != sector_ok) {
        return boot_read_error;
    }
    if (volume.window[bs_signature] != 0x55 || volume.window[bs_signature + 1] != 0xAA) {
        return boot_none;
    }
    if (std::memcmp(volume.window + bs_fs_type16, "FAT", 3) == 0 ||
        std::memcmp(volume.window + bs_fs_type32, "FAT", 3) == 0) {
        return boot_fat;
    }
    return boot_other;
}
