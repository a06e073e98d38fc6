#pragma once

#include <cstdint>

#include "engines/fat/fat_layout.h"

// Long names are at most 255 UTF-16 units; the work buffer keeps one more for the zero.
constexpr uint32_t long_name_capacity = 256;
constexpr uint32_t long_name_max_length = 255;

// Checksum of the 11 name bytes of a short entry, as its long-name parts carry it.
uint8_t sfn_checksum(const uint8_t* name);

// Stores the characters of long-name part `entry` into `work` at the place its sequence
// number `order` (1..20) gives. false when the part is malformed or runs past 255 units.
bool collect_lfn_part(char16_t* work, const uint8_t* entry, uint32_t order);

// The first byte of a deleted short entry is lost. Finds the byte that makes the checksum of
// `name` (bytes 1..10 as stored) equal `checksum`, and checks that a short name may start
// with it. Returns the byte as it was stored (0x05 for a real 0xE5), or -1.
int restore_first_byte(const uint8_t* name, uint8_t checksum);

// The long-name parts met (deleted, so without usable sequence numbers) before a deleted
// short entry, in physical order; the last one added is part 1 of the name.
struct deleted_parts_s {
    char16_t chars[lfn_max_parts][lfn_chars_per_part] = {};
    uint8_t checksums[lfn_max_parts] = {};
    uint32_t count = 0;  // parts kept, at most lfn_max_parts (the newest)
    uint32_t first = 0;  // ring position of the oldest kept part

    void clear() { count = first = 0; }
    void add(const uint8_t* entry);
    // Assembles the name that ends at the newest part, into `work` (zero-terminated), and
    // gives its checksum. false when the parts do not make a well-formed name.
    bool assemble(char16_t* work, uint8_t& checksum) const;
};
