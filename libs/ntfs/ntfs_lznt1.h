#pragma once

#include <cstddef>
#include <cstdint>

// Decompresses one LZNT1 compression unit from `in` into `out` (at most `out_size`
// bytes; the rest of `out` is zero-filled). Returns 0, or -1 when the stream is malformed
// (a back-reference before the chunk start, a chunk overrunning its input).
int lznt1_decompress(const uint8_t* in, size_t in_size, uint8_t* out, size_t out_size);
