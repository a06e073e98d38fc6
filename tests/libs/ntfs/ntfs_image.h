#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "libs/ntfs/ntfs_library.h"

// Helpers shared by the NTFS library tests: the fixtures' manifests, the entries a scan
// hands out, and byte offsets inside an image for hand-made damage.

struct manifest_line_s {
    std::string state;  // live, deleted or orphan
    uint64_t size = 0;
    std::string sha256;
    std::string path;  // relative to the root, '/'-separated, UTF-8
};
std::vector<manifest_line_s> read_manifest(const std::string& name);

// Every entry of a scan, by record number. Fails the test when startup fails.
std::map<uint64_t, ntfs_entry_s> scan_all(ntfs_context_s& context);

std::string utf8_name(const ntfs_entry_s& entry);

// "folder/sub/name" up to the root, or "" when the chain breaks or loops.
std::string entry_path(const std::map<uint64_t, ntfs_entry_s>& entries, uint64_t id);

// Record number of the entry at `path`, or UINT64_MAX.
uint64_t find_entry(const std::map<uint64_t, ntfs_entry_s>& entries, const std::string& path);

// Byte offset of record `number` in an image whose MFT starts contiguously.
uint64_t record_offset(const std::vector<uint8_t>& image, uint64_t number);
uint32_t record_size_of(const std::vector<uint8_t>& image);

// Offset (inside the image) of the first attribute of `type` in record `number`, or 0.
uint64_t attribute_offset(const std::vector<uint8_t>& image, uint64_t number, uint32_t type);
