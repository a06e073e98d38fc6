#pragma once

#include <memory>

#include "platform/block_source.h"

// A window [start, start + length) of another source: a partition of a disk or image.
class slice_source_c : public block_source_c {
public:
    slice_source_c(std::shared_ptr<block_source_c> base, uint64_t start, uint64_t length);

    int64_t read_at(uint64_t offset, void* buffer, size_t len) override;
    uint64_t size() const override { return length_; }
    bool present() override { return base_->present(); }
    void advise_sequential() override { base_->advise_sequential(); }

private:
    std::shared_ptr<block_source_c> base_;
    uint64_t start_;
    uint64_t length_;
};
