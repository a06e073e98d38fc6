#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class block_source_c;

// One block of the device as the pipeline delivers it.
struct block_s {
    uint64_t offset = 0;
    size_t length = 0;                // fewer than the block size only at the end of the device
    std::unique_ptr<uint8_t[]> data;  // null unless the pipeline keeps the bytes
    uint64_t generation = 0;
    std::vector<uint32_t> hits;  // offsets in the block that the inspector picked
};

// Looks at freshly read bytes (`offset` is their place on the device) while they are still
// in the cache, and appends the offsets worth a closer look (relative to `block_start`).
using block_inspector_fn = std::function<void(const uint8_t* p, size_t n, uint64_t offset,
                                              uint64_t block_start, std::vector<uint32_t>& hits)>;

// Reads a source front to back in large blocks on its own threads, a few blocks ahead of the
// consumer, so that reading and matching overlap; blocks reach the consumer in order. A
// source of one block is read on the consumer's thread when it asks for it.
// Unreadable sectors arrive as zeros.
class block_pipeline_c {
public:
    // With `keep_data` false the blocks carry only the inspector's hits, not their bytes.
    block_pipeline_c(block_source_c& source, size_t block_bytes, size_t depth, size_t readers,
                     block_inspector_fn inspector, bool keep_data);
    ~block_pipeline_c();
    block_pipeline_c(const block_pipeline_c&) = delete;
    block_pipeline_c& operator=(const block_pipeline_c&) = delete;

    // The next block in order, valid until the next call; null after the last block.
    const block_s* next();
    // Drops what was read ahead and goes on from `offset` (a multiple of the block size).
    void restart(uint64_t offset);
    // Offset the reader will deliver after the blocks already queued.
    uint64_t read_ahead_end();

private:
    void reader_loop();
    void fill(block_s& block, uint8_t* piece_buffer);

    block_source_c& source_;
    const size_t block_bytes_;
    const block_inspector_fn inspector_;
    const bool keep_data_;
    const uint64_t source_size_;
    const size_t buffer_bytes_;  // bytes of each block's buffer and at most of each piece
    std::vector<block_s> slots_;
    std::deque<size_t> free_;
    std::vector<size_t> filled_;  // possibly out of order when several threads read
    uint64_t expected_ = 0;       // offset of the block the consumer takes next
    size_t held_ = SIZE_MAX;      // slot the consumer holds
    size_t in_flight_ = 0;
    uint64_t next_offset_ = 0;
    uint64_t generation_ = 0;
    bool quit_ = false;
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<std::thread> readers_;         // none when the source fits in one block
    std::unique_ptr<uint8_t[]> inline_piece_;  // the piece buffer when there are no readers
};
