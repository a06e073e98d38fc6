#include "libs/ntfs/ntfs_lznt1.h"

#include <cstring>

#include "libs/ntfs/le_load.h"
#include "libs/ntfs/ntfs_layout.h"

namespace {

constexpr uint16_t chunk_size_mask = 0x0FFF;
constexpr uint16_t chunk_compressed_bit = 0x8000;

// One compressed chunk: flag bytes, each governing eight literals or back-references.
int decompress_chunk(const uint8_t* in, size_t in_size, uint8_t* out, size_t out_size,
                     size_t& produced) {
    size_t ip = 0;
    size_t op = 0;
    while (ip < in_size && op < out_size) {
        const uint8_t tags = in[ip++];
        for (int bit = 0; bit < 8 && ip < in_size && op < out_size; ++bit) {
            if ((tags & (1u << bit)) == 0) {
                out[op++] = in[ip++];
                continue;
            }
            if (ip + 2 > in_size) {
                return -1;
            }
            const uint16_t token = ld_u16(in + ip);
            ip += 2;
            // The split between offset and length bits depends on how far into the chunk
            // we are: the further in, the more bits the offset needs.
            uint32_t offset_bits = 4;
            while (op > (1u << offset_bits)) {
                ++offset_bits;
            }
            const uint32_t length_bits = 16 - offset_bits;
            const size_t back = (token >> length_bits) + 1u;
            size_t length = (token & ((1u << length_bits) - 1)) + 3u;
            if (back > op) {
                return -1;
            }
            if (length > out_size - op) {
                length = out_size - op;
            }
            for (size_t i = 0; i < length; ++i, ++op) {
                out[op] = out[op - back];  // may overlap on purpose: repeats
            }
        }
    }
    produced = op;
    return 0;
}

}  // namespace

int lznt1_decompress(const uint8_t* in, size_t in_size, uint8_t* out, size_t out_size) {
    const size_t chunk = ntfs_layout::lznt1_chunk_size;
    size_t ip = 0;
    size_t op = 0;
    std::memset(out, 0, out_size);
    while (ip + 2 <= in_size && op < out_size) {
        const uint16_t header = ld_u16(in + ip);
        if (header == 0) {
            break;
        }
        const size_t data_size = (header & chunk_size_mask) + 1u;
        ip += 2;
        if (data_size > in_size - ip) {
            return -1;
        }
        const size_t room = out_size - op < chunk ? out_size - op : chunk;
        if (header & chunk_compressed_bit) {
            size_t produced = 0;
            if (decompress_chunk(in + ip, data_size, out + op, room, produced) != 0) {
                return -1;
            }
        } else {
            std::memcpy(out + op, in + ip, data_size < room ? data_size : room);
        }
        // A chunk that decodes short is padded with zeros up to the next chunk.
        op += room;
        ip += data_size;
    }
    return 0;
}
