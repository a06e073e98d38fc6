#pragma once

#include <cstdint>

// On-disk layout of FAT boot sectors and folder entries. All values are little-endian.

constexpr uint32_t fat_sector_size = 512;
constexpr uint32_t fat_entry_size = 32;
constexpr uint32_t fat_entries_per_sector = fat_sector_size / fat_entry_size;

// Boot sector (BIOS parameter block).
constexpr uint32_t bpb_bytes_per_sector = 11;     // u16
constexpr uint32_t bpb_sectors_per_cluster = 13;  // u8
constexpr uint32_t bpb_reserved_sectors = 14;     // u16
constexpr uint32_t bpb_fat_count = 16;            // u8
constexpr uint32_t bpb_root_entries = 17;         // u16
constexpr uint32_t bpb_total_sectors16 = 19;      // u16
constexpr uint32_t bpb_fat_size16 = 22;           // u16
constexpr uint32_t bpb_total_sectors32 = 32;      // u32
constexpr uint32_t bpb_fat_size32 = 36;           // u32
constexpr uint32_t bpb_root_cluster32 = 44;       // u32
constexpr uint32_t bs_fs_type16 = 54;             // "FAT" on FAT12/16
constexpr uint32_t bs_fs_type32 = 82;             // "FAT" on FAT32
constexpr uint32_t bs_signature = 510;            // 0x55, 0xAA

// Folder entry.
constexpr uint32_t dir_name = 0;  // 8 bytes body, 3 bytes extension
constexpr uint32_t dir_name_length = 11;
constexpr uint32_t dir_extension = 8;
constexpr uint32_t dir_attr = 11;          // u8
constexpr uint32_t dir_case_flags = 12;    // u8: 0x08 body lower case, 0x10 extension lower case
constexpr uint32_t dir_create_time = 14;   // u16
constexpr uint32_t dir_create_date = 16;   // u16
constexpr uint32_t dir_cluster_high = 20;  // u16, FAT32 only
constexpr uint32_t dir_write_time = 22;    // u16
constexpr uint32_t dir_write_date = 24;    // u16
constexpr uint32_t dir_cluster_low = 26;   // u16
constexpr uint32_t dir_file_size = 28;     // u32

// Long-name part entry.
constexpr uint32_t lfn_order = 0;      // u8: sequence number, 0x40 on the last part
constexpr uint32_t lfn_checksum = 13;  // u8: checksum of the short name it belongs to
constexpr uint32_t lfn_chars_per_part = 13;
constexpr uint32_t lfn_char_offsets[lfn_chars_per_part] = {1,  3,  5,  7,  9,  14, 16,
                                                           18, 20, 22, 24, 28, 30};
constexpr uint32_t lfn_max_parts = 20;

constexpr uint8_t dir_mark_deleted = 0xE5;
constexpr uint8_t dir_mark_end = 0x00;
constexpr uint8_t dir_mark_e5_stored = 0x05;  // a real first character 0xE5 is stored as 0x05
constexpr uint8_t lfn_last_part = 0x40;
constexpr uint8_t attr_volume_label = 0x08;
constexpr uint8_t attr_long_name = 0x0F;
constexpr uint8_t case_lower_body = 0x08;
constexpr uint8_t case_lower_extension = 0x10;

inline uint16_t load_u16(const uint8_t* p) {
    return uint16_t(p[0] | (p[1] << 8));
}
inline uint32_t load_u32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
