#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Hand-made boot sectors in a zeroed byte image, for the boot-sector tests and the search.
struct synthetic_disk_s {
    std::vector<uint8_t> bytes;

    explicit synthetic_disk_s(uint64_t sectors) : bytes(sectors * 512, 0) {}
    uint8_t* sector(uint64_t n) { return bytes.data() + n * 512; }

    // An NTFS boot sector whose byte-40 count is `count` (the volume is count + 1 sectors).
    void put_ntfs(uint64_t at, uint64_t count, uint16_t bytes_per_sector = 512);
    // A FAT32 boot sector of `total` sectors; its FSInfo sector (the next one) ends in
    // 0x55 0xAA when `fsinfo` is true.
    void put_fat32(uint64_t at, uint32_t total, const std::string& oem = "MSWIN4.1",
                   bool fsinfo = true);
    void put_le16(uint64_t at, size_t offset, uint16_t value);
    void put_le32(uint64_t at, size_t offset, uint32_t value);
};
