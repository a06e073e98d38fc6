#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <unordered_set>
#include <vector>

#include "engines/fat_entry.h"
#include "engines/file_record.h"
#include "engines/scan_engine.h"

struct entry_info_s;
struct folder_cursor_s;

using fat_record_s = file_record_s<fat_entry_s>;
using fat_record_map = record_map_t<uint32_t, fat_entry_s>;

// The scan engine of FAT12/16/32 volumes: walks the whole folder tree, deleted folders
// included, and records every folder and every deleted file, one record per first cluster.
class fat_recovery_c : public scan_engine_c {
    Q_OBJECT
public:
    explicit fat_recovery_c(QObject* parent = nullptr);
    ~fat_recovery_c() override;

    void reset() override;
    // Writes the record's data to `target`. 0 only when all `size` bytes were written;
    // -1 for an unknown id, a target that cannot be made, or a short read (the partial
    // file stays).
    int32_t recover_file(uint64_t id, const QString& target) override;
    int32_t entry_path(uint64_t id, std::wstring& out) override;

    // The results; read them only after the thread has finished.
    const fat_record_map& records() const { return record_map_; }
    // Whether the short progress texts go to stderr (only ever when it is a terminal).
    void set_trace(bool enabled) { trace_ = enabled; }
    // How the last run met the volume: 0 when its root folder was opened, -1 when the volume
    // could not be located, else the reader's fat_result (not a FAT volume, read error, …).
    int32_t open_result() const { return open_result_.load(); }

protected:
    void run() override;

private:
    void trace(const char* format, ...) const __attribute__((format(printf, 2, 3)));
    struct pending_folder_s {
        uint32_t cluster = 0;
        uint8_t inside_deleted = 0;
    };
    // Folders met but not yet listed. Live ones are listed first, so that a live folder
    // whose first cluster once belonged to a deleted one is read as what it is now.
    struct pending_lists_s {
        std::vector<uint32_t> live;
        std::vector<uint32_t> deleted;
    };
    // Lists one folder; its new sub-folders are added to `pending`. 0, or -1 when the
    // folder cannot be opened.
    int walk_folder(bool root, const pending_folder_s& folder, pending_lists_s& pending,
                    std::unordered_set<uint32_t>& listed);
    // Applies the keep-or-drop rules; true when the key was new.
    bool keep_or_drop(const fat_entry_s& entry);
    void record_entry(const entry_info_s& info, const char16_t* long_name,
                      const pending_folder_s& folder, pending_lists_s& pending);
    void link_records();

    fat_record_map record_map_;
    bool trace_ = true;
    std::atomic<int32_t> open_result_{-1};
};
