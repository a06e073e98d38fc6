#include "libs/ntfs/ntfs_library.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "libs/ntfs/ntfs_file_info.h"
#include "libs/ntfs/ntfs_layout.h"
#include "libs/ntfs/ntfs_record.h"
#include "libs/ntfs/ntfs_source_startup.h"
#include "libs/ntfs/ntfs_stream_writer.h"
#include "libs/ntfs/ntfs_volume.h"
#include "platform/platform_backend.h"

using namespace ntfs_layout;

namespace {

// Large enough that a walk needs few reads, small enough to stay in the cache: every new
// page of a larger buffer costs a page fault and zeroing before it pays off.
constexpr size_t batch_bytes = 64u * 1024;
constexpr size_t max_name_units = 259;

// What the parent check needs of each record: its header, once fix-ups passed.
struct record_state_s {
    uint16_t sequence = 0;
    uint8_t bits = 0;
};
constexpr uint8_t state_valid = 0x01;
constexpr uint8_t state_in_use = 0x02;

// Closes a descriptor on every path out.
class unique_fd_c {
public:
    explicit unique_fd_c(int fd) : fd_(fd) {}
    ~unique_fd_c() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    unique_fd_c(const unique_fd_c&) = delete;
    unique_fd_c& operator=(const unique_fd_c&) = delete;
    int get() const { return fd_; }
    int release_close() {
        const int r = ::close(fd_);
        fd_ = -1;
        return r;
    }

private:
    int fd_;
};

}  // namespace

// Where the walk stands: the current batch of records and the headers seen so far.
struct ntfs_scan_state_s {
    // Every byte of a batch is read or zeroed before use: no need to zero it when allocated.
    std::unique_ptr<uint8_t[]> batch;
    size_t batch_capacity = 0;
    std::vector<uint8_t> batch_ok;  // fix-ups passed, per record of the batch
    uint64_t batch_first = 0;
    uint64_t batch_count = 0;
    uint64_t next = 0;
    std::vector<record_state_s> seen;                    // records [0, batch_first + batch_count)
    std::unordered_map<uint64_t, record_state_s> ahead;  // parents read before their turn
    std::vector<uint8_t> scratch;
    ntfs_file_info_s info;  // reused from record to record
};

ntfs_context_s::ntfs_context_s() = default;
ntfs_context_s::~ntfs_context_s() = default;

namespace {

record_state_s header_state(const uint8_t* record, uint32_t record_size) {
    record_state_s s;
    uint16_t flags = 0;
    uint64_t base = 0;
    if (parse_record_header(record, record_size, s.sequence, flags, base) == 0) {
        s.bits = state_valid | ((flags & rec_flag_in_use) ? state_in_use : 0);
    }
    return s;
}

// Reads the next batch of records, applies their fix-ups and notes their headers.
void load_batch(ntfs_volume_c& volume, ntfs_scan_state_s& scan, uint64_t first, uint64_t total) {
    const uint32_t rs = volume.record_size();
    const uint64_t per_batch = batch_bytes / rs;
    const uint64_t count = std::min<uint64_t>(per_batch, total - first);
    const size_t bytes = static_cast<size_t>(count * rs);
    if (scan.batch_capacity < bytes) {
        scan.batch = std::make_unique_for_overwrite<uint8_t[]>(bytes);
        scan.batch_capacity = bytes;
    }
    scan.batch_ok.assign(static_cast<size_t>(count), 0);
    scan.batch_first = first;
    scan.batch_count = count;
    if (volume.read_raw_records(first, count, scan.batch.get()) != 0) {
        // A bad area inside the MFT: keep every record that can still be read.
        for (uint64_t i = 0; i < count; ++i) {
            uint8_t* r = scan.batch.get() + i * rs;
            if (volume.read_raw_records(first + i, 1, r) != 0) {
                std::memset(r, 0, rs);
            }
        }
    }
    scan.seen.resize(static_cast<size_t>(first + count));
    for (uint64_t i = 0; i < count; ++i) {
        uint8_t* r = scan.batch.get() + i * rs;
        if (apply_record_fixups(r, rs) == 0) {
            scan.batch_ok[static_cast<size_t>(i)] = 1;
            scan.seen[static_cast<size_t>(first + i)] = header_state(r, rs);
        }
    }
}

record_state_s state_of(ntfs_volume_c& volume, ntfs_scan_state_s& scan, uint64_t number) {
    if (number < scan.seen.size()) {
        return scan.seen[static_cast<size_t>(number)];
    }
    auto it = scan.ahead.find(number);
    if (it != scan.ahead.end()) {
        return it->second;
    }
    record_state_s s;
    if (volume.read_record(number, scan.scratch) == 0) {
        s = header_state(scan.scratch.data(), volume.record_size());
    }
    scan.ahead.emplace(number, s);
    return s;
}

// A reference still names its folder when the sequence numbers agree, or when the folder
// was deleted afterwards (freeing a record bumps its sequence number, skipping zero).
uint64_t resolve_parent(ntfs_volume_c& volume, ntfs_scan_state_s& scan, uint64_t reference) {
    const uint64_t number = reference & reference_number_mask;
    const uint16_t sequence = static_cast<uint16_t>(reference >> reference_sequence_shift);
    if (number >= volume.record_count()) {
        return ntfs_orphan_parent;
    }
    const record_state_s s = state_of(volume, scan, number);
    if ((s.bits & state_valid) == 0) {
        return ntfs_orphan_parent;
    }
    if (s.sequence == sequence) {
        return number;
    }
    const uint16_t before = s.sequence == 1 ? 0xFFFF : static_cast<uint16_t>(s.sequence - 1);
    const bool freed_once = sequence == before || (s.sequence == 1 && sequence == 0);
    if (freed_once && (s.bits & state_in_use) == 0) {
        return number;
    }
    return ntfs_orphan_parent;
}

void fill_entry(const ntfs_file_info_s& info, uint64_t number, uint64_t parent,
                ntfs_entry_s& entry) {
    std::memset(&entry, 0, sizeof entry);
    entry.entry_id = number;
    entry.parent_id = parent;
    entry.size = info.is_dir ? 0 : info.data.data_size;
    entry.date1 = file_time_to_unix(info.modified);
    entry.date2 = file_time_to_unix(info.created);
    entry.flags = info.is_dir ? ntfs_flag_folder : ntfs_flag_file;
    if (!info.in_use) {
        entry.flags |= ntfs_flag_deleted;
    }
    const size_t units = std::min(info.name.size(), max_name_units);
    for (size_t i = 0; i < units; ++i) {
        entry.name[i] = info.name[i];
    }
    entry.name[units] = 0;
}

// A new file at `target`. Whatever is there already (a file, a link) is replaced, never
// written through. The descriptor, or -1.
int open_new_target(const char* target) {
    constexpr int flags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW;
    int fd = ::open(target, flags, 0644);
    if (fd < 0 && errno == EEXIST && ::unlink(target) == 0) {
        fd = ::open(target, flags, 0644);
    }
    return fd;
}

}  // namespace

int ntfs_scan_startup_source(std::shared_ptr<block_source_c> source, ntfs_context_s* context) {
    if (context == nullptr) {
        return ntfs_err_no_volume;
    }
    ntfs_scan_close(context);
    auto volume = std::make_shared<ntfs_volume_c>();
    const int opened = volume->open(std::move(source));
    if (opened != 0) {
        return opened;
    }
    volume->source().advise_sequential();
    context->volume = std::move(volume);
    context->scan = std::make_unique<ntfs_scan_state_s>();
    context->records_total = context->volume->record_count();
    context->records_done = 0;
    context->open = 1;
    return ntfs_ok;
}

int ntfs_scan_startup(const char* device, ntfs_context_s* context) {
    if (context == nullptr) {
        return ntfs_err_no_volume;
    }
    ntfs_scan_close(context);
    if (device == nullptr) {
        return ntfs_err_open;
    }
    std::shared_ptr<block_source_c> source = open_volume(device);
    if (!source) {
        return ntfs_err_open;
    }
    return ntfs_scan_startup_source(std::move(source), context);
}

int ntfs_scan_next(ntfs_context_s* context, ntfs_entry_s* entry) {
    if (context == nullptr || entry == nullptr || !context->open || !context->scan) {
        return 0;
    }
    ntfs_volume_c& volume = *context->volume;
    ntfs_scan_state_s& scan = *context->scan;
    const uint64_t total = volume.record_count();
    const uint32_t rs = volume.record_size();
    ntfs_file_info_s& info = scan.info;
    while (scan.next < total) {
        if (scan.next >= scan.batch_first + scan.batch_count || scan.batch_count == 0) {
            load_batch(volume, scan, scan.next, total);
        }
        const uint64_t number = scan.next++;
        context->records_done = scan.next;
        const uint64_t index = number - scan.batch_first;
        if (!scan.batch_ok[static_cast<size_t>(index)]) {
            continue;
        }
        const uint8_t* record = scan.batch.get() + index * rs;
        if (collect_file_info(volume, number, record, false, info) != 0 || !info.has_name) {
            continue;
        }
        const uint64_t parent = number == root_record
                                    ? root_record
                                    : resolve_parent(volume, scan, info.parent_reference);
        fill_entry(info, number, parent, *entry);
        return 1;
    }
    context->records_done = total;
    return 0;
}

int ntfs_recover_file(ntfs_context_s* context, uint64_t entry_id, const char* target,
                      uint32_t* written_out) {
    if (written_out != nullptr) {
        *written_out = 0;
    }
    if (context == nullptr || !context->open || !context->volume) {
        return ntfs_err_no_volume;
    }
    if (target == nullptr || *target == '\0') {
        return ntfs_err_target;
    }
    ntfs_volume_c& volume = *context->volume;
    std::vector<uint8_t> record;
    if (volume.read_record(entry_id, record) != 0) {
        return ntfs_err_bad_record;
    }
    ntfs_file_info_s info;
    if (collect_file_info(volume, entry_id, record.data(), true, info) != 0) {
        return ntfs_err_bad_record;
    }
    if (info.encrypted) {
        return ntfs_err_encrypted;
    }
    if (!info.data.present) {
        return info.is_dir ? ntfs_err_no_data : ntfs_err_bad_record;
    }
    if (!info.data.resident && !info.data.runs_ok) {
        return ntfs_err_bad_runs;
    }
    unique_fd_c fd(open_new_target(target));
    if (fd.get() < 0) {
        return ntfs_err_target;
    }
    uint64_t written = 0;
    int result = write_data_stream(volume, info.data, fd.get(), written);
    if (fd.release_close() != 0 && result == 0) {
        result = ntfs_err_target;
    }
    if (written_out != nullptr) {
        *written_out = written > 0 ? 1 : 0;
    }
    if (result != 0 && written == 0) {
        ::unlink(target);  // nothing of the file reached it: leave no empty stand-in
    }
    return result;
}

void ntfs_scan_close(ntfs_context_s* context) {
    if (context == nullptr) {
        return;
    }
    context->scan.reset();
    context->volume.reset();
    context->records_total = 0;
    context->records_done = 0;
    context->open = 0;
}
