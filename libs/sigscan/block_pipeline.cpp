#include "libs/sigscan/block_pipeline.h"

#include <algorithm>
#include <cstring>

#include "platform/block_source.h"

namespace {

// A block that fails as a whole is read again in these pieces, so that one bad sector
// costs only itself.
constexpr size_t retry_piece_bytes = 512;
// Blocks are read in pieces small enough to be inspected while they are still in the cache.
constexpr size_t inspect_piece_bytes = 256 * 1024;

}  // namespace

block_pipeline_c::block_pipeline_c(block_source_c& source, size_t block_bytes, size_t depth,
                                   block_inspector_fn inspector)
    : source_(source),
      block_bytes_(block_bytes),
      inspector_(std::move(inspector)),
      source_size_(source.size()) {
    slots_.resize(depth);
    for (size_t i = 0; i < depth; ++i) {
        slots_[i].data = std::make_unique_for_overwrite<uint8_t[]>(block_bytes);
        free_.push_back(i);
    }
    source_.advise_sequential();
    reader_ = std::thread([this] { reader_loop(); });
}

block_pipeline_c::~block_pipeline_c() {
    {
        std::lock_guard<std::mutex> hold(lock_);
        quit_ = true;
    }
    changed_.notify_all();
    reader_.join();
}

void block_pipeline_c::fill(block_s& block) {
    size_t wanted = static_cast<size_t>(
        std::min<uint64_t>(block_bytes_, source_size_ - std::min(source_size_, block.offset)));
    block.hits.clear();
    size_t done = 0;
    size_t inspected = 0;
    while (done < wanted) {
        size_t ask = std::min(inspect_piece_bytes, wanted - done);
        int64_t got = source_.read_at(block.offset + done, block.data.get() + done, ask);
        if (got == 0) {
            break;  // the source ended early
        }
        if (got > 0) {
            done += static_cast<size_t>(got);
        } else {
            // A read error: go on sector by sector, zero-filling what cannot be read.
            size_t piece = std::min(retry_piece_bytes, wanted - done);
            if (read_exact(source_, block.offset + done, block.data.get() + done, piece) != 0) {
                std::memset(block.data.get() + done, 0, piece);
            }
            done += piece;
        }
        if (inspector_ && (done - inspected >= inspect_piece_bytes || done == wanted)) {
            inspector_(block.data.get() + inspected, done - inspected, block.offset + inspected,
                       block.offset, block.hits);
            inspected = done;
        }
    }
    if (inspector_ && inspected < done) {
        inspector_(block.data.get() + inspected, done - inspected, block.offset + inspected,
                   block.offset, block.hits);
    }
    block.length = done;
}

void block_pipeline_c::reader_loop() {
    std::unique_lock<std::mutex> hold(lock_);
    for (;;) {
        changed_.wait(hold,
                      [this] { return quit_ || (!free_.empty() && next_offset_ < source_size_); });
        if (quit_) {
            return;
        }
        size_t slot = free_.front();
        free_.pop_front();
        block_s& block = slots_[slot];
        block.offset = next_offset_;
        block.generation = generation_;
        next_offset_ += block_bytes_;
        ++in_flight_;
        hold.unlock();
        fill(block);
        hold.lock();
        --in_flight_;
        if (block.generation == generation_ && block.length > 0) {
            filled_.push_back(slot);
        } else {
            free_.push_back(slot);
        }
        changed_.notify_all();
    }
}

const block_s* block_pipeline_c::next() {
    std::unique_lock<std::mutex> hold(lock_);
    if (held_ != SIZE_MAX) {
        free_.push_back(held_);
        held_ = SIZE_MAX;
        changed_.notify_all();
    }
    changed_.wait(hold, [this] {
        return !filled_.empty() || (next_offset_ >= source_size_ && in_flight_ == 0);
    });
    if (filled_.empty()) {
        return nullptr;
    }
    held_ = filled_.front();
    filled_.pop_front();
    return &slots_[held_];
}

void block_pipeline_c::restart(uint64_t offset) {
    std::lock_guard<std::mutex> hold(lock_);
    ++generation_;
    for (size_t slot : filled_) {
        free_.push_back(slot);
    }
    filled_.clear();
    next_offset_ = offset;
    changed_.notify_all();
}

uint64_t block_pipeline_c::read_ahead_end() {
    std::lock_guard<std::mutex> hold(lock_);
    return next_offset_;
}
