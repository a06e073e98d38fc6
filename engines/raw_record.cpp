#include "engines/raw_record.h"

#include <cstring>

namespace {

void store64(uint8_t* out, uint64_t value) {
    for (int i = 0; i < 8; ++i) {
        out[i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

uint64_t load64(const uint8_t* in) {
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i) {
        value = (value << 8) | in[i];
    }
    return value;
}

}  // namespace

void raw_record_store(const raw_record_s& record, uint8_t* out) {
    store64(out + raw_record_index_at, record.index);
    store64(out + raw_record_start_at, record.start_offset);
    store64(out + raw_record_size_at, record.size);
    std::memcpy(out + raw_record_extension_at, record.extension, raw_record_extension_bytes);
}

raw_record_s raw_record_load(const uint8_t* in) {
    raw_record_s record;
    record.index = load64(in + raw_record_index_at);
    record.start_offset = load64(in + raw_record_start_at);
    record.size = load64(in + raw_record_size_at);
    std::memcpy(record.extension, in + raw_record_extension_at, raw_record_extension_bytes);
    return record;
}

std::string raw_record_extension(const raw_record_s& record) {
    size_t length = 0;
    while (length < raw_record_extension_bytes && record.extension[length] != 0) {
        ++length;
    }
    return std::string(record.extension, length);
}
