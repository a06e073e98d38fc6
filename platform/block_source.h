#pragma once

#include <cstddef>
#include <cstdint>

// A readable run of bytes: a disk, a disk image, a partition of either, or a buffer.
// Everything above the platform layer reads through this and nothing else.
class block_source_c {
public:
    virtual ~block_source_c() = default;

    // Reads up to `len` bytes at `offset` into `buffer`.
    // Returns the number of bytes read (fewer than `len` only at the end of the source,
    // 0 at or past the end), or -1 on a read error.
    virtual int64_t read_at(uint64_t offset, void* buffer, size_t len) = 0;

    // Size of the source in bytes.
    virtual uint64_t size() const = 0;

    // Cheap check that the medium is still there (false once a disk was removed or an
    // image file deleted).
    virtual bool present() { return true; }

    // Hint that the caller is about to read long stretches in order.
    virtual void advise_sequential() {}
};

// Reads exactly `len` bytes at `offset`. Returns 0 when all were read, -1 otherwise.
int read_exact(block_source_c& source, uint64_t offset, void* buffer, size_t len);
