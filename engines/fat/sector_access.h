#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/block_source.h"

// The FAT reader's sector layer: one slot per listed disk (or image), reads addressed by
// drive number and absolute 512-byte sector, and a watchdog that notices a removed medium.

enum : uint8_t {
    drive_not_ready = 0x01,
    drive_write_protected = 0x04,
};

// Result codes of read_sectors.
enum : int {
    sector_ok = 0,
    sector_read_error = 1,
    sector_not_ready = 3,
    sector_bad_parameter = 4,
};

constexpr uint32_t transfer_buffer_size = 65536;
constexpr uint32_t volume_binding_count = 10;

struct sector_drive_s {
    uint8_t status = drive_not_ready;
    uint16_t sector_size = 0;
    uint64_t sector_count = 0;
    std::shared_ptr<block_source_c> handle;
    std::string path;
};

// Where logical drive N of the reader lies. Only entry 0 is used.
struct volume_binding_s {
    uint32_t disk_number = 0;
    uint32_t partition_number = 0;  // 0: no partition table, the volume starts at sector 0
    uint64_t start_sector = 0;
};

extern volume_binding_s volume_bindings[volume_binding_count];

// Opens every listed disk (platform list_disks(), images included) and starts the watchdog
// once. Returns the number of drives opened. Safe to call again: then it reopens.
uint32_t open_sector_drives();
// Closes and reopens the drives under the drive lock; the watchdog keeps running.
uint32_t reopen_sector_drives();
uint32_t sector_drive_count();

// 1 when the drive answered and has 512-byte sectors, else 0; refreshes its status.
int query_drive(uint32_t drive);
// The drive's status after a fresh query (0x01 when it cannot be had within 5 s).
uint8_t drive_initialize(uint32_t drive);
// The drive's last known status; 0x01 for a drive that is not in the table.
uint8_t drive_status(uint32_t drive);
// Reads `count` (1..255) sectors of 512 bytes. Returns sector_ok, sector_read_error,
// sector_not_ready or sector_bad_parameter (more than 65,536 bytes, or count 0).
int read_sectors(uint32_t drive, void* buffer, uint64_t sector, uint32_t count);

// Finds the disk, partition and first sector of a volume path (with or without one trailing
// slash). 0 on success, -1 when the path leads nowhere.
int locate_volume(const std::string& volume_path, uint32_t& partition_number, uint32_t& disk_number,
                  uint64_t& start_sector);
// Fills volume_bindings[0] from locate_volume. 0, or -1 with the entry unchanged.
int bind_volume(const std::string& volume_path);

// For tests and fuzzers: puts `source` into slot `drive` (growing the table). Its volume path
// for bind_volume is "memory:N" (N = drive); the volume starts at sector 0.
void install_sector_drive(uint32_t drive, std::shared_ptr<block_source_c> source,
                          uint16_t sector_size = 512);
