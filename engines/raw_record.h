#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// One deep-scan find. The same 32 bytes, little-endian, are the records of a ".sav" file.
struct raw_record_s {
    uint64_t index = 0;         // position in the engine's records
    uint64_t start_offset = 0;  // first byte of the file, from the start of the device
    uint64_t size = 0;          // bytes
    char extension[8] = {};     // without a dot; zero-filled, not terminated when 8 long
};

// Layout of a record in a ".sav" file.
constexpr size_t raw_record_bytes = 32;
constexpr size_t raw_record_index_at = 0;
constexpr size_t raw_record_start_at = 8;
constexpr size_t raw_record_size_at = 16;
constexpr size_t raw_record_extension_at = 24;
constexpr size_t raw_record_extension_bytes = 8;

// Stores `record` into 32 bytes at `out`, and reads it back.
void raw_record_store(const raw_record_s& record, uint8_t* out);
raw_record_s raw_record_load(const uint8_t* in);
// The extension of a record as text: at most 8 bytes, up to the first zero byte.
std::string raw_record_extension(const raw_record_s& record);
