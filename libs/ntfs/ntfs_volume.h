#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "libs/ntfs/ntfs_boot.h"
#include "libs/ntfs/ntfs_runlist.h"
#include "platform/block_source.h"

// An open NTFS volume: its geometry and where the MFT's records lie.
class ntfs_volume_c {
public:
    // Reads the boot sector (or its backup) and the MFT's own run list.
    // 0, or ntfs_err_open / ntfs_err_not_ntfs / ntfs_err_bad_mft.
    int open(std::shared_ptr<block_source_c> source);

    const ntfs_boot_s& boot() const { return boot_; }
    block_source_c& source() { return *source_; }
    uint64_t record_count() const { return record_count_; }
    uint32_t record_size() const { return boot_.record_size; }

    // Reads `count` raw records from `first` into `out` (count * record_size bytes),
    // in as few reads as the MFT's fragments allow. Records past the MFT's runs read as
    // zeros (they fail the signature check). 0, or -1 on a read error.
    int read_raw_records(uint64_t first, uint64_t count, uint8_t* out);

    // Reads one record and applies its fix-ups. 0, or -1 when unreadable or damaged.
    int read_record(uint64_t number, std::vector<uint8_t>& out);

    // Reads bytes [offset, offset + len) of a non-resident, uncompressed stream laid out by
    // `runs`; holes read as zeros. 0, -1 on a read error, -2 when the range leaves the runs.
    int read_stream(const std::vector<ntfs_run_s>& runs, uint64_t offset, uint8_t* out, size_t len);

private:
    int load_mft_runs();
    uint64_t readable_end_vcn(const std::vector<ntfs_run_s>& runs) const;

    std::shared_ptr<block_source_c> source_;
    ntfs_boot_s boot_;
    std::vector<ntfs_run_s> mft_runs_;
    uint64_t record_count_ = 0;
};
