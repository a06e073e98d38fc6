#include "libs/sigscan/block_pipeline.h"

#include <algorithm>
#include <cstring>

#include "platform/block_source.h"

namespace {

// A block that fails as a whole is read again in these pieces, so that one bad sector
// costs only itself.
constexpr size_t retry_piece_bytes = 512;
// Blocks are read in pieces small enough to be inspected while they are still in the cache.
constexpr size_t inspect_piece_bytes = 128 * 1024;

}  // namespace

block_pipeline_c::block_pipeline_c(block_source_c& source, size_t block_bytes, size_t depth,
                                   size_t readers, block_inspector_fn inspector, bool keep_data)
    : source_(source),
      block_bytes_(block_bytes),
      inspector_(std::move(inspector)),
      keep_data_(keep_data),
      source_size_(source.size()),
      // A small source needs neither whole blocks nor more of them than it holds.
      buffer_bytes_(static_cast<size_t>(
          std::max<uint64_t>(std::min<uint64_t>(block_bytes, source_size_), 1))) {
    const uint64_t blocks = source_size_ / block_bytes + 1;
    depth = static_cast<size_t>(std::clamp<uint64_t>(blocks, 1, std::max<size_t>(depth, 1)));
    readers = static_cast<size_t>(std::clamp<uint64_t>(blocks, 1, std::max<size_t>(readers, 1)));
    slots_.resize(depth);
    for (size_t i = 0; i < depth; ++i) {
        if (keep_data_) {
            slots_[i].data = std::make_unique_for_overwrite<uint8_t[]>(buffer_bytes_);
        }
        free_.push_back(i);
    }
    source_.advise_sequential();
    if (source_size_ <= block_bytes_) {
        // One block: the consumer reads it itself, as starting a thread would cost more.
        if (!keep_data_) {
            inline_piece_ = std::make_unique_for_overwrite<uint8_t[]>(
                std::min(inspect_piece_bytes, buffer_bytes_));
        }
        return;
    }
    for (size_t i = 0; i < readers; ++i) {
        readers_.emplace_back([this] { reader_loop(); });
    }
}

block_pipeline_c::~block_pipeline_c() {
    {
        std::lock_guard<std::mutex> hold(lock_);
        quit_ = true;
    }
    changed_.notify_all();
    for (std::thread& reader : readers_) {
        reader.join();
    }
}

void block_pipeline_c::fill(block_s& block, uint8_t* piece_buffer) {
    size_t wanted = static_cast<size_t>(
        std::min<uint64_t>(block_bytes_, source_size_ - std::min(source_size_, block.offset)));
    block.hits.clear();
    size_t done = 0;
    while (done < wanted) {
        // Without kept data every piece goes through one small buffer, as a plain copy
        // loop would: the copy then stays in the cache instead of streaming to memory.
        uint8_t* dest = keep_data_ ? block.data.get() + done : piece_buffer;
        size_t ask = std::min(inspect_piece_bytes, wanted - done);
        int64_t got = source_.read_at(block.offset + done, dest, ask);
        if (got == 0) {
            break;  // the source ended early
        }
        if (got < 0) {
            // A read error: go on sector by sector, zero-filling what cannot be read.
            got = static_cast<int64_t>(std::min(retry_piece_bytes, wanted - done));
            if (read_exact(source_, block.offset + done, dest, static_cast<size_t>(got)) != 0) {
                std::memset(dest, 0, static_cast<size_t>(got));
            }
        }
        if (inspector_) {
            inspector_(dest, static_cast<size_t>(got), block.offset + done, block.offset,
                       block.hits);
        }
        done += static_cast<size_t>(got);
    }
    block.length = done;
}

void block_pipeline_c::reader_loop() {
    std::unique_ptr<uint8_t[]> piece_buffer;
    if (!keep_data_) {
        piece_buffer =
            std::make_unique_for_overwrite<uint8_t[]>(std::min(inspect_piece_bytes, buffer_bytes_));
    }
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
        fill(block, piece_buffer.get());
        hold.lock();
        --in_flight_;
        if (block.generation == generation_) {
            filled_.push_back(slot);  // an empty block tells the consumer the source ended
        } else {
            free_.push_back(slot);
        }
        changed_.notify_all();
    }
}

const block_s* block_pipeline_c::next() {
    if (readers_.empty()) {
        if (expected_ >= source_size_) {
            return nullptr;
        }
        block_s& block = slots_.front();
        block.offset = expected_;
        block.generation = generation_;
        fill(block, inline_piece_.get());
        if (block.length == 0) {
            return nullptr;  // the source ended before its stated size
        }
        expected_ += block_bytes_;
        next_offset_ = expected_;
        return &block;
    }
    std::unique_lock<std::mutex> hold(lock_);
    if (held_ != SIZE_MAX) {
        free_.push_back(held_);
        held_ = SIZE_MAX;
        changed_.notify_all();
    }
    auto ready = filled_.end();
    changed_.wait(hold, [this, &ready] {
        ready = std::find_if(filled_.begin(), filled_.end(),
                             [this](size_t slot) { return slots_[slot].offset == expected_; });
        return ready != filled_.end() || expected_ >= source_size_;
    });
    if (ready == filled_.end()) {
        return nullptr;
    }
    size_t slot = *ready;
    filled_.erase(ready);
    held_ = slot;
    if (slots_[slot].length == 0) {
        return nullptr;  // the source ended before its stated size
    }
    expected_ += block_bytes_;
    return &slots_[slot];
}

void block_pipeline_c::restart(uint64_t offset) {
    std::lock_guard<std::mutex> hold(lock_);
    ++generation_;
    for (size_t slot : filled_) {
        free_.push_back(slot);
    }
    filled_.clear();
    next_offset_ = offset;
    expected_ = offset;
    changed_.notify_all();
}

uint64_t block_pipeline_c::read_ahead_end() {
    std::lock_guard<std::mutex> hold(lock_);
    return next_offset_;
}
