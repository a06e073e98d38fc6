#pragma once

#include <cstdint>
#include <vector>

#include "platform/block_source.h"

// A byte buffer that looks like a disk: for unit tests and fuzzers.
class memory_source_c : public block_source_c {
public:
    explicit memory_source_c(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}

    int64_t read_at(uint64_t offset, void* buffer, size_t len) override;
    uint64_t size() const override { return bytes_.size(); }
    bool present() override { return present_; }

    // Lets a test pull the medium out.
    void set_present(bool present) { present_ = present; }
    // Lets a test make every read fail from this offset on (a bad area).
    void fail_reads_from(uint64_t offset) { fail_from_ = offset; }
    const std::vector<uint8_t>& bytes() const { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
    bool present_ = true;
    uint64_t fail_from_ = UINT64_MAX;
};
