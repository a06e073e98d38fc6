// Structure readers for still images: JPEG, PNG, GIF, BMP, TIFF and the netpbm family.
#include <cctype>
#include <cstring>
#include <set>

#include "libs/sigscan/byte_order.h"
#include "libs/sigscan/format_readers.h"

using namespace sc_bytes;

namespace {

// JPEG markers.
constexpr uint8_t jpeg_marker_prefix = 0xFF;
constexpr uint8_t jpeg_soi = 0xD8;
constexpr uint8_t jpeg_eoi = 0xD9;
constexpr uint8_t jpeg_sos = 0xDA;
constexpr uint8_t jpeg_rst0 = 0xD0;
constexpr uint8_t jpeg_rst7 = 0xD7;
constexpr uint8_t jpeg_tem = 0x01;
constexpr uint8_t jpeg_first_segment = 0xC0;
constexpr uint64_t jpeg_soi_bytes = 2;
constexpr size_t jpeg_scan_chunk = 256 * 1024;

bool jpeg_is_frame(uint8_t marker) {
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

bool jpeg_probe(const uint8_t* p, size_t n) {
    return n >= 4 && p[0] == 0xFF && p[1] == jpeg_soi && p[2] == 0xFF && p[3] >= 0xC0 &&
           p[3] != jpeg_eoi;
}

// Skips entropy-coded data from `pos`; returns the offset of the next real marker, or the
// place where the data stops (limit, another file's start) with `cut` set.
uint64_t jpeg_skip_scan(carve_view_c& view, uint64_t pos, bool& cut) {
    cut = false;
    for (;;) {
        if (view.stopped()) {
            cut = true;
            return pos;
        }
        size_t got = 0;
        const uint8_t* p = view.span(pos, jpeg_scan_chunk, got);
        if (got < 2) {
            cut = true;
            return pos + got;
        }
        size_t i = 0;
        uint64_t marker_at = UINT64_MAX;
        while (i + 1 < got) {
            const void* hit = std::memchr(p + i, jpeg_marker_prefix, got - 1 - i);
            if (!hit) {
                i = got - 1;
                break;
            }
            i = static_cast<size_t>(static_cast<const uint8_t*>(hit) - p);
            uint8_t next = p[i + 1];
            if (next == 0x00 || (next >= jpeg_rst0 && next <= jpeg_rst7) ||
                next == jpeg_marker_prefix) {
                i += 1;
                continue;
            }
            marker_at = pos + i;
            break;
        }
        uint64_t scanned_to = marker_at != UINT64_MAX ? marker_at : pos + i;
        uint64_t fence = view.next_file_start(pos, scanned_to);
        if (fence != UINT64_MAX) {
            cut = true;
            return fence;
        }
        if (marker_at != UINT64_MAX) {
            return marker_at;
        }
        pos += i;
    }
}

bool jpeg_carve(carve_view_c& view, carve_result_s& out) {
    uint8_t head[4];
    if (!view.read(0, head, sizeof head) || !jpeg_probe(head, sizeof head)) {
        return false;
    }
    uint64_t pos = jpeg_soi_bytes;
    bool seen_frame = false;
    bool seen_scan = false;
    for (;;) {
        uint8_t m[4];
        if (!view.read(pos, m, 2) || m[0] != jpeg_marker_prefix) {
            break;
        }
        uint8_t marker = m[1];
        if (marker == jpeg_marker_prefix) {  // fill byte
            pos += 1;
            continue;
        }
        if (marker == jpeg_eoi) {
            if (!seen_frame || !seen_scan) {
                return false;
            }
            out.size = pos + 2;
            return true;
        }
        if (marker == jpeg_tem || (marker >= jpeg_rst0 && marker <= jpeg_rst7)) {
            pos += 2;
            continue;
        }
        if (marker < jpeg_first_segment || marker == jpeg_soi) {
            break;
        }
        if (!view.read(pos + 2, m + 2, 2)) {
            break;
        }
        uint16_t length = be16(m + 2);
        if (length < 2) {
            break;
        }
        seen_frame = seen_frame || jpeg_is_frame(marker);
        pos += 2 + length;
        if (marker == jpeg_sos) {
            if (!seen_frame) {
                return false;
            }
            seen_scan = true;
            bool cut = false;
            pos = jpeg_skip_scan(view, pos, cut);
            if (cut) {
                break;
            }
        }
        if (view.stopped()) {
            break;
        }
    }
    // Cut short or damaged: keep what is there when the image data began.
    if (!seen_scan) {
        return false;
    }
    out.size = sc_partial_end(view, jpeg_soi_bytes, std::min(pos, view.limit()));
    return true;
}

// PNG chunks.
constexpr uint64_t png_signature_bytes = 8;
constexpr uint32_t png_ihdr_length = 13;
constexpr uint32_t png_max_chunk = 0x7FFFFFFF;
constexpr uint64_t png_chunk_overhead = 12;  // length, type, CRC

bool png_chunk_type_ok(const uint8_t* t) {
    for (int i = 0; i < 4; ++i) {
        if (!std::isalpha(t[i])) {
            return false;
        }
    }
    return true;
}

bool png_probe(const uint8_t* p, size_t n) {
    return n >= 16 && std::memcmp(p, "\x89PNG\r\n\x1a\n", 8) == 0 &&
           be32(p + 8) == png_ihdr_length && std::memcmp(p + 12, "IHDR", 4) == 0;
}

bool png_carve(carve_view_c& view, carve_result_s& out) {
    uint8_t head[16];
    if (!view.read(0, head, sizeof head) || !png_probe(head, sizeof head)) {
        return false;
    }
    uint64_t pos = png_signature_bytes;
    for (;;) {
        uint8_t chunk[8];
        if (!view.read(pos, chunk, sizeof chunk) || !png_chunk_type_ok(chunk + 4) ||
            be32(chunk) > png_max_chunk) {
            break;
        }
        pos += png_chunk_overhead + be32(chunk);
        if (std::memcmp(chunk + 4, "IEND", 4) == 0) {
            if (pos > view.limit()) {
                break;
            }
            out.size = pos;
            return true;
        }
    }
    out.size = sc_partial_end(view, png_signature_bytes, std::min(pos, view.limit()));
    return out.size > png_signature_bytes + png_chunk_overhead + png_ihdr_length;
}

// GIF blocks.
constexpr uint64_t gif_screen_descriptor_end = 13;
constexpr uint8_t gif_color_table_flag = 0x80;
constexpr uint8_t gif_extension = 0x21;
constexpr uint8_t gif_image = 0x2C;
constexpr uint8_t gif_trailer = 0x3B;
constexpr uint64_t gif_image_descriptor_bytes = 10;

uint64_t gif_color_table_bytes(uint8_t flags) {
    return (flags & gif_color_table_flag) ? 3ull << ((flags & 7) + 1) : 0;
}

bool gif_probe(const uint8_t* p, size_t n) {
    return n >= 13 && (std::memcmp(p, "GIF87a", 6) == 0 || std::memcmp(p, "GIF89a", 6) == 0) &&
           le16(p + 6) != 0 && le16(p + 8) != 0;
}

// Skips a chain of data sub-blocks; false when it runs off the view.
bool gif_skip_sub_blocks(carve_view_c& view, uint64_t& pos) {
    for (;;) {
        uint8_t length = 0;
        if (!view.read(pos, &length, 1)) {
            return false;
        }
        pos += 1 + length;
        if (length == 0) {
            return true;
        }
    }
}

bool gif_carve(carve_view_c& view, carve_result_s& out) {
    uint8_t head[13];
    if (!view.read(0, head, sizeof head) || !gif_probe(head, sizeof head)) {
        return false;
    }
    uint64_t pos = gif_screen_descriptor_end + gif_color_table_bytes(head[10]);
    bool seen_image = false;
    for (;;) {
        uint8_t kind = 0;
        if (!view.read(pos, &kind, 1) || view.stopped()) {
            break;
        }
        if (kind == gif_trailer) {
            out.size = pos + 1;
            return seen_image;
        }
        if (kind == gif_extension) {
            pos += 2;
        } else if (kind == gif_image) {
            uint8_t descriptor[gif_image_descriptor_bytes];
            if (!view.read(pos, descriptor, sizeof descriptor)) {
                break;
            }
            pos += gif_image_descriptor_bytes + gif_color_table_bytes(descriptor[9]) + 1;
            seen_image = true;
        } else {
            break;
        }
        if (!gif_skip_sub_blocks(view, pos)) {
            break;
        }
    }
    if (!seen_image) {
        return false;
    }
    out.size = sc_partial_end(view, gif_screen_descriptor_end, std::min(pos, view.limit()));
    return true;
}

// BMP file and info headers.
constexpr size_t bmp_file_size_at = 2;
constexpr size_t bmp_pixels_at = 10;
constexpr size_t bmp_info_size_at = 14;
constexpr size_t bmp_core_width_at = 18;  // 16-bit fields of the old 12-byte header
constexpr size_t bmp_core_height_at = 20;
constexpr size_t bmp_core_planes_at = 22;
constexpr size_t bmp_core_bits_at = 24;
constexpr size_t bmp_width_at = 18;  // 32-bit fields of the 40-byte and later headers
constexpr size_t bmp_height_at = 22;
constexpr size_t bmp_planes_at = 26;
constexpr size_t bmp_bits_at = 28;
constexpr size_t bmp_compression_at = 30;
constexpr size_t bmp_probe_bytes = 54;
constexpr uint32_t bmp_rgb = 0;
constexpr uint32_t bmp_bitfields = 3;

bool bmp_check(const uint8_t* p, size_t n, uint64_t& size) {
    if (n < bmp_probe_bytes || p[0] != 'B' || p[1] != 'M') {
        return false;
    }
    uint32_t file_size = le32(p + bmp_file_size_at);
    uint32_t pixels = le32(p + bmp_pixels_at);
    uint32_t info = le32(p + bmp_info_size_at);
    int64_t width = 0;
    int64_t height = 0;
    uint16_t planes = 0;
    uint16_t bits = 0;
    uint32_t compression = bmp_rgb;
    if (info == 12) {
        width = le16(p + bmp_core_width_at);
        height = le16(p + bmp_core_height_at);
        planes = le16(p + bmp_core_planes_at);
        bits = le16(p + bmp_core_bits_at);
    } else if (info == 40 || info == 52 || info == 56 || info == 64 || info == 108 || info == 124) {
        width = static_cast<int32_t>(le32(p + bmp_width_at));
        height = static_cast<int32_t>(le32(p + bmp_height_at));
        planes = le16(p + bmp_planes_at);
        bits = le16(p + bmp_bits_at);
        compression = le32(p + bmp_compression_at);
    } else {
        return false;
    }
    bool bits_ok = bits == 1 || bits == 2 || bits == 4 || bits == 8 || bits == 16 || bits == 24 ||
                   bits == 32 || bits == 64;
    if (planes != 1 || !bits_ok || width <= 0 || height == 0 || compression > 13 ||
        pixels < 14 + info || pixels >= file_size) {
        return false;
    }
    if (compression == bmp_rgb || compression == bmp_bitfields) {
        uint64_t row = ((static_cast<uint64_t>(width) * bits + 31) / 32) * 4;
        uint64_t rows = static_cast<uint64_t>(height < 0 ? -height : height);
        uint64_t needed = pixels + row * rows;
        // Writers pad the pixel array by a few bytes at most.
        if (needed > file_size || file_size - needed > 4096) {
            return false;
        }
    }
    size = file_size;
    return true;
}

bool bmp_probe(const uint8_t* p, size_t n) {
    uint64_t size = 0;
    return bmp_check(p, n, size);
}

bool bmp_carve(carve_view_c& view, carve_result_s& out) {
    uint8_t head[bmp_probe_bytes];
    uint64_t size = 0;
    if (!view.read(0, head, sizeof head) || !bmp_check(head, sizeof head, size)) {
        return false;
    }
    out.size = std::min(size, view.limit());
    return true;
}

// TIFF image file directories.
constexpr size_t tiff_first_ifd_at = 4;
constexpr uint64_t tiff_header_bytes = 8;
constexpr uint64_t tiff_entry_bytes = 12;
constexpr uint16_t tiff_max_entries = 4096;
constexpr size_t tiff_max_ifds = 512;
constexpr uint32_t tiff_max_array = 1u << 20;
constexpr uint16_t tag_strip_offsets = 273;
constexpr uint16_t tag_strip_counts = 279;
constexpr uint16_t tag_tile_offsets = 324;
constexpr uint16_t tag_tile_counts = 325;
constexpr uint16_t tag_sub_ifds = 330;
constexpr uint16_t tag_jpeg_offset = 513;
constexpr uint16_t tag_jpeg_length = 514;
constexpr uint16_t tag_exif_ifd = 34665;
constexpr uint16_t tag_gps_ifd = 34853;
constexpr uint16_t type_short = 3;
constexpr uint16_t type_long = 4;
constexpr uint16_t type_ifd = 13;

uint32_t tiff_type_width(uint16_t type) {
    static const uint8_t widths[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};
    return type < sizeof widths ? widths[type] : 0;
}

bool tiff_probe(const uint8_t* p, size_t n) {
    if (n < tiff_header_bytes) {
        return false;
    }
    bool little = p[0] == 'I';
    uint32_t first = little ? le32(p + tiff_first_ifd_at) : be32(p + tiff_first_ifd_at);
    return first >= tiff_header_bytes && (first & 1) == 0;
}

struct tiff_walk_s {
    carve_view_c& view;
    bool little;
    uint64_t end = tiff_header_bytes;
    uint16_t u16(const uint8_t* p) const { return little ? le16(p) : be16(p); }
    uint32_t u32(const uint8_t* p) const { return little ? le32(p) : be32(p); }

    // Values of an entry as 32-bit numbers (SHORT or LONG arrays).
    bool values(const uint8_t* entry, std::vector<uint32_t>& out) {
        uint16_t type = u16(entry + 2);
        uint32_t count = u32(entry + 4);
        uint32_t width = tiff_type_width(type);
        if ((type != type_short && type != type_long && type != type_ifd) ||
            count > tiff_max_array) {
            return false;
        }
        out.clear();
        if (count == 0) {
            return true;  // an empty array: nothing to read, not even in the entry
        }
        std::vector<uint8_t> raw(static_cast<size_t>(count) * width);
        if (raw.size() <= 4) {
            std::memcpy(raw.data(), entry + 8, raw.size());
        } else if (!view.read(u32(entry + 8), raw.data(), raw.size())) {
            return false;
        }
        out.resize(count);
        for (uint32_t i = 0; i < count; ++i) {
            out[i] = width == 2 ? u16(raw.data() + i * 2) : u32(raw.data() + i * 4);
        }
        return true;
    }
};

bool tiff_carve(carve_view_c& view, carve_result_s& out) {
    uint8_t head[tiff_header_bytes + 4];
    if (!view.read(0, head, sizeof head) || !tiff_probe(head, sizeof head)) {
        return false;
    }
    tiff_walk_s walk{view, head[0] == 'I'};
    std::vector<uint32_t> pending{walk.u32(head + tiff_first_ifd_at)};
    std::set<uint32_t> visited;
    size_t ifds = 0;
    while (!pending.empty() && ifds < tiff_max_ifds && !view.stopped()) {
        uint32_t ifd = pending.back();
        pending.pop_back();
        if (ifd < tiff_header_bytes || !visited.insert(ifd).second) {
            continue;
        }
        uint8_t count_bytes[2];
        if (!view.read(ifd, count_bytes, 2)) {
            if (ifds == 0) {
                return false;
            }
            continue;
        }
        uint16_t count = walk.u16(count_bytes);
        if (count == 0 || count > tiff_max_entries) {
            if (ifds == 0) {
                return false;
            }
            continue;
        }
        std::vector<uint8_t> entries(count * tiff_entry_bytes + 4);
        if (!view.read(ifd + 2, entries.data(), entries.size())) {
            if (ifds == 0) {
                return false;
            }
            continue;
        }
        ++ifds;
        walk.end = std::max<uint64_t>(walk.end, ifd + 2 + entries.size());
        std::vector<uint32_t> offsets, counts, tile_offsets, tile_counts;
        uint64_t jpeg_offset = 0;
        uint64_t jpeg_length = 0;
        for (uint16_t i = 0; i < count; ++i) {
            const uint8_t* e = entries.data() + i * tiff_entry_bytes;
            uint16_t tag = walk.u16(e);
            uint16_t type = walk.u16(e + 2);
            uint32_t width = tiff_type_width(type);
            if (width == 0) {
                if (ifds == 1 && i == 0) {
                    return false;
                }
                continue;
            }
            uint64_t bytes = static_cast<uint64_t>(walk.u32(e + 4)) * width;
            if (bytes > 4) {
                walk.end = std::max<uint64_t>(walk.end, walk.u32(e + 8) + bytes);
            }
            std::vector<uint32_t> list;
            switch (tag) {
                case tag_strip_offsets:
                    walk.values(e, offsets);
                    break;
                case tag_strip_counts:
                    walk.values(e, counts);
                    break;
                case tag_tile_offsets:
                    walk.values(e, tile_offsets);
                    break;
                case tag_tile_counts:
                    walk.values(e, tile_counts);
                    break;
                case tag_jpeg_offset:
                    jpeg_offset = walk.u32(e + 8);
                    break;
                case tag_jpeg_length:
                    jpeg_length = walk.u32(e + 8);
                    break;
                case tag_sub_ifds:
                case tag_exif_ifd:
                case tag_gps_ifd:
                    if (walk.values(e, list)) {
                        pending.insert(pending.end(), list.begin(), list.end());
                    }
                    break;
                default:
                    break;
            }
        }
        for (size_t k = 0; k < std::min(offsets.size(), counts.size()); ++k) {
            walk.end = std::max<uint64_t>(walk.end, uint64_t{offsets[k]} + counts[k]);
        }
        for (size_t k = 0; k < std::min(tile_offsets.size(), tile_counts.size()); ++k) {
            walk.end = std::max<uint64_t>(walk.end, uint64_t{tile_offsets[k]} + tile_counts[k]);
        }
        if (jpeg_offset && jpeg_length) {
            walk.end = std::max(walk.end, jpeg_offset + jpeg_length);
        }
        uint32_t next = walk.u32(entries.data() + count * tiff_entry_bytes);
        if (next) {
            pending.push_back(next);
        }
    }
    if (ifds == 0) {
        return false;
    }
    out.size = std::min(walk.end, view.limit());
    if (head[8] == 'C' && head[9] == 'R') {
        out.extension = "cr2";
    }
    return true;
}

// Netpbm: "P4", "P5" or "P6", then width, height and (but for P4) the largest value in
// ASCII, then one whitespace byte and the raster.
constexpr size_t pnm_header_max = 512;

bool pnm_header(const uint8_t* p, size_t n, uint64_t& size, char& kind) {
    if (n < 8 || p[0] != 'P' || p[1] < '4' || p[1] > '6' || !std::isspace(p[2])) {
        return false;
    }
    kind = static_cast<char>(p[1]);
    int fields_wanted = kind == '4' ? 2 : 3;
    uint64_t fields[3] = {0, 0, 0};
    size_t i = 2;
    for (int f = 0; f < fields_wanted; ++f) {
        for (;;) {  // whitespace and comments
            while (i < n && std::isspace(p[i])) {
                ++i;
            }
            if (i < n && p[i] == '#') {
                while (i < n && p[i] != '\n') {
                    ++i;
                }
                continue;
            }
            break;
        }
        size_t digits = 0;
        while (i < n && std::isdigit(p[i]) && digits < 9) {
            fields[f] = fields[f] * 10 + static_cast<uint64_t>(p[i] - '0');
            ++i;
            ++digits;
        }
        if (digits == 0 || i >= n || !std::isspace(p[i]) || fields[f] == 0) {
            return false;
        }
    }
    ++i;  // the single whitespace byte before the raster
    uint64_t width = fields[0];
    uint64_t height = fields[1];
    uint64_t max_value = fields[2];
    if (kind != '4' && max_value > 65535) {
        return false;
    }
    uint64_t sample = max_value > 255 ? 2 : 1;
    uint64_t raster = kind == '4'   ? (width + 7) / 8 * height
                      : kind == '5' ? width * height * sample
                                    : width * height * sample * 3;
    size = i + raster;
    return true;
}

bool pnm_probe(const uint8_t* p, size_t n) {
    uint64_t size = 0;
    char kind = 0;
    return pnm_header(p, n, size, kind);
}

bool pnm_carve(carve_view_c& view, carve_result_s& out) {
    size_t got = 0;
    const uint8_t* p = view.span(0, pnm_header_max, got);
    uint64_t size = 0;
    char kind = 0;
    if (!p || !pnm_header(p, got, size, kind)) {
        return false;
    }
    out.size = std::min(size, view.limit());
    out.extension = kind == '4' ? "pbm" : kind == '5' ? "pgm" : "ppm";
    return true;
}

}  // namespace

const format_reader_s jpeg_reader = {"jpg", jpeg_probe, jpeg_carve};
const format_reader_s png_reader = {"png", png_probe, png_carve};
const format_reader_s gif_reader = {"gif", gif_probe, gif_carve};
const format_reader_s bmp_reader = {"bmp", bmp_probe, bmp_carve};
const format_reader_s tiff_reader = {"tif", tiff_probe, tiff_carve};
const format_reader_s pnm_reader = {"pnm", pnm_probe, pnm_carve};

namespace {

// GIMP's XCF: a tree of headers linked by pointers. Tile data has no length of its own, but
// the writer puts each level's "dummy" levels right after its tiles, so the furthest end of
// any header is the end of the file; without them the last tile runs to the next file.
constexpr size_t xcf_version_at = 9;
constexpr uint64_t xcf_magic_bytes = 14;
constexpr uint32_t xcf_wide_pointer_version = 11;
constexpr uint32_t xcf_precision_version = 4;
constexpr uint32_t xcf_max_side = 524288;
constexpr size_t xcf_max_list = 1u << 20;
constexpr size_t xcf_max_properties = 100000;

struct xcf_walk_s {
    carve_view_c& view;
    bool wide = false;
    uint64_t end = 0;
    uint64_t last_tile = 0;
    bool ok = true;

    uint32_t u32(uint64_t at) {
        uint8_t b[4];
        if (!view.read(at, b, 4)) {
            ok = false;
            return 0;
        }
        end = std::max(end, at + 4);
        return be32(b);
    }
    uint64_t pointer(uint64_t at) {
        if (!wide) {
            return u32(at);
        }
        uint8_t b[8];
        if (!view.read(at, b, 8)) {
            ok = false;
            return 0;
        }
        end = std::max(end, at + 8);
        return be64(b);
    }
    uint64_t pointer_bytes() const { return wide ? 8 : 4; }
    // A zero-terminated pointer list at `at`; returns the offset after it.
    uint64_t pointers(uint64_t at, std::vector<uint64_t>& out) {
        for (size_t i = 0; ok && i < xcf_max_list; ++i, at += pointer_bytes()) {
            uint64_t p = pointer(at);
            if (p == 0) {
                return at + pointer_bytes();
            }
            if (p >= view.limit()) {
                ok = false;
                break;
            }
            out.push_back(p);
        }
        ok = false;
        return at;
    }
    // Properties up to the end marker; returns the offset after it.
    uint64_t properties(uint64_t at) {
        for (size_t i = 0; ok && i < xcf_max_properties; ++i) {
            uint32_t type = u32(at);
            uint32_t length = u32(at + 4);
            at += 8;
            if (!ok || length > view.limit()) {
                ok = false;
                break;
            }
            if (type == 0) {
                return at;
            }
            at += length;
            end = std::max(end, at);
        }
        ok = false;
        return at;
    }
    void level(uint64_t at, bool first) {
        std::vector<uint64_t> tiles;
        pointers(at + 8, tiles);
        if (first && !tiles.empty()) {
            last_tile = std::max(last_tile, tiles.back());
        }
        for (uint64_t tile : tiles) {
            end = std::max(end, tile);
        }
    }
    void hierarchy(uint64_t at) {
        std::vector<uint64_t> levels;
        pointers(at + 12, levels);
        for (size_t i = 0; ok && i < levels.size(); ++i) {
            level(levels[i], i == 0);
        }
    }
    // A layer (width, height, type, name, ...) or a channel (width, height, name, ...).
    void drawable(uint64_t at, bool layer) {
        uint64_t name_at = at + (layer ? 12 : 8);
        uint32_t name_length = u32(name_at);
        if (!ok || name_length > view.limit()) {
            ok = false;
            return;
        }
        uint64_t after = properties(name_at + 4 + name_length);
        uint64_t hierarchy_at = pointer(after);
        uint64_t mask_at = layer ? pointer(after + pointer_bytes()) : 0;
        if (ok && hierarchy_at) {
            hierarchy(hierarchy_at);
        }
        if (ok && mask_at) {
            drawable(mask_at, false);
        }
    }
};

bool xcf_probe(const uint8_t* p, size_t n) {
    return n >= xcf_magic_bytes && std::memcmp(p, "gimp xcf ", 9) == 0 &&
           p[xcf_magic_bytes - 1] == 0;
}

bool xcf_carve(carve_view_c& view, carve_result_s& out) {
    uint8_t head[xcf_magic_bytes + 12];
    if (!view.read(0, head, sizeof head) || !xcf_probe(head, sizeof head)) {
        return false;
    }
    uint32_t version = 0;
    if (head[xcf_version_at] == 'v') {
        for (size_t i = xcf_version_at + 1; i < xcf_magic_bytes - 1; ++i) {
            if (!std::isdigit(head[i])) {
                return false;
            }
            version = version * 10 + static_cast<uint32_t>(head[i] - '0');
        }
    } else if (std::memcmp(head + xcf_version_at, "file", 4) != 0) {
        return false;
    }
    uint32_t width = be32(head + xcf_magic_bytes);
    uint32_t height = be32(head + xcf_magic_bytes + 4);
    uint32_t base_type = be32(head + xcf_magic_bytes + 8);
    if (width == 0 || height == 0 || width > xcf_max_side || height > xcf_max_side ||
        base_type > 2) {
        return false;
    }
    xcf_walk_s walk{view};
    walk.wide = version >= xcf_wide_pointer_version;
    uint64_t at = xcf_magic_bytes + 12 + (version >= xcf_precision_version ? 4 : 0);
    at = walk.properties(at);
    std::vector<uint64_t> layers, channels;
    at = walk.pointers(at, layers);
    walk.pointers(at, channels);
    for (uint64_t layer : layers) {
        if (walk.ok && !view.stopped()) {
            walk.drawable(layer, true);
        }
    }
    for (uint64_t channel : channels) {
        if (walk.ok && !view.stopped()) {
            walk.drawable(channel, false);
        }
    }
    if (walk.end <= xcf_magic_bytes + 12) {
        return false;
    }
    // When the last tile is the furthest thing, its length is unknown: it ends where the
    // next recognised file starts.
    out.size = (walk.ok && walk.end > walk.last_tile)
                   ? std::min(walk.end, view.limit())
                   : sc_partial_end(view, std::max(walk.end, walk.last_tile) + 1, view.limit());
    return true;
}

}  // namespace

const format_reader_s xcf_reader = {"xcf", xcf_probe, xcf_carve};
