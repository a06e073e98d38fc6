#pragma once

#include <QJsonObject>
#include <string>

// Disk images made at test time by tools/make_partition_test_image.sh (mkntfs, mkfs.fat).

// Why image tests cannot run here, or "" when they can.
std::string partition_image_tools_missing();

// Makes `path` of `size_mib` MiB with the volumes in `specs` ("ntfs:63:16 fat32:40000:40"),
// with a DOS partition table when `with_table`. Returns the script's exit status.
int make_partition_image(const std::string& path, int size_mib, const std::string& specs,
                         bool with_table);

// The partition table as sfdisk reads it back ({"partitiontable": {...}}), empty when none.
QJsonObject sfdisk_table(const std::string& path);

// The file system libblkid finds at a byte offset of the image ("ntfs", "vfat" or "").
std::string blkid_type_at(const std::string& path, uint64_t offset);

// SHA-256 of the image from byte 512 to its end: everything but the first sector.
std::string tail_sha256(const std::string& path);
