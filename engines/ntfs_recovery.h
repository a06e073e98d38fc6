#pragma once

#include <QString>
#include <atomic>
#include <cstdint>
#include <memory_resource>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

#include "engines/file_record.h"
#include "engines/record_arena.h"
#include "engines/scan_engine.h"
#include "libs/ntfs/ntfs_library.h"

using ntfs_record_s = file_record_s<ntfs_entry_s>;
// Record number → record. Its nodes never move once stored (the pointers in `children` rely
// on that) and live in the engine's record arena.
using ntfs_record_map = std::pmr::unordered_map<uint64_t, ntfs_record_s>;

// The scan engine of NTFS volumes: walks every file record through our NTFS library and
// keeps every folder and every deleted entry, keyed by record number, linked into a tree.
class ntfs_recovery_c : public scan_engine_c {
    Q_OBJECT
public:
    explicit ntfs_recovery_c(QObject* parent = nullptr);
    ~ntfs_recovery_c() override;

    void reset() override;
    // Writes the entry's data stream to `target` (replacing it). Returns the library's
    // result: 0, or a negative ntfs_err_* code; a failed target is kept only when some of
    // its data was written. Calls from several threads run one after the other.
    int32_t recover_file(uint64_t id, const QString& target) override;
    // root_path, then '/' and each folder name down to the entry. -1 when a folder of the
    // chain is missing or the chain loops (`out` then holds only the root path).
    int32_t entry_path(uint64_t id, std::wstring& out) override;

    // The results; read them only after the thread has finished.
    const ntfs_record_map& records() const { return *record_map_; }
    // The library's result of the last run's startup (0 when the volume opened).
    int32_t open_result() const { return open_result_.load(); }
    // Where the diagnostic log goes: Tamblin.log in the per-user state folder.
    static QString log_path();

protected:
    void run() override;

private:
    void log_failure(const char* file, int line, int result);
    void link_records();

    ntfs_context_s context_;
    std::atomic<int32_t> open_result_{ntfs_err_no_volume};
    record_arena_c arena_;                       // before the map, which it must outlive
    std::optional<ntfs_record_map> record_map_;  // always holds a map
    std::mutex context_mutex_;                   // the library context: recoveries and (re)opening
};
