#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "libs/ntfs/ntfs_runlist.h"

class ntfs_volume_c;

// The unnamed $DATA stream of a file, gathered from the base record and its extensions.
struct ntfs_data_stream_s {
    bool present = false;
    bool resident = false;
    bool encrypted = false;
    bool compressed = false;
    uint8_t compression_unit = 0;  // log2 clusters per compression unit
    uint64_t data_size = 0;
    uint64_t initialized_size = 0;
    std::vector<uint8_t> resident_bytes;  // only when runs were asked for
    std::vector<ntfs_run_s> runs;         // only when runs were asked for
    bool runs_ok = false;                 // runs decoded, contiguous, inside the volume
};

// What one base file record tells about its file.
struct ntfs_file_info_s {
    uint16_t sequence = 0;
    bool in_use = false;
    bool is_dir = false;
    bool has_name = false;
    std::u16string name;
    uint64_t parent_reference = 0;
    bool has_times = false;
    uint64_t created = 0;   // Windows file time
    uint64_t modified = 0;  // Windows file time
    bool encrypted = false;
    ntfs_data_stream_s data;
};

// Reads what the scan and the recovery need from record `number`, whose fix-ups are
// applied in `record`. Attributes held in extension records are fetched through the
// attribute list. With `want_runs`, the data stream's runs and resident bytes are kept.
// 0, or -1 when the record is damaged or is itself an extension record.
int collect_file_info(ntfs_volume_c& volume, uint64_t number, const uint8_t* record, bool want_runs,
                      ntfs_file_info_s& out);

// Windows file time (100 ns since 1601) to seconds since 1970; 0 for an unset time.
int64_t file_time_to_unix(uint64_t file_time);
