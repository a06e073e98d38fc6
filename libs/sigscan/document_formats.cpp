// Structure readers for documents and databases: PDF, OLE2 compound files, SQLite.
#include <cstring>
#include <set>
#include <vector>

#include "libs/sigscan/byte_order.h"
#include "libs/sigscan/format_readers.h"

using namespace sc_bytes;

namespace {

// PDF: the last end-of-file comment (incremental updates add more than one) and its line end.
const std::vector<uint8_t> pdf_eof_marker = {'%', '%', 'E', 'O', 'F'};
constexpr uint64_t pdf_header_bytes = 8;

bool pdf_probe(const uint8_t* p, size_t n) {
    return n >= pdf_header_bytes && std::memcmp(p, "%PDF-", 5) == 0 &&
           (p[5] == '1' || p[5] == '2') && p[6] == '.';
}

bool pdf_carve(carve_view_c& view, carve_result_s& out) {
    uint8_t head[pdf_header_bytes];
    if (!view.read(0, head, sizeof head) || !pdf_probe(head, sizeof head)) {
        return false;
    }
    uint64_t last = view.find_last(pdf_eof_marker, pdf_header_bytes, view.limit(), nullptr);
    if (last == UINT64_MAX) {
        return false;
    }
    uint64_t end = last + pdf_eof_marker.size();
    uint8_t tail[2] = {0, 0};
    size_t got = 0;
    const uint8_t* p = view.span(end, 2, got);
    if (got >= 1) {
        std::memcpy(tail, p, got);
    }
    if (tail[0] == '\r' && got == 2 && tail[1] == '\n') {
        end += 2;
    } else if (tail[0] == '\n' || tail[0] == '\r') {
        end += 1;
    }
    out.size = end;
    return true;
}

// OLE2 compound file header fields.
constexpr size_t ole_byte_order_at = 28;
constexpr size_t ole_sector_shift_at = 30;
constexpr size_t ole_fat_sectors_at = 44;
constexpr size_t ole_first_directory_at = 48;
constexpr size_t ole_first_difat_at = 68;
constexpr size_t ole_difat_sectors_at = 72;
constexpr size_t ole_header_difat_at = 76;
constexpr size_t ole_header_difat_count = 109;
constexpr size_t ole_header_bytes = 512;
constexpr uint32_t ole_max_regular = 0xFFFFFFFA;
constexpr uint32_t ole_free = 0xFFFFFFFF;
constexpr size_t ole_directory_entry_bytes = 128;
constexpr size_t ole_name_length_at = 64;
constexpr size_t ole_max_directory_sectors = 4096;

bool ole_probe(const uint8_t* p, size_t n) {
    if (n < ole_header_bytes || le16(p + ole_byte_order_at) != 0xFFFE) {
        return false;
    }
    uint16_t shift = le16(p + ole_sector_shift_at);
    return shift == 9 || shift == 12;
}

// The name of a directory entry as ASCII (other characters become '?').
std::string ole_entry_name(const uint8_t* entry) {
    uint16_t bytes = le16(entry + ole_name_length_at);
    std::string name;
    for (size_t i = 0; i + 1 < bytes && i < ole_name_length_at; i += 2) {
        uint16_t unit = le16(entry + i);
        if (unit == 0) {
            break;
        }
        name += unit < 0x80 ? static_cast<char>(unit) : '?';
    }
    return name;
}

std::string ole_kind(carve_view_c& view, const std::vector<uint32_t>& fat, uint32_t first,
                     uint64_t sector_bytes) {
    std::set<uint32_t> seen;
    std::vector<uint8_t> sector(sector_bytes);
    for (uint32_t id = first; id <= ole_max_regular && seen.size() < ole_max_directory_sectors;) {
        if (!seen.insert(id).second ||
            !view.read((uint64_t{id} + 1) * sector_bytes, sector.data(), sector.size())) {
            break;
        }
        for (size_t at = 0; at + ole_directory_entry_bytes <= sector.size();
             at += ole_directory_entry_bytes) {
            std::string name = ole_entry_name(sector.data() + at);
            if (name == "WordDocument") {
                return "doc";
            }
            if (name == "Workbook" || name == "Book") {
                return "xls";
            }
            if (name == "PowerPoint Document") {
                return "ppt";
            }
            if (name.rfind("__substg1.0_", 0) == 0) {
                return "msg";
            }
        }
        id = id < fat.size() ? fat[id] : ole_free;
    }
    return {};
}

bool ole_carve(carve_view_c& view, carve_result_s& out) {
    uint8_t head[ole_header_bytes];
    if (!view.read(0, head, sizeof head) || !ole_probe(head, sizeof head)) {
        return false;
    }
    uint64_t sector_bytes = uint64_t{1} << le16(head + ole_sector_shift_at);
    uint64_t max_sectors = view.limit() / sector_bytes;
    uint32_t fat_count = le32(head + ole_fat_sectors_at);
    if (fat_count == 0 || fat_count > max_sectors) {
        return false;
    }
    // FAT sectors past those that can describe the bytes within the limit add nothing.
    uint64_t useful_fat = max_sectors / (sector_bytes / 4) + 1;
    fat_count = static_cast<uint32_t>(std::min<uint64_t>(fat_count, useful_fat));
    // The FAT's own sectors: 109 in the header, the rest in the DIFAT chain.
    std::vector<uint32_t> fat_sectors;
    for (size_t i = 0; i < ole_header_difat_count && fat_sectors.size() < fat_count; ++i) {
        uint32_t id = le32(head + ole_header_difat_at + i * 4);
        if (id <= ole_max_regular) {
            fat_sectors.push_back(id);
        }
    }
    uint64_t highest = 0;
    std::vector<uint8_t> sector(sector_bytes);
    uint32_t difat = le32(head + ole_first_difat_at);
    uint32_t difat_count = le32(head + ole_difat_sectors_at);
    std::set<uint32_t> seen;
    while (difat <= ole_max_regular && seen.size() < difat_count && seen.insert(difat).second &&
           fat_sectors.size() < fat_count) {
        highest = std::max<uint64_t>(highest, difat);
        if (!view.read((uint64_t{difat} + 1) * sector_bytes, sector.data(), sector.size())) {
            break;
        }
        size_t per_sector = sector_bytes / 4 - 1;
        for (size_t i = 0; i < per_sector && fat_sectors.size() < fat_count; ++i) {
            uint32_t id = le32(sector.data() + i * 4);
            if (id <= ole_max_regular) {
                fat_sectors.push_back(id);
            }
        }
        difat = le32(sector.data() + per_sector * 4);
    }
    std::vector<uint32_t> fat;
    fat.reserve(fat_sectors.size() * sector_bytes / 4);
    bool any_used = false;
    for (uint32_t id : fat_sectors) {
        if (view.stopped() ||
            !view.read((uint64_t{id} + 1) * sector_bytes, sector.data(), sector.size())) {
            return false;
        }
        highest = std::max<uint64_t>(highest, id);
        for (size_t i = 0; i < sector_bytes / 4; ++i) {
            uint32_t next = le32(sector.data() + i * 4);
            if (next != ole_free) {
                highest = std::max<uint64_t>(highest, fat.size());
                any_used = true;
            }
            fat.push_back(next);
        }
    }
    if (!any_used) {
        return false;
    }
    // The header takes one sector's room; sector n starts at (n + 1) * sector size.
    out.size = std::min((highest + 2) * sector_bytes, view.limit());
    out.extension = ole_kind(view, fat, le32(head + ole_first_directory_at), sector_bytes);
    return true;
}

// SQLite database header.
constexpr size_t sqlite_page_size_at = 16;
constexpr size_t sqlite_change_counter_at = 24;
constexpr size_t sqlite_page_count_at = 28;
constexpr size_t sqlite_valid_for_at = 92;
constexpr size_t sqlite_header_bytes = 100;

bool sqlite_size(const uint8_t* p, size_t n, uint64_t& size) {
    if (n < sqlite_header_bytes) {
        return false;
    }
    uint32_t page = be16(p + sqlite_page_size_at);
    if (page == 1) {
        page = 65536;
    }
    if (page < 512 || (page & (page - 1)) != 0) {
        return false;
    }
    uint32_t pages = be32(p + sqlite_page_count_at);
    // The page count is only kept up to date by writers that also set "valid for".
    if (pages == 0 || be32(p + sqlite_change_counter_at) != be32(p + sqlite_valid_for_at)) {
        size = 0;
        return true;
    }
    size = uint64_t{page} * pages;
    return true;
}

bool sqlite_probe(const uint8_t* p, size_t n) {
    uint64_t size = 0;
    return sqlite_size(p, n, size);
}

bool sqlite_carve(carve_view_c& view, carve_result_s& out) {
    uint8_t head[sqlite_header_bytes];
    uint64_t size = 0;
    if (!view.read(0, head, sizeof head) || !sqlite_size(head, sizeof head, size)) {
        return false;
    }
    out.size = size ? std::min(size, view.limit())
                    : sc_partial_end(view, sqlite_header_bytes, view.limit());
    return true;
}

}  // namespace

const format_reader_s pdf_reader = {"pdf", pdf_probe, pdf_carve};
const format_reader_s ole_reader = {"ole", ole_probe, ole_carve};
const format_reader_s sqlite_reader = {"sqlite", sqlite_probe, sqlite_carve};
