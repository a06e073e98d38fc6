#pragma once

#include <cstdint>

// Code page 936 (GBK), the code page of short names on Chinese systems: a code below 0x80
// is returned as is; a one-byte code 0x80..0xFF or a two-byte code (lead << 8 | trail) gives
// its UTF-16 unit, or 0 when the code page has no such character.
char16_t oem_to_unicode(uint16_t code);

// Whether `byte` starts a two-byte code and `next` may follow it.
inline bool oem_lead_byte(uint8_t byte) {
    return byte >= 0x81 && byte <= 0xFE;
}
inline bool oem_trail_byte(uint8_t next) {
    return (next >= 0x40 && next <= 0x7E) || (next >= 0x80 && next <= 0xFE);
}
