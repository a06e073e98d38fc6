#pragma once

#include <memory>
#include <string>

#include "platform/block_source.h"

// A regular file or a block device opened read-only. The descriptor is never opened for
// writing: scanning must not change a byte of the source.
class file_source_c : public block_source_c {
public:
    // Opens `path` for reading. Returns nullptr on failure (errno tells why).
    static std::unique_ptr<file_source_c> open(const std::string& path);
    ~file_source_c() override;
    file_source_c(const file_source_c&) = delete;
    file_source_c& operator=(const file_source_c&) = delete;

    int64_t read_at(uint64_t offset, void* buffer, size_t len) override;
    uint64_t size() const override { return size_; }
    bool present() override;
    void advise_sequential() override;

    int fd() const { return fd_; }
    bool is_block_device() const { return block_device_; }

private:
    file_source_c(int fd, uint64_t size, bool block_device, std::string path);
    int fd_;
    uint64_t size_;
    bool block_device_;
    std::string path_;
};
