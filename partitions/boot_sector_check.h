#pragma once

#include <cstdint>

// The two boot-sector tests of the partition search. Each looks at the bytes of one
// 512-byte sector and nothing else; the caller supplies the following sector where needed.

uint16_t load_le16(const uint8_t* p);
uint32_t load_le32(const uint8_t* p);
uint64_t load_le64(const uint8_t* p);

// Bytes 510-511 are 0x55 0xAA.
bool has_boot_signature(const uint8_t* sector);

// Signature plus the OEM name "NTFS    " at byte 3.
bool is_ntfs_boot_sector(const uint8_t* sector);

// Everything the FAT32 test asks of the boot sector itself: signature, a jump at byte 0,
// a power-of-two sector size from 512 to 4096, a power-of-two cluster size, at least one
// reserved sector, one or two FATs, no fixed root folder, no 16-bit FAT size and a 32-bit
// one. The OEM name is not looked at: only Windows writes MSWIN/MSDOS there. The test is
// complete only together with has_boot_signature() on the volume's next logical sector
// (the FSInfo sector), which lies fat32_next_sector_distance() 512-byte sectors further on.
bool is_fat32_boot_sector(const uint8_t* sector);
uint32_t fat32_next_sector_distance(const uint8_t* sector);

// Size of the volume in 512-byte sectors as its boot sector gives it, scaled from the
// volume's own sector size. NTFS counts one more sector than byte 40 says (the backup boot
// sector at the end). 0 when the size is 0 or does not fit in 64 bits.
uint64_t ntfs_volume_sectors(const uint8_t* sector);
uint64_t fat32_volume_sectors(const uint8_t* sector);

// Both file systems keep a copy of the boot sector (NTFS in the volume's last sector, FAT32
// usually 6 sectors in), which the search meets when the first one was destroyed. When the
// sector at disk sector `at` is such a copy, going by the hidden-sectors field (where the
// formatter put the volume), returns the volume's first sector; otherwise `at`.
uint64_t ntfs_volume_start(const uint8_t* sector, uint64_t at);
uint64_t fat32_volume_start(const uint8_t* sector, uint64_t at);
