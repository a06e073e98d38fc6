// Structure readers for sound and video: MP3, RIFF (WAV, AVI, WebP), MP4/MOV/3GP, Ogg and
// MPEG program streams.
#include <cctype>
#include <cstring>
#include <set>

#include "libs/sigscan/byte_order.h"
#include "libs/sigscan/format_readers.h"

using namespace sc_bytes;

namespace {

// MPEG audio frames.
constexpr uint64_t id3_header_bytes = 10;
constexpr uint8_t id3_footer_flag = 0x10;
constexpr uint64_t id3v1_bytes = 128;
constexpr int mp3_frames_without_tag = 4;  // a bare frame sync is weak evidence
constexpr uint64_t mp3_max_padding = 64 * 1024;

struct mpeg_frame_s {
    uint32_t length = 0;
    uint8_t version = 0;  // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
    uint8_t layer = 0;    // 3 layer I, 2 layer II, 1 layer III
    uint8_t rate = 0;
};

bool mpeg_frame(const uint8_t* p, mpeg_frame_s& out) {
    if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) {
        return false;
    }
    uint8_t version = (p[1] >> 3) & 3;
    uint8_t layer = (p[1] >> 1) & 3;
    uint8_t bitrate_index = p[2] >> 4;
    uint8_t rate_index = (p[2] >> 2) & 3;
    uint8_t padding = (p[2] >> 1) & 1;
    if (version == 1 || layer == 0 || bitrate_index == 0 || bitrate_index == 15 ||
        rate_index == 3) {
        return false;
    }
    static const uint16_t kbps[2][3][15] = {
        // MPEG-1: layer III, II, I
        {{0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
         {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
         {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448}},
        // MPEG-2 and 2.5: layer III, II, I
        {{0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
         {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
         {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256}}};
    static const uint32_t rates[3] = {44100, 48000, 32000};
    bool mpeg1 = version == 3;
    uint32_t bitrate = kbps[mpeg1 ? 0 : 1][layer - 1][bitrate_index] * 1000u;
    uint32_t rate = rates[rate_index] >> (mpeg1 ? 0 : version == 2 ? 1 : 2);
    if (layer == 3) {
        out.length = (12 * bitrate / rate + padding) * 4;
    } else if (layer == 1 && !mpeg1) {
        out.length = 72 * bitrate / rate + padding;
    } else {
        out.length = 144 * bitrate / rate + padding;
    }
    out.version = version;
    out.layer = layer;
    out.rate = rate_index;
    return out.length >= 4;
}

bool same_stream(const mpeg_frame_s& a, const mpeg_frame_s& b) {
    return a.version == b.version && a.layer == b.layer && a.rate == b.rate;
}

bool id3_size(const uint8_t* p, uint64_t& size) {
    if (std::memcmp(p, "ID3", 3) != 0 || p[3] < 2 || p[3] > 4 || p[4] == 0xFF) {
        return false;
    }
    uint64_t body = 0;
    for (int i = 6; i < 10; ++i) {
        if (p[i] & 0x80) {
            return false;
        }
        body = (body << 7) | p[i];
    }
    size = id3_header_bytes + body + ((p[5] & id3_footer_flag) ? id3_header_bytes : 0);
    return true;
}

bool mp3_probe(const uint8_t* p, size_t n) {
    if (n < id3_header_bytes) {
        return false;
    }
    uint64_t tag = 0;
    if (id3_size(p, tag)) {
        return true;
    }
    mpeg_frame_s first, second;
    if (!mpeg_frame(p, first) || first.length + 4 > n) {
        return false;
    }
    return mpeg_frame(p + first.length, second) && same_stream(first, second);
}

bool mp3_carve(carve_view_c& view, carve_result_s& out) {
    uint8_t head[id3_header_bytes];
    if (!view.read(0, head, sizeof head)) {
        return false;
    }
    uint64_t pos = 0;
    bool tagged = id3_size(head, pos);
    if (tagged) {
        // Some writers pad after the tag with zeros before the first frame.
        uint8_t byte = 0;
        uint64_t skipped = 0;
        while (skipped < mp3_max_padding && view.read(pos, &byte, 1) && byte == 0) {
            ++pos;
            ++skipped;
        }
    }
    mpeg_frame_s first;
    int frames = 0;
    for (;;) {
        uint8_t h[4];
        mpeg_frame_s frame;
        if (!view.read(pos, h, 4) || !mpeg_frame(h, frame)) {
            break;
        }
        if (frames == 0) {
            first = frame;
        } else if (!same_stream(first, frame)) {
            break;
        }
        if (pos + frame.length > view.limit()) {
            break;
        }
        pos += frame.length;
        ++frames;
        if ((frames & 0xFFF) == 0 && view.stopped()) {
            break;
        }
    }
    if (frames < (tagged ? 1 : mp3_frames_without_tag)) {
        return false;
    }
    uint8_t tag[3];
    if (view.read(pos, tag, 3) && std::memcmp(tag, "TAG", 3) == 0 &&
        pos + id3v1_bytes <= view.limit()) {
        pos += id3v1_bytes;
    }
    out.size = pos;
    return true;
}

// RIFF containers.
constexpr size_t riff_size_at = 4;
constexpr uint64_t riff_header_bytes = 12;
constexpr uint64_t riff_chunk_header_bytes = 8;

bool riff_probe(const uint8_t* p, size_t n) {
    if (n < riff_header_bytes + riff_chunk_header_bytes || le32(p + riff_size_at) < 4) {
        return false;
    }
    for (size_t i = riff_header_bytes; i < riff_header_bytes + 4; ++i) {
        if (!std::isprint(p[i])) {
            return false;
        }
    }
    return le32(p + riff_header_bytes + 4) <= le32(p + riff_size_at);
}

bool riff_carve(carve_view_c& view, carve_result_s& out) {
    uint8_t head[riff_header_bytes + riff_chunk_header_bytes];
    if (!view.read(0, head, sizeof head) || !riff_probe(head, sizeof head)) {
        return false;
    }
    uint64_t end = riff_chunk_header_bytes + le32(head + riff_size_at);
    // Large AVI files go on in further RIFF "AVIX" lists.
    uint8_t next[riff_header_bytes];
    while (view.read(end, next, sizeof next) && std::memcmp(next, "RIFF", 4) == 0 &&
           std::memcmp(next + 8, "AVIX", 4) == 0) {
        end += riff_chunk_header_bytes + le32(next + riff_size_at);
    }
    out.size = std::min(end, view.limit());
    return true;
}

// ISO base media (MP4, MOV, 3GP) boxes.
constexpr uint64_t box_header_bytes = 8;
constexpr uint64_t box_large_header_bytes = 16;
constexpr uint32_t box_max_ftyp = 4096;

bool box_type_ok(const uint8_t* t) {
    for (int i = 0; i < 4; ++i) {
        if (!(std::isalnum(t[i]) || t[i] == ' ' || t[i] == 0xA9)) {
            return false;
        }
    }
    return true;
}

bool top_level_box(const uint8_t* t) {
    static const char* const known[] = {"moov", "mdat", "free", "skip", "wide", "uuid",
                                        "meta", "pdin", "moof", "mfra", "sidx", "ssix",
                                        "prft", "emsg", "pnot", "udta", "junk", "PICT",
                                        "styp", "beam", "iinf", "iloc", "idat"};
    for (const char* name : known) {
        if (std::memcmp(t, name, 4) == 0) {
            return true;
        }
    }
    return false;
}

bool mp4_probe(const uint8_t* p, size_t n) {
    return n >= 16 && std::memcmp(p + 4, "ftyp", 4) == 0 && be32(p) >= 16 &&
           be32(p) <= box_max_ftyp && box_type_ok(p + 8);
}

std::string mp4_extension(const uint8_t* brand) {
    if (std::memcmp(brand, "qt  ", 4) == 0) {
        return "mov";
    }
    if (std::memcmp(brand, "3g2", 3) == 0) {
        return "3g2";
    }
    if (std::memcmp(brand, "3gp", 3) == 0) {
        return "3gp";
    }
    if (std::memcmp(brand, "M4A ", 4) == 0) {
        return "m4a";
    }
    if (std::memcmp(brand, "M4V", 3) == 0) {
        return "m4v";
    }
    if (std::memcmp(brand, "heic", 4) == 0 || std::memcmp(brand, "heix", 4) == 0 ||
        std::memcmp(brand, "mif1", 4) == 0) {
        return "heic";
    }
    if (std::memcmp(brand, "avif", 4) == 0) {
        return "avif";
    }
    return {};
}

bool mp4_carve(carve_view_c& view, carve_result_s& out) {
    uint8_t head[16];
    if (!view.read(0, head, sizeof head) || !mp4_probe(head, sizeof head)) {
        return false;
    }
    uint64_t pos = be32(head);
    bool seen_movie = false;
    bool seen_data = false;
    bool cut = false;
    for (;;) {
        uint8_t box[box_large_header_bytes];
        if (!view.read(pos, box, box_header_bytes) || !box_type_ok(box + 4) ||
            !top_level_box(box + 4)) {
            break;  // a second "ftyp" lands here too: the next file
        }
        uint64_t size = be32(box);
        if (size == 1) {
            if (!view.read(pos, box, sizeof box)) {
                break;
            }
            size = be64(box + 8);
        } else if (size == 0) {  // "to the end of the file": unknown here
            pos = sc_partial_end(view, pos + box_header_bytes, view.limit());
            cut = true;
            break;
        }
        if (size < box_header_bytes) {
            break;
        }
        seen_movie = seen_movie || std::memcmp(box + 4, "moov", 4) == 0 ||
                     std::memcmp(box + 4, "moof", 4) == 0;
        seen_data = seen_data || std::memcmp(box + 4, "mdat", 4) == 0;
        if (size > view.limit() - std::min(pos, view.limit())) {
            pos = view.limit();
            cut = true;
            break;
        }
        pos += size;
    }
    if (!seen_movie && !seen_data && !cut) {
        return false;
    }
    out.size = std::min(pos, view.limit());
    out.extension = mp4_extension(head + 8);
    return true;
}

// Ogg pages.
constexpr size_t ogg_flags_at = 5;
constexpr size_t ogg_serial_at = 14;
constexpr size_t ogg_segments_at = 26;
constexpr uint64_t ogg_page_header_bytes = 27;
constexpr uint8_t ogg_first_page = 0x02;
constexpr uint8_t ogg_last_page = 0x04;

bool ogg_carve(carve_view_c& view, carve_result_s& out) {
    uint64_t pos = 0;
    std::set<uint32_t> open_streams;
    size_t pages = 0;
    std::string kind;
    for (;;) {
        uint8_t page[ogg_page_header_bytes + 255];
        if (!view.read(pos, page, ogg_page_header_bytes) || std::memcmp(page, "OggS", 4) != 0 ||
            page[4] != 0) {
            break;
        }
        uint8_t flags = page[ogg_flags_at];
        uint32_t serial = le32(page + ogg_serial_at);
        uint8_t segments = page[ogg_segments_at];
        if (!view.read(pos + ogg_page_header_bytes, page + ogg_page_header_bytes, segments)) {
            break;
        }
        uint64_t body = 0;
        for (uint8_t i = 0; i < segments; ++i) {
            body += page[ogg_page_header_bytes + i];
        }
        if (flags & ogg_first_page) {
            if (pages > 0 && open_streams.empty()) {
                break;  // a new, separate stream: the next file
            }
            open_streams.insert(serial);
        }
        if (pages == 0) {
            uint8_t packet[8] = {};
            view.read(pos + ogg_page_header_bytes + segments, packet, sizeof packet);
            if (std::memcmp(packet, "OpusHead", 8) == 0) {
                kind = "opus";
            } else if (std::memcmp(packet + 1, "theora", 6) == 0) {
                kind = "ogv";
            }
        }
        uint64_t next = pos + ogg_page_header_bytes + segments + body;
        if (next > view.limit()) {
            break;
        }
        pos = next;
        ++pages;
        if (flags & ogg_last_page) {
            open_streams.erase(serial);
        }
        if ((pages & 0xFFF) == 0 && view.stopped()) {
            break;
        }
    }
    if (pages == 0) {
        return false;
    }
    out.size = pos;
    out.extension = kind;
    return true;
}

// MPEG program stream packs and packets.
constexpr uint8_t mpeg_pack = 0xBA;
constexpr uint8_t mpeg_end = 0xB9;
constexpr uint8_t mpeg_first_stream = 0xBB;
constexpr uint64_t mpeg2_pack_bytes = 14;
constexpr uint64_t mpeg1_pack_bytes = 12;

bool mpeg_pack_length(const uint8_t* p, uint64_t& length) {
    if ((p[4] & 0xC0) == 0x40) {
        length = mpeg2_pack_bytes + (p[13] & 7);
        return true;
    }
    if ((p[4] & 0xF0) == 0x20) {
        length = mpeg1_pack_bytes;
        return true;
    }
    return false;
}

bool mpeg_probe(const uint8_t* p, size_t n) {
    uint64_t length = 0;
    return n >= mpeg2_pack_bytes && p[0] == 0 && p[1] == 0 && p[2] == 1 && p[3] == mpeg_pack &&
           mpeg_pack_length(p, length);
}

bool mpeg_carve(carve_view_c& view, carve_result_s& out) {
    uint64_t pos = 0;
    size_t packets = 0;
    for (;;) {
        uint8_t h[mpeg2_pack_bytes];
        if (!view.read(pos, h, 6) || h[0] != 0 || h[1] != 0 || h[2] != 1) {
            break;
        }
        uint64_t length = 0;
        if (h[3] == mpeg_end) {
            pos += 4;
            break;
        }
        if (h[3] == mpeg_pack) {
            if (!view.read(pos, h, sizeof h) || !mpeg_pack_length(h, length)) {
                break;
            }
        } else if (h[3] >= mpeg_first_stream) {
            length = 6 + be16(h + 4);
        } else {
            break;
        }
        if (pos + length > view.limit()) {
            break;
        }
        pos += length;
        ++packets;
        if ((packets & 0xFFF) == 0 && view.stopped()) {
            break;
        }
    }
    if (packets < 2) {
        return false;
    }
    out.size = pos;
    return true;
}

}  // namespace

const format_reader_s mp3_reader = {"mp3", mp3_probe, mp3_carve};
const format_reader_s riff_reader = {"riff", riff_probe, riff_carve};
const format_reader_s mp4_reader = {"mp4", mp4_probe, mp4_carve};
const format_reader_s ogg_reader = {"ogg", nullptr, ogg_carve};
const format_reader_s mpeg_reader = {"mpg", mpeg_probe, mpeg_carve};
