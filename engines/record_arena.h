#pragma once

#include <cstddef>
#include <cstdint>
#include <memory_resource>
#include <vector>

// Storage for an engine's record map and for the listings made from it: large blocks handed
// out front to back and returned all at once. A volume's scan stores 100,000s of records of
// about 600 bytes; taken one by one from the heap, each new page of them costs a page fault,
// which on a virtual machine can cost more than reading the records did. The blocks ask the
// kernel for huge pages, so tens of megabytes take a few dozen faults instead of thousands.
//
// Freed memory is reused only after release(). In sanitizer builds every allocation goes to
// the ordinary heap instead, so that the sanitizer still checks each allocation on its own.
class record_arena_c : public std::pmr::memory_resource {
public:
    record_arena_c() = default;
    ~record_arena_c() override { release(); }
    record_arena_c(const record_arena_c&) = delete;
    record_arena_c& operator=(const record_arena_c&) = delete;

    // Returns every block to the system. Nothing allocated from the arena may be in use.
    void release();

protected:
    void* do_allocate(size_t bytes, size_t alignment) override;
    void do_deallocate(void* p, size_t bytes, size_t alignment) override;
    bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override {
        return this == &other;
    }

private:
    struct block_s {
        void* base = nullptr;
        size_t length = 0;
    };
    std::vector<block_s> blocks_;
    uintptr_t next_ = 0;
    size_t left_ = 0;
};
