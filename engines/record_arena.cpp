#include "engines/record_arena.h"

#include <sys/mman.h>

#include <algorithm>
#include <new>

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool checked_heap = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool checked_heap = true;
#else
constexpr bool checked_heap = false;
#endif
#else
constexpr bool checked_heap = false;
#endif

constexpr size_t huge_page_bytes = 2u << 20;
constexpr size_t block_bytes = 4u << 20;

size_t round_up(size_t value, size_t unit) {
    return (value + unit - 1) / unit * unit;
}

}  // namespace

void record_arena_c::release() {
    for (const block_s& block : blocks_) {
        ::munmap(block.base, block.length);
    }
    blocks_.clear();
    next_ = 0;
    left_ = 0;
}

void* record_arena_c::do_allocate(size_t bytes, size_t alignment) {
    if (checked_heap) {
        return ::operator new(bytes, std::align_val_t(alignment));
    }
    size_t pad = (alignment - next_ % alignment) % alignment;
    if (left_ < pad || left_ - pad < bytes) {
        if (bytes > SIZE_MAX - 2 * huge_page_bytes - alignment) {
            throw std::bad_alloc();
        }
        blocks_.reserve(blocks_.size() + 1);
        const size_t length = std::max(block_bytes, round_up(bytes + alignment, huge_page_bytes));
        // One huge page more than needed, so that the block can start on a huge-page boundary.
        const size_t mapped = length + huge_page_bytes;
        void* map =
            ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (map == MAP_FAILED) {
            throw std::bad_alloc();
        }
        const uintptr_t start = reinterpret_cast<uintptr_t>(map);
        const uintptr_t base = round_up(start, huge_page_bytes);
        if (base > start) {
            ::munmap(map, base - start);
        }
        if (base + length < start + mapped) {
            ::munmap(reinterpret_cast<void*>(base + length), start + mapped - (base + length));
        }
        // Only advice: where huge pages are off, the block is ordinary memory.
        ::madvise(reinterpret_cast<void*>(base), length, MADV_HUGEPAGE);
        blocks_.push_back({reinterpret_cast<void*>(base), length});
        next_ = base;
        left_ = length;
        pad = 0;
    }
    next_ += pad;
    void* out = reinterpret_cast<void*>(next_);
    next_ += bytes;
    left_ -= pad + bytes;
    return out;
}

void record_arena_c::do_deallocate(void* p, size_t /*bytes*/, size_t alignment) {
    if (checked_heap) {
        ::operator delete(p, std::align_val_t(alignment));
    }
    // Otherwise freed with the whole arena.
}
