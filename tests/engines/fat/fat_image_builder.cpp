#include "tests/engines/fat/fat_image_builder.h"

#include <algorithm>
#include <cstring>

#include "engines/fat/long_name.h"

namespace {

void store16(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
void store32(uint8_t* p, uint32_t v) {
    store16(p, v);
    store16(p + 2, v >> 16);
}

}  // namespace

fat_image_builder_c::fat_image_builder_c(int kind, uint32_t clusters, uint32_t sectors_per_cluster,
                                         uint32_t data_clusters)
    : kind_(kind), per_cluster_(sectors_per_cluster) {
    uint32_t reserved = kind == 32 ? 32 : 1;
    uint32_t root_entries = kind == 32 ? 0 : 512;
    uint64_t fat_bytes = kind == 12   ? (uint64_t(clusters) + 2) * 3 / 2 + 1
                         : kind == 16 ? (uint64_t(clusters) + 2) * 2
                                      : (uint64_t(clusters) + 2) * 4;
    fat_size_ = uint32_t((fat_bytes + 511) / 512);
    fat_start_ = reserved;
    root_start_ = reserved + fat_size_;  // one FAT
    data_start_ = root_start_ + root_entries / 16;
    uint64_t total = data_start_ + uint64_t(clusters) * per_cluster_;
    uint64_t kept = std::min<uint64_t>(clusters, data_clusters);
    bytes_.assign((data_start_ + kept * per_cluster_) * 512, 0);

    uint8_t* boot = bytes_.data();
    boot[0] = 0xEB;
    boot[1] = 0x3C;
    boot[2] = 0x90;
    std::memcpy(boot + 3, "MSWIN4.1", 8);
    store16(boot + 11, 512);
    boot[13] = uint8_t(per_cluster_);
    store16(boot + 14, reserved);
    boot[16] = 1;
    store16(boot + 17, root_entries);
    if (total < 0x10000 && kind != 32) {
        store16(boot + 19, uint32_t(total));
    } else {
        store32(boot + 32, uint32_t(total));
    }
    boot[21] = 0xF8;
    if (kind == 32) {
        store32(boot + 36, fat_size_);
        store32(boot + 44, 2);
        std::memcpy(boot + 82, "FAT32   ", 8);
    } else {
        store16(boot + 22, fat_size_);
        std::memcpy(boot + 54, kind == 12 ? "FAT12   " : "FAT16   ", 8);
    }
    boot[510] = 0x55;
    boot[511] = 0xAA;
    set_fat(0, 0x0FFFFFF8);
    set_fat(1, 0x0FFFFFFF);
    if (kind == 32) {
        set_fat(2, 0x0FFFFFFF);
    }
}

void fat_image_builder_c::set_fat(uint32_t cluster, uint32_t value) {
    uint8_t* fat = bytes_.data() + uint64_t(fat_start_) * 512;
    if (kind_ == 12) {
        uint32_t offset = cluster + cluster / 2;
        uint32_t old = fat[offset] | (fat[offset + 1] << 8);
        uint32_t v = value & 0xFFF;
        old = (cluster & 1) ? (old & 0x000F) | (v << 4) : (old & 0xF000) | v;
        store16(fat + offset, old);
    } else if (kind_ == 16) {
        store16(fat + cluster * 2, value & 0xFFFF);
    } else {
        store32(fat + uint64_t(cluster) * 4, value & 0x0FFFFFFF);
    }
}

void fat_image_builder_c::chain(const std::vector<uint32_t>& clusters) {
    for (size_t i = 0; i < clusters.size(); ++i) {
        set_fat(clusters[i], i + 1 < clusters.size() ? clusters[i + 1] : 0x0FFFFFFF);
    }
}

uint8_t* fat_image_builder_c::cluster(uint32_t n) {
    return bytes_.data() + (uint64_t(data_start_) + uint64_t(n - 2) * per_cluster_) * 512;
}

uint8_t* fat_image_builder_c::root() {
    return kind_ == 32 ? cluster(2) : bytes_.data() + uint64_t(root_start_) * 512;
}

void fat_image_builder_c::put_entry(uint8_t* folder, uint32_t slot, const std::string& name11,
                                    uint8_t attr, uint32_t first_cluster, uint32_t size,
                                    uint16_t date, uint16_t time, uint16_t create_date,
                                    uint16_t create_time) {
    uint8_t* e = folder + slot * 32;
    std::memset(e, 0, 32);
    std::memcpy(e, name11.data(), std::min<size_t>(11, name11.size()));
    e[11] = attr;
    store16(e + 14, create_time);
    store16(e + 16, create_date);
    store16(e + 20, first_cluster >> 16);
    store16(e + 22, time);
    store16(e + 24, date);
    store16(e + 26, first_cluster & 0xFFFF);
    store32(e + 28, size);
}

uint32_t fat_image_builder_c::put_long_name(uint8_t* folder, uint32_t slot,
                                            const std::u16string& name, const std::string& name11,
                                            bool deleted) {
    uint8_t sum = sfn_checksum(reinterpret_cast<const uint8_t*>(name11.data()));
    uint32_t parts = uint32_t((name.size() + 12) / 13);
    for (uint32_t p = parts; p >= 1; --p) {
        uint8_t* e = folder + slot * 32;
        std::memset(e, 0, 32);
        e[0] = uint8_t(p | (p == parts ? 0x40 : 0));
        if (deleted) {
            e[0] = 0xE5;
        }
        e[11] = 0x0F;
        e[13] = sum;
        for (uint32_t i = 0; i < 13; ++i) {
            size_t at = (p - 1) * 13 + i;
            uint16_t c = at < name.size() ? name[at] : at == name.size() ? 0 : 0xFFFF;
            store16(e + lfn_char_offsets[i], c);
        }
        ++slot;
    }
    return slot;
}
