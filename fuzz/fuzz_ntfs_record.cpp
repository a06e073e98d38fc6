// One NTFS file record on its own: the update-sequence fix-ups, the header and attribute
// checks, and the run lists of its non-resident attributes. The input is the record.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "libs/ntfs/ntfs_record.h"
#include "libs/ntfs/ntfs_runlist.h"

namespace {

// Record sizes the volumes use; the input is cut or zero-filled to each.
constexpr uint32_t record_sizes[] = {1024, 4096};
// Clusters of a large volume, so that runs rarely fail only for lying outside it.
constexpr uint64_t volume_clusters = 1ull << 32;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    for (uint32_t record_size : record_sizes) {
        if (record_size == 4096 && size <= 1024) {
            continue;  // the same bytes as the 1 KiB record, plus zeros
        }
        std::vector<uint8_t> record(record_size, 0);
        std::copy(data, data + std::min<size_t>(size, record_size), record.begin());
        // Records whose fix-ups fail are still parsed: the scan never does that, but the
        // parser must hold on its own.
        apply_record_fixups(record.data(), record_size);
        uint16_t sequence = 0;
        uint16_t flags = 0;
        uint64_t base = 0;
        parse_record_header(record.data(), record_size, sequence, flags, base);
        ntfs_record_s parsed;
        if (parse_record(record.data(), record_size, parsed) != 0) {
            continue;
        }
        for (const ntfs_attribute_s& attribute : parsed.attributes) {
            if (!attribute.non_resident) {
                continue;
            }
            std::vector<ntfs_run_s> runs;
            if (decode_runlist(attribute.mapping_pairs, attribute.mapping_pairs_length,
                               attribute.lowest_vcn, volume_clusters, runs) == 0) {
                find_run(runs, attribute.highest_vcn);
                runs_end_vcn(runs);
            }
        }
    }
    return 0;
}
