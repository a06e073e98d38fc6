// Structure readers for archives: the ZIP family, GZIP, 7z and RAR.
#include <zlib.h>

#include <cstring>
#include <string>

#include "libs/sigscan/byte_order.h"
#include "libs/sigscan/format_readers.h"

using namespace sc_bytes;

namespace {

// ZIP records.
constexpr uint32_t zip_local_sig = 0x04034b50;
constexpr uint32_t zip_central_sig = 0x02014b50;
constexpr uint32_t zip_end_sig = 0x06054b50;
constexpr uint32_t zip64_end_sig = 0x06064b50;
constexpr uint32_t zip64_locator_sig = 0x07064b50;
constexpr uint32_t zip_descriptor_sig = 0x08074b50;
constexpr uint64_t zip_local_bytes = 30;
constexpr size_t zip_local_flags_at = 6;
constexpr size_t zip_local_method_at = 8;
constexpr size_t zip_local_packed_at = 18;
constexpr size_t zip_local_name_length_at = 26;
constexpr size_t zip_local_extra_length_at = 28;
constexpr uint16_t zip_flag_descriptor = 0x0008;
constexpr uint64_t zip_central_bytes = 46;
constexpr size_t zip_central_name_length_at = 28;
constexpr size_t zip_central_extra_length_at = 30;
constexpr size_t zip_central_comment_length_at = 32;
constexpr uint64_t zip_end_bytes = 22;
constexpr size_t zip_end_comment_length_at = 20;
constexpr uint64_t zip64_locator_bytes = 20;
constexpr uint64_t zip64_end_fixed_bytes = 12;
constexpr uint16_t zip64_extra_id = 0x0001;
constexpr size_t zip_max_name = 4096;
constexpr size_t zip_max_mimetype = 128;
constexpr size_t zip_search_chunk = 256 * 1024;

bool zip_probe(const uint8_t* p, size_t n) {
    if (n < zip_local_bytes) {
        return false;
    }
    uint16_t method = le16(p + zip_local_method_at);
    uint16_t name_length = le16(p + zip_local_name_length_at);
    bool method_ok = method <= 20 || method == 93 || method == 95 || method == 96 || method == 97 ||
                     method == 98 || method == 99;
    return method_ok && name_length > 0 && name_length <= zip_max_name && p[4] < 100;
}

// Finds where an entry written with a trailing data descriptor ends. Returns the offset
// just after the descriptor, or UINT64_MAX.
uint64_t zip_descriptor_end(carve_view_c& view, uint64_t data) {
    uint64_t pos = data;
    for (;;) {
        if (view.stopped()) {
            return UINT64_MAX;
        }
        size_t got = 0;
        const uint8_t* p = view.span(pos, zip_search_chunk, got);
        if (got < 4) {
            return UINT64_MAX;
        }
        for (size_t i = 0; i + 4 <= got;) {
            const void* hit = memmem(p + i, got - i, "PK", 2);
            if (!hit) {
                break;
            }
            i = static_cast<size_t>(static_cast<const uint8_t*>(hit) - p);
            uint64_t at = pos + i;
            uint8_t record[24];
            if (view.read(at, record, sizeof record)) {
                uint32_t sig = le32(record);
                uint64_t packed = at - data;
                if (sig == zip_descriptor_sig) {
                    if (le32(record + 8) == (packed & 0xFFFFFFFF)) {
                        return at + 16;
                    }
                    if (le64(record + 8) == packed) {
                        return at + 24;
                    }
                }
                // A descriptor without its signature: 12 bytes before the next header.
                if ((sig == zip_local_sig || sig == zip_central_sig) && packed >= 12) {
                    uint8_t bare[12];
                    if (view.read(at - 12, bare, sizeof bare) &&
                        le32(bare + 4) == ((packed - 12) & 0xFFFFFFFF)) {
                        return at;
                    }
                }
            }
            i += 1;
        }
        pos += got - 3;
    }
}

std::string zip_kind(const std::string& mimetype, bool word, bool excel, bool powerpoint,
                     bool manifest, bool android) {
    static const struct {
        const char* mimetype;
        const char* extension;
    } open_document[] = {
        {"application/vnd.oasis.opendocument.text", "odt"},
        {"application/vnd.oasis.opendocument.spreadsheet", "ods"},
        {"application/vnd.oasis.opendocument.presentation", "odp"},
        {"application/vnd.oasis.opendocument.graphics", "odg"},
        {"application/epub+zip", "epub"},
    };
    for (const auto& kind : open_document) {
        if (mimetype == kind.mimetype) {
            return kind.extension;
        }
    }
    if (word) {
        return "docx";
    }
    if (excel) {
        return "xlsx";
    }
    if (powerpoint) {
        return "pptx";
    }
    if (android) {
        return "apk";
    }
    if (manifest) {
        return "jar";
    }
    return {};
}

bool zip_carve(carve_view_c& view, carve_result_s& out) {
    uint8_t first[zip_local_bytes];
    if (!view.read(0, first, sizeof first) || !zip_probe(first, sizeof first)) {
        return false;
    }
    uint64_t pos = 0;
    size_t entries = 0;
    std::string mimetype;
    bool word = false, excel = false, powerpoint = false, manifest = false, android = false;
    bool ended = false;
    for (;;) {
        uint8_t record[zip_central_bytes];
        if (view.stopped() || !view.read(pos, record, 4)) {
            break;
        }
        uint32_t sig = le32(record);
        if (sig == zip_local_sig) {
            if (!view.read(pos, record, zip_local_bytes)) {
                break;
            }
            uint16_t flags = le16(record + zip_local_flags_at);
            uint64_t packed = le32(record + zip_local_packed_at);
            uint16_t name_length = le16(record + zip_local_name_length_at);
            uint16_t extra_length = le16(record + zip_local_extra_length_at);
            std::string name(name_length, '\0');
            if (!view.read(pos + zip_local_bytes, name.data(), name.size())) {
                break;
            }
            uint64_t data = pos + zip_local_bytes + name_length + extra_length;
            if (packed == 0xFFFFFFFF) {  // the real sizes are in the zip64 extra field
                std::string extra(extra_length, '\0');
                view.read(pos + zip_local_bytes + name_length, extra.data(), extra.size());
                const auto* e = reinterpret_cast<const uint8_t*>(extra.data());
                for (size_t at = 0; at + 4 <= extra.size();) {
                    uint16_t id = le16(e + at);
                    uint16_t size = le16(e + at + 2);
                    if (id == zip64_extra_id && size >= 16 && at + 4 + 16 <= extra.size()) {
                        packed = le64(e + at + 4 + 8);
                        break;
                    }
                    at += 4 + size;
                }
            }
            if (entries == 0 && name == "mimetype" && packed < zip_max_mimetype &&
                le16(record + zip_local_method_at) == 0) {
                mimetype.assign(packed, '\0');
                view.read(data, mimetype.data(), mimetype.size());
            }
            word = word || name.rfind("word/", 0) == 0;
            excel = excel || name.rfind("xl/", 0) == 0;
            powerpoint = powerpoint || name.rfind("ppt/", 0) == 0;
            manifest = manifest || name == "META-INF/MANIFEST.MF";
            android = android || name == "AndroidManifest.xml";
            ++entries;
            if (packed > view.limit()) {
                pos = data;
                break;
            }
            if (flags & zip_flag_descriptor) {
                uint64_t next = zip_descriptor_end(view, data);
                if (next == UINT64_MAX) {
                    pos = data;
                    break;
                }
                pos = next;
            } else {
                pos = data + packed;
            }
        } else if (sig == zip_central_sig) {
            if (!view.read(pos, record, zip_central_bytes)) {
                break;
            }
            pos += zip_central_bytes + le16(record + zip_central_name_length_at) +
                   le16(record + zip_central_extra_length_at) +
                   le16(record + zip_central_comment_length_at);
        } else if (sig == zip64_end_sig) {
            if (!view.read(pos, record, zip64_end_fixed_bytes)) {
                break;
            }
            uint64_t record_size = le64(record + 4);
            if (record_size > view.limit()) {
                break;
            }
            pos += zip64_end_fixed_bytes + record_size;
        } else if (sig == zip64_locator_sig) {
            pos += zip64_locator_bytes;
        } else if (sig == zip_end_sig) {
            if (!view.read(pos, record, zip_end_bytes)) {
                break;
            }
            pos += zip_end_bytes + le16(record + zip_end_comment_length_at);
            ended = true;
            break;
        } else {
            break;
        }
    }
    if (entries == 0) {
        return false;
    }
    out.size = ended ? std::min(pos, view.limit())
                     : sc_partial_end(view, zip_local_bytes, std::min(pos, view.limit()));
    out.extension = zip_kind(mimetype, word, excel, powerpoint, manifest, android);
    return true;
}

// GZIP members.
constexpr size_t gzip_flags_at = 3;
constexpr uint64_t gzip_fixed_bytes = 10;
constexpr uint64_t gzip_trailer_bytes = 8;
constexpr uint8_t gzip_header_crc = 0x02;
constexpr uint8_t gzip_extra = 0x04;
constexpr uint8_t gzip_name = 0x08;
constexpr uint8_t gzip_comment = 0x10;
constexpr uint8_t gzip_reserved = 0xE0;
constexpr size_t gzip_feed_bytes = 256 * 1024;
constexpr size_t gzip_sink_bytes = 64 * 1024;  // the output only feeds the checksum

bool gzip_probe(const uint8_t* p, size_t n) {
    return n >= gzip_fixed_bytes && (p[gzip_flags_at] & gzip_reserved) == 0;
}

bool gzip_skip_text(carve_view_c& view, uint64_t& pos) {
    for (size_t i = 0; i < 65536; ++i) {
        uint8_t c = 0;
        if (!view.read(pos++, &c, 1)) {
            return false;
        }
        if (c == 0) {
            return true;
        }
    }
    return false;
}

// RAII for a zlib stream.
struct inflater_c {
    z_stream stream{};
    bool ready = false;
    inflater_c() { ready = inflateInit2(&stream, -MAX_WBITS) == Z_OK; }
    ~inflater_c() {
        if (ready) {
            inflateEnd(&stream);
        }
    }
    inflater_c(const inflater_c&) = delete;
    inflater_c& operator=(const inflater_c&) = delete;
};

bool gzip_carve(carve_view_c& view, carve_result_s& out) {
    uint8_t head[gzip_fixed_bytes];
    if (!view.read(0, head, sizeof head) || !gzip_probe(head, sizeof head)) {
        return false;
    }
    uint8_t flags = head[gzip_flags_at];
    uint64_t pos = gzip_fixed_bytes;
    if (flags & gzip_extra) {
        uint8_t length[2];
        if (!view.read(pos, length, 2)) {
            return false;
        }
        pos += 2 + le16(length);
    }
    if (((flags & gzip_name) && !gzip_skip_text(view, pos)) ||
        ((flags & gzip_comment) && !gzip_skip_text(view, pos))) {
        return false;
    }
    if (flags & gzip_header_crc) {
        pos += 2;
    }
    inflater_c inflater;
    if (!inflater.ready) {
        return false;
    }
    std::vector<uint8_t> sink(gzip_sink_bytes);
    uLong crc = crc32(0, nullptr, 0);
    uint64_t produced = 0;
    int status = Z_OK;
    while (status != Z_STREAM_END) {
        if (view.stopped()) {
            return false;
        }
        size_t got = 0;
        const uint8_t* p = view.span(pos, gzip_feed_bytes, got);
        if (got == 0) {
            return false;
        }
        inflater.stream.next_in = const_cast<Bytef*>(p);
        inflater.stream.avail_in = static_cast<uInt>(got);
        while (inflater.stream.avail_in > 0 && status != Z_STREAM_END) {
            inflater.stream.next_out = sink.data();
            inflater.stream.avail_out = static_cast<uInt>(sink.size());
            status = inflate(&inflater.stream, Z_NO_FLUSH);
            size_t made = sink.size() - inflater.stream.avail_out;
            crc = crc32(crc, sink.data(), static_cast<uInt>(made));
            produced += made;
            if (status != Z_OK && status != Z_STREAM_END) {
                return false;
            }
            if (status == Z_OK && made == 0 && inflater.stream.avail_in > 0) {
                return false;
            }
        }
        pos += got - inflater.stream.avail_in;
    }
    uint8_t trailer[gzip_trailer_bytes];
    if (!view.read(pos, trailer, sizeof trailer) || le32(trailer) != crc ||
        le32(trailer + 4) != (produced & 0xFFFFFFFF)) {
        return false;
    }
    out.size = pos + gzip_trailer_bytes;
    return true;
}

// 7z signature header.
constexpr size_t sevenzip_major_at = 6;
constexpr size_t sevenzip_start_crc_at = 8;
constexpr size_t sevenzip_next_offset_at = 12;
constexpr size_t sevenzip_next_size_at = 20;
constexpr uint64_t sevenzip_header_bytes = 32;

bool sevenzip_probe(const uint8_t* p, size_t n) {
    return n >= sevenzip_header_bytes && p[sevenzip_major_at] == 0 &&
           crc32(0, p + sevenzip_next_offset_at, 20) == le32(p + sevenzip_start_crc_at);
}

bool sevenzip_carve(carve_view_c& view, carve_result_s& out) {
    uint8_t head[sevenzip_header_bytes];
    if (!view.read(0, head, sizeof head) || !sevenzip_probe(head, sizeof head)) {
        return false;
    }
    uint64_t next_offset = le64(head + sevenzip_next_offset_at);
    uint64_t next_size = le64(head + sevenzip_next_size_at);
    if (next_size == 0 || next_offset > view.limit() || next_size > view.limit()) {
        return false;
    }
    out.size = std::min(sevenzip_header_bytes + next_offset + next_size, view.limit());
    return true;
}

// RAR 4 blocks.
constexpr uint64_t rar4_marker_bytes = 7;
constexpr size_t rar4_type_at = 2;
constexpr size_t rar4_flags_at = 3;
constexpr size_t rar4_size_at = 5;
constexpr size_t rar4_add_size_at = 7;
constexpr size_t rar4_high_size_at = 32;
constexpr uint16_t rar4_long_block = 0x8000;
constexpr uint16_t rar4_large_file = 0x0100;
constexpr uint8_t rar4_archive_header = 0x73;
constexpr uint8_t rar4_file_header = 0x74;
constexpr uint8_t rar4_end = 0x7B;
// RAR 5 blocks.
constexpr uint64_t rar5_marker_bytes = 8;
constexpr uint64_t rar5_crc_bytes = 4;
constexpr uint64_t rar5_end = 5;
constexpr uint64_t rar5_extra_area = 0x01;
constexpr uint64_t rar5_data_area = 0x02;

bool rar_vint(const uint8_t* p, size_t n, size_t& at, uint64_t& value) {
    value = 0;
    for (int shift = 0; shift < 64 && at < n; shift += 7) {
        uint8_t byte = p[at++];
        value |= static_cast<uint64_t>(byte & 0x7F) << shift;
        if (!(byte & 0x80)) {
            return true;
        }
    }
    return false;
}

bool rar5_carve(carve_view_c& view, carve_result_s& out) {
    uint64_t pos = rar5_marker_bytes;
    size_t blocks = 0;
    for (;;) {
        uint8_t h[32];
        size_t got = 0;
        const uint8_t* p = view.span(pos, sizeof h, got);
        if (got < 8 || view.stopped()) {
            break;
        }
        size_t at = rar5_crc_bytes;
        uint64_t header_size = 0, type = 0, flags = 0, extra = 0, data = 0;
        if (!rar_vint(p, got, at, header_size)) {
            break;
        }
        uint64_t header_start = at;
        if (!rar_vint(p, got, at, type) || !rar_vint(p, got, at, flags) || type == 0 ||
            type > rar5_end || header_size == 0 || header_size > (1u << 21)) {
            break;
        }
        if ((flags & rar5_extra_area) && !rar_vint(p, got, at, extra)) {
            break;
        }
        if ((flags & rar5_data_area) && !rar_vint(p, got, at, data)) {
            break;
        }
        if (data > view.limit()) {
            break;
        }
        pos += header_start + header_size + data;
        ++blocks;
        if (type == rar5_end) {
            out.size = std::min(pos, view.limit());
            return true;
        }
    }
    if (blocks == 0) {
        return false;
    }
    out.size = sc_partial_end(view, rar5_marker_bytes, std::min(pos, view.limit()));
    return true;
}

bool rar_carve(carve_view_c& view, carve_result_s& out) {
    uint8_t marker[rar5_marker_bytes];
    if (!view.read(0, marker, sizeof marker)) {
        return false;
    }
    if (marker[6] == 0x01) {
        return rar5_carve(view, out);
    }
    uint64_t pos = rar4_marker_bytes;
    size_t blocks = 0;
    for (;;) {
        uint8_t h[rar4_high_size_at + 4];
        if (view.stopped() || !view.read(pos, h, rar4_add_size_at)) {
            break;
        }
        uint8_t type = h[rar4_type_at];
        uint16_t flags = le16(h + rar4_flags_at);
        uint64_t size = le16(h + rar4_size_at);
        if (type < 0x72 || type > rar4_end || size < rar4_add_size_at ||
            (blocks == 0 && type != rar4_archive_header)) {
            break;
        }
        if ((flags & rar4_long_block) || type == rar4_file_header) {
            if (!view.read(pos, h, sizeof h)) {
                break;
            }
            size += le32(h + rar4_add_size_at);
            if (type == rar4_file_header && (flags & rar4_large_file)) {
                size += static_cast<uint64_t>(le32(h + rar4_high_size_at)) << 32;
            }
        }
        pos += size;
        ++blocks;
        if (type == rar4_end) {
            out.size = std::min(pos, view.limit());
            return true;
        }
    }
    if (blocks == 0) {
        return false;
    }
    out.size = sc_partial_end(view, rar4_marker_bytes, std::min(pos, view.limit()));
    return true;
}

}  // namespace

const format_reader_s zip_reader = {"zip", zip_probe, zip_carve};
const format_reader_s gzip_reader = {"gz", gzip_probe, gzip_carve};
const format_reader_s sevenzip_reader = {"7z", sevenzip_probe, sevenzip_carve};
const format_reader_s rar_reader = {"rar", nullptr, rar_carve};
