#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class block_source_c;

// Memory for a view's window. A scan keeps one and lends it to each view in turn, so that
// the many short-lived candidates share a single allocation.
struct carve_buffer_s {
    std::unique_ptr<uint8_t[]> bytes;
    size_t capacity = 0;
};

// What a format reader sees of the device: the bytes from a candidate file's first byte up
// to its limit (the type's maximum size or the end of the device, whichever comes first),
// read through a window so that walking a structure costs few reads.
class carve_view_c {
public:
    // Tells whether another recognised file starts at the absolute 512-byte boundary
    // `offset`, given the bytes there.
    using header_test_fn = std::function<bool(uint64_t offset, const uint8_t* p, size_t n)>;

    // `buffer` (optional) is the window's memory, lent for the view's lifetime; without it
    // the view allocates its own, no larger than the file may be.
    carve_view_c(block_source_c& source, uint64_t start, uint64_t limit,
                 const header_test_fn* header_test, const std::atomic<int32_t>* stop,
                 carve_buffer_s* buffer = nullptr);
    carve_view_c(const carve_view_c&) = delete;
    carve_view_c& operator=(const carve_view_c&) = delete;

    uint64_t start() const { return start_; }
    // Bytes the file may span at most, counted from its first byte.
    uint64_t limit() const { return limit_; }

    // Copies `n` bytes at `rel` (relative to the file's start). False when they lie past the
    // limit or cannot be read.
    bool read(uint64_t rel, void* out, size_t n);
    // Up to `want` bytes at `rel` (want at most window_bytes / 2); `got` says how many are
    // there (0 at the limit or on a read error).
    const uint8_t* span(uint64_t rel, size_t want, size_t& got);

    // Offset (relative) of the first 512-byte boundary in [from, to) where another recognised
    // file starts, or UINT64_MAX. Boundaries already checked are not checked again.
    uint64_t next_file_start(uint64_t from, uint64_t to);

    // Last occurrence of `pattern` that starts in [from, to), or UINT64_MAX; the search ends
    // at the first boundary where another recognised file starts. `end_seen` (optional) gets
    // the offset where the search stopped.
    uint64_t find_last(const std::vector<uint8_t>& pattern, uint64_t from, uint64_t to,
                       uint64_t* end_seen);

    // True once the caller asked the scan to stop (long walks check it now and then).
    bool stopped() const { return stop_ && stop_->load(std::memory_order_relaxed) != 0; }

    static constexpr size_t window_bytes = 1u << 20;
    // Most candidates are small files or are rejected within their first bytes: the first
    // read is short and each later one four times longer, up to the whole window.
    static constexpr size_t first_fill_bytes = 64u << 10;

private:
    bool fill(uint64_t rel);

    block_source_c& source_;
    uint64_t start_;
    uint64_t limit_;
    const header_test_fn* header_test_;
    const std::atomic<int32_t>* stop_;
    carve_buffer_s own_buffer_;
    carve_buffer_s* buffer_;
    size_t fills_ = 0;
    uint64_t window_rel_ = 0;
    size_t window_len_ = 0;
    bool window_valid_ = false;
    uint64_t fence_checked_ = 0;  // boundaries below this (relative) were tested
    uint64_t fence_ = UINT64_MAX;
};
