#include "platform/slice_source.h"

#include <algorithm>

slice_source_c::slice_source_c(std::shared_ptr<block_source_c> base, uint64_t start,
                               uint64_t length)
    : base_(std::move(base)), start_(start), length_(length) {
    // A partition entry may claim more than the disk holds; never read past either end.
    uint64_t base_size = base_->size();
    start_ = std::min(start_, base_size);
    length_ = std::min(length_, base_size - start_);
}

int64_t slice_source_c::read_at(uint64_t offset, void* buffer, size_t len) {
    if (offset >= length_) {
        return 0;
    }
    size_t count = static_cast<size_t>(std::min<uint64_t>(len, length_ - offset));
    return base_->read_at(start_ + offset, buffer, count);
}
