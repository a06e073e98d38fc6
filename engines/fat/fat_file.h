#pragma once

#include <cstdint>

#include "engines/fat/fat_volume.h"

enum : uint8_t {
    file_open_read = 0x01,
    file_read_failed = 0x80,  // every later read answers fat_internal_error
};

// A file being read. The caller fills it: there is no open by name.
struct file_cursor_s {
    fat_volume_s* volume = nullptr;
    uint16_t mount_id = 0;  // must equal the volume's
    uint8_t flags = 0;
    uint32_t position = 0;  // bytes read so far
    uint32_t size = 0;
    uint32_t first_cluster = 0;
    uint32_t cluster = 0;
    uint64_t buffered_sector = 0;  // sector held in buffer; 0 = none
    uint8_t buffer[512] = {};
};

// Reads up to `count` bytes at the cursor into `buffer`; `read` tells how many arrived.
// With `contiguous`, the clusters after the first are taken as first + 1, first + 2, …
// (a deleted file's chain is gone from the FAT). A read that fails part-way keeps the bytes
// read before it in `read` and marks the cursor failed.
fat_result f_readfile(file_cursor_s& cursor, void* buffer, uint32_t count, uint32_t& read,
                      bool contiguous);
