#pragma once

#include <cstdint>
#include <vector>

// One attribute of a file record, as a checked view into the record's bytes.
struct ntfs_attribute_s {
    uint32_t type = 0;
    uint16_t flags = 0;
    uint16_t instance = 0;
    bool non_resident = false;
    const uint8_t* name_bytes = nullptr;
    uint8_t name_length = 0;
    // Resident value.
    const uint8_t* value = nullptr;
    uint32_t value_length = 0;
    // Non-resident header.
    uint64_t lowest_vcn = 0;
    uint64_t highest_vcn = 0;
    uint8_t compression_unit = 0;
    uint64_t allocated_size = 0;
    uint64_t data_size = 0;
    uint64_t initialized_size = 0;
    const uint8_t* mapping_pairs = nullptr;
    uint32_t mapping_pairs_length = 0;
};

// What a file record's header says, once it passed every check.
struct ntfs_record_s {
    uint16_t sequence = 0;
    uint16_t flags = 0;
    uint64_t base_reference = 0;
    std::vector<ntfs_attribute_s> attributes;  // in record order
};

// Applies the update-sequence fix-ups of one record in place. 0 when the signature and
// every protected sector check out, -1 when the record must not be trusted.
int apply_record_fixups(uint8_t* record, uint32_t record_size);

// Checks the header and every attribute of a record whose fix-ups were applied, and
// lists its attributes. 0 on success, -1 when anything points outside the record.
int parse_record(const uint8_t* record, uint32_t record_size, ntfs_record_s& out);

// Just the header fields the walk's parent checks need. 0, or -1 for a bad header.
int parse_record_header(const uint8_t* record, uint32_t record_size, uint16_t& sequence,
                        uint16_t& flags, uint64_t& base_reference);
