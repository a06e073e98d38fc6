#include "libs/ntfs/ntfs_runlist.h"

#include <algorithm>

int decode_runlist(const uint8_t* pairs, uint32_t length, uint64_t first_vcn,
                   uint64_t total_clusters, std::vector<ntfs_run_s>& runs) {
    uint32_t pos = 0;
    uint64_t vcn = first_vcn;
    int64_t lcn = 0;
    while (pos < length) {
        const uint8_t header = pairs[pos++];
        if (header == 0) {
            return 0;
        }
        const uint32_t length_bytes = header & 0x0F;
        const uint32_t offset_bytes = header >> 4;
        if (length_bytes == 0 || length_bytes > 8 || offset_bytes > 8 ||
            length_bytes + offset_bytes > length - pos) {
            return -1;
        }
        uint64_t count = 0;
        for (uint32_t i = 0; i < length_bytes; ++i) {
            count |= static_cast<uint64_t>(pairs[pos + i]) << (8 * i);
        }
        pos += length_bytes;
        if (count == 0 || count > ntfs_max_stream_clusters ||
            vcn + count > ntfs_max_stream_clusters) {
            return -1;
        }
        ntfs_run_s run;
        run.vcn = vcn;
        run.length = count;
        if (offset_bytes == 0) {
            run.lcn = ntfs_run_hole;
        } else {
            uint64_t delta = 0;
            for (uint32_t i = 0; i < offset_bytes; ++i) {
                delta |= static_cast<uint64_t>(pairs[pos + i]) << (8 * i);
            }
            if (offset_bytes < 8 && (pairs[pos + offset_bytes - 1] & 0x80) != 0) {
                delta |= ~0ull << (8 * offset_bytes);  // sign-extend
            }
            pos += offset_bytes;
            // Wrap-around arithmetic, then a range check: a hostile delta cannot overflow
            // into a valid-looking cluster without failing it.
            lcn = static_cast<int64_t>(static_cast<uint64_t>(lcn) + delta);
            if (lcn < 0 || static_cast<uint64_t>(lcn) >= total_clusters ||
                count > total_clusters - static_cast<uint64_t>(lcn)) {
                return -1;
            }
            run.lcn = static_cast<uint64_t>(lcn);
        }
        runs.push_back(run);
        vcn += count;
    }
    return -1;  // no terminating zero inside the attribute
}

int64_t find_run(const std::vector<ntfs_run_s>& runs, uint64_t vcn) {
    auto it = std::upper_bound(runs.begin(), runs.end(), vcn,
                               [](uint64_t v, const ntfs_run_s& r) { return v < r.vcn; });
    if (it == runs.begin()) {
        return -1;
    }
    --it;
    if (vcn - it->vcn >= it->length) {
        return -1;
    }
    return it - runs.begin();
}

uint64_t runs_end_vcn(const std::vector<ntfs_run_s>& runs) {
    return runs.empty() ? 0 : runs.back().vcn + runs.back().length;
}
