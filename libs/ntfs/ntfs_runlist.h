#pragma once

#include <cstdint>
#include <vector>

// One run of a non-resident stream: `length` clusters from `vcn`, stored at `lcn`, or a
// hole (sparse, or the unstored tail of a compression unit) when `lcn` is ntfs_run_hole.
struct ntfs_run_s {
    uint64_t vcn = 0;
    uint64_t lcn = 0;
    uint64_t length = 0;
};
constexpr uint64_t ntfs_run_hole = UINT64_MAX;

// Streams longer than this many clusters are refused: no volume holds them, and a hostile
// length must not drive a loop or an allocation.
constexpr uint64_t ntfs_max_stream_clusters = 1ull << 40;

// Decodes the mapping pairs of one attribute extent starting at `first_vcn` and appends
// its runs to `runs`. Every stored run must lie inside `total_clusters`. 0 on success,
// -1 when the pairs are malformed, leave the volume or overrun `length`.
int decode_runlist(const uint8_t* pairs, uint32_t length, uint64_t first_vcn,
                   uint64_t total_clusters, std::vector<ntfs_run_s>& runs);

// Finds the run holding `vcn` (runs sorted and contiguous from vcn 0). Index, or -1.
int64_t find_run(const std::vector<ntfs_run_s>& runs, uint64_t vcn);

// Clusters the runs cover from vcn 0 (they are contiguous by construction).
uint64_t runs_end_vcn(const std::vector<ntfs_run_s>& runs);
