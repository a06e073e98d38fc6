#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "libs/sigscan/carve_view.h"

// What a format reader found for one candidate.
struct carve_result_s {
    uint64_t size = 0;
    std::string extension;  // empty: the configured extension
};

// A built-in reader of one file format's structure.
struct format_reader_s {
    const char* name;
    // Cheap check of the first bytes (n is at most 512, fewer at the end of the device).
    // Used to decide whether a boundary starts another file. May be null (header alone).
    bool (*probe)(const uint8_t* p, size_t n);
    // Walks the structure from the file's first byte. Returns true with out.size set (at
    // most view.limit()) when this is a file of the format, false when it is not.
    bool (*carve)(carve_view_c& view, carve_result_s& out);
};

// The reader called `name`, or null.
const format_reader_s* sc_find_format(std::string_view name);

// Rounds up to the next multiple of 512.
inline uint64_t sc_align_sector(uint64_t value) {
    return (value + 511) & ~uint64_t{511};
}
constexpr uint64_t sc_sector_bytes = 512;
