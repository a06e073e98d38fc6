#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/memory_source.h"

// Builds small FAT volumes byte by byte, for the damage that mkfs.fat and mtools never make.
class fat_image_builder_c {
public:
    // `kind` is 12, 16 or 32. The FAT is sized for `clusters`; data space for at most
    // `data_clusters` of them is allocated (the rest reads as past the end of the image).
    fat_image_builder_c(int kind, uint32_t clusters, uint32_t sectors_per_cluster = 1,
                        uint32_t data_clusters = 0xFFFFFFFF);

    std::vector<uint8_t>& bytes() { return bytes_; }
    uint32_t sectors_per_cluster() const { return per_cluster_; }
    uint32_t cluster_bytes() const { return per_cluster_ * 512; }

    void set_fat(uint32_t cluster, uint32_t value);
    // Links the clusters into a chain ending with an end mark.
    void chain(const std::vector<uint32_t>& clusters);
    uint8_t* cluster(uint32_t n);
    // The root folder's slots (fixed root, or root cluster 2 on FAT32).
    uint8_t* root();

    // Writes a short entry at `slot` of `folder`. `name11` is the raw 11-byte name.
    static void put_entry(uint8_t* folder, uint32_t slot, const std::string& name11, uint8_t attr,
                          uint32_t first_cluster, uint32_t size, uint16_t date = 0x5A21,
                          uint16_t time = 0x6000, uint16_t create_date = 0x5A21,
                          uint16_t create_time = 0x6000);
    // Writes the long-name parts of `name` for the short name `name11` from `slot` on and
    // returns the slot after them. `deleted` marks each part with 0xE5.
    static uint32_t put_long_name(uint8_t* folder, uint32_t slot, const std::u16string& name,
                                  const std::string& name11, bool deleted);
    static void mark_deleted(uint8_t* folder, uint32_t slot) { folder[slot * 32] = 0xE5; }

    std::shared_ptr<memory_source_c> source() const {
        return std::make_shared<memory_source_c>(bytes_);
    }

private:
    int kind_;
    uint32_t per_cluster_;
    uint32_t fat_start_ = 0;
    uint32_t fat_size_ = 0;
    uint32_t root_start_ = 0;
    uint32_t data_start_ = 0;
    std::vector<uint8_t> bytes_;
};
