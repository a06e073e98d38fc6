#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "libs/sigscan/carve_view.h"
#include "libs/sigscan/sc_config.h"
#include "libs/sigscan/sigscan.h"

class block_source_c;
struct format_reader_s;

// One scan of one source with one configuration: the sequential block walk, the cheap
// header test at each 512-byte boundary and the hand-over to the format readers.
class signature_scanner_c {
public:
    signature_scanner_c(const sc_config_s& config, block_source_c& source, sc_control_s& control);
    // 0 when the whole source was read, 1 when stopped.
    int run();

    // Indexes (into the configuration) of the types whose header matches `p` (n bytes),
    // in configuration order. `any_offset` selects the types that may start anywhere.
    void match(const uint8_t* p, size_t n, bool any_offset, std::vector<size_t>& out) const;
    // Whether a recognised file starts with these bytes (header and, where the format has
    // one, its cheap structure check).
    bool file_starts(const uint8_t* p, size_t n) const;

private:
    // One bit per value of the two bytes from an anchor on that some header allows: on
    // noise nearly every boundary fails this test, which costs two loads per anchor.
    using pair_bits_t = std::array<uint64_t, 65536 / 64>;
    struct dispatch_s {
        size_t anchor = 0;  // position of a fully specified header byte
        std::array<std::vector<size_t>, 256> by_byte;
        pair_bits_t pairs{};
    };
    static bool pair_allowed(const pair_bits_t& bits, const uint8_t* p) {
        const unsigned pair = unsigned{p[0]} << 8 | p[1];
        return (bits[pair / 64] >> (pair % 64)) & 1;
    }
    void add_to_dispatch(std::vector<dispatch_s>& table, size_t type_index);
    // Tries the candidates at `offset`; returns the end of the find or 0 when none matched.
    uint64_t try_offset(uint64_t offset, const uint8_t* p, size_t n, bool any_offset);
    bool wait_while_paused();
    // The header test over freshly read bytes, on the reading thread: appends the offsets
    // (relative to `block_start`) of the boundaries where some header matches.
    void inspect(const uint8_t* p, size_t n, uint64_t offset, uint64_t block_start,
                 std::vector<uint32_t>& hits, std::vector<size_t>& scratch) const;

    const sc_config_s& config_;
    block_source_c& source_;
    sc_control_s& control_;
    uint64_t size_;
    std::vector<const format_reader_s*> readers_;  // per type, null for none
    std::vector<dispatch_s> boundary_dispatch_;
    std::vector<dispatch_s> anywhere_dispatch_;
    size_t longest_header_ = 0;
    carve_view_c::header_test_fn header_test_;
    std::vector<size_t> candidates_;
    carve_buffer_s window_buffer_;  // lent to each candidate's view in turn
};
