#pragma once

#include <QString>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "engines/file_record.h"
#include "engines/recovery_base.h"
#include "libs/ntfs/ntfs_library.h"

using ntfs_record_s = file_record_s<ntfs_entry_s>;
using ntfs_record_map = record_map_t<uint64_t, ntfs_entry_s>;

// The scan engine of NTFS volumes: walks every file record through our NTFS library and
// keeps every folder and every deleted entry, keyed by record number, linked into a tree.
class ntfs_recovery_c : public recovery_base_c {
    Q_OBJECT
public:
    explicit ntfs_recovery_c(QObject* parent = nullptr);
    ~ntfs_recovery_c() override;

    void set_volume(const volume_item_s& volume) override;
    double get_progress() override { return progress_.load(); }
    void set_progress(double value) override { progress_.store(value); }
    void set_stop(int32_t code) override { stop_.store(code); }
    int32_t is_stopped() override { return stop_.load(); }
    int32_t is_paused() override { return pause_.load(); }
    void set_pause(int32_t flag) override { pause_.store(flag); }
    uint64_t scanned_count() override { return scanned_.load(); }
    void reset() override;
    // Writes the entry's data stream to `target` (replacing it). Returns the library's
    // result: 0, or a negative ntfs_err_* code; a failed target is kept only when some of
    // its data was written. Calls from several threads run one after the other.
    int32_t recover_file(uint64_t id, const QString& target) override;
    // root_path, then '/' and each folder name down to the entry. -1 when a folder of the
    // chain is missing or the chain loops (`out` then holds only the root path).
    int32_t entry_path(uint64_t id, std::wstring& out) override;
    uint64_t found_count() override { return found_.load(); }

    // The results; read them only after the thread has finished.
    const ntfs_record_map& records() const { return record_map_; }
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
    volume_item_s volume_;
    std::atomic<double> progress_{0.0};
    std::atomic<int32_t> pause_{0};
    std::atomic<int32_t> stop_{0};
    std::atomic<uint64_t> scanned_{0};
    std::atomic<uint64_t> found_{0};
    std::atomic<int32_t> open_result_{ntfs_err_no_volume};
    ntfs_record_map record_map_;
    std::mutex context_mutex_;  // the library context: recoveries and (re)opening
};
