#pragma once

#include <cstdint>

// A FAT date and time (local time, two-second steps) as seconds since 1970-01-01 00:00 UTC.
// Out-of-range fields are carried over as the C library does (month 0 is December of the
// year before); 0 when the date cannot be converted.
int64_t fat_time_to_unix(uint16_t date, uint16_t time);
