#include "engines/fat/oem_codepage.h"

#include <iconv.h>

#include <array>
#include <cstring>
#include <mutex>
#include <vector>

namespace {

constexpr uint32_t lead_first = 0x81;
constexpr uint32_t lead_count = 0xFE - lead_first + 1;
constexpr uint32_t trail_first = 0x40;
constexpr uint32_t trail_count = 0xFE - trail_first + 1;

// The whole code page, decoded once from the C library's converter.
struct oem_table_s {
    std::array<char16_t, 0x80> single{};
    std::vector<char16_t> pairs = std::vector<char16_t>(lead_count * trail_count, 0);
};

// One code through iconv; 0 when it is not a single UTF-16 unit of the code page.
char16_t convert(iconv_t converter, const uint8_t* bytes, size_t length) {
    char in_bytes[2] = {};
    std::memcpy(in_bytes, bytes, length);
    char out_bytes[8] = {};
    char* in = in_bytes;
    char* out = out_bytes;
    size_t in_left = length;
    size_t out_left = sizeof(out_bytes);
    iconv(converter, nullptr, nullptr, nullptr, nullptr);
    if (iconv(converter, &in, &in_left, &out, &out_left) == size_t(-1) || in_left != 0 ||
        sizeof(out_bytes) - out_left != 2) {
        return 0;
    }
    return char16_t(uint8_t(out_bytes[0]) | (uint8_t(out_bytes[1]) << 8));
}

const oem_table_s& table() {
    static oem_table_s built;
    static std::once_flag once;
    std::call_once(once, [] {
        iconv_t converter = iconv_open("UTF-16LE", "CP936");
        if (converter == iconv_t(-1)) {
            return;  // no converter: every code above 0x7F decodes as unknown
        }
        for (uint32_t code = 0x80; code <= 0xFF; ++code) {
            uint8_t byte = uint8_t(code);
            built.single[code - 0x80] = convert(converter, &byte, 1);
        }
        for (uint32_t lead = 0; lead < lead_count; ++lead) {
            for (uint32_t trail = 0; trail < trail_count; ++trail) {
                uint8_t pair[2] = {uint8_t(lead_first + lead), uint8_t(trail_first + trail)};
                built.pairs[lead * trail_count + trail] = convert(converter, pair, 2);
            }
        }
        iconv_close(converter);
    });
    return built;
}

}  // namespace

char16_t oem_to_unicode(uint16_t code) {
    if (code < 0x80) {
        return char16_t(code);
    }
    const oem_table_s& codes = table();
    if (code <= 0xFF) {
        return codes.single[code - 0x80];
    }
    uint32_t lead = code >> 8;
    uint32_t trail = code & 0xFF;
    if (lead < lead_first || lead - lead_first >= lead_count || trail < trail_first ||
        trail - trail_first >= trail_count) {
        return 0;
    }
    return codes.pairs[(lead - lead_first) * trail_count + (trail - trail_first)];
}
