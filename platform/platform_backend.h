#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/block_source.h"

// The geometry fields the disk list and the sector layer use, as a disk reports them.
struct disk_geometry_s {
    int64_t cylinders = 0;
    uint32_t media_type = 0;
    uint32_t tracks_per_cylinder = 0;
    uint32_t sectors_per_track = 0;
    uint32_t bytes_per_sector = 0;
};

// One whole disk (or disk image) as the platform sees it.
struct disk_probe_s {
    std::string path;   // device node (/dev/sda) or absolute image path
    uint64_t size = 0;  // true size in bytes
    disk_geometry_s geometry;
    bool is_image = false;
};

// One volume: a partition, or a file system that fills a whole disk or image.
struct volume_probe_s {
    std::string device_name;  // device node, or "IMAGE@N" for partition N of an image
    std::string volume_path;  // opaque, stable across runs; resolves back to disk + extent
    std::string label;
    std::string file_system;  // "NTFS", "FAT32", "FAT", "exFAT", other names in capitals, or ""
    std::string root_path;    // first mount point, else the device name
    uint64_t total_bytes = 0;
    uint64_t free_bytes = 0;
    int32_t partition_number = 0;  // 0: file system on the whole disk
    int32_t disk_number = -1;      // position of its disk in list_disks()
    uint64_t start_offset = 0;     // byte offset on the disk
    uint64_t length = 0;           // bytes
};

// Where a volume path, disk path or image path leads.
struct location_s {
    std::string disk_path;
    int32_t disk_number = -1;
    int32_t partition_number = 0;
    uint64_t start_offset = 0;
    uint64_t length = 0;
    bool whole_disk = false;
};

// The operating-system side of disk access. One Linux implementation; tests install fakes.
class platform_backend_c {
public:
    virtual ~platform_backend_c() = default;

    // Whole disks in their listing order, images given with add_image after the real ones.
    // 0, or -1 when the system's disks cannot be listed at all (out then holds the images).
    virtual int disk_paths(std::vector<std::string>& out) = 0;
    // Size and geometry of one disk. 0 on success, -1 when it cannot be opened or queried.
    virtual int query_disk(const std::string& path, disk_probe_s& out) = 0;
    // The volumes on one listed disk. disk_number is its position in the list.
    virtual std::vector<volume_probe_s> volumes_of(const disk_probe_s& disk,
                                                   int32_t disk_number) = 0;
    // Opens a disk, image or any readable file read-only; nullptr on failure.
    virtual std::unique_ptr<block_source_c> open_read(const std::string& path) = 0;
};

// The backend in use (the Linux one unless a test installed another).
platform_backend_c& platform();
// Installs `backend` (nullptr restores the Linux one). For tests.
void set_platform(std::unique_ptr<platform_backend_c> backend);

// Disk images given on the command line: each is one more disk after the real ones.
// Returns 0, or -1 when the path is not a readable regular file.
int add_image(const std::string& path);
const std::vector<std::string>& image_paths();
void clear_images();

// The listed disks (those that answer query_disk), in order. `status` (optional) gets -1
// when the system's disks could not be listed at all.
std::vector<disk_probe_s> list_disks(int* status = nullptr);
// Every volume of the listed disks.
std::vector<volume_probe_s> list_volumes(int* status = nullptr);

// Natural order of device names: sda < sdb < sdaa, nvme0n1 < nvme1n1 < nvme10n1.
bool natural_name_less(const std::string& a, const std::string& b);

// Resolves a volume path (as list_volumes gives it, with or without one trailing slash),
// a disk or image path, or a partition device node. 0 on success, -1 when unknown.
int resolve_location(const std::string& path, location_s& out);
// Opens what resolve_location finds, as a source that starts at the volume's first byte.
std::unique_ptr<block_source_c> open_location(const location_s& where);
std::unique_ptr<block_source_c> open_volume(const std::string& path);
