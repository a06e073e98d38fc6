#include "platform/block_source.h"

int read_exact(block_source_c& source, uint64_t offset, void* buffer, size_t len) {
    auto* out = static_cast<uint8_t*>(buffer);
    size_t done = 0;
    while (done < len) {
        int64_t got = source.read_at(offset + done, out + done, len - done);
        if (got <= 0) {
            return -1;
        }
        done += static_cast<size_t>(got);
    }
    return 0;
}
