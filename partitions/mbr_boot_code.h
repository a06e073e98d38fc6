#pragma once

#include <cstddef>
#include <cstdint>

// The assembled bytes of mbr_boot.asm (at most 440: the boot-program area of sector 0).
extern const uint8_t mbr_boot_code[];
extern const size_t mbr_boot_code_size;
