#include "libs/sigscan/carve_view.h"

#include <algorithm>
#include <cstring>

#include "libs/sigscan/format_reader.h"
#include "platform/block_source.h"

namespace {

constexpr uint64_t window_alignment = 4096;

// First occurrence of `needle` in `hay`, or null. On noise the first byte is rare enough that
// a memchr walk beats a general substring search.
const uint8_t* find_bytes(const uint8_t* hay, size_t n, const uint8_t* needle, size_t m) {
    if (m == 0 || n < m) {
        return nullptr;
    }
    const uint8_t* end = hay + n - m + 1;
    for (const uint8_t* at = hay; at < end; ++at) {
        at = static_cast<const uint8_t*>(std::memchr(at, needle[0], static_cast<size_t>(end - at)));
        if (!at) {
            return nullptr;
        }
        // On noise the second byte already tells most first-byte hits apart.
        if (m == 1 || (at[1] == needle[1] && std::memcmp(at + 2, needle + 2, m - 2) == 0)) {
            return at;
        }
    }
    return nullptr;
}

}  // namespace

carve_view_c::carve_view_c(block_source_c& source, uint64_t start, uint64_t limit,
                           const header_test_fn* header_test, const std::atomic<int32_t>* stop,
                           carve_buffer_s* buffer)
    : source_(source),
      start_(start),
      limit_(limit),
      header_test_(header_test),
      stop_(stop),
      buffer_(buffer ? buffer : &own_buffer_) {}

bool carve_view_c::fill(uint64_t rel) {
    // A window starts at or after the file's first byte and never runs past its limit.
    const size_t needed = static_cast<size_t>(std::min<uint64_t>(window_bytes, limit_));
    if (buffer_->capacity < needed) {
        buffer_->bytes.reset();
        buffer_->bytes = std::make_unique_for_overwrite<uint8_t[]>(needed);
        buffer_->capacity = needed;
    }
    uint8_t* const window = buffer_->bytes.get();
    window_rel_ = rel - ((start_ + rel) % window_alignment);
    if (window_rel_ > rel) {  // start_ itself was not aligned and rel is near 0
        window_rel_ = 0;
    }
    size_t grown = first_fill_bytes << std::min<size_t>(2 * fills_++, 8);
    uint64_t wanted = std::min<uint64_t>(std::min(grown, window_bytes), limit_ - window_rel_);
    size_t done = 0;
    size_t ask = static_cast<size_t>(wanted);
    while (done < wanted) {
        ask = std::min<size_t>(ask, static_cast<size_t>(wanted - done));
        int64_t got = source_.read_at(start_ + window_rel_ + done, window + done, ask);
        if (got > 0) {
            done += static_cast<size_t>(got);
            continue;
        }
        // A read error may lie further on: ask for less until only the bad sector is left.
        if (got == 0 || ask <= sc_sector_bytes) {
            break;
        }
        ask /= 2;
    }
    window_len_ = done;
    window_valid_ = true;
    return rel < window_rel_ + window_len_;
}

const uint8_t* carve_view_c::span(uint64_t rel, size_t want, size_t& got) {
    got = 0;
    if (rel >= limit_) {
        return nullptr;
    }
    want = static_cast<size_t>(std::min<uint64_t>({want, limit_ - rel, window_bytes / 2}));
    bool inside = window_valid_ && rel >= window_rel_ && rel + want <= window_rel_ + window_len_;
    if (!inside && !fill(rel)) {
        return nullptr;
    }
    uint64_t offset = rel - window_rel_;
    got = static_cast<size_t>(std::min<uint64_t>(want, window_len_ - offset));
    return buffer_->bytes.get() + offset;
}

bool carve_view_c::read(uint64_t rel, void* out, size_t n) {
    auto* dest = static_cast<uint8_t*>(out);
    while (n > 0) {
        size_t got = 0;
        const uint8_t* p = span(rel, n, got);
        if (got == 0) {
            return false;
        }
        std::memcpy(dest, p, got);
        dest += got;
        rel += got;
        n -= got;
    }
    return true;
}

uint64_t carve_view_c::next_file_start(uint64_t from, uint64_t to) {
    if (!header_test_) {
        return UINT64_MAX;
    }
    to = std::min(to, limit_);
    if (fence_ != UINT64_MAX && fence_ >= from) {
        return fence_ < to ? fence_ : UINT64_MAX;
    }
    if (from <= fence_checked_) {
        from = fence_checked_;
    }
    // First absolute 512-byte boundary at or after start_ + from, never the file's own start.
    uint64_t boundary = sc_align_sector(start_ + std::max<uint64_t>(from, 1)) - start_;
    bool contiguous = from <= fence_checked_;
    for (; boundary < to; boundary += sc_sector_bytes) {
        size_t got = 0;
        const uint8_t* p = span(boundary, sc_sector_bytes, got);
        if (got == 0) {
            break;
        }
        if ((*header_test_)(start_ + boundary, p, got)) {
            if (contiguous) {
                fence_ = boundary;
                fence_checked_ = boundary;
            }
            return boundary;
        }
    }
    if (contiguous) {
        fence_checked_ = std::max(fence_checked_, to);
    }
    return UINT64_MAX;
}

uint64_t carve_view_c::find_last(const std::vector<uint8_t>& pattern, uint64_t from, uint64_t to,
                                 uint64_t* end_seen) {
    const size_t m = pattern.size();
    to = std::min(to, limit_);
    uint64_t last = UINT64_MAX;
    uint64_t pos = from;
    while (pos < to && m > 0) {
        if (stopped()) {
            break;
        }
        size_t got = 0;
        const uint8_t* p = span(pos, window_bytes / 2, got);
        if (got == 0) {
            break;
        }
        uint64_t region_end = pos + got;
        uint64_t fence = next_file_start(pos, region_end);
        bool fenced = fence != UINT64_MAX;
        if (fenced) {
            region_end = fence;
        }
        const uint8_t* base = p;
        size_t region = static_cast<size_t>(region_end - pos);
        for (size_t i = 0; i + m <= region;) {
            const uint8_t* hit = find_bytes(base + i, region - i, pattern.data(), m);
            if (!hit) {
                break;
            }
            size_t at = static_cast<size_t>(hit - base);
            if (pos + at < to) {
                last = pos + at;
            }
            i = at + 1;
        }
        if (fenced || region_end >= limit_) {
            pos = region_end;
            break;
        }
        // Overlap by m - 1 so that a pattern across the seam is seen once.
        uint64_t next = region_end - std::min<uint64_t>(m - 1, region_end - pos);
        pos = next > pos ? next : region_end;
    }
    if (end_seen) {
        *end_seen = std::min(pos, limit_);
    }
    return last;
}
