#include "libs/ntfs/ntfs_record.h"

#include <cstring>

#include "libs/ntfs/le_load.h"
#include "libs/ntfs/ntfs_layout.h"

using namespace ntfs_layout;

int apply_record_fixups(uint8_t* record, uint32_t record_size) {
    if (record_size < 512 || std::memcmp(record + rec_magic, "FILE", 4) != 0) {
        return -1;
    }
    const uint32_t usa_offset = ld_u16(record + rec_usa_offset);
    const uint32_t usa_count = ld_u16(record + rec_usa_count);
    if (usa_count < 2 || (usa_offset & 1) != 0 || usa_offset < rec_usa_count + 2 ||
        usa_offset + 2 * usa_count > record_size) {
        return -1;
    }
    const uint32_t blocks = usa_count - 1;
    if (record_size % blocks != 0) {
        return -1;
    }
    const uint32_t stride = record_size / blocks;
    if (stride < 256 || (stride & (stride - 1)) != 0 || usa_offset + 2 * usa_count > stride) {
        return -1;
    }
    const uint16_t usn = ld_u16(record + usa_offset);
    for (uint32_t i = 0; i < blocks; ++i) {
        uint8_t* tail = record + (i + 1) * stride - 2;
        if (ld_u16(tail) != usn) {
            return -1;
        }
    }
    for (uint32_t i = 0; i < blocks; ++i) {
        uint8_t* tail = record + (i + 1) * stride - 2;
        std::memcpy(tail, record + usa_offset + 2 + 2 * i, 2);
    }
    return 0;
}

int parse_record_header(const uint8_t* record, uint32_t record_size, uint16_t& sequence,
                        uint16_t& flags, uint64_t& base_reference) {
    if (record_size < rec_header_min) {
        return -1;
    }
    sequence = ld_u16(record + rec_sequence);
    flags = ld_u16(record + rec_flags);
    base_reference = ld_u64(record + rec_base_reference);
    return 0;
}

int parse_record(const uint8_t* record, uint32_t record_size, ntfs_record_s& out) {
    out.attributes.clear();
    if (parse_record_header(record, record_size, out.sequence, out.flags, out.base_reference) !=
        0) {
        return -1;
    }
    uint32_t limit = ld_u32(record + rec_bytes_in_use);
    if (limit > record_size || limit < rec_header_min) {
        return -1;
    }
    uint32_t pos = ld_u16(record + rec_first_attribute);
    if (pos < rec_header_min || pos >= limit) {
        return -1;
    }
    // Every attribute is at least 16 bytes long, so the walk ends within the record.
    while (true) {
        if (pos + 4 > limit) {
            return -1;
        }
        const uint8_t* a = record + pos;
        const uint32_t type = ld_u32(a + attr_type);
        if (type == type_end) {
            return 0;
        }
        if (pos + 16 > limit) {
            return -1;
        }
        const uint32_t length = ld_u32(a + attr_length);
        if (length < 16 || length > limit - pos) {
            return -1;
        }
        ntfs_attribute_s attr;
        attr.type = type;
        attr.non_resident = a[attr_non_resident] != 0;
        attr.name_length = a[attr_name_length];
        attr.flags = ld_u16(a + attr_flags);
        attr.instance = ld_u16(a + attr_instance);
        if (attr.name_length != 0) {
            const uint32_t name_offset = ld_u16(a + attr_name_offset);
            if (name_offset + 2u * attr.name_length > length) {
                return -1;
            }
            attr.name_bytes = a + name_offset;
        }
        if (!attr.non_resident) {
            if (length < attr_resident_min) {
                return -1;
            }
            const uint32_t value_length = ld_u32(a + attr_value_length);
            const uint32_t value_offset = ld_u16(a + attr_value_offset);
            if (value_offset > length || value_length > length - value_offset) {
                return -1;
            }
            attr.value = a + value_offset;
            attr.value_length = value_length;
        } else {
            if (length < attr_non_resident_min) {
                return -1;
            }
            const uint32_t pairs = ld_u16(a + attr_mapping_pairs);
            if (pairs >= length || pairs < attr_non_resident_min) {
                return -1;
            }
            attr.lowest_vcn = ld_u64(a + attr_lowest_vcn);
            attr.highest_vcn = ld_u64(a + attr_highest_vcn);
            attr.compression_unit = a[attr_compression_unit];
            attr.allocated_size = ld_u64(a + attr_allocated_size);
            attr.data_size = ld_u64(a + attr_data_size);
            attr.initialized_size = ld_u64(a + attr_initialized_size);
            attr.mapping_pairs = a + pairs;
            attr.mapping_pairs_length = length - pairs;
        }
        out.attributes.push_back(attr);
        pos += length;
    }
}
