#include "tests/partitions/synthetic_disk.h"

#include <cstring>

namespace {
void store(uint8_t* p, uint64_t value, int width) {
    for (int i = 0; i < width; ++i) {
        p[i] = static_cast<uint8_t>(value >> (8 * i));
    }
}
void sign(uint8_t* sector) {
    sector[510] = 0x55;
    sector[511] = 0xAA;
}
}  // namespace

void synthetic_disk_s::put_le16(uint64_t at, size_t offset, uint16_t value) {
    store(sector(at) + offset, value, 2);
}

void synthetic_disk_s::put_le32(uint64_t at, size_t offset, uint32_t value) {
    store(sector(at) + offset, value, 4);
}

void synthetic_disk_s::put_ntfs(uint64_t at, uint64_t count, uint16_t bytes_per_sector) {
    uint8_t* s = sector(at);
    s[0] = 0xEB;
    s[1] = 0x52;
    s[2] = 0x90;
    std::memcpy(s + 3, "NTFS    ", 8);
    store(s + 11, bytes_per_sector, 2);
    s[13] = 8;
    store(s + 40, count, 8);
    sign(s);
}

void synthetic_disk_s::put_fat32(uint64_t at, uint32_t total, const std::string& oem, bool fsinfo) {
    uint8_t* s = sector(at);
    s[0] = 0xEB;
    s[1] = 0x58;
    s[2] = 0x90;
    std::memset(s + 3, ' ', 8);
    std::memcpy(s + 3, oem.data(), std::min<size_t>(oem.size(), 8));
    store(s + 11, 512, 2);  // bytes per sector
    s[13] = 8;              // sectors per cluster
    store(s + 14, 32, 2);   // reserved sectors
    s[16] = 2;              // FATs
    store(s + 17, 0, 2);    // root entries
    store(s + 22, 0, 2);    // 16-bit FAT size
    store(s + 32, total, 4);
    store(s + 36, 1000, 4);  // 32-bit FAT size
    sign(s);
    if (fsinfo) {
        sign(sector(at + 1));
    }
}
