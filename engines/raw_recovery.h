#pragma once

#include <QString>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "discovery/volume_item.h"
#include "engines/raw_record.h"
#include "engines/recovery_base.h"
#include "libs/sigscan/sigscan.h"

// A ".sav" file: a 256-byte header holding the device path (zero-terminated, zero-filled),
// then the 32-byte records back to back. No magic number, version or checksum.
constexpr qint64 raw_result_header_bytes = 256;
constexpr qint64 raw_result_max_path_bytes = raw_result_header_bytes - 1;

// The deep scan: hands the whole device to the signature scanner and keeps each find as a
// raw_record_s, grouped by extension. Finds can be saved to a ".sav" file and loaded back.
class raw_recovery_c : public recovery_base_c {
    Q_OBJECT
public:
    explicit raw_recovery_c(QObject* parent = nullptr);
    ~raw_recovery_c() override;

    void set_volume(const volume_item_s& volume) override;
    double get_progress() override;
    void set_progress(double value) override;
    void set_stop(int32_t code) override;
    int32_t is_stopped() override;
    int32_t is_paused() override;
    void set_pause(int32_t flag) override;
    uint64_t scanned_count() override { return 0; }
    void reset() override;
    // Copies the find with this index to `target` (replaced if it exists). 0 on success, -1
    // when the index is unknown, the device cannot be read to the end of the file or the
    // target cannot be written.
    int32_t recover_file(uint64_t id, const QString& target) override;
    // The same for a record held by the caller: safe while a scan still adds records.
    int32_t recover_record(const raw_record_s& record, const QString& target);

    // Loads "./Quarnel.conf" (or the copy beside the program or in the data folder).
    // 0 loaded, 1 none found (built-in types), -1 bad or unreadable (`message` says why).
    int32_t load_config(std::string* message = nullptr);
    // Writes the finds to a ".sav" file. 0 on success; -1 when there is nothing to save,
    // the device path does not fit the header or the file cannot be written.
    int32_t save_result(const QString& path);
    // Reads a ".sav" file. Returns the device path stored in it, or an empty string (and
    // changes nothing) when the file cannot be read or is not a scan result.
    QString load_result(const QString& path);
    // Appends one find (called from the scanner's callback on the engine's thread).
    void add_record(const char* extension, uint64_t start_offset, uint64_t size);

    const std::vector<raw_record_s>& records() const { return records_; }
    // Appends to `out` the records from position `from` on; safe to call from another
    // thread while the scan still adds records (records() is not).
    void copy_records(size_t from, std::vector<raw_record_s>& out) const;
    const std::map<std::string, std::vector<uint64_t>>& by_extension() const {
        return by_extension_;
    }
    const QString& device_path() const { return device_path_; }
    // Finds so far, safe to read from another thread while the scan runs (found_count stays
    // 0 for this engine, as the scan page expects).
    uint64_t finds_so_far() const { return finds_so_far_.load(std::memory_order_relaxed); }
    // The record whose index is `id`, or null.
    const raw_record_s* find_record(uint64_t id) const;

protected:
    void run() override;

private:
    volume_item_s volume_;
    sc_control_s control_;
    std::map<std::string, std::vector<uint64_t>> by_extension_;
    std::vector<raw_record_s> records_;
    mutable std::mutex records_lock_;  // held while records_ changes or copy_records reads it
    QString device_path_;
    // Only for loaded results whose indexes are not their positions.
    std::unordered_map<uint64_t, size_t> position_of_;
    // The device stays open between recoveries (opening it means resolving its path);
    // copies from the export worker and a preview on the UI thread take turns.
    std::mutex device_lock_;
    std::unique_ptr<sc_device_s, void (*)(sc_handle)> device_{nullptr, sc_close};
    QString device_opened_for_;
    std::unique_ptr<char[]> copy_buffer_;  // under device_lock_
    std::atomic<uint64_t> finds_so_far_{0};
};
