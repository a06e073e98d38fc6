#include "tests/libs/ntfs/ntfs_image.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "libs/ntfs/le_load.h"
#include "libs/ntfs/ntfs_layout.h"

using namespace ntfs_layout;

std::vector<manifest_line_s> read_manifest(const std::string& name) {
    std::ifstream in(std::string(QUARNEL_SOURCE_DIR) + "/tests/fixtures/ntfs/" + name);
    std::vector<manifest_line_s> lines;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        manifest_line_s m;
        std::string size;
        std::getline(fields, m.state, '\t');
        std::getline(fields, size, '\t');
        std::getline(fields, m.sha256, '\t');
        std::getline(fields, m.path);
        m.size = std::stoull(size);
        lines.push_back(m);
    }
    return lines;
}

std::map<uint64_t, ntfs_entry_s> scan_all(ntfs_context_s& context) {
    std::map<uint64_t, ntfs_entry_s> entries;
    ntfs_entry_s entry{};
    while (ntfs_scan_next(&context, &entry) != 0) {
        entries[entry.entry_id] = entry;
        entry = ntfs_entry_s{};
    }
    return entries;
}

std::string utf8_name(const ntfs_entry_s& entry) {
    std::string out;
    for (size_t i = 0; i < 260 && entry.name[i] != 0; ++i) {
        uint32_t c = entry.name[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < 260) {
            c = 0x10000 + ((c - 0xD800) << 10) + (entry.name[i + 1] - 0xDC00);
            ++i;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::string entry_path(const std::map<uint64_t, ntfs_entry_s>& entries, uint64_t id) {
    std::string path;
    for (int depth = 0; depth < 64; ++depth) {
        auto it = entries.find(id);
        if (it == entries.end()) {
            return {};
        }
        if (id == 5) {
            return path;
        }
        path = path.empty() ? utf8_name(it->second) : utf8_name(it->second) + "/" + path;
        id = it->second.parent_id;
    }
    return {};
}

uint64_t find_entry(const std::map<uint64_t, ntfs_entry_s>& entries, const std::string& path) {
    for (const auto& [id, entry] : entries) {
        if (entry_path(entries, id) == path) {
            return id;
        }
    }
    return UINT64_MAX;
}

uint32_t record_size_of(const std::vector<uint8_t>& image) {
    const int8_t cpr = static_cast<int8_t>(image[boot_clusters_per_record]);
    const uint32_t cluster =
        ld_u16(&image[boot_bytes_per_sector]) * image[boot_sectors_per_cluster];
    return cpr > 0 ? cluster * static_cast<uint32_t>(cpr) : 1u << -cpr;
}

uint64_t record_offset(const std::vector<uint8_t>& image, uint64_t number) {
    const uint32_t cluster =
        ld_u16(&image[boot_bytes_per_sector]) * image[boot_sectors_per_cluster];
    return ld_u64(&image[boot_mft_lcn]) * cluster + number * record_size_of(image);
}

uint64_t attribute_offset(const std::vector<uint8_t>& image, uint64_t number, uint32_t type) {
    const uint64_t rec = record_offset(image, number);
    uint64_t pos = rec + ld_u16(&image[rec + rec_first_attribute]);
    while (pos + 8 < rec + record_size_of(image)) {
        const uint32_t t = ld_u32(&image[pos]);
        if (t == type_end) {
            return 0;
        }
        if (t == type) {
            return pos;
        }
        const uint32_t length = ld_u32(&image[pos + attr_length]);
        if (length == 0) {
            return 0;
        }
        pos += length;
    }
    return 0;
}
