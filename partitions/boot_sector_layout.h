#pragma once

#include <cstddef>
#include <cstdint>

// Offsets inside the boot sectors the partition search recognises. Widths in the comments.
namespace boot_sector {

constexpr size_t sector_bytes = 512;  // the unit the search counts in

constexpr size_t jump_opcode = 0;           // BYTE: 0xEB (short jump) or 0xE9 (near jump)
constexpr size_t oem_name = 3;              // 8 BYTES
constexpr size_t bytes_per_sector = 11;     // WORD
constexpr size_t sectors_per_cluster = 13;  // BYTE
constexpr size_t reserved_sectors = 14;     // WORD (FAT)
constexpr size_t fat_count = 16;            // BYTE (FAT)
constexpr size_t root_entries = 17;         // WORD (FAT; 0 on FAT32)
constexpr size_t fat_size_16 = 22;          // WORD (FAT; 0 on FAT32)
constexpr size_t hidden_sectors = 28;       // DWORD: the volume's first sector on its disk
constexpr size_t fat32_total_sectors = 32;  // DWORD, in the volume's sectors
constexpr size_t fat32_fat_size = 36;       // DWORD
constexpr size_t ntfs_total_sectors = 40;   // QWORD, in the volume's sectors, without the backup
constexpr size_t fat32_backup_boot = 50;    // WORD: sector of the boot sector's copy, usually 6
constexpr size_t signature = 510;           // 2 BYTES: 0x55 0xAA

constexpr uint8_t signature_0 = 0x55;
constexpr uint8_t signature_1 = 0xAA;
constexpr uint8_t short_jump = 0xEB;
constexpr uint8_t near_jump = 0xE9;

constexpr uint32_t min_sector_size = 512;
constexpr uint32_t max_sector_size = 4096;

}  // namespace boot_sector
