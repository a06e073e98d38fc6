#include "libs/ntfs/ntfs_volume.h"

#include <algorithm>
#include <cstring>

#include "libs/ntfs/ntfs_file_info.h"
#include "libs/ntfs/ntfs_layout.h"
#include "libs/ntfs/ntfs_library.h"
#include "libs/ntfs/ntfs_record.h"

using namespace ntfs_layout;

namespace {

constexpr uint64_t max_records = 1ull << 32;

// Reads [offset, offset + len) of a stream; holes read as zeros. Bytes past the runs read
// as zeros when `zero_beyond`, else the call fails with -2.
int read_runs(block_source_c& source, uint32_t cluster_size, const std::vector<ntfs_run_s>& runs,
              uint64_t offset, uint8_t* out, size_t len, bool zero_beyond) {
    while (len > 0) {
        const uint64_t vcn = offset / cluster_size;
        const uint64_t within = offset % cluster_size;
        const int64_t index = find_run(runs, vcn);
        if (index < 0) {
            if (!zero_beyond) {
                return -2;
            }
            std::memset(out, 0, len);
            return 0;
        }
        const ntfs_run_s& run = runs[static_cast<size_t>(index)];
        const uint64_t left_in_run = (run.vcn + run.length - vcn) * cluster_size - within;
        const size_t piece = left_in_run < len ? static_cast<size_t>(left_in_run) : len;
        if (run.lcn == ntfs_run_hole) {
            std::memset(out, 0, piece);
        } else {
            const uint64_t at = (run.lcn + (vcn - run.vcn)) * cluster_size + within;
            if (read_exact(source, at, out, piece) != 0) {
                return -1;
            }
        }
        out += piece;
        offset += piece;
        len -= piece;
    }
    return 0;
}

}  // namespace

int ntfs_volume_c::open(std::shared_ptr<block_source_c> source) {
    source_ = std::move(source);
    if (!source_ || source_->size() == 0) {
        return ntfs_err_open;
    }
    const int boot = read_ntfs_boot(*source_, boot_);
    if (boot == -1) {
        return ntfs_err_open;
    }
    if (boot != 0) {
        return ntfs_err_not_ntfs;
    }
    return load_mft_runs();
}

// The virtual cluster just past the last MFT cluster that lies inside the source. Records
// beyond it cannot be read: counting them in (a truncated image, or a hostile size or run)
// would only drive the walk's bookkeeping for records that are not there.
uint64_t ntfs_volume_c::readable_end_vcn(const std::vector<ntfs_run_s>& runs) const {
    const uint64_t source_clusters = source_->size() / boot_.cluster_size;
    uint64_t end = 0;
    for (const ntfs_run_s& run : runs) {
        if (run.lcn != ntfs_run_hole && run.lcn < source_clusters) {
            end = run.vcn + std::min(run.length, source_clusters - run.lcn);
        }
    }
    return end;
}

int ntfs_volume_c::load_mft_runs() {
    const uint32_t rs = boot_.record_size;
    const uint32_t cs = boot_.cluster_size;
    std::vector<uint8_t> record(rs);
    // The MFT's own record first, then its mirror copy when that one is damaged.
    const uint64_t candidates[2] = {boot_.mft_lcn, boot_.mft_mirror_lcn};
    for (uint64_t lcn : candidates) {
        if (lcn == 0 || lcn >= boot_.total_clusters) {
            continue;
        }
        if (read_exact(*source_, lcn * cs, record.data(), rs) != 0 ||
            apply_record_fixups(record.data(), rs) != 0) {
            continue;
        }
        ntfs_record_s parsed;
        if (parse_record(record.data(), rs, parsed) != 0) {
            continue;
        }
        const ntfs_attribute_s* data = nullptr;
        for (const ntfs_attribute_s& a : parsed.attributes) {
            if (a.type == type_data && a.name_length == 0 && a.non_resident && a.lowest_vcn == 0) {
                data = &a;
                break;
            }
        }
        if (data == nullptr) {
            continue;
        }
        std::vector<ntfs_run_s> runs;
        if (decode_runlist(data->mapping_pairs, data->mapping_pairs_length, 0, boot_.total_clusters,
                           runs) != 0 ||
            runs.empty() || runs.front().lcn == ntfs_run_hole) {
            continue;
        }
        uint64_t data_size = data->data_size;
        // A fragmented MFT may continue in extension records, which the first extent
        // already lets us read.
        mft_runs_ = runs;
        record_count_ = runs_end_vcn(runs) * cs / rs;
        ntfs_file_info_s info;
        if (collect_file_info(*this, mft_record, record.data(), true, info) == 0 &&
            info.data.runs_ok && runs_end_vcn(info.data.runs) >= runs_end_vcn(runs)) {
            mft_runs_ = info.data.runs;
            data_size = info.data.data_size;
        }
        // No MFT is larger than the source that holds it, even when its runs overlap.
        const uint64_t covered =
            std::min({runs_end_vcn(mft_runs_), readable_end_vcn(mft_runs_), source_->size() / cs}) *
            cs;
        if (data_size > covered) {
            data_size = covered;
        }
        // Record numbers are 48-bit, but no real MFT comes near 2^32 records: a larger
        // count is a hostile size that would only drive the walk's bookkeeping.
        record_count_ = std::min<uint64_t>(data_size / rs, max_records);
        if (record_count_ == 0) {
            continue;
        }
        return 0;
    }
    mft_runs_.clear();
    record_count_ = 0;
    return ntfs_err_bad_mft;
}

int ntfs_volume_c::read_raw_records(uint64_t first, uint64_t count, uint8_t* out) {
    const uint64_t rs = boot_.record_size;
    return read_runs(*source_, boot_.cluster_size, mft_runs_, first * rs, out,
                     static_cast<size_t>(count * rs), true) == 0
               ? 0
               : -1;
}

int ntfs_volume_c::read_record(uint64_t number, std::vector<uint8_t>& out) {
    if (number >= record_count_) {
        return -1;
    }
    out.resize(boot_.record_size);
    if (read_raw_records(number, 1, out.data()) != 0) {
        return -1;
    }
    return apply_record_fixups(out.data(), boot_.record_size);
}

int ntfs_volume_c::read_stream(const std::vector<ntfs_run_s>& runs, uint64_t offset, uint8_t* out,
                               size_t len) {
    return read_runs(*source_, boot_.cluster_size, runs, offset, out, len, false);
}
