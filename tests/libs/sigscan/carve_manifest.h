#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One file placed in a carving fixture, as its manifest lists it.
struct manifest_row_s {
    std::string name;
    uint64_t offset = 0;
    uint64_t size = 0;
    std::string sha256;
    std::string expectation;  // "exact", "partial" or "none"
};

// Reads tests/fixtures/<path>; empty when it is missing.
std::vector<manifest_row_s> read_manifest(const std::string& path);
