#pragma once

// What the fuzz programs share: a volume that is the fuzzer's bytes followed by zeros, a
// platform backend that serves it as a disk, and a private scratch folder.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/block_source.h"

// The fuzzer's bytes as the first bytes of a volume of `size` bytes; the rest reads as
// zeros. Lets a corpus entry hold only the part of an image that is not blank.
class zero_tail_source_c : public block_source_c {
public:
    zero_tail_source_c(const uint8_t* data, size_t len, uint64_t size);

    int64_t read_at(uint64_t offset, void* buffer, size_t len) override;
    uint64_t size() const override { return size_; }

private:
    std::vector<uint8_t> bytes_;
    uint64_t size_;
};

// Volumes are cut here: big enough for every seed, small enough that a hostile size field
// does not make each run walk gigabytes of zeros.
constexpr uint64_t fuzz_max_volume_bytes = 64ull << 20;

// The size a FAT or NTFS boot sector at the start of `data` gives its volume (bytes per
// sector times total sectors), at least `len` and at most fuzz_max_volume_bytes.
uint64_t fat_declared_bytes(const uint8_t* data, size_t len);
uint64_t ntfs_declared_bytes(const uint8_t* data, size_t len);

// Installs a platform backend with one disk, fuzz_disk_path, that reads `source`.
// Replaces the disk of the previous call.
extern const char* const fuzz_disk_path;
void serve_fuzz_disk(std::shared_ptr<block_source_c> source);

// A folder private to this process, removed at exit; also where the engines' logs go.
const std::string& fuzz_scratch_dir();
