#pragma once

#include <cstdint>

// Offsets and values of the NTFS on-disk structures we read. Widths in the comments.
namespace ntfs_layout {

// Boot sector.
constexpr uint32_t boot_oem_id = 0x03;               // 8 bytes, "NTFS    "
constexpr uint32_t boot_bytes_per_sector = 0x0B;     // u16
constexpr uint32_t boot_sectors_per_cluster = 0x0D;  // u8, or a negative power of two
constexpr uint32_t boot_total_sectors = 0x28;        // u64
constexpr uint32_t boot_mft_lcn = 0x30;              // u64
constexpr uint32_t boot_mft_mirror_lcn = 0x38;       // u64
constexpr uint32_t boot_clusters_per_record = 0x40;  // i8, negative: 2^-n bytes
constexpr uint32_t boot_signature = 0x1FE;           // u16, 0xAA55
constexpr uint32_t boot_min_bytes = 512;

// File record header.
constexpr uint32_t rec_magic = 0x00;            // 4 bytes, "FILE"
constexpr uint32_t rec_usa_offset = 0x04;       // u16
constexpr uint32_t rec_usa_count = 0x06;        // u16
constexpr uint32_t rec_sequence = 0x10;         // u16
constexpr uint32_t rec_first_attribute = 0x14;  // u16
constexpr uint32_t rec_flags = 0x16;            // u16
constexpr uint32_t rec_bytes_in_use = 0x18;     // u32
constexpr uint32_t rec_base_reference = 0x20;   // u64
constexpr uint32_t rec_header_min = 0x2A;       // smallest header that holds the fields above
constexpr uint16_t rec_flag_in_use = 0x0001;
constexpr uint16_t rec_flag_directory = 0x0002;

// Attribute header, common part.
constexpr uint32_t attr_type = 0x00;          // u32
constexpr uint32_t attr_length = 0x04;        // u32
constexpr uint32_t attr_non_resident = 0x08;  // u8
constexpr uint32_t attr_name_length = 0x09;   // u8, UTF-16 units
constexpr uint32_t attr_name_offset = 0x0A;   // u16
constexpr uint32_t attr_flags = 0x0C;         // u16
constexpr uint32_t attr_instance = 0x0E;      // u16
// Resident part.
constexpr uint32_t attr_value_length = 0x10;  // u32
constexpr uint32_t attr_value_offset = 0x14;  // u16
constexpr uint32_t attr_resident_min = 0x18;
// Non-resident part.
constexpr uint32_t attr_lowest_vcn = 0x10;        // u64
constexpr uint32_t attr_highest_vcn = 0x18;       // u64
constexpr uint32_t attr_mapping_pairs = 0x20;     // u16
constexpr uint32_t attr_compression_unit = 0x22;  // u8, log2 of clusters
constexpr uint32_t attr_allocated_size = 0x28;    // u64
constexpr uint32_t attr_data_size = 0x30;         // u64
constexpr uint32_t attr_initialized_size = 0x38;  // u64
constexpr uint32_t attr_non_resident_min = 0x40;
constexpr uint16_t attr_flag_compressed = 0x0001;
constexpr uint16_t attr_flag_encrypted = 0x4000;
constexpr uint16_t attr_flag_sparse = 0x8000;

constexpr uint32_t type_standard_information = 0x10;
constexpr uint32_t type_attribute_list = 0x20;
constexpr uint32_t type_file_name = 0x30;
constexpr uint32_t type_data = 0x80;
constexpr uint32_t type_index_root = 0x90;
constexpr uint32_t type_end = 0xFFFFFFFF;

// $STANDARD_INFORMATION value.
constexpr uint32_t si_creation_time = 0x00;      // u64, Windows file time
constexpr uint32_t si_modification_time = 0x08;  // u64
constexpr uint32_t si_file_attributes = 0x20;    // u32
constexpr uint32_t si_min_length = 0x24;
constexpr uint32_t file_attribute_encrypted = 0x4000;

// $FILE_NAME value.
constexpr uint32_t fn_parent_reference = 0x00;   // u64
constexpr uint32_t fn_creation_time = 0x08;      // u64
constexpr uint32_t fn_modification_time = 0x10;  // u64
constexpr uint32_t fn_flags = 0x38;              // u32
constexpr uint32_t fn_name_length = 0x40;        // u8, UTF-16 units
constexpr uint32_t fn_namespace = 0x41;          // u8
constexpr uint32_t fn_name = 0x42;               // UTF-16
constexpr uint32_t fn_flag_directory = 0x10000000;
constexpr uint8_t namespace_posix = 0;
constexpr uint8_t namespace_win32 = 1;
constexpr uint8_t namespace_dos = 2;
constexpr uint8_t namespace_win32_and_dos = 3;

// $ATTRIBUTE_LIST entry.
constexpr uint32_t al_type = 0x00;               // u32
constexpr uint32_t al_length = 0x04;             // u16
constexpr uint32_t al_name_length = 0x06;        // u8
constexpr uint32_t al_name_offset = 0x07;        // u8
constexpr uint32_t al_lowest_vcn = 0x08;         // u64
constexpr uint32_t al_segment_reference = 0x10;  // u64
constexpr uint32_t al_min_length = 0x1A;

// File references: 48-bit record number, 16-bit sequence number.
constexpr uint64_t reference_number_mask = 0x0000FFFFFFFFFFFFULL;
constexpr uint32_t reference_sequence_shift = 48;

constexpr uint64_t mft_record = 0;
constexpr uint64_t root_record = 5;

// LZNT1 works in 4 KiB chunks, each with a 2-byte header.
constexpr uint32_t lznt1_chunk_size = 4096;

}  // namespace ntfs_layout
