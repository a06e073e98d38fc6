#pragma once

#include <cstdint>
#include <unordered_set>

#include "engines/fat/fat_volume.h"
#include "engines/fat/long_name.h"

constexpr uint32_t short_name_units = 13;  // "#" or first char, 7 + "." + 3, zero
constexpr uint32_t folder_max_entries = 65536;
constexpr uint16_t no_long_name = 0xFFFF;

// An open folder. Valid from f_opendir until the next f_attach or mount.
struct folder_cursor_s {
    fat_volume_s* volume = nullptr;  // none while not open
    uint16_t mount_id = 0;
    uint32_t index = 0;                       // current 32-byte entry within the folder
    uint32_t start_cluster = 0;               // 0: the fixed FAT12/16 root, or the FAT32 root
    uint32_t cluster = 0;                     // current cluster; 0 inside the fixed root
    uint64_t sector = 0;                      // sector of the current entry; 0 = end of folder
    uint32_t entry_offset = 0;                // offset of the current entry in the volume's window
    uint16_t long_name_index = no_long_name;  // no_long_name: the entry has no usable long name
    uint16_t deleted = 0;                     // 1 when the current entry is marked deleted
    int16_t first_byte = -1;  // deleted entry: its restored first name byte, -1 unknown
    char16_t long_name_work[long_name_capacity] = {};
    deleted_parts_s deleted_parts;
    // Optional: clusters already listed, shared by every folder of one walk. A folder chain
    // that reaches one of them ends there, so no cluster is listed twice.
    std::unordered_set<uint32_t>* listed_clusters = nullptr;
};

// One folder entry as f_readdir returns it.
struct entry_info_s {
    uint32_t size = 0;
    uint32_t first_cluster = 0;
    uint16_t write_date = 0;
    uint16_t write_time = 0;
    uint16_t create_date = 0;
    uint16_t create_time = 0;
    uint8_t attr = 0;  // with fat_attr_deleted added for a deleted entry
    // The 8.3 name; empty at the end of the folder. For a deleted entry whose first byte
    // could not be restored, "#" stands for the lost first character.
    char16_t short_name[short_name_units] = {};
    char16_t* long_name = nullptr;  // supplied by the caller; receives the long name or ""
    uint32_t long_name_size = 0;    // capacity in UTF-16 units; 0: long names not wanted
};

// Opens the root folder ("/", "\\" or "N:/"); names below the root are not resolved.
fat_result f_opendir(folder_cursor_s& cursor, const char* path);
// With `info`: the next entry, deleted ones included; fat_ok with an empty short name at the
// end. An error after the entry was read (a deleted folder's chain is gone from the FAT)
// is returned with `info` filled. Without `info`: rewinds to the folder at start_cluster.
fat_result f_readdir(folder_cursor_s& cursor, entry_info_s* info);
