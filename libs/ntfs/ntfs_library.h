#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

// Our NTFS reader: walks the file records of one volume, one entry per call, and writes an
// entry's data stream to a file. Plain C++, reads the volume through the platform layer.

// One file record as the scanner hands it out. 576 bytes, the layout the engine stores.
struct ntfs_entry_s {
    uint64_t entry_id;   // file record number (48 bits); the root folder is 5
    uint64_t parent_id;  // record number of the folder; ntfs_orphan_parent when unknown
    uint64_t size;       // size of the unnamed data stream in bytes
    int64_t date2;       // creation, seconds since 1970-01-01 UTC
    uint8_t reserved1[8];
    int64_t date1;   // last modification, seconds since 1970-01-01 UTC
    uint32_t flags;  // ntfs_flag_*
    uint8_t reserved2[4];
    char16_t name[260];  // zero-terminated
};
static_assert(sizeof(ntfs_entry_s) == 576, "the entry is 576 bytes");
static_assert(offsetof(ntfs_entry_s, date1) == 40 && offsetof(ntfs_entry_s, flags) == 48 &&
                  offsetof(ntfs_entry_s, name) == 56,
              "entry layout");

constexpr uint32_t ntfs_flag_folder = 0x01;
constexpr uint32_t ntfs_flag_file = 0x02;
constexpr uint32_t ntfs_flag_deleted = 0x80;

// parent_id of an entry whose folder record now belongs to another file (or is unreadable):
// a 48-bit number no volume reaches.
constexpr uint64_t ntfs_orphan_parent = 0x0000FFFFFFFFFFFFULL;

class ntfs_volume_c;
struct ntfs_scan_state_s;

// The scan context. Owned by the caller; one volume at a time.
struct ntfs_context_s {
    ntfs_context_s();
    ~ntfs_context_s();
    ntfs_context_s(const ntfs_context_s&) = delete;
    ntfs_context_s& operator=(const ntfs_context_s&) = delete;

    int32_t open = 0;            // non-zero while a volume is open
    uint64_t records_total = 0;  // file records the MFT holds
    uint64_t records_done = 0;   // records the walk has passed
    std::shared_ptr<ntfs_volume_c> volume;
    std::unique_ptr<ntfs_scan_state_s> scan;
};

// Results of ntfs_scan_startup and ntfs_recover_file.
enum : int32_t {
    ntfs_ok = 0,
    ntfs_err_open = -1,        // the device cannot be opened or read
    ntfs_err_not_ntfs = -2,    // neither boot sector describes an NTFS volume
    ntfs_err_bad_mft = -3,     // the MFT's own record or run list is unusable
    ntfs_err_no_volume = -4,   // no volume is open in this context
    ntfs_err_bad_record = -5,  // the entry's record is missing or damaged
    ntfs_err_encrypted = -6,   // the stream is encrypted: its bytes would be garbage
    ntfs_err_bad_runs = -7,    // run list damaged or leaving the volume
    ntfs_err_read = -8,        // a read of the volume failed
    ntfs_err_target = -9,      // the target file cannot be created or written
    ntfs_err_no_data = -10,    // the entry has no unnamed data stream (a folder)
};

// Opens the volume at `device` (a location the platform layer resolves) and starts the walk.
// Returns 0, or a negative ntfs_err_* code (the context is then closed).
int ntfs_scan_startup(const char* device, ntfs_context_s* context);

// Fills `entry` with the next base record that has a name. Returns 1, or 0 at the end.
int ntfs_scan_next(ntfs_context_s* context, ntfs_entry_s* entry);

// Writes the unnamed data stream of record `entry_id` to `target` (replacing it).
// Returns 0 on success or a negative ntfs_err_* code; on failure the target is left only
// when some of its data was written. `written_out`, when given, receives a status word
// (1 when any data reached the target).
int ntfs_recover_file(ntfs_context_s* context, uint64_t entry_id, const char* target,
                      uint32_t* written_out);

// Closes the volume and clears the context. Safe on a closed context.
void ntfs_scan_close(ntfs_context_s* context);
