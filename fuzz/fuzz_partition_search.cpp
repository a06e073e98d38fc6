// The lost-partition search over a disk made of the fuzzer's bytes (the NTFS and FAT32
// boot-sector tests at every sector and the jump past each find), then the new partition
// sector built from its finds and the disk's own first sectors, as a repair would.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "partitions/partition_search.h"
#include "partitions/partition_table.h"
#include "platform/memory_source.h"

namespace {

constexpr uint64_t sector_bytes = 512;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    memory_source_c disk(std::vector<uint8_t>(data, data + size));
    partition_table_input_s input;
    input.disk_sectors = size / sector_bytes;
    partition_search_hooks_s hooks;
    hooks.found = [&input](const partition_item_s& item) {
        if (item.start_sector >= input.disk_sectors || item.end_sector < item.start_sector) {
            std::abort();  // a find that is not on the disk, or ends before it starts
        }
        input.found.push_back(item);
    };
    if (search_partitions(disk, hooks) != 0) {
        std::abort();  // nothing asked it to stop
    }
    std::memcpy(input.old_sector.data(), data, std::min<size_t>(size, sector_bytes));
    if (size > sector_bytes) {
        std::memcpy(input.next_sector.data(), data + sector_bytes,
                    std::min<size_t>(size - sector_bytes, sector_bytes));
    }
    sector_bytes_t out{};
    std::string error;
    build_partition_sector(input, out, error);
    return 0;
}
