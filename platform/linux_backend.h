#pragma once

#include <memory>

#include "platform/platform_backend.h"

// Disks from sysfs, partitions and file systems from libblkid, mounts from the mount table.
class linux_backend_c : public platform_backend_c {
public:
    int disk_paths(std::vector<std::string>& out) override;
    int query_disk(const std::string& path, disk_probe_s& out) override;
    std::vector<volume_probe_s> volumes_of(const disk_probe_s& disk, int32_t disk_number) override;
    std::unique_ptr<block_source_c> open_read(const std::string& path) override;
};
