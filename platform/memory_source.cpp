#include "platform/memory_source.h"

#include <algorithm>
#include <cstring>

int64_t memory_source_c::read_at(uint64_t offset, void* buffer, size_t len) {
    if (!present_) {
        return -1;
    }
    if (offset >= bytes_.size()) {
        return 0;
    }
    size_t count = static_cast<size_t>(std::min<uint64_t>(len, bytes_.size() - offset));
    if (offset + count > fail_from_) {
        return -1;
    }
    std::memcpy(buffer, bytes_.data() + offset, count);
    return static_cast<int64_t>(count);
}
