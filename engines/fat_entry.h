#pragma once

#include <cstdint>

// A FAT folder entry as the FAT engine records it.
struct fat_entry_s {
    uint32_t entry_id = 0;   // first cluster; the record_map key
    uint32_t parent_id = 0;  // first cluster of the holding folder; 0 for the root folder
    uint32_t size = 0;
    int64_t date1 = 0;  // last write, seconds since 1970 UTC; 0 when unconvertible
    int64_t date2 = 0;  // creation
    uint8_t attr = 0;   // 0x10 folder, 0x40 deleted
    uint8_t in_deleted_folder = 0;
    char16_t name[260] = {};  // zero-terminated
};

enum : uint8_t {
    fat_attr_folder = 0x10,
    fat_attr_deleted = 0x40,
};
