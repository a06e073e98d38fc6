#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "libs/sigscan/sigscan.h"
#include "platform/memory_source.h"

// A find as the scan reports it.
struct test_find_s {
    std::string extension;
    uint64_t start = 0;
    uint64_t size = 0;
};

inline void test_collect(void* user, const char* extension, uint64_t start, uint64_t size) {
    static_cast<std::vector<test_find_s>*>(user)->push_back({extension, start, size});
}

// Scans `bytes` with the configuration in force.
inline std::vector<test_find_s> scan_bytes(const std::vector<uint8_t>& bytes) {
    std::vector<test_find_s> finds;
    memory_source_c source(bytes);
    sc_control_s control;
    control.user = &finds;
    control.found_callback = test_collect;
    sc_scan_source(&control, source);
    return finds;
}

// Deterministic noise that starts no known file at any 512-byte boundary.
inline std::vector<uint8_t> test_noise(size_t n, uint32_t seed) {
    std::vector<uint8_t> bytes(n);
    for (size_t i = 0; i < n; ++i) {
        seed = seed * 1103515245u + 12345u;
        bytes[i] = static_cast<uint8_t>(seed >> 16);
    }
    for (size_t i = 0; i < n; i += 512) {
        bytes[i] = 0x11;  // no built-in header starts with this byte
    }
    return bytes;
}

inline void put(std::vector<uint8_t>& bytes, size_t at, const std::vector<uint8_t>& data) {
    std::copy(data.begin(), data.end(), bytes.begin() + static_cast<long>(at));
}

inline std::vector<uint8_t> be32_bytes(uint32_t v) {
    return {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16),
            static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
}

inline std::vector<uint8_t> text_bytes(const std::string& text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}

inline std::vector<uint8_t> join(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> out;
    for (const auto& part : parts) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}
