#include "engines/fat/long_name.h"

#include <cstring>

namespace {

constexpr char16_t lfn_padding = 0xFFFF;

// Characters a short name may not contain.
bool forbidden_in_short_name(uint8_t byte) {
    return std::strchr("\"*+,./:;<=>?[\\]|", byte) != nullptr && byte != 0;
}

}  // namespace

uint8_t sfn_checksum(const uint8_t* name) {
    uint8_t sum = 0;
    for (uint32_t i = 0; i < dir_name_length; ++i) {
        sum = uint8_t(((sum & 1) << 7) + (sum >> 1) + name[i]);
    }
    return sum;
}

bool collect_lfn_part(char16_t* work, const uint8_t* entry, uint32_t order) {
    if (order < 1 || order > lfn_max_parts) {
        return false;
    }
    uint32_t at = (order - 1) * lfn_chars_per_part;
    bool ended = false;
    for (uint32_t offset : lfn_char_offsets) {
        char16_t c = load_u16(entry + offset);
        if (ended) {
            if (c != lfn_padding) {
                return false;
            }
            continue;
        }
        if (c == 0) {
            ended = true;
            continue;
        }
        if (at >= long_name_max_length) {
            return false;
        }
        work[at++] = c;
    }
    if (entry[lfn_order] & lfn_last_part) {
        work[at] = 0;  // at <= 255 < long_name_capacity
    } else if (ended) {
        return false;  // only the last part may end early
    }
    return true;
}

int restore_first_byte(const uint8_t* name, uint8_t checksum) {
    uint8_t copy[dir_name_length];
    std::memcpy(copy, name, dir_name_length);
    for (uint32_t byte = 0; byte < 256; ++byte) {
        copy[0] = uint8_t(byte);
        if (sfn_checksum(copy) != checksum) {
            continue;
        }
        // The checksum is a bijection of the first byte: this is the only candidate.
        bool valid = byte == dir_mark_e5_stored ||
                     (byte > 0x20 && byte != 0x7F && byte != dir_mark_deleted &&
                      !(byte >= 'a' && byte <= 'z') && !forbidden_in_short_name(uint8_t(byte)));
        return valid ? int(byte) : -1;
    }
    return -1;
}

void deleted_parts_s::add(const uint8_t* entry) {
    uint32_t slot = (first + count) % lfn_max_parts;
    if (count == lfn_max_parts) {
        first = (first + 1) % lfn_max_parts;  // drop the oldest
    } else {
        ++count;
    }
    for (uint32_t i = 0; i < lfn_chars_per_part; ++i) {
        chars[slot][i] = load_u16(entry + lfn_char_offsets[i]);
    }
    checksums[slot] = entry[lfn_checksum];
}

bool deleted_parts_s::assemble(char16_t* work, uint8_t& checksum) const {
    if (count == 0) {
        return false;
    }
    auto slot_of = [this](uint32_t k) { return (first + k) % lfn_max_parts; };
    checksum = checksums[slot_of(count - 1)];
    // The parts of this name: the newest ones that carry its checksum.
    uint32_t parts = 0;
    while (parts < count && checksums[slot_of(count - 1 - parts)] == checksum) {
        ++parts;
    }
    uint32_t at = 0;
    for (uint32_t n = 0; n < parts; ++n) {
        const char16_t* part = chars[slot_of(count - 1 - n)];
        bool last = n + 1 == parts;  // the part met first ends the name
        bool ended = false;
        for (uint32_t i = 0; i < lfn_chars_per_part; ++i) {
            char16_t c = part[i];
            if (ended) {
                if (c != lfn_padding) {
                    return false;
                }
            } else if (c == 0) {
                if (!last) {
                    return false;
                }
                ended = true;
            } else {
                if (at >= long_name_max_length) {
                    return false;
                }
                work[at++] = c;
            }
        }
    }
    work[at] = 0;
    return at > 0;
}
