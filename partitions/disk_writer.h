#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "partitions/partition_table.h"

// The one place in the program that opens a disk for writing; only the partition-table
// repair uses it, and only after the user confirmed. The disk is opened exclusively, so the
// kernel refuses while any of its partitions is mounted or otherwise in use.
class disk_writer_c {
public:
    // Opens a whole disk or a disk image for reading and writing. nullptr with `error` set
    // when it is no whole disk or image, is in use, or cannot be opened.
    static std::unique_ptr<disk_writer_c> open(const std::string& path, std::string& error);
    ~disk_writer_c();
    disk_writer_c(const disk_writer_c&) = delete;
    disk_writer_c& operator=(const disk_writer_c&) = delete;

    uint64_t size() const { return size_; }
    bool is_block_device() const { return block_device_; }

    // Reads one 512-byte sector. 0, or -1 on a failed or short read.
    int read_sector(uint64_t lba, sector_bytes_t& out);
    // Writes one sector, flushes it to the medium, reads it back past the cache and compares.
    // 0, or -1 with `error` set when any step fails or the read-back differs.
    int write_sector_verified(uint64_t lba, const sector_bytes_t& bytes, std::string& error);
    // Asks the kernel to read the partition table again (block devices; a no-op for images).
    // 0, or -1 with `error` set.
    int reread_partition_table(std::string& error);

private:
    disk_writer_c(int fd, uint64_t size, bool block_device);
    int fd_;
    uint64_t size_;
    bool block_device_;
};
