#pragma once

#include <QMetaType>
#include <QString>
#include <cstdint>

// One partition found by the boot-sector search. Sectors are 512-byte units counted from
// the start of the disk; end_sector is the volume's last sector (inclusive).
struct partition_item_s {
    QString fs_name;             // "NTFS" or "FAT32"
    int32_t partition_type = 0;  // partition-table type code: 0x07 NTFS, 0x0C FAT32 (LBA)
    uint64_t start_sector = 0;   // the sector holding the boot sector
    uint64_t end_sector = 0;     // start_sector + size - 1
};
Q_DECLARE_METATYPE(partition_item_s)
