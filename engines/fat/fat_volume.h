#pragma once

#include <cstdint>

#include "engines/fat/fat_result.h"

enum : uint8_t {
    fat_type_none = 0,
    fat_type_12 = 1,
    fat_type_16 = 2,
    fat_type_32 = 3,
};

constexpr uint32_t fat_logical_drives = 10;
// What read_fat_entry answers when the FAT sector cannot be read.
constexpr uint32_t fat_read_failed = 0xFFFFFFFF;

// A mounted FAT volume. Sector numbers are absolute on the disk that holds it.
struct fat_volume_s {
    uint8_t fs_type = fat_type_none;  // 0 while not mounted
    uint32_t drive = 0;               // sector-layer drive number
    uint8_t sectors_per_cluster = 0;  // power of two, 1..128
    uint8_t fat_count = 0;
    uint16_t mount_id = 0;
    uint16_t root_entries = 0;  // entries of the fixed root (FAT12/16); 0 on FAT32
    uint32_t fat_entries = 0;   // clusters + 2; valid clusters are 2 .. fat_entries - 1
    uint32_t fat_size = 0;      // sectors per FAT
    uint64_t fat_start = 0;
    uint64_t root_start = 0;     // FAT12/16: first root sector; FAT32: root cluster
    uint64_t data_start = 0;     // first sector of cluster 2
    uint64_t window_sector = 0;  // sector held in window; 0 = none
    uint8_t window[512] = {};
};

// Attaches `volume` (or nothing) to logical drive `drive`; the next open mounts it afresh.
fat_result f_attach(uint32_t drive, fat_volume_s* volume);
// Mounts the volume of the drive named by `path` ("N:" prefix or drive 0), or finds it still
// mounted. `path` is advanced past the prefix.
fat_result mount_volume(const char*& path, fat_volume_s*& volume);

// Reads `sector` into the window unless it is already there. fat_ok or fat_disk_error.
fat_result load_window(fat_volume_s& volume, uint64_t sector);
// First sector of `cluster`, 0 for a cluster outside the volume.
uint64_t cluster_to_sector(const fat_volume_s& volume, uint32_t cluster);
// FAT value of `cluster`: the next cluster, 1 for a cluster outside the volume,
// fat_read_failed when the FAT sector cannot be read.
uint32_t read_fat_entry(fat_volume_s& volume, uint32_t cluster);

// 0 FAT boot sector, 1 other boot record, 2 no boot record, 3 read error.
int probe_boot_sector(fat_volume_s& volume, uint64_t sector);
